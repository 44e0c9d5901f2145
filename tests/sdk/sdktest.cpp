#include "sdktest.h"

#include <QGuiApplication>

#include <dlfcn.h>

FakeDriver* FakeDriver::Get()
{
    static FakeDriver driver;
    static bool bLoaded = false;
    if (bLoaded)
        return &driver;
    void* h = dlopen("./libvtinkdrv.so", RTLD_NOW);
    if (!h || !dlsym(h, "fakedrv_reset"))
        return nullptr;
    driver.reset = reinterpret_cast<void (*)()>(dlsym(h, "fakedrv_reset"));
    driver.set_version = reinterpret_cast<void (*)(const char*)>(dlsym(h, "fakedrv_set_version"));
    driver.set_initial_result = reinterpret_cast<void (*)(int)>(dlsym(h, "fakedrv_set_initial_result"));
    driver.calls = reinterpret_cast<const char* (*)()>(dlsym(h, "fakedrv_calls"));
    driver.count = reinterpret_cast<int (*)(const char*)>(dlsym(h, "fakedrv_count"));
    driver.inject = reinterpret_cast<int (*)(int, int, int, int)>(dlsym(h, "fakedrv_inject"));
    driver.inject_fp = reinterpret_cast<int (*)(unsigned char*, int, int)>(dlsym(h, "fakedrv_inject_fp"));
    bLoaded = true;
    return &driver;
}

FakeDriver* FakeDriver::Fresh(const char* pszVersion)
{
    FakeDriver* d = Get();
    if (d) {
        d->reset();
        d->set_version(pszVersion);
    }
    return d;
}

StatusRecorder& StatusRecorder::Get()
{
    static StatusRecorder r;
    return r;
}

void StatusRecorder::Callback(int nStatus)
{
    StatusRecorder& r = Get();
    std::unique_lock<std::mutex> lock(r.lock);
    r.values.push_back(nStatus);
    r.bInside = true;
    r.cond.notify_all();
    r.cond.wait(lock, [&] { return !r.bBlock; });
    r.bInside = false;
}

void StatusRecorder::Reset()
{
    std::lock_guard<std::mutex> l(lock);
    values.clear();
    bBlock = false;
    bInside = false;
}

bool StatusRecorder::WaitFor(size_t n, std::chrono::milliseconds deadline)
{
    std::unique_lock<std::mutex> l(lock);
    return cond.wait_for(l, deadline, [&] { return values.size() >= n; });
}

bool StatusRecorder::WaitInside(std::chrono::milliseconds deadline)
{
    std::unique_lock<std::mutex> l(lock);
    return cond.wait_for(l, deadline, [&] { return bInside; });
}

void StatusRecorder::Release()
{
    std::lock_guard<std::mutex> l(lock);
    bBlock = false;
    cond.notify_all();
}

std::vector<int> StatusRecorder::Values()
{
    std::lock_guard<std::mutex> l(lock);
    return values;
}

LiveRecorder& LiveRecorder::Get()
{
    static LiveRecorder r;
    return r;
}

void LiveRecorder::Callback(unsigned long ulPosition, long lPressure)
{
    LiveRecorder& r = Get();
    std::lock_guard<std::mutex> l(r.lock);
    r.values.emplace_back(ulPosition, lPressure);
}

std::vector<std::pair<unsigned long, long>> LiveRecorder::Values()
{
    std::lock_guard<std::mutex> l(lock);
    return values;
}

QImage DecodeBase64Image(const char* pszText)
{
    if (!pszText)
        return QImage();
    return QImage::fromData(QByteArray::fromBase64(QByteArray(pszText)));
}

std::wstring W(const QString& s)
{
    return s.toStdWString();
}

int DarkPixelsInColumn(const QImage& image, int x)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        if (qGray(image.pixel(x, y)) < 128 && qAlpha(image.pixel(x, y)) > 0)
            ++n;
    return n;
}

const Family kFamilies[5] = {
    FAMILY(VTQ210_, 2), FAMILY(VTQ220_, 5), FAMILY(VTQ230F_, 7), FAMILY(RUVU410_, 3), FAMILY(ROV420_, 4),
};

const char* VersionOf(int id)
{
    switch (id) {
    case VTQ210_DEVICE: return "VTQ210 fw 1.0";
    case VTQ220_DEVICE: return "VTQ220 fw 1.0";
    case VTQ230F_DEVICE: return "VTQ230F fw 1.0";
    case RUVU410_DEVICE: return "RUVU410 fw 1.0";
    default: return "ROV420 fw 1.0";
    }
}

int RawX(const SdkModelTraits& t, int nCanvasWidth, double x)
{
    return t.nRawOffsetX + int(x * t.nRawSpanX / nCanvasWidth);
}

int RawY(const SdkModelTraits& t, int nCanvasHeight, double y)
{
    return t.nRawOffsetY + int(y * t.nRawSpanY / nCanvasHeight);
}

int PressureForWidth3(const SdkModelTraits& t)
{
    return t.ePressureRule == PressureRule::PerWidth306 ? 306 : t.nStartPressureLevels / 3;
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
