// End to end: a WebSocket client talks to the service, which drives the real
// SDK and driver against pads emulated at the USB level.
#include "signobjmanager.h"
#include "websocketservice.h"
#include "wsclient.h"

#include "padsim.h"
#include "vtlog.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <memory>
#include <unistd.h>

namespace {

const int DEADLINE_MS = 30000;
const int CANVAS_W = 800;
const int CANVAS_H = 400;
// Raw points well inside a Q210's area (offsets 160/220, spans 2360/1430).
const std::vector<padsim::Pad::Point> STROKE_A = {{800, 700, 300}, {1200, 900, 500}, {1700, 1000, 700}};
const std::vector<padsim::Pad::Point> STROKE_B = {{900, 1200, 400}, {1400, 1300, 450}};

QJsonArray parseArray(const QString& text)
{
    return QJsonDocument::fromJson(text.toUtf8()).array();
}

// Bounding box of the pixels that are not transparent.
QRect inkBox(const QImage& image)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0)
                box |= QRect(x, y, 1, 1);
    return box;
}

// Same picture where it can be seen: colour counts only where alpha is not 0.
bool sameVisible(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb pa = a.pixel(x, y), pb = b.pixel(x, y);
            if (qAlpha(pa) != qAlpha(pb) || (qAlpha(pa) && (pa & 0xFFFFFF) != (pb & 0xFFFFFF)))
                return false;
        }
    return true;
}

QString tmpName(const char* stem) { return QString("vt_e2e_%1_%2.png").arg(getpid()).arg(stem); }

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<padsim::Bed> m_pBed;
    padsim::Pad* m_pQ210 = nullptr;
    padsim::Pad* m_pQ220 = nullptr;
    WebSocketService* m_pService = nullptr;
    WsClient* m_pClient = nullptr;
    QStringList m_filesToRemove;

    QString call(const QString& func, std::initializer_list<QPair<QString, QJsonValue>> members = {})
    {
        return m_pClient->call(req(func, members));
    }
    bool openQ210()
    {
        return call("InitialDevice", {{"id", "2"}, {"width", QString::number(CANVAS_W)}, {"height", QString::number(CANVAS_H)}}) == "1";
    }
    // Waits until the SDK has stored n points (deadline, no fixed sleep).
    bool waitForSize(int n)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < DEADLINE_MS) {
            if (call("GetSize").toInt() == n)
                return true;
            QTest::qWait(5);
        }
        return false;
    }
    bool variant(const char* name) const { return qgetenv("VT_E2E_VARIANT") == name; }

private Q_SLOTS:
    void initTestCase()
    {
        if (!qEnvironmentVariableIsSet("UMOCKDEV_DIR") && !qgetenv("LD_PRELOAD").contains("umockdev"))
            QSKIP("needs the umockdev preload");
        if (qEnvironmentVariableIsSet("VT_E2E_LOG"))
            g_bEnableLog = 1; // the service's traces, for a failing run
        m_pBed = std::make_unique<padsim::Bed>();
        m_pQ210 = &m_pBed->plug(padsim::models::q210());
        m_pQ210->setPartsVersion("VTQ210X12"); // 2048 pressure levels
    }
    void init()
    {
        if (!m_pQ210->isPlugged())
            m_pQ210->replug();
        if (m_pQ220 && m_pQ220->isPlugged())
            m_pQ220->unplug(); // same USB ids as the Q210: one at a time
        m_pService = new WebSocketService(0);
        m_pClient = new WsClient();
        QVERIFY(m_pClient->open(m_pService->serverPort()));
    }
    void cleanup()
    {
        delete m_pClient;
        delete m_pService; // closes whatever is open
        m_pClient = nullptr;
        m_pService = nullptr;
        for (const QString& file : qAsConst(m_filesToRemove))
            QFile::remove(file);
        m_filesToRemove.clear();
    }
    void cleanupTestCase()
    {
        m_pBed.reset();
    }

    void openCloseAndDeviceInfo()
    {
        if (!qgetenv("VT_E2E_VARIANT").isEmpty())
            QSKIP("variant run");
        QVERIFY(openQ210());
        QCOMPARE(m_pService->status().nKeyPollMs, 20);
        QCOMPARE(call("GetDeviceInfo", {{"type", "1"}}), QString("true"));
        QCOMPARE(call("GetDeviceInfo", {{"type", "2"}}), QString("0,2360"));
        QCOMPARE(call("GetDeviceInfo", {{"type", "3"}}), QString("0,1430"));
        QCOMPARE(call("GetDeviceInfo", {{"type", "4"}}), QString("0,2048"));
        QCOMPARE(call("GetDeviceInfo", {{"type", "5"}}), QString("Vantor"));
        QCOMPARE(call("GetDeviceInfo", {{"type", "6"}}), QString("Q210"));
        QCOMPARE(call("GetDeviceInfo", {{"type", "7"}}), QString("3.0"));
        QCOMPARE(call("GetDeviceInfo", {{"type", "0"}}), QString(""));
        QCOMPARE(call("GetDeviceInfo", {{"type", "8"}}), QString(""));
        QCOMPARE(call("PadID"), QString("PAD0000210"));
        QCOMPARE(call("PenID"), QString("PEN210-0001"));
        QCOMPARE(call("VersionID"), QString("VTQ210X12"));
        QVERIFY(call("GetAboutInfo").contains("DIVuziDad SDK on Linux OS"));
        QCOMPARE(call("OpenLCD"), QString("1"));
        QCOMPARE(call("UnInitialDevice"), QString("1"));
        QCOMPARE(m_pService->status().nKeyPollMs, 0);
        QCOMPARE(call("GetDeviceInfo", {{"type", "6"}}), QString(""));

        // The Q220 on its own pad.
        m_pQ210->unplug();
        if (!m_pQ220)
            m_pQ220 = &m_pBed->plug(padsim::models::q220());
        else
            m_pQ220->replug();
        QCOMPARE(call("InitialDevice", {{"id", "5"}, {"width", "600"}, {"height", "300"}}), QString("1"));
        QCOMPARE(call("GetDeviceInfo", {{"type", "6"}}), QString("Q220"));
        QCOMPARE(call("GetDeviceInfo", {{"type", "2"}}), QString("0,2300"));
        QCOMPARE(call("UnInitialDevice"), QString("1"));
    }

    // A model switch closes the first device before the second is opened.
    void switchingModelsClosesTheFirst()
    {
        if (!qgetenv("VT_E2E_VARIANT").isEmpty())
            QSKIP("variant run");
        m_pQ210->unplug();
        if (!m_pQ220)
            m_pQ220 = &m_pBed->plug(padsim::models::q220());
        else
            m_pQ220->replug();
        SignObjManager& mgr = *m_pService->signObjManager();
        QVERIFY(mgr.InitialDevice(5, 600, 300));
        QCOMPARE(mgr.GetDeviceInfo(6), QString("Q220"));
        m_pQ220->unplug();
        m_pQ210->replug();
        QVERIFY(mgr.InitialDevice(2, 600, 300));
        // Had the Q220 canvas survived, the SDK would still answer for it.
        QCOMPARE(mgr.GetDeviceInfo(6), QString("Q210"));
        QCOMPARE(mgr.PadID(), QString("PAD0000210"));
        QVERIFY(mgr.UnInitialDevice());
    }

    void unpluggedPadThenRetry()
    {
        if (!qgetenv("VT_E2E_VARIANT").isEmpty())
            QSKIP("variant run");
        m_pQ210->unplug();
        QCOMPARE(call("InitialDevice", {{"id", "2"}, {"width", "400"}, {"height", "200"}}), QString("0"));
        QVERIFY(!m_pService->status().bStartTimer);
        QCOMPARE(call("GetSize"), QString("0")); // the held adapter answers: no canvas in the SDK
        m_pQ210->replug();
        QCOMPARE(call("InitialDevice", {{"id", "2"}, {"width", "400"}, {"height", "200"}}), QString("1"));
        QVERIFY(m_pService->status().bStartTimer);
    }

    void signatureInkAndImages()
    {
        if (!qgetenv("VT_E2E_VARIANT").isEmpty())
            QSKIP("variant run");
        QVERIFY(openQ210());
        QCOMPARE(call("GetPointer"), QString("[]"));
        QCOMPARE(call("GetInks"), QString(""));
        m_pQ210->stroke(STROKE_A);
        QVERIFY(waitForSize(4));

        const QJsonArray points = parseArray(call("GetPointer"));
        QCOMPARE(points.size(), 4);
        const QRegularExpression timeForm("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}$");
        for (int i = 0; i < 4; ++i) {
            const QJsonObject point = points[i].toObject();
            QCOMPARE(point.keys(), QStringList({"Time", "bStrokeEnd", "pressure", "x", "y"}));
            QVERIFY2(timeForm.match(point["Time"].toString()).hasMatch(), qPrintable(point["Time"].toString()));
            const auto& raw = STROKE_A[qMin(i, 2)];
            QCOMPARE(point["x"], QJsonValue(QString::number(raw.x)));
            QCOMPARE(point["y"], QJsonValue(QString::number(raw.y)));
            QCOMPARE(point["bStrokeEnd"], QJsonValue(i == 3 ? "1" : "0"));
            if (i < 3)
                QCOMPARE(point["pressure"], QJsonValue(QString::number(raw.pressure)));
        }

        // Image events: once per change, shared between the encodings.
        const QJsonArray inks = parseArray(call("GetInks"));
        QCOMPARE(inks.size(), 1);
        const QJsonObject event = inks[0].toObject();
        QCOMPARE(event["EventType"], QJsonValue("0"));
        const QByteArray png = QByteArray::fromBase64(event["Image"].toString().toLatin1());
        QCOMPARE(event["ImageLength"].toString().toInt(), event["Image"].toString().length());
        QImage image;
        QVERIFY(image.loadFromData(png, "PNG"));
        QCOMPARE(image.size(), QSize(CANVAS_W, CANVAS_H));
        QCOMPARE(call("GetInks"), QString(""));
        // No request name: through the manager (same thread as the service).
        QCOMPARE(parseArray(m_pService->signObjManager()->GetOpaqueInks()).size(), 1);
        QCOMPARE(m_pService->signObjManager()->GetOpaqueInks(), QString(""));
        QCOMPARE(parseArray(call("GetInks")).size(), 1);
        QCOMPARE(call("GetInks"), QString(""));

        // A second stroke, one with a negative raw y.
        m_pQ210->stroke(STROKE_B);
        QVERIFY(waitForSize(7));
        QCOMPARE(parseArray(call("GetInks")).size(), 1);
        m_pQ210->stroke({{1000, 65533, 200}});
        QVERIFY(waitForSize(9));
        const QJsonArray all = parseArray(call("GetPointer"));
        QCOMPARE(all[7].toObject()["y"], QJsonValue("-3"));
        QCOMPARE(all[8].toObject()["bStrokeEnd"], QJsonValue("1"));

        // Ink text decodes back to the same records.
        const QString ink = call("Encode", {{"type", "6"}});
        QVERIFY(!ink.isEmpty());
        const QJsonArray decoded = parseArray(call("Decode", {{"type", "6"}, {"data", ink}, {"path", "ignored.png"}}));
        QCOMPARE(decoded.size(), all.size());
        for (int i = 0; i < all.size(); ++i) {
            const QJsonObject d = decoded[i].toObject();
            QCOMPARE(d.keys(), QStringList({"bStrokeEnd", "x", "y"}));
            for (const char* key : {"bStrokeEnd", "x", "y"})
                QCOMPARE(d[key], all[i].toObject()[key]);
        }
        QCOMPARE(call("GetDecodeFilePath"), QString("/tmp/"));

        // An image decodes into a file under /tmp/.
        const QString pngText = call("Encode", {{"type", "3"}});
        const QString name = tmpName("decoded");
        m_filesToRemove << "/tmp/" + name;
        QCOMPARE(call("Decode", {{"type", "3"}, {"data", pngText}, {"path", name}}), QString(""));
        QCOMPARE(call("GetDecodeFilePath"), "/tmp/" + name);
        QImage decodedImage("/tmp/" + name);
        QCOMPARE(decodedImage.size(), QSize(CANVAS_W, CANVAS_H));
        // A path that climbs out of /tmp/ is refused and writes nothing.
        const QString escape = QString("../tmp/%1").arg(tmpName("escape"));
        QCOMPARE(call("Decode", {{"type", "3"}, {"data", pngText}, {"path", escape}}), QString(""));
        QCOMPARE(call("GetDecodeFilePath"), "/tmp/" + name);
        QVERIFY(!QFile::exists("/tmp/" + tmpName("escape")));

        QCOMPARE(call("Clear"), QString("1"));
        QCOMPARE(call("GetPointer"), QString("[]"));
    }

    // Keys reach every client once each, after the pen lifts off the key.
    void keysReachEveryClientOnce()
    {
        if (!qgetenv("VT_E2E_VARIANT").isEmpty())
            QSKIP("variant run");
        WsClient other;
        QVERIFY(other.open(m_pService->serverPort()));
        QVERIFY(openQ210());
        const QString confirm("{\"Func\":\"GetDeviceConfirmOrCancelKeyStatus\",\"Result\":\"1\"}");
        const QString cancel("{\"Func\":\"GetDeviceConfirmOrCancelKeyStatus\",\"Result\":\"0\"}");
        m_pQ210->touchConfirm();
        QCOMPARE(m_pClient->next(DEADLINE_MS), confirm);
        QCOMPARE(other.next(DEADLINE_MS), confirm);
        m_pQ210->touchCancel();
        QCOMPARE(m_pClient->next(DEADLINE_MS), cancel);
        QCOMPARE(other.next(DEADLINE_MS), cancel);
        // Every report was taken and several polls ran: still nothing more.
        QVERIFY(m_pQ210->waitUntilDelivered(std::chrono::milliseconds(DEADLINE_MS)));
        QCOMPARE(call("GetSize"), QString("0"));
        QCOMPARE(other.call(req("PadID")), QString("PAD0000210"));
        QVERIFY(m_pClient->m_texts.isEmpty());
        QVERIFY(other.m_texts.isEmpty());
    }

    void savingImages()
    {
        if (!qgetenv("VT_E2E_VARIANT").isEmpty())
            QSKIP("variant run");
        QVERIFY(openQ210());
        const QString bare = tmpName("save");
        m_filesToRemove << "/tmp/" + bare;
        QCOMPARE(call("SaveDrawingImage", {{"type", "3"}, {"dpi", "0"}, {"path", bare}}), QString("-8"));
        m_pQ210->stroke(STROKE_A);
        QVERIFY(waitForSize(4));
        QCOMPARE(call("SaveDrawingImage", {{"type", "4"}, {"dpi", "0"}, {"path", bare}}), QString("-2"));

        QCOMPARE(call("SaveDrawingImage", {{"type", "3"}, {"dpi", "0"}, {"path", bare}}), "/tmp/" + bare);
        QImage low("/tmp/" + bare);
        QCOMPARE(low.size(), QSize(CANVAS_W, CANVAS_H));
        QCOMPARE(low.dotsPerMeterX(), 5905);
        QTemporaryDir dir;
        const QString absolute = dir.filePath("high.png");
        QCOMPARE(call("SaveDrawingImage", {{"type", "3"}, {"dpi", "1"}, {"path", absolute}}), absolute);
        QImage high(absolute);
        QCOMPARE(high.dotsPerMeterX(), 11811);
        QCOMPARE(high.dotsPerMeterY(), 11811);

        // Clipping crops to the ink plus the margins.
        const QRect box = inkBox(high);
        QVERIFY(!box.isEmpty());
        QCOMPARE(call("SetClip", {{"width", "5"}, {"height", "7"}}), QString("1"));
        QCOMPARE(call("SaveDrawingImage", {{"type", "3"}, {"dpi", "1"}, {"path", absolute}}), absolute);
        QCOMPARE(QImage(absolute).size(), box.size() + QSize(10, 14));
        QCOMPARE(call("SetClip", {{"width", "0"}, {"height", "0"}}), QString("1"));
        QCOMPARE(call("SaveDrawingImage", {{"type", "3"}, {"dpi", "1"}, {"path", absolute}}), absolute);
        QCOMPARE(QImage(absolute).size(), QSize(CANVAS_W, CANVAS_H));
    }

    void signedPictureLayouts()
    {
        if (!qgetenv("VT_E2E_VARIANT").isEmpty())
            QSKIP("variant run");
        QVERIFY(openQ210());
        SignObjManager& mgr = *m_pService->signObjManager();
        const QString plain("/tmp/DOdAvivARA.png");
        const QString composed("/tmp/DOdAvivARA_dt_name.png");
        QCOMPARE(mgr.WPSSignConfirmed(false, ""), QString("-8"));
        m_pQ210->stroke(STROKE_A);
        QVERIFY(waitForSize(4));

        QFile::remove(composed);
        QCOMPARE(mgr.WPSSignConfirmed(false, ""), plain);
        QVERIFY(!QFile::exists(composed));
        const QImage sign(plain);
        QVERIFY(!sign.isNull());
        QCOMPARE(sign.dotsPerMeterX(), 11811);
        const int w = sign.width();
        const int h = sign.height();
        QVERIFY(w < CANVAS_W && h < CANVAS_H); // clipped with margins 5

        QImage probe(1, 1, QImage::Format_ARGB32);
        const QFontMetrics metrics(QFont("times", 24, QFont::Normal, false), &probe);
        const int lh = metrics.height();
        const int dateWidth = metrics.horizontalAdvance(QDateTime::currentDateTime().toString("yyyy/MM/dd hh:mm:ss"));

        QCOMPARE(mgr.WPSSignConfirmed(true, ""), composed);
        QImage picture(composed);
        QCOMPARE(picture.size(), QSize(qMax(w, dateWidth), h + lh));
        QCOMPARE(picture.dotsPerMeterX(), 11811);
        QCOMPARE(picture.dotsPerMeterY(), 11811);
        QVERIFY(picture.hasAlphaChannel());

        // A short name and a signature wider than both texts.
        QVERIFY(w > dateWidth);
        QCOMPARE(mgr.WPSSignConfirmed(true, "Li"), composed);
        picture.load(composed);
        QCOMPARE(picture.size(), QSize(w, h + 2 * lh));
        // The signature sits right-aligned under the name: same pixels.
        QVERIFY(sameVisible(picture.copy(0, lh, w, h), sign));

        // A name wider than the signature.
        const QString longName = QString("Maximilian Alexander Bartholomew von Hohenzollern-Sigmaringen");
        const int nameWidth = metrics.horizontalAdvance(longName);
        QVERIFY(nameWidth > w);
        QCOMPARE(mgr.WPSSignConfirmed(false, longName), composed);
        picture.load(composed);
        QCOMPARE(picture.size(), QSize(nameWidth, h + lh));
        QVERIFY(sameVisible(picture.copy(nameWidth - w, lh, w, h), sign));
        QCOMPARE(qAlpha(picture.pixel(0, lh + h / 2)), 0); // left of the signature: transparent
    }

    // Planted links at the fixed names are replaced, never written through.
    void signedPictureIgnoresPlantedLinks()
    {
        if (!qgetenv("VT_E2E_VARIANT").isEmpty())
            QSKIP("variant run");
        QVERIFY(openQ210());
        m_pQ210->stroke(STROKE_A);
        QVERIFY(waitForSize(4));
        QTemporaryDir dir;
        const QString victim = dir.filePath("victim.txt");
        for (const char* fixed : {"/tmp/DOdAvivARA.png", "/tmp/DOdAvivARA_dt_name.png"}) {
            QFile file(victim);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("keep me");
            file.close();
            QFile::remove(fixed);
            QVERIFY(QFile::link(victim, fixed));
            QCOMPARE(m_pService->signObjManager()->WPSSignConfirmed(true, "N"), QString("/tmp/DOdAvivARA_dt_name.png"));
            QFile check(victim);
            QVERIFY(check.open(QIODevice::ReadOnly));
            QCOMPARE(check.readAll(), QByteArray("keep me"));
            QVERIFY(!QFileInfo(fixed).isSymLink());
            QVERIFY(!QImage(fixed).isNull());
        }
    }

    void tablets_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("name");
        QTest::newRow("qt410") << "qt410" << "3" << "QT410";
        QTest::newRow("m420") << "m420" << "4" << "M420";
    }
    // The tablets: no pen id or screen commands, one-step keys.
    void tablets()
    {
        if (!qgetenv("VT_E2E_VARIANT").isEmpty())
            QSKIP("variant run");
        QFETCH(QString, model);
        QFETCH(QString, id);
        QFETCH(QString, name);
        padsim::Pad* pPad = m_pBed->find(model.toStdString());
        if (!pPad)
            pPad = &m_pBed->plug(padsim::models::byName(model.toStdString()));
        else
            pPad->replug();
        QCOMPARE(call("InitialDevice", {{"id", id}, {"width", "600"}, {"height", "400"}}), QString("1"));
        QCOMPARE(call("GetDeviceInfo", {{"type", "6"}}), name);
        QCOMPARE(call("PenID"), QString(""));
        QCOMPARE(call("OpenLCD"), QString("1"));
        QCOMPARE(call("ShowDeviceInfoOnLCD", {{"show", "1"}}), QString("1"));
        QVERIFY(!call("PadID").isEmpty());
        pPad->stroke({{6000, 6000, 900}, {9000, 8000, 1500}});
        QVERIFY(waitForSize(3));
        QCOMPARE(parseArray(call("GetInks")).size(), 1);
        pPad->touchConfirm();
        QCOMPARE(m_pClient->next(DEADLINE_MS), QString("{\"Func\":\"GetDeviceConfirmOrCancelKeyStatus\",\"Result\":\"1\"}"));
        QCOMPARE(call("UnInitialDevice"), QString("1"));
        pPad->unplug();
    }

    // Variant runs (a folder of their own as working directory).
    void sdkMissing()
    {
        if (!variant("nosdk"))
            QSKIP("runs with VT_E2E_VARIANT=nosdk");
        QVERIFY(!QFile::exists("./libvtinksdk.so"));
        QCOMPARE(call("InitialDevice", {{"id", "2"}, {"width", "400"}, {"height", "200"}}), QString("0"));
        QCOMPARE(call("GetPointer"), QString("[]"));
        QCOMPARE(call("GetSize"), QString("0"));
        QCOMPARE(call("UnInitialDevice"), QString("0"));
    }

    void sdkLackingAboutBox()
    {
        if (!variant("noabout"))
            QSKIP("runs with VT_E2E_VARIANT=noabout");
        QLibrary sdk("./libvtinksdk.so");
        QVERIFY(sdk.load());
        QVERIFY(!sdk.resolve("VTQ210_AboutBox"));
        QVERIFY(sdk.resolve("VTQ210_InitialDevice"));
        QVERIFY(openQ210());
        m_pQ210->stroke(STROKE_A);
        QVERIFY(waitForSize(4));
        QCOMPARE(parseArray(call("GetPointer")).size(), 4);
        QCOMPARE(parseArray(call("GetInks")).size(), 1);
        QCOMPARE(call("PadID"), QString("PAD0000210"));
        QCOMPARE(call("UnInitialDevice"), QString("1"));
    }
};

QTEST_MAIN(TestEndToEnd)
#include "test_e2e.moc"
