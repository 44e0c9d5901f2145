// The fingerprint pad over the WebSocket: the service on its own thread,
// the real SDK and driver loaded from the working directory, the Q230G
// emulated at the USB level.
#include "fptestutil.h"
#include "q230g.h"
#include "websocketservice.h"
#include "websocketthread.h"
#include "wsclient.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>

namespace {

constexpr int kDeadlineMs = 30000;

bool IsRed(QRgb c)
{
    return qAlpha(c) == 255 && qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
}

// The one image of an image-event reply ("[{EventType, Image, ImageLength}]").
QImage EventImage(const QString& result, const QString& eventType)
{
    const QJsonArray events = QJsonDocument::fromJson(result.toUtf8()).array();
    if (events.size() != 1)
        return QImage();
    const QJsonObject event = events.at(0).toObject();
    if (event.value("EventType").toString() != eventType)
        return QImage();
    const QString image = event.value("Image").toString();
    if (event.value("ImageLength").toString() != QString::number(image.length()))
        return QImage();
    return QImage::fromData(QByteArray::fromBase64(image.toLatin1()), "PNG");
}

} // namespace

class TestFPService : public QObject {
    Q_OBJECT
private:
    padsim::Bed* m_pBed = nullptr;
    padsim::Pad* m_pPad = nullptr;
    padsim::FingerprintPadModel* m_pModel = nullptr;
    WebSocketThread* m_pThread = nullptr;
    WsClient* m_pClient = nullptr;

    // Polls a request until its reply passes the test.
    QString CallUntil(const QJsonObject& request, const std::function<bool(const QString&)>& done)
    {
        QElapsedTimer timer;
        timer.start();
        QString result;
        do {
            result = m_pClient->call(request);
            if (done(result))
                return result;
            QTest::qWait(20);
        } while (timer.elapsed() < kDeadlineMs);
        return QString("<deadline>");
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_pBed = new padsim::Bed();
        m_pPad = &m_pBed->plug(padsim::models::q230g());
        m_pModel = dynamic_cast<padsim::FingerprintPadModel*>(&m_pPad->model());
        QVERIFY(m_pModel);
        m_pThread = new WebSocketThread(nullptr, 0);
        m_pThread->start();
        QTRY_VERIFY_WITH_TIMEOUT(m_pThread->serverPort() != 0, kDeadlineMs);
        m_pClient = new WsClient();
        QVERIFY(m_pClient->open(m_pThread->serverPort()));
    }
    void cleanupTestCase()
    {
        delete m_pClient;
        m_pThread->quit();
        QVERIFY(m_pThread->wait(kDeadlineMs));
        delete m_pThread;
        delete m_pBed;
    }

    void fingerprintOverTheWebSocket()
    {
        QCOMPARE(m_pClient->call(req("InitialDevice", {{"id", "7"}, {"width", "600"}, {"height", "300"}})),
                 QString("1"));
        QVERIFY(ThreadExists("vtsdk-fpscreen"));
        QCOMPARE(m_pClient->call(req("GetInks")), QString(""));                // no ink, no fingerprint
        QCOMPARE(m_pClient->call(req("GetFingerPrintImage", {{"fpimageonly", "1"}})), QString("")); // nothing placed

        // A fingerprint alone makes an image to report, centred on the signature.
        m_pModel->placeFinger(Capture([](int, int y) { return y < 2 ? 255 : 0; }), 50);
        // It shows once the image went to the pad's screen; until then the
        // reply may carry the canvas without it.
        const QString inks = CallUntil(req("GetInks"), [](const QString& r) {
            const QImage i = EventImage(r, "0");
            return !i.isNull() && IsRed(i.pixel(300, 150));
        });
        QImage image = EventImage(inks, "0");
        QCOMPARE(image.size(), QSize(600, 300));
        QVERIFY(IsRed(image.pixel(300, 150)));
        QCOMPARE(qAlpha(image.pixel(100, 150)), 0);

        // Placed on a canvas of its own: the rectangle alone on request.
        QCOMPARE(m_pClient->call(req("SetDisplayedFPImageAt", {{"canvaswidth", "400"}, {"canvasheight", "300"},
                                                                {"left", "300"}, {"top", "200"}, {"width", "100"},
                                                                {"height", "100"}})),
                 QString("1"));
        m_pModel->placeFinger(Capture([](int x, int) { return x < 104 ? 0 : 255; }), 60);
        const QString fp = CallUntil(req("GetFingerPrintImage", {{"fpimageonly", "1"}}), [](const QString& r) {
            const QImage placed = EventImage(r, "3");
            return placed.size() == QSize(100, 100) && IsRed(placed.pixel(10, 50)) && !IsRed(placed.pixel(90, 50));
        });
        QVERIFY2(fp != "<deadline>", qPrintable(fp));
        const QString whole = CallUntil(req("GetFingerPrintImage", {{"fpimageonly", "0"}}),
                                        [](const QString& r) { return !r.isEmpty(); });
        image = EventImage(whole, "3");
        QCOMPARE(image.size(), QSize(400, 300));
        QVERIFY(IsRed(image.pixel(310, 250)));

        // A transfer to the pad's screen still under way when the device closes.
        m_pModel->setBlockAnswer(std::nullopt);
        m_pModel->placeFinger(Capture([](int, int y) { return y < 144 ? 0 : 255; }), 70);
        QTRY_VERIFY_WITH_TIMEOUT(!m_pModel->screenTransfer().headerIndexes.empty() &&
                                     !m_pModel->screenTransfer().image.empty() &&
                                     m_pModel->screenTransfer().image.size() < 29952,
                                 kDeadlineMs);
        QCOMPARE(m_pClient->call(req("UnInitialDevice")), QString("1"));
        QVERIFY(!ThreadExists("vtsdk-fpscreen"));
        QCOMPARE(m_pPad->claimedInterfaces(0), 0);
        m_pModel->setBlockAnswer(std::make_pair<uint8_t, uint8_t>(0xD0, 0x00));
    }
};

QTEST_GUILESS_MAIN(TestFPService)
#include "test_fpservice.moc"
