// Pushed as it happens, end to end over the real SDK, driver and emulated
// pads: the pen stream of a subscribed connection (same points as
// "GetPointer" afterwards, the canvas pixels, a cleared ink), keys once per
// press to every connection, and the pad going and coming back.
#include "signobjmanager.h"
#include "websocketservice.h"
#include "wsclient.h"

#include "padsim.h"

#include <QApplication>
#include <QJsonArray>

#include <cmath>
#include <cstdio>
#include <memory>

namespace {

const int DEADLINE_MS = 30000;
const QString CONFIRM("{\"Func\":\"GetDeviceConfirmOrCancelKeyStatus\",\"Result\":\"1\"}");
const QString CANCEL("{\"Func\":\"GetDeviceConfirmOrCancelKeyStatus\",\"Result\":\"0\"}");

// What the test knows of a model: how the SDK maps its raw area to the canvas.
struct Model {
    const char* padsim;
    int id;
    int offsetX, spanX, offsetY, spanY;
};
const Model Q210{"q210", 2, 160, 2360, 220, 1430};
const Model QT410{"qt410", 3, 550, 29870, 180, 20120};

int canvasPixel(int raw, int offset, int span, int size)
{
    const int d = qBound(0, raw - offset, span - 1);
    return int(std::floor(d * (double(size) / span)));
}

QJsonObject parse(const QString& text) { return QJsonDocument::fromJson(text.toUtf8()).object(); }

// The elements of "PenData" pushes until n have come; anything else pushed
// meanwhile goes to *pOther.
QJsonArray penData(WsClient& client, int n, QStringList* pOther = nullptr)
{
    QJsonArray all;
    while (all.size() < n) {
        const QString text = client.next(DEADLINE_MS);
        if (text.isNull())
            break;
        const QJsonObject frame = parse(text);
        if (frame["Func"] != QJsonValue("PenData") || frame["Result"] == QJsonValue("clear")) {
            if (pOther)
                *pOther << text;
            continue;
        }
        for (const QJsonValue& v : QJsonDocument::fromJson(frame["Result"].toString().toUtf8()).array())
            all.append(v);
    }
    return all;
}

} // namespace

class TestLive : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<padsim::Bed> m_pBed;
    WebSocketService* m_pService = nullptr;
    WsClient* m_pA = nullptr; // subscribes
    WsClient* m_pB = nullptr; // does not

    padsim::Pad& plug(const char* name)
    {
        for (padsim::Pad* p : m_pBed->pads())
            if (p->isPlugged())
                p->unplug(); // one pad at a time (the Q210 and Q230G share ids)
        padsim::Pad* pPad = m_pBed->find(name);
        if (!pPad)
            return m_pBed->plug(padsim::models::byName(name));
        pPad->replug();
        return *pPad;
    }
    QString open(WsClient& c, const Model& m, int w, int h)
    {
        return c.call(req("InitialDevice", {{"id", QString::number(m.id)}, {"width", QString::number(w)},
                                            {"height", QString::number(h)}}));
    }
    bool waitForSize(int n)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < vttest::ScaledMs(DEADLINE_MS)) {
            if (m_pB->call(req("GetSize")).toInt() == n)
                return true;
            QTest::qWait(5);
        }
        return false;
    }
    // Nothing was pushed to c: the reply to a request is the next frame.
    bool nothingPushed(WsClient& c)
    {
        return c.call(req("PadID")) != QStringLiteral("<no reply>") && c.m_texts.isEmpty();
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_pBed = std::make_unique<padsim::Bed>();
    }
    void init()
    {
        m_pService = new WebSocketService(0);
        m_pA = new WsClient();
        m_pB = new WsClient();
        QVERIFY(m_pA->open(m_pService->serverPort()));
        QVERIFY(m_pB->open(m_pService->serverPort()));
        // Answered with or without a pad.
        QCOMPARE(m_pA->call(req("SubscribePenData", {{"enable", "1"}})), QString("1"));
        QTRY_COMPARE(m_pService->status().nPenSubscribers, 1);
    }
    void cleanup()
    {
        delete m_pA;
        delete m_pB;
        delete m_pService;
        m_pA = m_pB = nullptr;
        m_pService = nullptr;
    }
    void cleanupTestCase() { m_pBed.reset(); }

    void penStreamIsTheStoredInk_data()
    {
        QTest::addColumn<int>("model");
        QTest::newRow("q210") << 0;
        QTest::newRow("qt410") << 1;
    }
    void penStreamIsTheStoredInk()
    {
        QFETCH(int, model);
        const Model& m = model == 0 ? Q210 : QT410;
        padsim::Pad& pad = plug(m.padsim);
        const int W = 1000, H = 500;
        QCOMPARE(open(*m_pB, m, W, H), QString("1"));
        auto at = [&](double fx, double fy, int p) {
            auto raw = [](double v) { return uint16_t(qBound(0.0, v, 65535.0)); };
            return padsim::Pad::Point{raw(m.offsetX + fx * m.spanX), raw(m.offsetY + fy * m.spanY), uint16_t(p)};
        };
        std::vector<padsim::Pad::Point> first, second;
        for (int i = 0; i < 60; ++i)
            first.push_back(at(0.1 + i * 0.01, 0.5 + 0.3 * std::sin(i / 6.0), 200 + i * 5));
        for (int i = 0; i < 20; ++i)
            second.push_back(at(0.2 + i * 0.02, 0.2, 400));
        second.push_back(at(1.2, -0.1, 400)); // outside the area: drawn at its edge
        pad.stroke(first);
        pad.stroke(second);
        const int n = int(first.size() + second.size()) + 2;
        const QJsonArray stream = penData(*m_pA, n);
        QCOMPARE(stream.size(), n);

        // The same points as GetPointer afterwards, in order, with the pixel they were drawn at.
        const QJsonArray stored = QJsonDocument::fromJson(m_pB->call(req("GetPointer")).toUtf8()).array();
        QCOMPARE(stored.size(), n);
        qint64 tLast = -1;
        for (int i = 0; i < n; ++i) {
            const QJsonObject s = stream[i].toObject();
            const QJsonObject g = stored[i].toObject();
            QCOMPARE(s.keys(), QStringList({"bStrokeEnd", "cx", "cy", "pressure", "t", "x", "y"}));
            for (const char* key : {"bStrokeEnd", "pressure", "x", "y"})
                QCOMPARE(s[key], g[key]);
            if (s["bStrokeEnd"] == QJsonValue("1")) {
                // Not drawn: where its stroke's last point was.
                QCOMPARE(s["cx"], stream[i - 1].toObject()["cx"]);
                QCOMPARE(s["cy"], stream[i - 1].toObject()["cy"]);
            } else {
                // Raw values above 32767 are stored as 16-bit values, as GetPointer shows them.
                const int rawX = s["x"].toString().toInt() & 0xFFFF, rawY = s["y"].toString().toInt() & 0xFFFF;
                QCOMPARE(s["cx"].toString().toInt(), canvasPixel(rawX, m.offsetX, m.spanX, W));
                QCOMPARE(s["cy"].toString().toInt(), canvasPixel(rawY, m.offsetY, m.spanY, H));
            }
            const qint64 t = s["t"].toString().toLongLong();
            QVERIFY(t >= tLast);
            tLast = t;
        }
        QCOMPARE(stream[n - 1].toObject()["cx"].toString().toInt(), W - 1);
        QCOMPARE(stream[n - 1].toObject()["cy"].toString().toInt(), 0);
        QVERIFY(nothingPushed(*m_pB));

        // A clear, asked for by the other connection: only the subscriber hears of it.
        QCOMPARE(m_pB->call(req("Clear")), QString("1"));
        QCOMPARE(m_pA->next(DEADLINE_MS), QString("{\"Func\":\"PenData\",\"Result\":\"clear\"}"));
        pad.stroke({at(0.5, 0.5, 300), at(0.6, 0.5, 300)});
        const QJsonArray after = penData(*m_pA, 3);
        const QJsonArray storedAfter = QJsonDocument::fromJson(m_pB->call(req("GetPointer")).toUtf8()).array();
        QCOMPARE(after.size(), 3);
        QCOMPARE(storedAfter.size(), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(after[i].toObject()["x"], storedAfter[i].toObject()["x"]);
        QVERIFY(nothingPushed(*m_pB));

        // Unsubscribed: nothing new.
        QCOMPARE(m_pA->call(req("SubscribePenData", {{"enable", "0"}})), QString("1"));
        pad.stroke({at(0.3, 0.3, 300)});
        QVERIFY(waitForSize(5));
        QVERIFY(nothingPushed(*m_pA));
        QCOMPARE(m_pB->call(req("UnInitialDevice")), QString("1"));
    }

    // Each press reaches every connection once, subscribed or not.
    void keysReachEveryConnectionOnce()
    {
        padsim::Pad& pad = plug("q210");
        WsClient third;
        QVERIFY(third.open(m_pService->serverPort()));
        QCOMPARE(open(*m_pB, Q210, 400, 200), QString("1"));
        pad.touchConfirm();
        for (WsClient* c : {m_pA, m_pB, &third})
            QCOMPARE(c->next(DEADLINE_MS), CONFIRM);
        // A two-step pad's key counts when it is touched, lift or no lift.
        pad.input({padsim::PenInput::Cancel, 0, 0, 0});
        for (WsClient* c : {m_pA, m_pB, &third})
            QCOMPARE(c->next(DEADLINE_MS), CANCEL);
        pad.input({padsim::PenInput::Lift, 0, 0, 0});
        QVERIFY(pad.waitUntilDelivered(std::chrono::milliseconds(DEADLINE_MS)));
        for (WsClient* c : {m_pA, m_pB, &third})
            QVERIFY(nothingPushed(*c));
        QCOMPARE(m_pB->call(req("UnInitialDevice")), QString("1"));
    }

    // The open pad goes and comes back: subscribers are told, the page opens it again.
    void padGoneAndBack()
    {
        padsim::Pad& pad = plug("q210");
        QCOMPARE(open(*m_pB, Q210, 400, 200), QString("1"));
        QCOMPARE(m_pB->call(req("GetDeviceInfo", {{"type", "1"}})), QString("true"));
        pad.unplug();
        QCOMPARE(m_pA->next(DEADLINE_MS), QString("{\"Func\":\"DeviceStatus\",\"Result\":\"unplugged\"}"));
        QCOMPARE(m_pB->call(req("GetDeviceInfo", {{"type", "1"}})), QString("false"));
        pad.replug();
        QCOMPARE(m_pA->next(DEADLINE_MS), QString("{\"Func\":\"DeviceStatus\",\"Result\":\"plugged\"}"));
        QVERIFY(nothingPushed(*m_pB));
        QCOMPARE(m_pB->call(req("UnInitialDevice")), QString("1"));
        QCOMPARE(open(*m_pB, Q210, 400, 200), QString("1"));
        pad.stroke({{800, 700, 300}});
        QCOMPARE(penData(*m_pA, 2).size(), 2);
        QCOMPARE(m_pB->call(req("UnInitialDevice")), QString("1"));
        // Closed: no more pushes.
        pad.unplug();
        pad.replug();
        QCOMPARE(open(*m_pB, Q210, 400, 200), QString("1"));
        QVERIFY(nothingPushed(*m_pA));
    }
};

int main(int argc, char** argv)
{
    if (!qgetenv("LD_PRELOAD").contains("umockdev")) {
        fprintf(stderr, "needs the umockdev preload (tests/umockdev-run.sh)\n");
        return 77;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestLive test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_live.moc"
