// What one client can cost the service, seen from the wire: the largest
// frame and message, the bytes waiting to go out to a client that does not
// read, the connection caps, and accepting while descriptors run out. The
// service runs in the test's event loop; the hostile clients run on
// threads of their own and block with deadlines.
#include "clientguard.h"
#include "rawws.h"
#include "servicelistener.h"
#include "signobjinterface.h"
#include "signobjmanager.h"
#include "websocketservice.h"
#include "wsclient.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <future>
#include <memory>
#include <sys/resource.h>

namespace {

const int DEADLINE_MS = 20000;
const QString POINTS_REPLY(100 * 1000, QChar('p')); // one GetPointer reply: 100 kB

class BigReplySignObj : public SignObjInterface
{
public:
    bool InitialDevice(int, int, int) override { return true; }
    QString GetPointer() override { return POINTS_REPLY; }
};

// Runs fn on a thread of its own while the test's loop serves.
template <class T> T Serve(std::future<T> future, int nTimeoutMs = 60000)
{
    QElapsedTimer timer;
    timer.start();
    while (future.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready && timer.elapsed() < nTimeoutMs)
        QTest::qWait(5);
    if (future.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
        qFatal("client thread still running after %d ms", nTimeoutMs);
    }
    return future.get();
}
template <class F> auto OnThread(F fn) { return std::async(std::launch::async, fn); }

QByteArray Request(const char* func) { return QByteArray("{\"Func\":\"") + func + "\"}"; }

} // namespace

class TestBounds : public QObject
{
    Q_OBJECT
private:
    AccessSettings m_access;
    WebSocketService* m_pService = nullptr;

    void start()
    {
        m_pService = new WebSocketService(0, m_access);
        QVERIFY(m_pService->serverPort() != 0);
    }

private Q_SLOTS:
    void init()
    {
        m_access = AccessSettings();
        SignObjManager::SetCreationTable(nullptr);
    }
    void cleanup()
    {
        delete m_pService;
        m_pService = nullptr;
        SignObjManager::SetCreationTable(nullptr);
    }

    // The bounds as the "Access" group gives them: the system-wide file,
    // then the user's, which may only lower them once the first is locked;
    // a value that is not a positive number keeps the default.
    void boundsFromSettings()
    {
        QTemporaryDir system, user;
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, system.path());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, user.path());
        auto write = [](const QString& dir, const QByteArray& text) {
            QDir().mkpath(dir + "/vtinkhost");
            QFile f(dir + "/vtinkhost/vtinkhost.conf");
            return f.open(QIODevice::WriteOnly) && f.write("[Access]\n" + text) > 0;
        };
        const AccessSettings defaults;
        QVERIFY(write(system.path(), "MaxMessageBytes=1000\nMaxPendingBytes=abc\nMaxConnections=-5\nLocked=true\n"));
        QVERIFY(write(user.path(), "MaxMessageBytes=5000\nMaxConnections=10\nMaxConnectionsPerOrigin=0\n"));
        AccessSettings a = AccessSettings::Load();
        QCOMPARE(a.nMaxMessageBytes, qint64(1000));  // a locked bound is not raised
        QCOMPARE(a.nMaxPendingBytes, defaults.nMaxPendingBytes);
        QCOMPARE(a.nMaxConnections, 10);             // but may be lowered
        QCOMPARE(a.nMaxConnectionsPerOrigin, defaults.nMaxConnectionsPerOrigin);
        QVERIFY(write(system.path(), "MaxMessageBytes=1000\nMaxConnectionsPerOrigin=3\n"));
        QVERIFY(write(user.path(), "MaxMessageBytes=5000\nMaxPendingBytes=99999999999999999999\n"));
        a = AccessSettings::Load();
        QCOMPARE(a.nMaxMessageBytes, qint64(5000)); // not locked: the user's file decides
        QCOMPARE(a.nMaxPendingBytes, defaults.nMaxPendingBytes); // not a number that fits
        QCOMPARE(a.nMaxConnectionsPerOrigin, 3);
    }

    // MaxMessageBytes: a larger frame is closed with 1009 from its header,
    // also when it comes in the handshake's own write, and the service
    // stops reading (the sender cannot push it through); a frame at the
    // bound is served; a message of smaller frames that outgrows it is
    // closed with 1009 too. Other clients are served throughout.
    void frameAndMessageBound()
    {
        m_access.nMaxMessageBytes = 1 << 20;
        start();
        const quint16 port = m_pService->serverPort();
        const qint64 nOffered = 48ll << 20;
        struct Result { bool bUpgraded; qint64 nPushed; int nCloseCode; };
        auto oversize = OnThread([port, nOffered] {
            RawWsClient c;
            const QByteArray head = RawWsClient::Header(RawWsClient::TEXT, 500ull << 20) + "{\"Func\":\"GetSize\",\"x\":\"";
            Result r{c.Connect(port) && c.Handshake(QByteArray(), head), 0, -1};
            const QByteArray chunk(1 << 16, 'x');
            QElapsedTimer timer;
            timer.start();
            while (r.nPushed < nOffered && timer.elapsed() < 10000) {
                const qint64 n = c.Send(chunk.constData(), chunk.size(), 300);
                r.nPushed += n;
                if (n < chunk.size())
                    break; // stalled: nobody reads any more, or cut off
            }
            for (RawWsClient::Frame f; (f = c.ReadFrame()).nOpcode >= 0;)
                if (f.nOpcode == RawWsClient::CLOSE)
                    r.nCloseCode = f.CloseCode();
            return r;
        });
        WsClient other;
        QVERIFY(other.open(port));
        QCOMPARE(other.call(req("GetSize")), QString("0"));
        const Result r = Serve(std::move(oversize));
        QVERIFY(r.bUpgraded);
        QCOMPARE(r.nCloseCode, int(QWebSocketProtocol::CloseCodeTooMuchData));
        QVERIFY2(r.nPushed < nOffered, qPrintable(QString("the whole %1 bytes were taken in").arg(r.nPushed)));
        QCOMPARE(other.call(req("GetSize")), QString("0"));

        auto atBound = OnThread([port] {
            RawWsClient c;
            QByteArray text = "{\"Func\":\"GetSize\",\"x\":\"\"}";
            text.insert(text.size() - 2, QByteArray((1 << 20) - text.size(), 'x'));
            QList<int> got; // opcode of the reply, then of what follows a frame one byte over
            if (!c.Connect(port) || !c.Handshake() || !c.SendText(text))
                return got;
            RawWsClient::Frame f = c.ReadFrame();
            got << f.nOpcode;
            c.SendText(text + ' ');
            got << c.ReadFrame().CloseCode();
            return got;
        });
        QCOMPARE(Serve(std::move(atBound)), QList<int>({RawWsClient::TEXT, QWebSocketProtocol::CloseCodeTooMuchData}));

        auto fragments = OnThread([port] {
            RawWsClient c;
            const QByteArray part(600 * 1024, ' ');
            if (!c.Connect(port) || !c.Handshake() || !c.SendFrame(RawWsClient::TEXT, "{\"Func\":\"GetSize\"}" + part, false))
                return -2;
            c.SendFrame(0, part, true);
            return c.ReadFrame().CloseCode();
        });
        QCOMPARE(Serve(std::move(fragments)), int(QWebSocketProtocol::CloseCodeTooMuchData));
        QCOMPARE(other.call(req("GetSize")), QString("0"));
        // The closed connections are gone, also the one whose rest stayed unread.
        QTRY_COMPARE_WITH_TIMEOUT(m_pService->status().nClients, 1, ClientOutbox::CLOSE_GRACE_MS + DEADLINE_MS);
    }

    // MaxPendingBytes: a client that asks and never reads is closed with
    // 1008 once its unread replies pass the bound; what it was sent before
    // is intact, nothing more is served to it, and others are answered.
    void pendingBound()
    {
        m_access.nMaxPendingBytes = 4 << 20;
        SignObjManager::SetCreationTable([](int) -> SignObjInterface* { return new BigReplySignObj(); });
        start();
        const quint16 port = m_pService->serverPort();
        const int nRequests = 400; // 40 MB of replies
        std::promise<void> mayRead;
        std::shared_future<void> readNow = mayRead.get_future().share();
        struct Result { bool bSent; int nReplies; int nBroken; int nCloseCode; };
        auto greedy = OnThread([port, nRequests, readNow] {
            RawWsClient c;
            Result r{c.Create(4096) && c.Connect(port) && c.Handshake(), 0, 0, -1};
            r.bSent = r.bSent && c.SendText(R"({"Func":"InitialDevice","id":"2","width":"400","height":"200"})");
            for (int i = 0; i < nRequests && r.bSent; ++i)
                r.bSent = c.SendText(Request("GetPointer"));
            readNow.wait();
            for (RawWsClient::Frame f; (f = c.ReadFrame()).nOpcode >= 0;) {
                if (f.nOpcode == RawWsClient::CLOSE) {
                    r.nCloseCode = f.CloseCode();
                    break;
                }
                const QJsonObject o = QJsonDocument::fromJson(f.payload).object();
                if (o.value("Func") != "GetPointer")
                    continue;
                ++r.nReplies;
                if (o.value("Result").toString() != POINTS_REPLY)
                    ++r.nBroken;
            }
            return r;
        });
        QTRY_COMPARE_WITH_TIMEOUT(m_pService->status().nBacklogCloses, 1, 60000);
        WsClient other;
        QVERIFY(other.open(port));
        QCOMPARE(other.call(req("GetSize")), QString("0"));
        mayRead.set_value();
        const Result r = Serve(std::move(greedy));
        QVERIFY(r.bSent);
        QCOMPARE(r.nCloseCode, int(QWebSocketProtocol::CloseCodePolicyViolated));
        QCOMPARE(r.nBroken, 0);
        QVERIFY2(r.nReplies > 0 && r.nReplies < nRequests, qPrintable(QString::number(r.nReplies)));
        QTRY_COMPARE_WITH_TIMEOUT(m_pService->status().nClients, 1, DEADLINE_MS);
        QCOMPARE(other.call(req("GetPointer")), POINTS_REPLY);
        QCOMPARE(m_pService->status().nBacklogCloses, 1);
    }

    // MaxConnections and MaxConnectionsPerOrigin: one over is closed with
    // 1013 right after its handshake; a place freed is taken again. Programs
    // on this computer (no origin) count only toward the total.
    void connectionCaps()
    {
        m_access.nMaxConnections = 5;
        m_access.nMaxConnectionsPerOrigin = 2;
        m_access.ePolicy = AccessSettings::Policy::Allow; // every site: only the caps refuse
        start();
        const quint16 port = m_pService->serverPort();
        // Each client answers: the reply's opcode when served, else the close
        // code. A refused one is closed with its handshake's answer, before
        // it sends anything (a request left unread would reset the line).
        auto connectAll = [port](QList<QByteArray> origins, std::vector<std::unique_ptr<RawWsClient>>* pKept) {
            return OnThread([port, origins, pKept] {
                QList<int> got;
                for (const QByteArray& origin : origins) {
                    auto c = std::make_unique<RawWsClient>();
                    if (!c->Connect(port) || !c->Handshake(origin)) {
                        got << -2;
                        continue;
                    }
                    RawWsClient::Frame f = c->ReadFrame(500);
                    if (f.nOpcode < 0 && c->SendText(Request("GetSize")))
                        f = c->ReadFrame();
                    got << (f.nOpcode == RawWsClient::CLOSE ? f.CloseCode() : f.nOpcode);
                    if (f.nOpcode == RawWsClient::TEXT)
                        pKept->push_back(std::move(c));
                }
                return got;
            });
        };
        const int T = RawWsClient::TEXT;
        const int FULL = VT_CLOSE_TRY_AGAIN_LATER;
        std::vector<std::unique_ptr<RawWsClient>> kept;
        QCOMPARE(Serve(connectAll({"http://a.test", "http://a.test", "http://a.test", "http://b.test", "", "", ""}, &kept)),
                 QList<int>({T, T, FULL, T, T, T, FULL}));
        QCOMPARE(m_pService->status().nClients, 5);
        QCOMPARE(m_pService->status().nRefusedConnections, 2);
        kept.front()->Close(); // one of a.test's
        QTRY_COMPARE_WITH_TIMEOUT(m_pService->status().nClients, 4, DEADLINE_MS);
        QCOMPARE(Serve(connectAll({"http://b.test", "http://a.test"}, &kept)), QList<int>({T, FULL}));
        kept.clear();
        QTRY_COMPARE_WITH_TIMEOUT(m_pService->status().nClients, 0, DEADLINE_MS);
        QCOMPARE(Serve(connectAll({"http://a.test", "http://a.test"}, &kept)), QList<int>({T, T}));
        // Computers other than this one are counted apart from their pages.
        QCOMPARE(ConnectionCapExceeded(m_access, 1, 0, 1), QString());
        QVERIFY(!ConnectionCapExceeded(m_access, 1, 0, 2).isEmpty());
    }

    // With no descriptor left, accepting pauses and tries again later
    // instead of spinning: a connected client is still served, and the
    // waiting connections get through once descriptors are free again.
    void descriptorPause()
    {
        start();
        const quint16 port = m_pService->serverPort();
        RawWsClient served;
        // Served once before descriptors run out: every code path of a
        // request has run (and been type-checked under UBSan) by then.
        auto handshake = OnThread([&served, port] {
            return served.Connect(port) && served.Handshake() && served.SendText(Request("GetSize")) &&
                   served.ReadFrame().nOpcode == RawWsClient::TEXT;
        });
        QVERIFY(Serve(std::move(handshake)));

        const int nWaiting = 4;
        std::vector<std::unique_ptr<RawWsClient>> waiting;
        for (int i = 0; i < nWaiting; ++i) {
            waiting.push_back(std::make_unique<RawWsClient>());
            QVERIFY(waiting.back()->Create());
        }
        struct rlimit saved;
        QVERIFY(getrlimit(RLIMIT_NOFILE, &saved) == 0);
        // The lowest free descriptor number becomes the limit: none is left.
        const int nFree = fcntl(0, F_DUPFD, 0);
        QVERIFY(nFree >= 0);
        ::close(nFree);
        struct rlimit low = saved;
        low.rlim_cur = rlim_t(nFree);
        QVERIFY(setrlimit(RLIMIT_NOFILE, &low) == 0);
        QVERIFY(fcntl(0, F_DUPFD, 0) < 0);

        auto connectWaiting = OnThread([&waiting, port] {
            bool bAll = true;
            for (auto& c : waiting)
                bAll = c->Connect(port) && bAll; // queued by the kernel, not yet accepted
            return bAll;
        });
        QVERIFY(Serve(std::move(connectWaiting)));
        QElapsedTimer timer;
        timer.start();
        QTRY_VERIFY_WITH_TIMEOUT(m_pService->status().nAcceptPauses >= 3, DEADLINE_MS);
        auto ask = OnThread([&served] {
            return served.SendText(Request("GetSize")) ? served.ReadFrame().payload : QByteArray("<not sent>");
        });
        QCOMPARE(Serve(std::move(ask)), QByteArray("{\"Func\":\"GetSize\",\"Result\":\"0\"}"));
        const int nPauses = m_pService->status().nAcceptPauses;
        const qint64 nElapsed = timer.elapsed();
        // One attempt per pause at most: a spinning accept would count thousands.
        QVERIFY2(nPauses <= nElapsed / (ServiceListener::ACCEPT_PAUSE_MS / 2) + 3,
                 qPrintable(QString("%1 pauses in %2 ms").arg(nPauses).arg(nElapsed)));
        QCOMPARE(m_pService->status().nClients, 1);

        ServiceListener::RaiseDescriptorLimit(); // what the program does at start
        struct rlimit raised;
        QVERIFY(getrlimit(RLIMIT_NOFILE, &raised) == 0);
        QCOMPARE(raised.rlim_cur, saved.rlim_max);
        auto upgrade = OnThread([&waiting] {
            int nUpgraded = 0;
            for (auto& c : waiting)
                nUpgraded += c->Handshake();
            return nUpgraded;
        });
        QCOMPARE(Serve(std::move(upgrade)), nWaiting);
        QTRY_COMPARE_WITH_TIMEOUT(m_pService->status().nClients, 1 + nWaiting, DEADLINE_MS);
        setrlimit(RLIMIT_NOFILE, &saved);
    }
};

QTEST_MAIN(TestBounds)
#include "test_bounds.moc"
