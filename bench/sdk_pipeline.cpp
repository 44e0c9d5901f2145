// Pen pipeline throughput: raw events per second through the sign object's
// event entry point (convert, draw one antialiased segment, append the ink
// record, live report), against a bare baseline in the same run (painter
// begin, one antialiased line of the same width, end, on an image of the
// same size). The Q230F object also shows each segment with its fingerprint
// layer over it. Three canvas sizes; the same signature-like path on each.
//
//   bench_sdk_pipeline [events]     (default 100000 per run)
#include "fpcanvas.h"
#include "signobj.h"

#include <QGuiApplication>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<unsigned long> g_nLive{0};
void OnLive(unsigned long, long)
{
    g_nLive.fetch_add(1, std::memory_order_relaxed);
}

struct RawPoint {
    int x, y, p;
};

// A sweeping zigzag over a model's raw area, the same shape on every model.
std::vector<RawPoint> MakePath(const SdkModelTraits& t, int n)
{
    std::vector<RawPoint> v;
    v.reserve(size_t(n));
    for (int i = 0; i < n; ++i) {
        const double s = i * 0.01;
        const int x = t.nRawOffsetX + t.nRawSpanX / 2 + int(1000.0 / 2360 * t.nRawSpanX * std::sin(s * 0.7));
        const int y = t.nRawOffsetY + t.nRawSpanY / 2 + int(600.0 / 1430 * t.nRawSpanY * std::sin(s * 2.3));
        v.push_back({x, y, 500 + (i % 200)});
    }
    return v;
}

// A capture as the fingerprint pad delivers it: dark left half.
std::vector<unsigned char> MakeCapture()
{
    std::vector<unsigned char> data(FP_RAW_DATA_SIZE);
    for (int i = 0; i < FP_RAW_DATA_SIZE; ++i)
        data[size_t(i)] = (i % FP_IMAGE_WIDTH) < FP_IMAGE_WIDTH / 2 ? 0 : 255;
    return data;
}

template <class Obj> double RunPipeline(const std::vector<RawPoint>& path, int w, int h, bool bFingerprint = false)
{
    Obj obj(w, h);
    obj.AssumeConnected();
    obj.SetRealTimeSignDataCallback(OnLive);
    if (bFingerprint) {
        std::vector<unsigned char> capture = MakeCapture();
        obj.RxQ230FSignPadFPRawData(capture.data(), int(capture.size()), 50);
    }
    obj.RxSignPadRawData(path[0].x, path[0].y, path[0].p, HWET_PEN_DOWN);
    const auto start = Clock::now();
    for (size_t i = 1; i < path.size(); ++i)
        obj.RxSignPadRawData(path[i].x, path[i].y, path[i].p, HWET_PEN_MOVE);
    const double secs = std::chrono::duration<double>(Clock::now() - start).count();
    obj.Shutdown();
    return secs / double(path.size() - 1);
}

// The same segments on the Q210's mapping, drawn straight with a painter.
double RunBaseline(const std::vector<RawPoint>& path, int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(Qt::white);
    const double sx = double(w) / 2360, sy = double(h) / 1430;
    std::vector<QPointF> pts;
    std::vector<double> widths;
    for (const RawPoint& r : path) {
        pts.emplace_back((r.x - 160) * sx, (r.y - 220) * sy);
        widths.push_back(r.p * 3 / 306.0);
    }
    const auto start = Clock::now();
    for (size_t i = 1; i < pts.size(); ++i) {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(QPen(Qt::black, widths[i], Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawLine(pts[i - 1], pts[i]);
        painter.end();
    }
    const double secs = std::chrono::duration<double>(Clock::now() - start).count();
    return secs / double(pts.size() - 1);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int n = argc > 1 ? std::max(100, atoi(argv[1])) : 100000;
    const std::vector<RawPoint> pathQ210 = MakePath(g_TraitsQ210, n);
    const std::vector<RawPoint> pathQ230F = MakePath(g_TraitsQ230F, n);
    const struct {
        int w, h;
    } sizes[] = {{400, 200}, {1000, 500}, {2000, 1000}};
    bool ok = true;
    printf("events: %d per run\n", n - 1);
    printf("%-10s %12s %12s %12s %12s %8s %8s %8s\n", "canvas", "baseline us", "q210 us", "q230f us",
           "q230f+fp us", "q210 x", "q230f x", "+fp x");
    for (const auto& size : sizes) {
        // Alternate the three and keep the best of three rounds each, so that
        // all see the same machine load.
        double base = 1e9, q210 = 1e9, q230f = 1e9, fp = 1e9;
        for (int round = 0; round < 3; ++round) {
            base = std::min(base, RunBaseline(pathQ210, size.w, size.h));
            q210 = std::min(q210, RunPipeline<CQ210SignObj>(pathQ210, size.w, size.h));
            q230f = std::min(q230f, RunPipeline<CQ230FSignObj>(pathQ230F, size.w, size.h));
            fp = std::min(fp, RunPipeline<CQ230FSignObj>(pathQ230F, size.w, size.h, true));
        }
        char canvas[32];
        snprintf(canvas, sizeof canvas, "%dx%d", size.w, size.h);
        printf("%-10s %12.2f %12.2f %12.2f %12.2f %8.3f %8.3f %8.3f\n", canvas, base * 1e6, q210 * 1e6, q230f * 1e6,
               fp * 1e6, q210 / base, q230f / base, fp / base);
        for (double d : {q210, q230f, fp})
            ok = ok && 1.0 / d >= 20000 && d / base <= 1.3;
    }
    printf("live reports: %lu\n", g_nLive.load());
    printf("goal (>= 20000 events/s, <= 1.3 x baseline, every model and size): %s\n", ok ? "met" : "NOT met");
    return ok ? 0 : 1;
}
