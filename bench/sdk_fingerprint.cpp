// Fingerprint capture rendering: how long one 208 x 288 capture keeps the
// canvas lock (which the pen reader needs for every segment). The capture is
// rendered outside the lock straight into the image's memory and handed over
// under it; the baseline paints the same pixels one pen call each with the
// lock held throughout.
//
//   bench_sdk_fingerprint [captures]     (default 50)
#include "fpcanvas.h"

#include <QGuiApplication>
#include <QPainter>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

std::vector<unsigned char> MakeCapture(int seed)
{
    std::vector<unsigned char> data(FP_RAW_DATA_SIZE);
    for (int y = 0; y < FP_IMAGE_HEIGHT; ++y)
        for (int x = 0; x < FP_IMAGE_WIDTH; ++x)
            data[size_t(y * FP_IMAGE_WIDTH + x)] = (unsigned char)(((x + seed) * 7 ^ (y * 13)) & 0xFF);
    return data;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const int nCaptures = argc > 1 ? std::max(1, atoi(argv[1])) : 50;
    std::mutex canvasMutex;
    QImage canvas(FP_IMAGE_WIDTH, FP_IMAGE_HEIGHT, QImage::Format_ARGB32);

    Clock::duration heldNow{}, heldBaseline{}, totalNow{};
    for (int i = 0; i < nCaptures; ++i) {
        const std::vector<unsigned char> data = MakeCapture(i);

        const auto start = Clock::now();
        QImage image = RenderFingerprintCapture(data.data());
        const auto locked = Clock::now();
        {
            std::lock_guard<std::mutex> lock(canvasMutex);
            canvas = image;
        }
        const auto end = Clock::now();
        heldNow += end - locked;
        totalNow += end - start;

        long long sum = 0;
        for (unsigned char b : data)
            sum += b;
        const int threshold = int(sum / FP_RAW_DATA_SIZE);
        const auto baseStart = Clock::now();
        {
            std::lock_guard<std::mutex> lock(canvasMutex);
            QPainter painter(&canvas);
            for (int x = 0; x < FP_IMAGE_WIDTH; ++x)
                for (int y = 0; y < FP_IMAGE_HEIGHT; ++y) {
                    painter.setPen(data[size_t(y * FP_IMAGE_WIDTH + x)] < threshold ? Qt::red : Qt::white);
                    painter.drawPoint(x, y);
                }
        }
        heldBaseline += Clock::now() - baseStart;
    }
    printf("captures: %d\n", nCaptures);
    printf("canvas lock held per capture: %.4f ms (baseline, one pen call a pixel: %.3f ms)\n",
           Ms(heldNow) / nCaptures, Ms(heldBaseline) / nCaptures);
    printf("rendering per capture, lock included: %.3f ms\n", Ms(totalNow) / nCaptures);
    return 0;
}
