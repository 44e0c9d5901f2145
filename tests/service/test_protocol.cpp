// The WebSocket service and request protocol with a test adapter behind the
// manager: wire format, refusals, member conversion, the Open state, key
// events to several clients, binary echo and a port already taken.
#include "signobjinterface.h"
#include "signobjmanager.h"
#include "websocketservice.h"
#include "websocketthread.h"
#include "wsclient.h"

#include <QTcpServer>
#include <QTimer>

namespace {

// What the test adapter saw, kept outside it because the manager deletes it.
struct Journal {
    QStringList calls;        // "Init(2,400,200)", "SetPenStyle(1)", ...
    QList<int> keyStatuses;   // handed out one per poll, then -1
    int nPolls = 0;
    int nAlive = 0;
    bool bInitResult = true;
};
Journal g_journal;

class TestSignObj : public SignObjInterface
{
public:
    TestSignObj() { ++g_journal.nAlive; }
    ~TestSignObj() override { --g_journal.nAlive; g_journal.calls << "deleted"; }
    bool InitialDevice(int nID, int nWidth, int nHeight) override
    {
        g_journal.calls << QString("Init(%1,%2,%3)").arg(nID).arg(nWidth).arg(nHeight);
        return g_journal.bInitResult;
    }
    bool UnInitialDevice() override { g_journal.calls << "UnInit"; return true; }
    void SetPenStyle(bool b) override { g_journal.calls << QString("SetPenStyle(%1)").arg(b); }
    void SetPenColor(int r, int g, int b) override { g_journal.calls << QString("SetPenColor(%1,%2,%3)").arg(r).arg(g).arg(b); }
    QString Decode(int nType, QString strPath, QString strData) override
    {
        g_journal.calls << QString("Decode(%1,%2,%3)").arg(nType).arg(strPath.isNull() ? "<null>" : strPath, strData);
        return QString();
    }
    void DisplayDeviceInfoInLCD(bool b) override { g_journal.calls << QString("Show(%1)").arg(b); }
    void SetDisplayedFPImageAt(int a, int b, int c, int d, int e, int f) override
    {
        g_journal.calls << QString("FPAt(%1,%2,%3,%4,%5,%6)").arg(a).arg(b).arg(c).arg(d).arg(e).arg(f);
    }
    QString GetFingerPrintImage(bool b) override { return QString("fp%1").arg(b); }
    int GetSize() override { return 42; }
    QString GetInks() override { return QStringLiteral("[{\"EventType\":\"0\"}]"); }
    int GetDeviceConfirmOrCancelKeyStatus() override
    {
        ++g_journal.nPolls;
        return g_journal.keyStatuses.isEmpty() ? -1 : g_journal.keyStatuses.takeFirst();
    }
};

const int DEADLINE_MS = 20000;

} // namespace

class TestProtocol : public QObject
{
    Q_OBJECT
private:
    WebSocketService* m_pService = nullptr;
    WsClient* m_pClient = nullptr;

    void useTestAdapter()
    {
        SignObjManager::SetCreationTable([](int nID) -> SignObjInterface* {
            g_journal.calls << QString("Create(%1)").arg(nID);
            return nID == 2 || nID == 5 ? new TestSignObj() : nullptr;
        });
    }

private Q_SLOTS:
    void init()
    {
        g_journal = Journal();
        SignObjManager::SetCreationTable(nullptr);
        m_pService = new WebSocketService(0);
        QVERIFY(m_pService->serverPort() != 0);
        m_pClient = new WsClient();
        QVERIFY(m_pClient->open(m_pService->serverPort()));
    }
    void cleanup()
    {
        delete m_pClient;
        delete m_pService;
        SignObjManager::SetCreationTable(nullptr);
        QCOMPARE(g_journal.nAlive, 0); // the manager released its adapter
    }

    void repliesWithoutAdapter_data()
    {
        QTest::addColumn<QString>("func");
        QTest::addColumn<QString>("result");
        QTest::addColumn<bool>("held");
        const char* const rows[][2] = {
            {"UnInitialDevice", "0"}, {"GetAboutInfo", ""}, {"Clear", "1"}, {"SetPenColor", "1"},
            {"SetPenWidth", "1"}, {"SetPenStyle", "1"}, {"SaveDrawingImage", ""}, {"GetSize", "0"},
            {"GetPointer", "[]"}, {"SetClip", "1"}, {"PadID", ""}, {"PenID", ""}, {"VersionID", ""},
            {"ShowDeviceInfoOnLCD", "1"}, {"OpenLCD", "1"}, {"CloseLCD", "1"}, {"GetDeviceInfo", ""},
            {"Encode", ""}, {"Decode", ""}, {"GetDecodeFilePath", ""}, {"GetInks", ""},
            {"SetDisplayedFPImageAt", "1"}, {"GetFingerPrintImage", ""}, {"InitialDevice", "0"},
        };
        for (bool held : {false, true}) {
            for (const auto& row : rows)
                QTest::newRow(qPrintable(QString(row[0]) + (held ? " held" : ""))) << QString(row[0]) << QString(row[1]) << held;
        }
    }
    // Exact bytes: compact, "Func" before "Result", every value a string.
    // A held adapter that overrides nothing answers as no adapter at all.
    void repliesWithoutAdapter()
    {
        QFETCH(QString, func);
        QFETCH(QString, result);
        QFETCH(bool, held);
        if (held) {
            SignObjManager::SetCreationTable([](int) { return new SignObjInterface(); });
            QCOMPARE(m_pClient->call(req("InitialDevice", {{"id", "2"}})), QString("0")); // fails, stays held
        }
        m_pClient->send(req(func, {{"id", "6"}, {"type", "3"}}));
        QCOMPARE(m_pClient->next(), QString("{\"Func\":\"%1\",\"Result\":\"%2\"}").arg(func, result));
        QVERIFY(!m_pService->status().bStartTimer);
    }

    void noReplyForRefusedText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("bad json") << "{\"Func\":\"GetSize\"";
        QTest::newRow("array") << "[{\"Func\":\"GetSize\"}]";
        QTest::newRow("no Func") << "{\"func\":\"GetSize\"}";
        QTest::newRow("lower case") << "{\"Func\":\"clear\"}";
        QTest::newRow("unknown") << "{\"Func\":\"GetSizes\"}";
        QTest::newRow("Func not a string") << "{\"Func\":5}";
        QTest::newRow("byte order mark before the name") << QString("{\"Func\":\"") + QChar(0xFEFF) + "PadID\"}";
        QTest::newRow("byte order mark after an escape") << QString("{\"Func\":\"\\u0050") + QChar(0xFEFF) + "adID\"}";
        QTest::newRow("empty") << "";
    }
    // The refused message gets nothing: the next frame is the reply to the
    // request sent after it.
    void noReplyForRefusedText()
    {
        QFETCH(QString, text);
        m_pClient->send(text);
        m_pClient->send(req("PadID"));
        QCOMPARE(m_pClient->next(), QString("{\"Func\":\"PadID\",\"Result\":\"\"}"));
        QVERIFY(m_pClient->m_texts.isEmpty());
    }

    void openStateRefusesSecondInitialDevice()
    {
        useTestAdapter();
        QCOMPARE(m_pClient->call(req("InitialDevice", {{"id", "2"}, {"width", "400"}, {"height", "200"}})), QString("1"));
        QVERIFY(m_pService->status().bStartTimer);
        QCOMPARE(m_pService->status().nKeyPollMs, 20);

        m_pClient->send(req("InitialDevice", {{"id", "5"}, {"width", "1"}, {"height", "1"}}));
        QCOMPARE(m_pClient->call(req("GetSize")), QString("42")); // the adapter is still the first one
        QCOMPARE(g_journal.calls, QStringList({"Create(2)", "Init(2,400,200)"}));

        QCOMPARE(m_pClient->call(req("UnInitialDevice", {{"id", "2"}})), QString("1"));
        QVERIFY(!m_pService->status().bStartTimer);
        QCOMPARE(m_pService->status().nKeyPollMs, 0);
        QCOMPARE(m_pClient->call(req("UnInitialDevice")), QString("0"));
        // Idle again: a new InitialDevice is accepted.
        QCOMPARE(m_pClient->call(req("InitialDevice", {{"id", "5"}, {"width", "10"}, {"height", "20"}})), QString("1"));
        QCOMPARE(g_journal.calls.mid(2), QStringList({"UnInit", "deleted", "Create(5)", "Init(5,10,20)"}));
    }

    void failedOpenStaysIdleAndKeepsAdapter()
    {
        useTestAdapter();
        g_journal.bInitResult = false;
        QCOMPARE(m_pClient->call(req("InitialDevice", {{"id", "2"}, {"width", "4"}, {"height", "2"}})), QString("0"));
        QVERIFY(!m_pService->status().bStartTimer);
        QCOMPARE(m_pService->status().nKeyPollMs, 0);
        QCOMPARE(m_pClient->call(req("GetSize")), QString("42")); // answered by the held adapter
        g_journal.bInitResult = true;
        QCOMPARE(m_pClient->call(req("InitialDevice", {{"id", "2"}, {"width", "4"}, {"height", "2"}})), QString("1"));
    }

    void memberConversion()
    {
        useTestAdapter();
        QCOMPARE(m_pClient->call(req("InitialDevice", {{"id", 2}, {"width", "400"}, {"height", "200"}})), QString("0"));
        QCOMPARE(m_pClient->call(req("InitialDevice", {{"id", " 2x"}, {"width", "400"}, {"height", "200"}})), QString("0"));
        QCOMPARE(g_journal.calls, QStringList({"Create(0)", "Create(0)"}));
        QCOMPARE(m_pClient->call(req("InitialDevice", {{"id", "5"}, {"width", "-7"}})), QString("1"));
        g_journal.calls.clear();

        QCOMPARE(m_pClient->call(req("SetPenStyle")), QString("1"));
        QCOMPARE(m_pClient->call(req("SetPenStyle", {{"style", "0"}})), QString("1"));
        QCOMPARE(m_pClient->call(req("SetPenStyle", {{"style", "1"}})), QString("1"));
        QCOMPARE(m_pClient->call(req("SetPenStyle", {{"style", "2"}})), QString("1"));
        QCOMPARE(m_pClient->call(req("SetPenColor", {{"r", "255"}, {"g", 9}, {"b", "12a"}})), QString("1"));
        QCOMPARE(m_pClient->call(req("Decode", {{"type", "6"}, {"path", "x.png"}, {"data", "AAAA"}})), QString(""));
        QCOMPARE(m_pClient->call(req("Decode", {{"type", "3"}, {"path", "x.png"}, {"data", "BBBB"}})), QString(""));
        QCOMPARE(m_pClient->call(req("Decode", {{"type", "3"}, {"path", 7}})), QString(""));
        // Members are taken as sent, a leading byte order mark included.
        m_pClient->send(QString("{\"Func\":\"Decode\",\"type\":\"3\",\"path\":\"") + QChar(0xFEFF) + "y.png\"}");
        QCOMPARE(m_pClient->next(), QString("{\"Func\":\"Decode\",\"Result\":\"\"}"));
        QCOMPARE(m_pClient->call(req("ShowDeviceInfoOnLCD", {{"show", "1"}})), QString("1"));
        QCOMPARE(m_pClient->call(req("ShowDeviceInfoOnLCD", {{"show", "2"}})), QString("1"));
        QCOMPARE(m_pClient->call(req("SetDisplayedFPImageAt", {{"canvaswidth", "1"}, {"canvasheight", "2"}, {"left", "3"},
                                                               {"top", "4"}, {"width", "5"}, {"height", "6"}})), QString("1"));
        QCOMPARE(m_pClient->call(req("GetFingerPrintImage", {{"fpimageonly", "1"}})), QString("fp1"));
        QCOMPARE(m_pClient->call(req("GetFingerPrintImage", {{"fpimageonly", "0"}})), QString("fp0"));
        // Adapter text travels as one JSON string, even when it is JSON itself.
        m_pClient->send(req("GetInks"));
        QCOMPARE(m_pClient->next(), QString("{\"Func\":\"GetInks\",\"Result\":\"[{\\\"EventType\\\":\\\"0\\\"}]\"}"));

        QCOMPARE(g_journal.calls, QStringList({"SetPenStyle(1)", "SetPenStyle(1)", "SetPenStyle(0)", "SetPenStyle(0)",
                                               "SetPenColor(255,0,0)", "Decode(6,,AAAA)", "Decode(3,x.png,BBBB)",
                                               "Decode(3,,)", QString("Decode(3,%1y.png,)").arg(QChar(0xFEFF)), "Show(1)",
                                               "Show(0)", "FPAt(1,2,3,4,5,6)"}));
    }

    // A reply goes to the asker only; a key press reaches every client once.
    void keyEventsReachEveryClientOnce()
    {
        useTestAdapter();
        WsClient other;
        QVERIFY(other.open(m_pService->serverPort()));
        QTRY_COMPARE_WITH_TIMEOUT(m_pService->status().nClients, 2, DEADLINE_MS);

        QCOMPARE(m_pClient->call(req("InitialDevice", {{"id", "2"}, {"width", "400"}, {"height", "200"}})), QString("1"));
        QCOMPARE(other.call(req("GetSize")), QString("42"));
        QVERIFY(m_pClient->m_texts.isEmpty());

        const QString confirm("{\"Func\":\"GetDeviceConfirmOrCancelKeyStatus\",\"Result\":\"1\"}");
        const QString cancel("{\"Func\":\"GetDeviceConfirmOrCancelKeyStatus\",\"Result\":\"0\"}");
        g_journal.keyStatuses << 1 << -1 << -5 << 0;
        QCOMPARE(m_pClient->next(), confirm);
        QCOMPARE(other.next(), confirm);
        QCOMPARE(m_pClient->next(), cancel);
        QCOMPARE(other.next(), cancel);
        // Several further polls bring nothing more.
        const int nPolls = g_journal.nPolls;
        QTRY_VERIFY_WITH_TIMEOUT(g_journal.nPolls >= nPolls + 5, DEADLINE_MS);
        QCOMPARE(m_pClient->call(req("GetSize")), QString("42"));
        QCOMPARE(other.call(req("GetSize")), QString("42"));
        QVERIFY(m_pClient->m_texts.isEmpty() && other.m_texts.isEmpty());

        // A client that leaves is dropped; the next event still reaches the other.
        other.m_socket.close();
        QTRY_COMPARE_WITH_TIMEOUT(m_pService->status().nClients, 1, DEADLINE_MS);
        g_journal.keyStatuses << 1;
        QCOMPARE(m_pClient->next(), confirm);

        // Idle: no polling.
        QCOMPARE(m_pClient->call(req("UnInitialDevice")), QString("1"));
        QCOMPARE(m_pService->status().nKeyPollMs, 0);
    }

    void binaryFrameIsEchoed()
    {
        QByteArray payload;
        for (int i = 0; i < 3000; ++i)
            payload.append(char(i * 7 % 256));
        m_pClient->m_socket.sendBinaryMessage(payload);
        QTRY_COMPARE_WITH_TIMEOUT(m_pClient->m_binaries.size(), 1, DEADLINE_MS);
        QCOMPARE(m_pClient->m_binaries.first(), payload);
        QCOMPARE(m_pClient->call(req("GetSize")), QString("0"));
        QVERIFY(m_pClient->m_texts.isEmpty());
        QCOMPARE(m_pClient->m_binaries.size(), 1);
    }

    void portInUse()
    {
        WebSocketService second(m_pService->serverPort());
        QCOMPARE(second.signObjManager(), nullptr);
        QVERIFY(!second.status().bManager);
        QVERIFY(!second.status().bKeyPollTimer);
        QCOMPARE(second.serverPort(), quint16(0));
        QVERIFY(second.ProcessRequestedJsonString("{\"Func\":\"GetSize\"}").isEmpty());
        second.MyTimerSlot(); // nothing to poll, no crash
        // A service on a free port next to it works.
        WebSocketService third(0);
        WsClient client;
        QVERIFY(client.open(third.serverPort()));
        QCOMPARE(client.call(req("GetPointer")), QString("[]"));
        QCOMPARE(m_pClient->call(req("GetSize")), QString("0"));
    }

    // The manager on its own: close before create, defaults, destructor.
    void managerSwitchingAndDefaults()
    {
        useTestAdapter();
        {
            SignObjManager mgr;
            QCOMPARE(mgr.GetPointer(), QString("[]"));
            QCOMPARE(mgr.GetDeviceConfirmOrCancelKeyStatus(), -1);
            QVERIFY(!mgr.IsValid());
            QVERIFY(mgr.WPSSignConfirmed(true, "x").isEmpty());
            QVERIFY(mgr.InitialDevice(5, 1, 2));
            QVERIFY(mgr.InitialDevice(2, 3, 4));
            QCOMPARE(g_journal.nAlive, 1);
            QVERIFY(!mgr.InitialDevice(6, 400, 200));
            QCOMPARE(g_journal.nAlive, 0);
            QVERIFY(!mgr.UnInitialDevice());
            QVERIFY(mgr.InitialDevice(2, 5, 6));
        } // destructor closes, then deletes
        QCOMPARE(g_journal.calls, QStringList({"Create(5)", "Init(5,1,2)", "UnInit", "deleted", "Create(2)", "Init(2,3,4)",
                                               "UnInit", "deleted", "Create(6)", "Create(2)", "Init(2,5,6)", "UnInit", "deleted"}));
        // An adapter overriding nothing answers as the manager does with none:
        // no ink and no key press (0 would be the cancel key).
        SignObjInterface plain;
        QCOMPARE(plain.GetPointer(), QString("[]"));
        QCOMPARE(plain.GetDeviceConfirmOrCancelKeyStatus(), -1);
    }

    // The service thread serves clients and tears everything down on quit.
    void serviceThread()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::Any, 0));
        const quint16 port = probe.serverPort();
        probe.close();
        WebSocketThread thread(nullptr, port + 65536); // wraps to the same port
        thread.start();
        QTRY_COMPARE_WITH_TIMEOUT(thread.serverPort(), port, DEADLINE_MS);
        WsClient client;
        QVERIFY(client.open(port));
        QCOMPARE(client.call(req("GetSize")), QString("0"));
        thread.quit();
        QVERIFY(thread.wait(DEADLINE_MS));
        QCOMPARE(thread.serverPort(), quint16(0));
        QTRY_VERIFY_WITH_TIMEOUT(client.m_bDisconnected, DEADLINE_MS);
    }
};

QTEST_MAIN(TestProtocol)
#include "test_protocol.moc"
