// Pushes and replies without a pad: a test adapter reports points, keys and
// plug events from a thread of its own, as the SDK would. What reaches which
// connection, in which order and in which bytes.
#include "compactjson.h"
#include "signobjinterface.h"
#include "signobjmanager.h"
#include "websocketservice.h"
#include "wsclient.h"

#include <QJsonArray>

#include <atomic>
#include <thread>

namespace {

const int DEADLINE_MS = 20000;

// The adapter behind the manager; it keeps the reports it was given.
struct Pad {
    std::atomic<PadReports*> pReports{nullptr};
    QList<int> keyStatuses; // handed out one per read, then -1
    int nClears = 0;
};
Pad g_pad;

class ReportingSignObj : public SignObjInterface
{
public:
    bool InitialDevice(int, int, int) override { return true; }
    bool UnInitialDevice() override { return true; }
    bool SetPadReports(PadReports* p) override
    {
        g_pad.pReports = p;
        return true;
    }
    void Clear() override
    {
        ++g_pad.nClears;
        if (PadReports* p = g_pad.pReports.load())
            p->InkCleared();
    }
    int GetDeviceConfirmOrCancelKeyStatus() override
    {
        return g_pad.keyStatuses.isEmpty() ? -1 : g_pad.keyStatuses.takeFirst();
    }
};

PadReports::Point point(int i, bool bEnd = false)
{
    return {100 + i, 200 + i, 300 + i % 7, bEnd, i % 1000, i % 500, i};
}

QString penFrame(const QString& elements)
{
    return CompactReply(QStringLiteral("PenData"), elements);
}

} // namespace

class TestPush : public QObject
{
    Q_OBJECT
private:
    WebSocketService* m_pService = nullptr;
    WsClient* m_pA = nullptr; // subscribes
    WsClient* m_pB = nullptr; // does not

    bool nothingPushed(WsClient& c)
    {
        return c.call(req("GetSize")) == QStringLiteral("0") && c.m_texts.isEmpty();
    }
    // Elements of the PenData pushes until n have come.
    QJsonArray points(WsClient& c, int n)
    {
        QJsonArray all;
        while (all.size() < n) {
            const QJsonObject frame = QJsonDocument::fromJson(c.next(DEADLINE_MS).toUtf8()).object();
            if (frame.isEmpty())
                break;
            if (frame["Func"] == QJsonValue("PenData"))
                for (const QJsonValue& v : QJsonDocument::fromJson(frame["Result"].toString().toUtf8()).array())
                    all.append(v);
        }
        return all;
    }

private Q_SLOTS:
    void init()
    {
        g_pad.pReports = nullptr;
        g_pad.keyStatuses.clear();
        g_pad.nClears = 0;
        SignObjManager::SetCreationTable([](int) -> SignObjInterface* { return new ReportingSignObj(); });
        m_pService = new WebSocketService(0);
        m_pA = new WsClient();
        m_pB = new WsClient();
        QVERIFY(m_pA->open(m_pService->serverPort()));
        QVERIFY(m_pB->open(m_pService->serverPort()));
    }
    void cleanup()
    {
        delete m_pA;
        delete m_pB;
        delete m_pService;
        m_pA = m_pB = nullptr;
        m_pService = nullptr;
        SignObjManager::SetCreationTable(nullptr);
    }

    // Replies are written by hand for speed: the same bytes as Qt's writer.
    void repliesAreQtsBytes()
    {
        const QStringList values = {"", "1", "quote\" back\\ slash/", QString::fromUtf8("\b\f\n\r\t\x01\x1f\x7f"),
                                    QString::fromUtf8("Zürich 東京 \xF0\x9F\x96\x8A"), QString(QChar(0xD800)) + "x",
                                    "x" + QString(QChar(0xDC00)), QString(70000, QChar('A'))};
        for (const QString& value : values) {
            const QString qt = QString::fromUtf8(
                QJsonDocument(QJsonObject{{"Func", "GetInks"}, {"Result", value}}).toJson(QJsonDocument::Compact));
            QCOMPARE(CompactReply("GetInks", value), qt);
            QCOMPARE(CompactReply("GetInks", value).toUtf8(), qt.toUtf8());
        }
    }

    void subscribingNeedsNoPad()
    {
        QCOMPARE(m_pA->call(req("SubscribePenData", {{"enable", "1"}})), QString("1"));
        QCOMPARE(m_pB->call(req("SubscribePenData", {{"enable", "0"}})), QString("1"));
        QCOMPARE(m_pB->call(req("SubscribePenData")), QString("1")); // absent: off
        QCOMPARE(m_pService->status().nPenSubscribers, 1);
        QVERIFY(!g_pad.pReports); // nothing open, nothing reported
        // Not over a connection: answered, nobody subscribed.
        QCOMPARE(m_pService->ProcessRequestedJsonString("{\"Func\":\"SubscribePenData\",\"enable\":\"1\"}"),
                 QJsonObject({{"Func", "SubscribePenData"}, {"Result", "1"}}));
        QCOMPARE(m_pService->status().nPenSubscribers, 1);
        delete m_pA;
        m_pA = nullptr;
        QTRY_COMPARE(m_pService->status().nPenSubscribers, 0);
    }

    // Points from the pad's thread reach the subscriber in order and in the
    // documented form; the other connection sees none of it.
    void pointsInOrderToSubscribersOnly()
    {
        QCOMPARE(m_pA->call(req("SubscribePenData", {{"enable", "1"}})), QString("1"));
        QCOMPARE(m_pB->call(req("InitialDevice", {{"id", "2"}, {"width", "1000"}, {"height", "500"}})), QString("1"));
        PadReports* pReports = g_pad.pReports.load();
        QVERIFY(pReports);
        QVERIFY(pReports->WantsPoints());

        pReports->PointStored(point(0));
        QCOMPARE(m_pA->next(DEADLINE_MS),
                 penFrame("[{\"bStrokeEnd\":\"0\",\"cx\":\"0\",\"cy\":\"0\",\"pressure\":\"300\",\"t\":\"0\","
                          "\"x\":\"100\",\"y\":\"200\"}]"));
        const int N = 3000;
        std::thread reader([pReports] {
            for (int i = 1; i < N; ++i)
                pReports->PointStored(point(i, i % 50 == 49));
        });
        const QJsonArray all = points(*m_pA, N - 1);
        reader.join();
        QCOMPARE(all.size(), N - 1);
        for (int i = 1; i < N; ++i) {
            const QJsonObject o = all[i - 1].toObject();
            QCOMPARE(o["x"].toString().toInt(), 100 + i);
            QCOMPARE(o["bStrokeEnd"].toString(), QString(i % 50 == 49 ? "1" : "0"));
            QCOMPARE(o["t"].toString().toInt(), i);
        }
        QVERIFY(nothingPushed(*m_pB));

        // A clear goes to the subscriber only.
        QCOMPARE(m_pB->call(req("Clear")), QString("1"));
        QCOMPARE(g_pad.nClears, 1);
        QCOMPARE(m_pA->next(DEADLINE_MS), penFrame("clear"));
        QVERIFY(nothingPushed(*m_pB));

        // Nobody subscribed: the pad is not even asked for points.
        QCOMPARE(m_pA->call(req("SubscribePenData", {{"enable", "0"}})), QString("1"));
        QVERIFY(!pReports->WantsPoints());
        QCOMPARE(m_pB->call(req("UnInitialDevice")), QString("1"));
        QVERIFY(!g_pad.pReports); // reports end with the pad
    }

    // A key touch is read at once; each press reaches every connection once.
    void keysAndPadStatus()
    {
        WsClient third;
        QVERIFY(third.open(m_pService->serverPort()));
        QCOMPARE(m_pA->call(req("SubscribePenData", {{"enable", "1"}})), QString("1"));
        QCOMPARE(m_pB->call(req("InitialDevice", {{"id", "2"}, {"width", "400"}, {"height", "200"}})), QString("1"));
        PadReports* pReports = g_pad.pReports.load();
        g_pad.keyStatuses = {1};
        std::thread([pReports] { pReports->KeyTouched(); }).join();
        const QString confirm("{\"Func\":\"GetDeviceConfirmOrCancelKeyStatus\",\"Result\":\"1\"}");
        for (WsClient* c : {m_pA, m_pB, &third})
            QCOMPARE(c->next(DEADLINE_MS), confirm);
        // Told again with nothing latched: nothing is sent.
        std::thread([pReports] { pReports->KeyTouched(); }).join();

        std::thread([pReports] {
            pReports->PadAttached(false);
            pReports->PadAttached(true);
        }).join();
        QCOMPARE(m_pA->next(DEADLINE_MS), QString("{\"Func\":\"DeviceStatus\",\"Result\":\"unplugged\"}"));
        QCOMPARE(m_pA->next(DEADLINE_MS), QString("{\"Func\":\"DeviceStatus\",\"Result\":\"plugged\"}"));
        for (WsClient* c : {m_pB, &third})
            QVERIFY(nothingPushed(*c));
        QVERIFY(nothingPushed(*m_pA));
    }
};

QTEST_GUILESS_MAIN(TestPush)
#include "test_push.moc"
