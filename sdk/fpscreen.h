// The Q230F's screen: the best fingerprint so far is sent to the pad by a
// thread of its own, which sleeps until a capture brings a new image.
#pragma once

#include "fpcanvas.h"

#include <QThread>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

class CFPScreen;
class CSignPadDriver;

// Sends fingerprint images to the pad's screen; the names per kind are aliases.
class CShowFPImageOnDeviceThread : public QThread {
public:
    explicit CShowFPImageOnDeviceThread(CFPScreen* pScreen) : m_pScreen(pScreen)
    {
        setObjectName(QStringLiteral("vtsdk-fpscreen"));
    }

protected:
    void run() override;

private:
    CFPScreen* m_pScreen;
};
using CQ230FObj_ShowFPImageOnDeviceThread = CShowFPImageOnDeviceThread;
using CQ230FWidget_ShowFPImageOnDeviceThread = CShowFPImageOnDeviceThread;

class CFPScreen {
public:
    // fnSent runs on the screen thread once an image went to the pad and no
    // newer one waits: the signature canvas merges the fingerprint then.
    CFPScreen(const CSignPadDriver& driver, std::function<void()> fnSent);
    ~CFPScreen();
    CFPScreen(const CFPScreen&) = delete;
    CFPScreen& operator=(const CFPScreen&) = delete;

    void StartScreenThread();
    // Also aborts a transfer under way; waits for the thread.
    void StopScreenThread();
    // The screen image of a capture (driver's capture thread); wakes the thread.
    void Post(const unsigned char* pCapture, int nThreshold);
    bool HasNewScreenImage();

private:
    friend class CShowFPImageOnDeviceThread;
    void RunScreenLoop();
    void CheckIfAnyNewFPImageRawDataOnDeviceAvailable();
    void ProcessShowFPImgaeRawDataOnDevice();

    const CSignPadDriver& m_Driver;
    const std::function<void()> m_fnSent;
    unsigned char m_ucFPScreenImage[FP_SCREEN_IMAGE_SIZE] = {};
    unsigned char m_ucFPScreenImageToSend[FP_SCREEN_IMAGE_SIZE] = {};
    bool m_bNewFPScreenImage = false;  // under m_FPImageMutex
    bool m_bSendFPScreenImage = false; // screen thread only
    bool m_bFPScreenImageSent = false; // screen thread only
    std::mutex m_FPImageMutex;
    std::condition_variable m_FPImageCond; // a new screen image, or shutdown
    std::atomic<bool> m_bShutDown{false};  // also the abort flag of a transfer under way
    CShowFPImageOnDeviceThread* m_pShowFPImageOnDeviceThread = nullptr;
};
