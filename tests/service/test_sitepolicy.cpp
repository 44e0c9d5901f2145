// Which pages and computers may use the service: the decision as a table,
// the "Access" settings of the system-wide and the user's file, and the
// service holding a site's connections until the user answered.
#include "accesssettings.h"
#include "sitepolicy.h"
#include "websocketservice.h"
#include "websocketthread.h"
#include "wsclient.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>

Q_DECLARE_METATYPE(SiteVerdict::Action)

namespace {

const int DEADLINE_MS = 20000;
const QString SHOP = QStringLiteral("https://shop.example");

AccessSettings Access(AccessSettings::Policy e, const QStringList& allowed = {}, const QStringList& blocked = {})
{
    AccessSettings a;
    a.ePolicy = e;
    a.allowedOrigins = allowed;
    a.blockedOrigins = blocked;
    return a;
}

void WriteFile(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

} // namespace

class TestSitePolicy : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString SystemFile() const { return m_dir.filePath("system/vtinkhost/vtinkhost.conf"); }
    QString UserFile() const { return m_dir.filePath("user/vtinkhost/vtinkhost.conf"); }

    // Connects a client that the service closes at once; its close code, or -1.
    static int RefusedWith(WsClient& client, quint16 port, QString* pReason = nullptr)
    {
        client.m_socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
        return ClosedWith(client, pReason);
    }
    // Waits until the service closes the client; the close code, or -1.
    static int ClosedWith(WsClient& client, QString* pReason = nullptr)
    {
        QElapsedTimer timer;
        timer.start();
        while (!client.m_bDisconnected && timer.elapsed() < DEADLINE_MS)
            QTest::qWait(2);
        if (pReason)
            *pReason = client.m_socket.closeReason();
        return client.m_bDisconnected ? int(client.m_socket.closeCode()) : -1;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, m_dir.filePath("system"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.filePath("user"));
    }
    void init()
    {
        QFile::remove(SystemFile());
        QFile::remove(UserFile());
    }

    void decisions_data()
    {
        using P = AccessSettings::Policy;
        using A = SiteVerdict::Action;
        QTest::addColumn<AccessSettings>("access");
        QTest::addColumn<QString>("origin");
        QTest::addColumn<QString>("peer");
        QTest::addColumn<A>("action");
        QTest::addColumn<QString>("site");
        const QString lo = "127.0.0.1";
        const QString lan = "192.168.1.7";
        QTest::newRow("native program") << Access(P::List) << "" << lo << A::Allow << "";
        QTest::newRow("native over IPv6") << Access(P::List) << "" << "::1" << A::Allow << "";
        QTest::newRow("native, IPv4-mapped") << Access(P::List) << "" << "::ffff:127.0.0.1" << A::Allow << "";
        QTest::newRow("localhost page") << Access(P::List) << "http://localhost:8080" << lo << A::Allow << "http://localhost:8080";
        QTest::newRow("127.0.0.1 page") << Access(P::List) << "http://127.0.0.1:3000" << lo << A::Allow << "http://127.0.0.1:3000";
        QTest::newRow("[::1] page") << Access(P::List) << "http://[::1]:3000" << "::1" << A::Allow << "http://[::1]:3000";
        QTest::newRow("https localhost is a site") << Access(P::List) << "https://localhost" << lo << A::Refuse << "https://localhost";
        QTest::newRow("loopback page blocked") << Access(P::Ask, {}, {"http://localhost:8080"}) << "http://localhost:8080" << lo
                                               << A::Refuse << "http://localhost:8080";
        QTest::newRow("ask") << Access(P::Ask) << SHOP << lo << A::Ask << SHOP;
        QTest::newRow("ask, allowed") << Access(P::Ask, {"HTTPS://Shop.Example:443/"}) << SHOP << lo << A::Allow << SHOP;
        QTest::newRow("ask, blocked") << Access(P::Ask, {}, {SHOP}) << SHOP << lo << A::Refuse << SHOP;
        QTest::newRow("other port is another site") << Access(P::Ask, {SHOP}) << SHOP + ":8443" << lo << A::Ask << SHOP + ":8443";
        QTest::newRow("other scheme is another site") << Access(P::List, {SHOP}) << "http://shop.example" << lo << A::Refuse
                                                      << "http://shop.example";
        QTest::newRow("list, listed") << Access(P::List, {SHOP}) << SHOP << lo << A::Allow << SHOP;
        QTest::newRow("list, unlisted") << Access(P::List, {SHOP}) << "https://evil.example" << lo << A::Refuse
                                        << "https://evil.example";
        QTest::newRow("allow") << Access(P::Allow) << "https://evil.example" << lo << A::Allow << "https://evil.example";
        QTest::newRow("allow, blocked") << Access(P::Allow, {}, {"https://evil.example"}) << "https://evil.example" << lo
                                        << A::Refuse << "https://evil.example";
        QTest::newRow("opaque origin") << Access(P::Ask) << "null" << lo << A::Refuse << "null";
        QTest::newRow("opaque origin, allow") << Access(P::Allow) << "null" << lo << A::Allow << "null";
        QTest::newRow("no origin") << Access(P::Ask) << "https://shop.example/path" << lo << A::Refuse << "https://shop.example/path";
        // Another computer is judged by its address, whatever Origin it sends.
        QTest::newRow("remote, ask") << Access(P::Ask, {SHOP}) << SHOP << lan << A::Ask << lan;
        QTest::newRow("remote, no origin") << Access(P::Ask) << "" << lan << A::Ask << lan;
        QTest::newRow("remote, loopback page") << Access(P::List) << "http://localhost:8080" << lan << A::Refuse << lan;
        QTest::newRow("remote, listed") << Access(P::List, {lan}) << "" << "::ffff:192.168.1.7" << A::Allow << lan;
        QTest::newRow("remote, blocked") << Access(P::Allow, {}, {lan}) << "" << lan << A::Refuse << lan;
        QTest::newRow("remote IPv6") << Access(P::List, {"[FE80::1]"}) << "" << "fe80::1%eth0" << A::Allow << "fe80::1";
    }
    void decisions()
    {
        QFETCH(AccessSettings, access);
        QFETCH(QString, origin);
        QFETCH(QString, peer);
        QFETCH(SiteVerdict::Action, action);
        QFETCH(QString, site);
        const SiteVerdict v = DecideSite(access, origin, QHostAddress(peer));
        QCOMPARE(int(v.eAction), int(action));
        QCOMPARE(v.strSite, site);
        QCOMPARE(v.bRemote, !QHostAddress(peer).isLoopback() && peer != "::ffff:127.0.0.1");
    }

    void normalisation_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("site");
        QTest::newRow("as sent") << "https://shop.example" << "https://shop.example";
        QTest::newRow("as written") << " HTTPS://Shop.EXAMPLE:443/ " << "https://shop.example";
        QTest::newRow("port kept") << "http://shop.example:8080" << "http://shop.example:8080";
        QTest::newRow("default http port") << "http://shop.example:80" << "http://shop.example";
        QTest::newRow("IDN") << "https://bücher.example" << "https://xn--bcher-kva.example";
        QTest::newRow("IPv6") << "http://[::1]:3000" << "http://[::1]:3000";
        QTest::newRow("address") << "10.0.0.2" << "10.0.0.2";
        QTest::newRow("bracketed address") << "[fe80::1]" << "fe80::1";
        QTest::newRow("path") << "https://shop.example/pay" << "";
        QTest::newRow("query") << "https://shop.example?x" << "";
        QTest::newRow("user") << "https://me@shop.example" << "";
        QTest::newRow("no host") << "https://" << "";
        QTest::newRow("bare name") << "shop.example" << "";
        QTest::newRow("null") << "null" << "";
        QTest::newRow("empty") << "" << "";
    }
    void normalisation()
    {
        QFETCH(QString, text);
        QFETCH(QString, site);
        QCOMPARE(NormaliseSite(text), site);
    }

    // A locked system-wide file: the user's file may narrow it, never widen
    // it, and the user's answer "allow" is not remembered.
    void lockedSystemFile()
    {
        WriteFile(SystemFile(), "[Access]\nPolicy=list\nAllowedOrigins=https://a.example, https://b.example/\n"
                                "ListenAddress=loopback\nMaxConnections=10\nLocked=true\n");
        WriteFile(UserFile(), "[Settings]\nUILangID=3\n[Access]\nPolicy=allow\nAllowedOrigins=https://c.example\n"
                              "BlockedOrigins=https://a.example\nListenAddress=any\nMaxConnections=100\n");
        AccessSettings a = AccessSettings::Load();
        QVERIFY(a.bLocked);
        QCOMPARE(int(a.ePolicy), int(AccessSettings::Policy::List));
        QCOMPARE(a.allowedOrigins, QStringList({"https://b.example"}));
        QCOMPARE(a.blockedOrigins, QStringList({"https://a.example"}));
        QVERIFY(a.bListenLoopbackOnly);
        QCOMPARE(a.nMaxConnections, 10);
        QCOMPARE(int(DecideSite(a, "https://c.example", QHostAddress::LocalHost).eAction), int(SiteVerdict::Action::Refuse));
        QVERIFY(!AccessSettings::RememberOrigin("https://d.example", true));
        QVERIFY(AccessSettings::RememberOrigin("https://e.example", false));
        a = AccessSettings::Load();
        QVERIFY(!a.allowedOrigins.contains("https://d.example"));
        QVERIFY(a.blockedOrigins.contains("https://e.example"));

        // Unlocked, the same user's file widens it; "Settings" is untouched.
        WriteFile(SystemFile(), "[Access]\nPolicy=list\nAllowedOrigins=https://b.example\n");
        a = AccessSettings::Load();
        QVERIFY(!a.bLocked);
        QCOMPARE(int(a.ePolicy), int(AccessSettings::Policy::Allow));
        QCOMPARE(a.allowedOrigins, QStringList({"https://b.example", "https://c.example"}));
        QVERIFY(!a.bListenLoopbackOnly);
        QSettings user(UserFile(), QSettings::IniFormat);
        QCOMPARE(user.value("Settings/UILangID").toInt(), 3);
    }

    // Answers land in the user's file normalised, move between the two
    // lists, and can be taken back.
    void rememberedAnswers()
    {
        QVERIFY(AccessSettings::RememberOrigin("HTTPS://Shop.Example/", true));
        QVERIFY(AccessSettings::RememberOrigin("192.168.1.7", true));
        QCOMPARE(AccessSettings::RememberedOrigins(), QStringList({SHOP, "192.168.1.7"}));
        QVERIFY(AccessSettings::RememberOrigin(SHOP, false));
        QCOMPARE(AccessSettings::RememberedOrigins(), QStringList({"192.168.1.7"}));
        QCOMPARE(AccessSettings::RememberedOrigins(false), QStringList({SHOP}));
        QCOMPARE(AccessSettings::Load().blockedOrigins, QStringList({SHOP}));
        QVERIFY(AccessSettings::ForgetOrigin(SHOP));
        QVERIFY(AccessSettings::RememberedOrigins(false).isEmpty());
        QVERIFY(!AccessSettings::RememberOrigin("not an origin", true));
    }

    // Two pages of one site share one question; until the answer nothing is
    // answered, echoed or pushed to them; then their frames are answered in
    // order, and a later page of the site is let in at once.
    void heldUntilAllowed()
    {
        WebSocketService service(0);
        service.EnableSiteQuestions(DEADLINE_MS);
        QSignalSpy asked(&service, &WebSocketService::siteQuestion);
        QSignalSpy ended(&service, &WebSocketService::siteQuestionEnded);
        WsClient native, first(nullptr, SHOP), second(nullptr, SHOP);
        QVERIFY(native.open(service.serverPort()));
        QVERIFY(first.open(service.serverPort()));
        QVERIFY(second.open(service.serverPort()));
        QTRY_COMPARE_WITH_TIMEOUT(service.status().nWaitingClients, 2, DEADLINE_MS);
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().at(0).toString(), SHOP);
        QCOMPARE(asked.first().at(1).toBool(), false);

        first.send(req("GetSize"));
        first.m_socket.sendBinaryMessage("echo");
        first.send(req("GetPointer"));
        second.send(req("PadID"));
        service.BroadcastResponseBackToClient("pushed");
        QCOMPARE(native.next(), QString("pushed"));
        QCOMPARE(native.call(req("GetSize")), QString("0")); // the service is not blocked meanwhile
        QVERIFY(first.m_texts.isEmpty() && first.m_binaries.isEmpty() && second.m_texts.isEmpty());

        service.SetAccess(Access(AccessSettings::Policy::Ask, {SHOP}));
        QCOMPARE(first.next(), QString("{\"Func\":\"GetSize\",\"Result\":\"0\"}"));
        QCOMPARE(first.next(), QString("{\"Func\":\"GetPointer\",\"Result\":\"[]\"}"));
        QCOMPARE(first.m_binaries, QList<QByteArray>({"echo"}));
        QCOMPARE(second.next(), QString("{\"Func\":\"PadID\",\"Result\":\"\"}"));
        QVERIFY(!first.m_texts.contains("pushed"));
        QCOMPARE(ended.size(), 1);
        QCOMPARE(service.status().nQuestions, 0);

        service.BroadcastResponseBackToClient("pushed");
        QCOMPARE(first.next(), QString("pushed"));
        QCOMPARE(second.next(), QString("pushed"));
        WsClient third(nullptr, SHOP);
        QVERIFY(third.open(service.serverPort()));
        QCOMPARE(third.call(req("GetSize")), QString("0"));
        QCOMPARE(asked.size(), 1);
    }

    // A page may not grow the service's memory while it waits: frames over
    // the bound are refused (no reply), those before it are answered.
    void heldFramesAreBounded()
    {
        WebSocketService service(0);
        service.EnableSiteQuestions(DEADLINE_MS);
        WsClient page(nullptr, SHOP);
        QVERIFY(page.open(service.serverPort()));
        QTRY_COMPARE_WITH_TIMEOUT(service.status().nWaitingClients, 1, DEADLINE_MS);
        for (int i = 0; i < WebSocketService::HELD_FRAMES_MAX - 2; ++i)
            page.send(req("GetSize"));
        page.m_socket.sendBinaryMessage(QByteArray(WebSocketService::HELD_BYTES_MAX, 'x')); // over the bytes
        page.m_socket.sendBinaryMessage("small");
        for (int i = 0; i < 20; ++i)
            page.send(req("PadID")); // the first fits, the rest are over the count
        // The service answers a ping after every frame sent before it.
        QSignalSpy pong(&page.m_socket, &QWebSocket::pong);
        page.m_socket.ping();
        QTRY_COMPARE_WITH_TIMEOUT(pong.size(), 1, DEADLINE_MS);
        service.SetAccess(Access(AccessSettings::Policy::Ask, {SHOP}));
        for (int i = 0; i < WebSocketService::HELD_FRAMES_MAX - 2; ++i)
            QCOMPARE(page.next(), QString("{\"Func\":\"GetSize\",\"Result\":\"0\"}"));
        QCOMPARE(page.next(), QString("{\"Func\":\"PadID\",\"Result\":\"\"}"));
        QCOMPARE(page.m_binaries, QList<QByteArray>({"small"}));
        QCOMPARE(page.call(req("GetSize")), QString("0")); // nothing else came before it
        QVERIFY(page.m_texts.isEmpty());
    }

    // Refused sites get close code 4003 "origin not allowed": unlisted,
    // blocked by the user's answer, not answered in time, nobody to ask, and
    // a site the user takes back. Loopback pages and programs stay in.
    void refusals()
    {
        WebSocketService listed(0, Access(AccessSettings::Policy::List, {SHOP}));
        WsClient unlisted(nullptr, "https://evil.example"), shop(nullptr, SHOP), local(nullptr, "http://localhost:8080");
        QString reason;
        QCOMPARE(RefusedWith(unlisted, listed.serverPort(), &reason), SITE_CLOSE_CODE);
        QCOMPARE(reason, QString(SITE_CLOSE_REASON));
        QVERIFY(shop.open(listed.serverPort()));
        QVERIFY(local.open(listed.serverPort()));
        QCOMPARE(shop.call(req("GetSize")), QString("0"));
        QCOMPARE(local.call(req("GetSize")), QString("0"));
        listed.SetAccess(Access(AccessSettings::Policy::List)); // the site is taken back
        QCOMPARE(ClosedWith(shop), SITE_CLOSE_CODE);
        QCOMPARE(local.call(req("GetSize")), QString("0"));

        WebSocketService nobodyToAsk(0);
        WsClient asking(nullptr, SHOP);
        QCOMPARE(RefusedWith(asking, nobodyToAsk.serverPort()), SITE_CLOSE_CODE);

        WebSocketService asker(0);
        asker.EnableSiteQuestions(300);
        QSignalSpy ended(&asker, &WebSocketService::siteQuestionEnded);
        WsClient late(nullptr, SHOP), blocked(nullptr, "https://evil.example");
        QVERIFY(late.open(asker.serverPort()));
        late.send(req("GetSize"));
        QCOMPARE(ClosedWith(late), SITE_CLOSE_CODE);
        QVERIFY(late.m_texts.isEmpty());
        QCOMPARE(ended.size(), 1);
        QVERIFY(blocked.open(asker.serverPort()));
        QTRY_COMPARE_WITH_TIMEOUT(asker.status().nQuestions, 1, DEADLINE_MS);
        asker.SetAccess(Access(AccessSettings::Policy::Ask, {}, {"https://evil.example"}));
        QCOMPARE(ClosedWith(blocked), SITE_CLOSE_CODE);
        QCOMPARE(asker.status().nQuestions, 0);
        QTRY_COMPARE_WITH_TIMEOUT(asker.status().nClients, 0, DEADLINE_MS);
    }

    // Through the service thread: the question reaches the thread object's
    // thread, the answer the service.
    void questionsCrossThreads()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 port = probe.serverPort();
        probe.close();
        WebSocketThread thread(nullptr, port);
        thread.EnableSiteQuestions(DEADLINE_MS);
        QSignalSpy asked(&thread, &WebSocketThread::siteQuestion);
        thread.start();
        QTRY_COMPARE_WITH_TIMEOUT(thread.serverPort(), port, DEADLINE_MS);
        WsClient page(nullptr, SHOP);
        QVERIFY(page.open(port));
        page.send(req("GetSize"));
        QTRY_COMPARE_WITH_TIMEOUT(asked.size(), 1, DEADLINE_MS);
        QCOMPARE(asked.first().at(0).toString(), SHOP);
        thread.SetAccess(Access(AccessSettings::Policy::Ask, {SHOP}));
        QCOMPARE(page.next(), QString("{\"Func\":\"GetSize\",\"Result\":\"0\"}"));
        thread.quit();
        QVERIFY(thread.wait(DEADLINE_MS));
    }
};

QTEST_MAIN(TestSitePolicy)
#include "test_sitepolicy.moc"
