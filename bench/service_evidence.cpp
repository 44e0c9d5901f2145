// "GetEvidence" for the sample signature "anna-berg" over a real WebSocket
// on loopback, with an RSA-3072 and a P-256 key, against "Encode" 6 of the
// same ink in the same run (goal: at most 3 x, and under 20 ms), and the
// record's size. Needs the umockdev preload and the real SDK and driver:
//   cd build/bin && ../../tests/umockdev-run.sh ./bench_service_evidence
#include "evidence.h"
#include "signobjmanager.h"
#include "websocketservice.h"

#include "padsim.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWebSocket>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

// Public keys only (their private halves were never kept).
const char* const RSA_3072 = "{\"kty\":\"RSA\",\"n\":\"1_M-yYwFeHA0Kcw2-sSLO0-NjpsH20RS9rpKvnUt1DQbWScOhmLZDxiQT4YzB4hePFqyB6NjABk7VWdcDZsquzXefkWaHed1ZW-x5zhYK55dUG-pThVW-bqf7xwGXHRBfel3Hp6cdgUDIBiMLR3BTna81k7Pkdw3hE3qkx0P-HeuWzsJ3c8vzdNB6PcBL78O8I2HpCsqnOzwz-geenGNw14XLTZWSPfFHBX0wKnEl9i_gLTKjrzvACwh2WU1abOFvnKrTQsI2fpicJpnCPc8UAimI1HLz5eMaUVn9_iaNovcoFBOiR7P4STUW7YcZ8PbDDedILh9BIeRr4TYeFElf1CGz4maZV_wzzWtbS5kEweu-oP5hOL7K9b_M4K8h_oVeb5fSXNmg6qWdSlVEv6GHJlqmb-ZE169_T2yyqqC_Ch35FOam63paVCpavRiqc_M4JDH9N4UQ7mlLAh41IZaOwOLo12SopwmMLeqsszsPxQgEM9Zuqu2AKwwmJeqYMpj\",\"e\":\"AQAB\",\"alg\":\"RSA-OAEP-256\",\"kid\":\"bench-rsa\"}";
const char* const P_256 = "{\"kty\":\"EC\",\"x\":\"89cJln6Z8dpWTvWn5OuyhjdfOvs0zZLsNhq1pcaQAp0\",\"y\":\"VbAnLgwaxGejE42P5IgtTj9V3Y7Hdtff3Ow3HnfFSTs\",\"crv\":\"P-256\",\"alg\":\"ECDH-ES+A256KW\",\"kid\":\"bench-ec\"}";

class Client
{
public:
    explicit Client(quint16 port)
    {
        QObject::connect(&m_socket, &QWebSocket::textMessageReceived, [this](const QString& s) { m_last = s; ++m_nReceived; });
        m_socket.open(QUrl(QStringLiteral("ws://127.0.0.1:") + QString::number(port)));
        while (m_socket.state() != QAbstractSocket::ConnectedState)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    QString result(const QJsonObject& request)
    {
        const int n = m_nReceived;
        m_socket.sendTextMessage(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));
        while (m_nReceived == n)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return QJsonDocument::fromJson(m_last.toUtf8()).object().value(QStringLiteral("Result")).toString();
    }
    QWebSocket m_socket;
    QString m_last;
    int m_nReceived = 0;
};

double medianMs(int n, const std::function<void()>& run)
{
    std::vector<double> samples;
    for (int i = 0; i < n; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        samples.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

QJsonObject Evidence(const char* pszKey)
{
    QJsonObject request;
    request.insert(QStringLiteral("Func"), QStringLiteral("GetEvidence"));
    request.insert(QStringLiteral("doc"), QString(64, QLatin1Char('a')));
    request.insert(QStringLiteral("nonce"), QStringLiteral("bench-nonce-0001"));
    request.insert(QStringLiteral("key"), QString::fromLatin1(pszKey));
    return request;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (!qgetenv("LD_PRELOAD").contains("umockdev")) {
        fprintf(stderr, "run under tests/umockdev-run.sh\n");
        return 77;
    }
    padsim::Bed bed;
    padsim::Pad& pad = bed.plug(padsim::models::q210());
    WebSocketService service(0);
    Client client(service.serverPort());
    QJsonObject open;
    open.insert(QStringLiteral("Func"), QStringLiteral("InitialDevice"));
    open.insert(QStringLiteral("id"), QStringLiteral("2"));
    open.insert(QStringLiteral("width"), QStringLiteral("600"));
    open.insert(QStringLiteral("height"), QStringLiteral("300"));
    if (client.result(open) != QLatin1String("1")) {
        fprintf(stderr, "the emulated Q210 did not open\n");
        return 1;
    }
    QFile file(QStringLiteral(VT_SIGNATURE_FILE));
    file.open(QIODevice::ReadOnly);
    const QJsonArray strokes = QJsonDocument::fromJson(file.readAll()).object()["strokes"].toArray();
    int nRecords = 0;
    for (const QJsonValue& s : strokes) {
        std::vector<padsim::Pad::Point> pts;
        for (const QJsonValue& p : s.toArray()) {
            const QJsonArray a = p.toArray();
            pts.push_back({uint16_t(160 + a[0].toDouble() * 2360), uint16_t(220 + a[1].toDouble() * 1430),
                           uint16_t(100 + a[2].toDouble() * 1500)});
        }
        nRecords += int(pts.size()) + 1;
        pad.stroke(pts);
    }
    pad.waitUntilDelivered(std::chrono::seconds(30));
    QElapsedTimer wait;
    wait.start();
    while (service.signObjManager()->GetSize() < nRecords) {
        if (wait.elapsed() > 60000) {
            fprintf(stderr, "points did not arrive: %d of %d\n", service.signObjManager()->GetSize(), nRecords);
            return 1;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    bed.setThrottleUs(50000);

    QJsonObject encode6;
    encode6.insert(QStringLiteral("Func"), QStringLiteral("Encode"));
    encode6.insert(QStringLiteral("type"), QStringLiteral("6"));
    const QJsonObject rsa = Evidence(RSA_3072);
    const QJsonObject ec = Evidence(P_256);
    const QString jweRsa = client.result(rsa);
    const QString jweEc = client.result(ec);
    if (jweRsa.count(QLatin1Char('.')) != 4 || jweEc.count(QLatin1Char('.')) != 4) {
        fprintf(stderr, "GetEvidence answered %s / %s\n", qPrintable(jweRsa.left(8)), qPrintable(jweEc.left(8)));
        return 1;
    }
    for (int i = 0; i < 5; ++i) { // warm up
        client.result(encode6);
        client.result(rsa);
        client.result(ec);
    }
    const int N = 40;
    const double dblEncode = medianMs(N, [&] { client.result(encode6); });
    const double dblRsa = medianMs(N, [&] { client.result(rsa); });
    const double dblEc = medianMs(N, [&] { client.result(ec); });
    const QByteArray record =
        evidence::Record(service.signObjManager()->CurrentSignObj(), QString(64, QLatin1Char('a')), QStringLiteral("n"), QString());
    printf("ink: %d records (%d strokes); record %d bytes; JWE %d characters (RSA-3072), %d (P-256)\n", nRecords,
           int(strokes.size()), int(record.size()), jweRsa.size(), jweEc.size());
    int nMissed = 0;
    for (const auto& row : {std::make_pair("GetEvidence RSA-3072", dblRsa), std::make_pair("GetEvidence P-256", dblEc)}) {
        const bool bOk = row.second <= 3 * dblEncode && row.second < 20;
        printf("%-24s %8.2f ms   Encode 6 %8.2f ms   ratio %.2f (goal <= 3, < 20 ms)  %s\n", row.first, row.second, dblEncode,
               row.second / dblEncode, bOk ? "ok" : "MISSED");
        nMissed += bOk ? 0 : 1;
    }
    return nMissed ? 1 : 0;
}
