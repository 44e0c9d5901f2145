#include "fpscreen.h"
#include "driverlink.h"
#include "sdkhelpers.h"
#include "vtlog.h"

#include <cstring>

void CShowFPImageOnDeviceThread::run()
{
    m_pScreen->RunScreenLoop();
}

CFPScreen::CFPScreen(const CSignPadDriver& driver, std::function<void()> fnSent)
    : m_Driver(driver), m_fnSent(std::move(fnSent))
{
}

CFPScreen::~CFPScreen()
{
    StopScreenThread();
}

void CFPScreen::StartScreenThread()
{
    m_pShowFPImageOnDeviceThread = new CShowFPImageOnDeviceThread(this);
    m_pShowFPImageOnDeviceThread->start(QThread::InheritPriority);
}

void CFPScreen::StopScreenThread()
{
    // The flag also aborts a screen transfer under way.
    StopWorkerThread(m_pShowFPImageOnDeviceThread, m_FPImageMutex, m_bShutDown, m_FPImageCond,
                     "CQ230FSignObj::Shutdown()", "m_pShowFPImageOnDeviceThread");
}

void CFPScreen::Post(const unsigned char* pCapture, int nThreshold)
{
    {
        std::lock_guard<std::mutex> lock(m_FPImageMutex);
        RenderFingerprintScreenImage(pCapture, nThreshold, m_ucFPScreenImage);
        m_bNewFPScreenImage = true;
    }
    m_FPImageCond.notify_all();
}

bool CFPScreen::HasNewScreenImage()
{
    std::lock_guard<std::mutex> lock(m_FPImageMutex);
    return m_bNewFPScreenImage;
}

void CFPScreen::RunScreenLoop()
{
    const char* label = "CQ230FSignObj_ShowFPImageOnDeviceThread::run()";
    VT_LOG_THREAD(label, "<%ld>-enter");
    // Sleeps until a capture brings a new screen image (or a sent one still
    // waits for its merge), instead of spinning.
    std::unique_lock<std::mutex> lock(m_FPImageMutex);
    while (!m_bShutDown) {
        m_FPImageCond.wait(lock, [this] { return m_bShutDown || m_bNewFPScreenImage || m_bFPScreenImageSent; });
        if (m_bShutDown)
            break;
        lock.unlock();
        CheckIfAnyNewFPImageRawDataOnDeviceAvailable();
        ProcessShowFPImgaeRawDataOnDevice();
        lock.lock();
    }
    VT_LOG_THREAD(label, "<%ld>-Leave !");
}

void CFPScreen::CheckIfAnyNewFPImageRawDataOnDeviceAvailable()
{
    std::lock_guard<std::mutex> lock(m_FPImageMutex);
    if (m_bNewFPScreenImage) {
        memcpy(m_ucFPScreenImageToSend, m_ucFPScreenImage, FP_SCREEN_IMAGE_SIZE);
        m_bNewFPScreenImage = false;
        m_bSendFPScreenImage = true;
    } else {
        m_bSendFPScreenImage = false;
    }
}

void CFPScreen::ProcessShowFPImgaeRawDataOnDevice()
{
    static_assert(sizeof(std::atomic<bool>) == sizeof(bool) && std::atomic<bool>::is_always_lock_free,
                  "the driver polls the shutdown flag as a plain bool");
    const auto pfnShow = m_Driver.Api().m_pfn_VTSPDAPI_ShowFPImageOnDevice;
    if (m_bSendFPScreenImage && pfnShow) {
        // A failed transfer is not reported; the merge follows all the same.
        pfnShow(m_ucFPScreenImageToSend, FP_SCREEN_IMAGE_SIZE, FP_SCREEN_WIDTH, FP_SCREEN_HEIGHT,
                reinterpret_cast<bool*>(&m_bShutDown));
        m_bFPScreenImageSent = true;
    } else if (m_bFPScreenImageSent) {
        m_bFPScreenImageSent = false;
        VT_LOG_THREAD("CQ230FSignObj::ProcessShowFPImgaeRawDataOnDevice()",
                      "<%ld>-b4 call MergeSignCanvasAndFPCanvas()...");
        m_fnSent();
    }
}
