// End to end: a WebSocket client talks to the service, which drives the real
// SDK and driver against pads emulated at the USB level. The cases run on
// every pad model padsim describes; what a model lacks (pen id, screen) is
// asked of it all the same and must answer as the model does.
#include "signobjmanager.h"
#include "websocketservice.h"
#include "wsclient.h"

#include "../common/qtestselect.h"
#include "../common/skipexit.h"
#include "padsim.h"
#include "signer.h"
#include "vtlog.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <future>
#include <memory>
#include <unistd.h>

namespace {

const int DEADLINE_MS = 30000;
const int CANVAS_W = 800;
const int CANVAS_H = 400;

// Points as fractions of the writing area (x, y) and of the pressure levels.
struct Spot {
    double x, y, pressure;
};
const std::vector<Spot> STROKE_A = {{0.27, 0.34, 0.29}, {0.44, 0.48, 0.49}, {0.65, 0.55, 0.68}};
const std::vector<Spot> STROKE_B = {{0.31, 0.69, 0.39}, {0.53, 0.76, 0.44}};

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

// The models the service serves, in the order of vtinkmodels.h.
QStringList hostModels()
{
    QStringList names;
    for (const std::string& name : padsim::models::names())
        if (padsim::models::byName(name)->host.deviceId)
            names << QString::fromStdString(name);
    return names;
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<padsim::Bed> m_pBed;
    padsim::Pad* m_pPad = nullptr; // the pad under test
    WebSocketService* m_pService = nullptr;
    WsClient* m_pClient = nullptr;
    QStringList m_filesToRemove;

    // The service's state the cases look at.
    int keyPollMs() const { return m_pService->status().nKeyPollMs; }
    bool keyPollStarted() const { return m_pService->status().bStartTimer; }
    SignObjManager& manager() const { return *m_pService->signObjManager(); }

    // Plugs the model alone: the Q210 and Q220 share their USB ids, and a
    // plugged fingerprint pad keeps the HID pads from connecting.
    padsim::Pad& use(const QString& model)
    {
        padsim::Pad* wanted = m_pBed->find(model.toStdString());
        for (padsim::Pad* p : m_pBed->pads())
            if (p != wanted && p->isPlugged())
                p->unplug();
        if (!wanted)
            wanted = &m_pBed->plug(padsim::models::byName(model.toStdString()));
        else if (!wanted->isPlugged())
            wanted->replug();
        m_pPad = wanted;
        return *wanted;
    }
    // The model of the current data row.
    padsim::Pad& useRow()
    {
        QFETCH(QString, model);
        return use(model);
    }
    static void addModelRows()
    {
        QTest::addColumn<QString>("model");
        for (const QString& name : hostModels())
            QTest::newRow(qPrintable(name)) << name;
    }
    const padsim::HostFacts& host() const { return m_pPad->model().host; }
    bool has(unsigned feature) const { return (m_pPad->model().features & feature) != 0; }
    QString id() const { return QString::number(host().deviceId); }
    int levels() const { return host().pressureLevels(m_pPad->firmware()); }
    padsim::Pad::Point raw(const Spot& s) const
    {
        return {host().area.rawX(s.x), host().area.rawY(s.y), uint16_t(s.pressure * levels())};
    }
    std::vector<padsim::Pad::Point> raw(const std::vector<Spot>& spots) const
    {
        std::vector<padsim::Pad::Point> points;
        for (const Spot& s : spots)
            points.push_back(raw(s));
        return points;
    }
    // The pad id the service hands out: the HID pads' own text; a tablet's
    // comes from its serial number, which only has to be there.
    bool isPadId(const QString& text) const
    {
        if (has(padsim::HID_REQUESTS))
            return text == QString::fromStdString(m_pPad->texts().padId);
        return !text.isEmpty();
    }

    QString call(const QString& func, std::initializer_list<QPair<QString, QJsonValue>> members = {})
    {
        return m_pClient->call(req(func, members));
    }
    bool open(int width = CANVAS_W, int height = CANVAS_H)
    {
        return call("InitialDevice", {{"id", id()}, {"width", QString::number(width)}, {"height", QString::number(height)}}) ==
               "1";
    }
    // Waits until the SDK has stored n points (deadline, no fixed sleep).
    bool waitForSize(int n)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < vttest::ScaledMs(DEADLINE_MS)) {
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
        if (qEnvironmentVariableIsSet("VT_E2E_LOG"))
            g_bEnableLog = 1; // the service's traces, for a failing run
        m_pBed = std::make_unique<padsim::Bed>();
        QVERIFY(hostModels().size() >= 5);
    }
    void init()
    {
        m_pService = new WebSocketService(0);
        m_pClient = new WsClient();
        QVERIFY(m_pClient->open(m_pService->serverPort()));
    }
    void cleanup()
    {
        if (m_pPad)
            m_pPad->setFirmware(host().firmware.front().text);
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

    // Every firmware text a model's SDK accepts, with the levels it implies.
    void openCloseAndDeviceInfo_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("firmware");
        for (const QString& name : hostModels()) {
            const padsim::ModelPtr model = padsim::models::byName(name.toStdString());
            for (const padsim::Firmware& f : model->host.firmware)
                if (f.pressureLevels > 0)
                    QTest::addRow("%s %s", qPrintable(name), f.text.c_str()) << name << QString::fromStdString(f.text);
        }
    }
    void openCloseAndDeviceInfo()
    {
        padsim::Pad& pad = useRow();
        QFETCH(QString, firmware);
        pad.setFirmware(firmware.toStdString());
        QVERIFY(open());
        QCOMPARE(keyPollMs(), 20);
        QCOMPARE(call("GetDeviceInfo", {{"type", "1"}}), QString("true"));
        QCOMPARE(call("GetDeviceInfo", {{"type", "2"}}), QString("0,%1").arg(host().area.xSpan));
        QCOMPARE(call("GetDeviceInfo", {{"type", "3"}}), QString("0,%1").arg(host().area.ySpan));
        QCOMPARE(call("GetDeviceInfo", {{"type", "4"}}), QString("0,%1").arg(levels()));
        QCOMPARE(call("GetDeviceInfo", {{"type", "5"}}), QString("Vantor"));
        QCOMPARE(call("GetDeviceInfo", {{"type", "6"}}), QString::fromStdString(host().infoName));
        QCOMPARE(call("GetDeviceInfo", {{"type", "7"}}), QString("3.0"));
        QCOMPARE(call("GetDeviceInfo", {{"type", "0"}}), QString(""));
        QCOMPARE(call("GetDeviceInfo", {{"type", "8"}}), QString(""));
        QVERIFY2(isPadId(call("PadID")), qPrintable(call("PadID")));
        // only the pads that answer HID requests have a pen id
        QCOMPARE(call("PenID"), has(padsim::HID_REQUESTS) ? QString::fromStdString(pad.texts().penId) : QString(""));
        QCOMPARE(call("VersionID"), firmware);
        QVERIFY(call("GetAboutInfo").contains("DIVuziDad SDK on Linux OS"));
        // setters answer "1", on a model without a screen too
        QCOMPARE(call("OpenLCD"), QString("1"));
        QCOMPARE(call("ShowDeviceInfoOnLCD", {{"show", "1"}}), QString("1"));
        QCOMPARE(call("UnInitialDevice"), QString("1"));
        QCOMPARE(keyPollMs(), 0);
        QCOMPARE(call("GetDeviceInfo", {{"type", "6"}}), QString(""));
    }

    // A model switch closes the first device before the second is opened:
    // every model in turn, back to the first.
    void switchingModelsClosesTheFirst()
    {
        QStringList models = hostModels();
        models << models.first();
        for (const QString& model : qAsConst(models)) {
            use(model);
            QVERIFY2(manager().InitialDevice(host().deviceId, 600, 300), qPrintable(model));
            // Had the previous canvas survived, the SDK would still answer for it.
            QCOMPARE(manager().GetDeviceInfo(6), QString::fromStdString(host().infoName));
            QVERIFY2(isPadId(manager().PadID()), qPrintable(model));
        }
        QVERIFY(manager().UnInitialDevice());
    }

    void unpluggedPadThenRetry_data() { addModelRows(); }
    void unpluggedPadThenRetry()
    {
        padsim::Pad& pad = useRow();
        pad.unplug();
        QCOMPARE(call("InitialDevice", {{"id", id()}, {"width", "400"}, {"height", "200"}}), QString("0"));
        QVERIFY(!keyPollStarted());
        QCOMPARE(call("GetSize"), QString("0")); // the held adapter answers: no canvas in the SDK
        pad.replug();
        QCOMPARE(call("InitialDevice", {{"id", id()}, {"width", "400"}, {"height", "200"}}), QString("1"));
        QVERIFY(keyPollStarted());
    }

    // A sample signature replayed as fast as the pad goes and as it was
    // written: GetPointer's time list never runs backwards.
    void pointTimesNeverRunBackwards_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<double>("speed");
        QTest::newRow("full speed") << hostModels().first() << 0.0;
        QTest::newRow("as written") << hostModels().first() << 1.0;
    }
    void pointTimesNeverRunBackwards()
    {
        QFETCH(double, speed);
        padsim::Pad& pad = useRow();
        QFile file(QString(VT_SIGNATURES_DIR) + "/ken-ito.json");
        QVERIFY(file.open(QIODevice::ReadOnly));
        vtinkpad::Signature sig;
        std::string error;
        QVERIFY2(vtinkpad::parseSignature(QJsonDocument::fromJson(file.readAll()).object(), sig, error), error.c_str());
        const vtinkpad::PadTraits* traits = vtinkpad::padTraits(m_pPad->model().name);
        QVERIFY(traits);
        QVERIFY(open());
        // Drawn on a thread of its own, so that the service goes on answering.
        const std::atomic<bool> abort{false};
        auto drawn = std::async(std::launch::async, [&] { return vtinkpad::draw(pad, *traits, sig, 5, speed, abort); });
        QElapsedTimer timer;
        timer.start();
        while (drawn.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready && timer.elapsed() < 60000)
            QTest::qWait(20);
        QVERIFY(drawn.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready);
        const vtinkpad::DrawResult r = drawn.get();
        QVERIFY(r.delivered);
        const int n = int(r.points + r.strokes);
        QVERIFY2(waitForSize(n), qPrintable(call("GetSize")));
        const QJsonArray points = parseArray(call("GetPointer"));
        QCOMPARE(points.size(), n);
        QStringList backwards;
        for (int i = 1; i < n; ++i) {
            const QString before = points[i - 1].toObject()["Time"].toString();
            const QString t = points[i].toObject()["Time"].toString();
            QCOMPARE(t.size(), 23);
            if (t < before)
                backwards << QString("%1: %2 then %3").arg(i).arg(before, t);
        }
        QVERIFY2(backwards.isEmpty(), qPrintable(backwards.join("; ")));
    }

    void signatureInkAndImages_data() { addModelRows(); }
    void signatureInkAndImages()
    {
        padsim::Pad& pad = useRow();
        QVERIFY(open());
        QCOMPARE(call("GetPointer"), QString("[]"));
        QCOMPARE(call("GetInks"), QString(""));
        const std::vector<padsim::Pad::Point> strokeA = raw(STROKE_A);
        pad.stroke(strokeA);
        QVERIFY(waitForSize(4));

        const QJsonArray points = parseArray(call("GetPointer"));
        QCOMPARE(points.size(), 4);
        const QRegularExpression timeForm("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}$");
        for (int i = 0; i < 4; ++i) {
            const QJsonObject point = points[i].toObject();
            QCOMPARE(point.keys(), QStringList({"Time", "bStrokeEnd", "pressure", "x", "y"}));
            QVERIFY2(timeForm.match(point["Time"].toString()).hasMatch(), qPrintable(point["Time"].toString()));
            const auto& p = strokeA[qMin(i, 2)];
            QCOMPARE(point["x"], QJsonValue(QString::number(p.x)));
            QCOMPARE(point["y"], QJsonValue(QString::number(p.y)));
            QCOMPARE(point["bStrokeEnd"], QJsonValue(i == 3 ? "1" : "0"));
            if (i < 3)
                QCOMPARE(point["pressure"], QJsonValue(QString::number(p.pressure)));
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
        QCOMPARE(parseArray(manager().GetOpaqueInks()).size(), 1);
        QCOMPARE(manager().GetOpaqueInks(), QString(""));
        QCOMPARE(parseArray(call("GetInks")).size(), 1);
        QCOMPARE(call("GetInks"), QString(""));

        // A second stroke, one with a negative raw y.
        pad.stroke(raw(STROKE_B));
        QVERIFY(waitForSize(7));
        QCOMPARE(parseArray(call("GetInks")).size(), 1);
        pad.stroke({{host().area.rawX(0.36), 65533, uint16_t(0.2 * levels())}});
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

    // Keys reach every client once each: after the pen lifts off the key, or
    // at once on the models that report a key in one step.
    void keysReachEveryClientOnce_data() { addModelRows(); }
    void keysReachEveryClientOnce()
    {
        padsim::Pad& pad = useRow();
        WsClient other;
        QVERIFY(other.open(m_pService->serverPort()));
        QVERIFY(open());
        const QString confirm("{\"Func\":\"GetDeviceConfirmOrCancelKeyStatus\",\"Result\":\"1\"}");
        const QString cancel("{\"Func\":\"GetDeviceConfirmOrCancelKeyStatus\",\"Result\":\"0\"}");
        pad.touchConfirm();
        QCOMPARE(m_pClient->next(DEADLINE_MS), confirm);
        QCOMPARE(other.next(DEADLINE_MS), confirm);
        pad.touchCancel();
        QCOMPARE(m_pClient->next(DEADLINE_MS), cancel);
        QCOMPARE(other.next(DEADLINE_MS), cancel);
        // Every report was taken and several polls ran: still nothing more.
        QVERIFY(pad.waitUntilDelivered(std::chrono::milliseconds(DEADLINE_MS)));
        QCOMPARE(call("GetSize"), QString("0"));
        QVERIFY(isPadId(other.call(req("PadID"))));
        QVERIFY(m_pClient->m_texts.isEmpty());
        QVERIFY(other.m_texts.isEmpty());
    }

    void savingImages_data() { addModelRows(); }
    void savingImages()
    {
        padsim::Pad& pad = useRow();
        QVERIFY(open());
        const QString bare = tmpName("save");
        m_filesToRemove << "/tmp/" + bare;
        QCOMPARE(call("SaveDrawingImage", {{"type", "3"}, {"dpi", "0"}, {"path", bare}}), QString("-8"));
        pad.stroke(raw(STROKE_A));
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

    void signedPictureLayouts_data() { addModelRows(); }
    void signedPictureLayouts()
    {
        padsim::Pad& pad = useRow();
        QVERIFY(open());
        SignObjManager& mgr = manager();
        const QString plain("/tmp/DOdAvivARA.png");
        const QString composed("/tmp/DOdAvivARA_dt_name.png");
        QCOMPARE(mgr.WPSSignConfirmed(false, ""), QString("-8"));
        pad.stroke(raw(STROKE_A));
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
    void signedPictureIgnoresPlantedLinks_data() { addModelRows(); }
    void signedPictureIgnoresPlantedLinks()
    {
        padsim::Pad& pad = useRow();
        QVERIFY(open());
        pad.stroke(raw(STROKE_A));
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
            QCOMPARE(manager().WPSSignConfirmed(true, "N"), QString("/tmp/DOdAvivARA_dt_name.png"));
            QFile check(victim);
            QVERIFY(check.open(QIODevice::ReadOnly));
            QCOMPARE(check.readAll(), QByteArray("keep me"));
            QVERIFY(!QFileInfo(fixed).isSymLink());
            QVERIFY(!QImage(fixed).isNull());
        }
    }

    // Variant runs, each in a folder of its own as working directory and
    // named on its command line (left out of the normal run).
    void sdkMissing()
    {
        if (!variant("nosdk"))
            QFAIL("runs with VT_E2E_VARIANT=nosdk");
        use("q210");
        QVERIFY(!QFile::exists("./libvtinksdk.so"));
        QCOMPARE(call("InitialDevice", {{"id", "2"}, {"width", "400"}, {"height", "200"}}), QString("0"));
        QCOMPARE(call("GetPointer"), QString("[]"));
        QCOMPARE(call("GetSize"), QString("0"));
        QCOMPARE(call("UnInitialDevice"), QString("0"));
    }

    void sdkLackingAboutBox()
    {
        if (!variant("noabout"))
            QFAIL("runs with VT_E2E_VARIANT=noabout");
        padsim::Pad& pad = use("q210");
        QLibrary sdk("./libvtinksdk.so");
        QVERIFY(sdk.load());
        QVERIFY(!sdk.resolve("VTQ210_AboutBox"));
        QVERIFY(sdk.resolve("VTQ210_InitialDevice"));
        QVERIFY(open());
        pad.stroke(raw(STROKE_A));
        QVERIFY(waitForSize(4));
        QCOMPARE(parseArray(call("GetPointer")).size(), 4);
        QCOMPARE(parseArray(call("GetInks")).size(), 1);
        QCOMPARE(call("PadID"), QString("PAD0000210"));
        QCOMPARE(call("UnInitialDevice"), QString("1"));
    }
};

int main(int argc, char** argv)
{
    vttest::RequireUmockdevPreload();
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestEndToEnd test;
    QTEST_SET_MAIN_SOURCE_PATH
    return vttest::ExecWithout(&test, argc, argv, {"sdkMissing", "sdkLackingAboutBox"});
}

#include "test_e2e.moc"
