// Q230G fingerprint pad: a pen device that speaks the HID pad's requests and
// takes images for its screen, and a fingerprint reader whose capture cycle
// runs on a thread of its own.
#include "fingerprint_internal.h"
#include "vtlog.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace {

const int kPenReportSize = 16;
const uint8_t kEndpointIn = 0x81;
const uint8_t kEndpointOut = 0x01;
const unsigned kOpenCloseAnswerTimeoutMs = 2000;
const unsigned kStartAnswerTimeoutMs = 200;
const unsigned kImagePacketTimeoutMs = 2000;
const int kMaxResendFailures = 3;
const int kImageAnswerWaitMs = 1000;

const uint8_t ucOpenDeviceCommand[] = {0x02, 0x04, 0x30, 0x31, 0x32, 0x33};
const uint8_t ucCloseDeviceCommand[] = {0x02, 0x04, 0x33, 0x32, 0x31, 0x30};
const uint8_t ucStartCaptureFPCommand[] = {0x02, 0x04, 0x31, 0x32, 0x33, 0x34};
const uint8_t ucContinueCaptureFPCommand[] = {0x02, 0x04, 0x34, 0x33, 0x32, 0x31};

VtLogWriter g_logPen(VT_LOG_DIR "vtinkdrv_inthread_Q230G.log");
VtLogWriter g_logFP(VT_LOG_DIR "vtinkdrv_inthread_Q230G_FP.log");

}  // namespace

libusb_device_handle* g_device_handle_Q230G = nullptr;
libusb_device_handle* g_device_handle_Q230G_FP = nullptr;
std::atomic<unsigned char> g_bAbort_Q230G{0};
std::atomic<unsigned char> g_bAbort_Q230G_FP{0};
std::atomic<unsigned char> g_bInside_Sign_Background_Thread_Q230G{0};
std::atomic<unsigned char> g_bInside_FP_Background_Thread_Q230G{0};
pthread_t g_backgroundThreadID_Q230G;
pthread_t g_backgroundThreadID_Q230G_FP;
unsigned char g_byteFPImageRawData_Q230G_FP[FP_IMAGE_RAW_DATA_SIZE_Q230G_FP];

namespace {

// The pen reader posts the pad's answer to an image block; the sender waits
// for it without polling.
std::mutex g_sentFPImageLock;
std::condition_variable g_sentFPImageChanged;
int g_nSentFPImageStatus = 0;

void setSentFPImageStatus(int nStatus)
{
    {
        std::lock_guard<std::mutex> lk(g_sentFPImageLock);
        g_nSentFPImageStatus = nStatus;
    }
    g_sentFPImageChanged.notify_all();
}

void sleep_ms(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool aborted(const bool* pbAbort)
{
    return __atomic_load_n(pbAbort, __ATOMIC_ACQUIRE);
}

// Waits up to nMaxMs, polling every millisecond, for a worker to leave.
bool waitForThreadExit(const std::atomic<unsigned char>& bInside, int nMaxMs)
{
    for (int i = 0; i < nMaxMs && bInside; ++i)
        sleep_ms(1);
    return !bInside;
}

const int kShortWrite = 1;

// One fingerprint command: 1024 bytes on the reader's OUT endpoint, no timeout.
// Returns 0, the libusb error, or kShortWrite when not all bytes went out.
int sendFPCommand(const uint8_t* pCommand, size_t nLength, int* pnWritten = nullptr)
{
    uint8_t packet[ENDPOINT_OUT_MAX_PACKET_SIZE_Q230G_FP] = {};
    memcpy(packet, pCommand, nLength);
    int nWriteBytes = 0;
    int nResult = libusb_interrupt_transfer(g_device_handle_Q230G_FP, kEndpointOut, packet, sizeof packet,
                                            &nWriteBytes, 0);
    if (pnWritten)
        *pnWritten = nWriteBytes;
    if (nResult == 0 && nWriteBytes != ENDPOINT_OUT_MAX_PACKET_SIZE_Q230G_FP)
        return kShortWrite;
    return nResult;
}

int readFP(uint8_t* pBuffer, unsigned nTimeoutMs, int* pnRead)
{
    *pnRead = 0;
    return libusb_interrupt_transfer(g_device_handle_Q230G_FP, kEndpointIn, pBuffer,
                                     ENDPOINT_OUT_MAX_PACKET_SIZE_Q230G_FP, pnRead, nTimeoutMs);
}

// Open and close share one exchange: a command, then a 1024-byte answer with byte 0 = 1.
int openOrCloseFP(bool bOpen, const char* label)
{
    const uint8_t* pCommand = bOpen ? ucOpenDeviceCommand : ucCloseDeviceCommand;
    const int nFailCode = bOpen ? VTSPDART_FP_OPEN_FAILED : VTSPDART_FP_CLOSE_FAILED;
    const char* cmdName = bOpen ? "ucOpenDeviceCommand" : "ucCloseDeviceCommand";
    if (!g_device_handle_Q230G_FP)
        return nFailCode;
    int nResult = sendFPCommand(pCommand, 6);
    if (nResult != 0) {
        if (nResult == kShortWrite)
            VT_LOG(label, "<%ld>-nWriteBytes != ENDPOINT_OUT_MAX_PACKET_SIZE_Q230G_FP !!!");
        else
            VT_LOG(label, "<%ld>-libusb_interrupt_transfer(...%s...) failed, nResult=%d, err=%s", cmdName, nResult,
                   libusb_error_name(nResult));
        return nFailCode;
    }
    uint8_t ucReturnBuffer[ENDPOINT_OUT_MAX_PACKET_SIZE_Q230G_FP] = {};
    int nReadBytes = 0;
    nResult = readFP(ucReturnBuffer, kOpenCloseAnswerTimeoutMs, &nReadBytes);
    if (nResult != 0 || nReadBytes < 1 || ucReturnBuffer[0] != 1) {
        VT_LOG(label,
               "<%ld>-libusb_interrupt_transfer(...ucReturnBuffer...) failed, nResult=%d, nReadBytes=%d, ucReturnBuffer[0]=%x, err=%s",
               nResult, nReadBytes, ucReturnBuffer[0], libusb_error_name(nResult));
        return nFailCode;
    }
    if (bOpen)
        VT_LOG(label, "<%ld>-Open FP Device succeeded...");
    else
        VT_LOG(label, "<%ld>-Close FP Device succeeded...");
    return VTSPDART_SUCCESS;
}

}  // namespace

uint32_t checksum(const uint8_t* pData, int nLength)
{
    uint32_t sum = 0;
    for (int i = 0; i < nLength; ++i)
        sum += pData[i];
    return sum & 0xFFFFFF;
}

int OpenDevice_Q230G_FP()
{
    return openOrCloseFP(true, "OpenDevice_Q230G_FP()");
}

int CloseDevice_Q230G_FP()
{
    return openOrCloseFP(false, "CloseDevice_Q230G_FP()");
}

int SetScore_Q230G_FP(uint8_t ucScore)
{
    if (!g_device_handle_Q230G_FP)
        return VTSPDART_FP_SET_SCORE_FAILED;
    const uint8_t ucSetScoreCommand[] = {0x02, 0x04, 0xCC, 0xCC, 0xCC, ucScore};
    if (sendFPCommand(ucSetScoreCommand, sizeof ucSetScoreCommand) != 0)
        return VTSPDART_FP_SET_SCORE_FAILED;
    VT_LOG("SetScore_Q230G_FP()", "<%ld>-Set Score succeeded...");
    return VTSPDART_SUCCESS;
}

// ---- pen reader ------------------------------------------------------------

bool GetResponseAfterSentFPImage(const uint8_t* p, int n)
{
    const char* L = "GetResponseAfterSentFPImage()";
    if (n < 3)
        return false;
    if (p[1] == 0xD0 && p[2] == 0x00) {
        VT_LOG_TO(g_logPen, L, "<%ld>-SENT_FPIMAGE_BLOCK_SUCCEEDED...");
        setSentFPImageStatus(SENT_FPIMAGE_BLOCK_SUCCEEDED);
        return true;
    }
    if (p[1] == 0xE1 && p[2] == 0x01) {
        VT_LOG_TO(g_logPen, L, "<%ld>-SENT_FPIMAGE_SIZE_UNMATCH !");
        setSentFPImageStatus(SENT_FPIMAGE_SIZE_UNMATCH);
        return true;
    }
    if (p[1] == 0xE1 && p[2] == 0x03) {
        VT_LOG_TO(g_logPen, L, "<%ld>-SENT_FPIMAGE_INVALID_INDEX !");
        setSentFPImageStatus(SENT_FPIMAGE_INVALID_INDEX);
        return true;
    }
    return false;
}

void DecodeHIDRawPacket_Q230G(const uint8_t* pReport, int n, unsigned char* pbPenUp)
{
    const char* L = "DecodeHIDRawPacket_Q230G()";
    if (n < kPenReportSize)
        return;
    uint8_t plain[kPenReportSize];
    plain[0] = pReport[0];
    for (int i = 1; i < kPenReportSize; ++i)
        plain[i] = pReport[i] ^ pReport[12];
    VT_LOG_TO(g_logPen, L, "<%ld>-nHWEventType=%d...", plain[7]);
    HidPadApplyState(plain[7], plain[1] | plain[2] << 8, plain[3] | plain[4] << 8, plain[5] | plain[6] << 8, pbPenUp,
                     g_logPen, L);
}

static void* backgroundThread_Q230G(void*)
{
    const char* L = "backgroundThread_Q230G()";
    unsigned char bPenUp = 1;
    g_bInside_Sign_Background_Thread_Q230G = 1;
    VT_LOG_TO(g_logPen, L, "<%ld>-Enter...");
    uint8_t ucRawData[kPenReportSize];
    int nFailures = 0;
    while (!g_bAbort_Q230G) {
        int nReadBytes = 0;
        int nResult = libusb_interrupt_transfer(g_device_handle_Q230G, kEndpointIn, ucRawData, sizeof ucRawData,
                                                &nReadBytes, 0);
        VT_LOG_TO(g_logPen, L, "<%ld>-after call libusb_interrupt_transfer(...ucRawData...), nResult=%d, nReadBytes=%d",
                  nResult, nReadBytes);
        if (nResult != 0) {
            VT_LOG_TO(g_logPen, L, "<%ld>-libusb_interrupt_transfer() failed, nResult=%d, err=%s", nResult,
                      libusb_error_name(nResult));
            // An unplugged pad answers every read at once: stop instead of
            // spinning; other errors are retried with a growing pause.
            if (nResult == LIBUSB_ERROR_NO_DEVICE)
                break;
            if (++nFailures > 1)
                sleep_ms(nFailures < 100 ? nFailures : 100);
            continue;
        }
        nFailures = 0;
        if (nReadBytes != kPenReportSize) {
            VT_LOG_TO(g_logPen, L, "<%ld>-Rx Invalid Sign Packet ! (nReadBytes == %d)", nReadBytes);
            continue;
        }
        if (!GetResponseAfterSentFPImage(ucRawData, nReadBytes))
            DecodeHIDRawPacket_Q230G(ucRawData, nReadBytes, &bPenUp);
    }
    VT_LOG_TO(g_logPen, L, "<%ld>-Leave !");
    g_bInside_Sign_Background_Thread_Q230G = 0;
    return nullptr;
}

// ---- capture thread ----------------------------------------------------------

namespace {

class CaptureCycle {
public:
    void run();

private:
    enum Step { NEXT, STOP, ERROR_EXIT };
    Step initial();
    Step start();
    Step cont();
    Step completed();
    bool abort() const { return g_bAbort_Q230G_FP != 0; }

    const char* L = "backgroundThread_Q230G_FP()";
    CaptureFpState m_state = CFS_INITIAL;
    uint8_t m_image[FP_IMAGE_RAW_DATA_SIZE_Q230G_FP];
    uint8_t m_answer[ENDPOINT_OUT_MAX_PACKET_SIZE_Q230G_FP];
    int m_nFingerScore = 0;
};

CaptureCycle::Step CaptureCycle::initial()
{
    memset(m_image, 0, sizeof m_image);
    memset(m_answer, 0, sizeof m_answer);
    VT_LOG_TO(g_logFP, L, "<%ld>-status : CFS_INITIAL");
    m_state = CFS_START;
    return NEXT;
}

CaptureCycle::Step CaptureCycle::start()
{
    int nResult = sendFPCommand(ucStartCaptureFPCommand, sizeof ucStartCaptureFPCommand);
    const bool bSent = nResult == 0;
    VT_LOG_TO(g_logFP, L, "<%ld>-status : CFS_START, ucStartCaptureFPCommand, nResult=%d", nResult);
    // Waits for a finger: the answer comes when one is laid on the reader.
    for (;;) {
        if (abort())
            return STOP;
        int nRead = 0;
        nResult = readFP(m_answer, kStartAnswerTimeoutMs, &nRead);
        VT_LOG_TO(g_logFP, L, "<%ld>-status : CFS_START, ucReturnFPRawDataBuffer, nResult=%d", nResult);
        if (nResult == LIBUSB_ERROR_TIMEOUT && bSent) {
            VT_LOG_TO(g_logFP, L, "<%ld>-nResult == LIBUSB_ERROR_TIMEOUT !!!");
            continue;
        }
        if (nResult != 0 || nRead < 3 || m_answer[0] != 1)
            return ERROR_EXIT;
        break;
    }
    m_nFingerScore = m_answer[2];
    VT_LOG_TO(g_logFP, L, "<%ld>-status : CFS_START, nFingerScore=%d", m_nFingerScore);
    m_state = CFS_CONTINUE;
    return NEXT;
}

CaptureCycle::Step CaptureCycle::cont()
{
    int pos = 0, packageCount = 0, nRetries = 0;
    const int packageSum = FP_IMAGE_PACKET_COUNT_Q230G_FP - 1;
    bool bResend = false;
    for (;;) {
        if (abort())
            return STOP;
        if (bResend) {
            // Ask for the packet again from the current offset.
            const uint8_t ucResetCaptureFPCommand[] = {0x02, 0x04, 0xCC, 0xCC, (uint8_t)(pos & 0xFF),
                                                       (uint8_t)(pos >> 8)};
            int nResult = sendFPCommand(ucResetCaptureFPCommand, sizeof ucResetCaptureFPCommand);
            VT_LOG_TO(g_logFP, L, "<%ld>-status : CFS_CONTINUE, ucResetCaptureFPCommand, nResult=%d", nResult);
            if (nResult == 0) {
                bResend = false;
                nRetries = 0;
            } else if (++nRetries >= kMaxResendFailures) {
                return ERROR_EXIT;
            }
            continue;
        }
        int nResult = sendFPCommand(ucContinueCaptureFPCommand, sizeof ucContinueCaptureFPCommand);
        VT_LOG_TO(g_logFP, L, "<%ld>-status : CFS_CONTINUE, ucContinueCaptureFPCommand, nResult=%d", nResult);
        if (nResult != 0) {
            VT_LOG_TO(g_logFP, L, "<%ld>-status : CFS_CONTINUE, 發送問題，標記節點，重新發送 !!!");
            bResend = true;
            continue;
        }
        int nRead = 0;
        nResult = readFP(m_answer, kImagePacketTimeoutMs, &nRead);
        VT_LOG_TO(g_logFP, L, "<%ld>-status : CFS_CONTINUE, ucReturnFPRawDataBuffer, nResult=%d", nResult);
        if (nResult != 0 || nRead != ENDPOINT_OUT_MAX_PACKET_SIZE_Q230G_FP) {
            VT_LOG_TO(g_logFP, L, "<%ld>-status : CFS_CONTINUE, 接收問題，標記節點，重新發送 !!!");
            bResend = true;
            continue;
        }
        const uint8_t* data = m_answer + 4;
        const uint32_t sum = m_answer[1] | m_answer[2] << 8 | (uint32_t)m_answer[3] << 16;
        if (sum != checksum(data, FP_IMAGE_PACKET_DATA_SIZE_Q230G_FP)) {
            VT_LOG_TO(g_logFP, L, "<%ld>-status : CFS_CONTINUE, CheckSum不對，標記節點，重新發送 !!!");
            bResend = true;
            continue;
        }
        if (packageCount < packageSum) {
            memcpy(m_image + pos, data, FP_IMAGE_PACKET_DATA_SIZE_Q230G_FP);
            pos += FP_IMAGE_PACKET_DATA_SIZE_Q230G_FP;
            ++packageCount;
            continue;
        }
        VT_LOG_TO(g_logFP, L, "<%ld>-status : CFS_CONTINUE, packageCount == packageSum, status = CFS_COMPLETED !!!");
        memcpy(m_image + pos, data, (size_t)(FP_IMAGE_RAW_DATA_SIZE_Q230G_FP - pos));
        m_state = CFS_COMPLETED;
        return NEXT;
    }
}

CaptureCycle::Step CaptureCycle::completed()
{
    memcpy(g_byteFPImageRawData_Q230G_FP, m_image, sizeof m_image);
    FPDataCallback cb = VtFPCallback();
    if (cb)
        cb(g_byteFPImageRawData_Q230G_FP, FP_IMAGE_RAW_DATA_SIZE_Q230G_FP, m_nFingerScore);
    VT_LOG_TO(g_logFP, L, "<%ld>-status : CFS_COMPLETED, nFingerScore=%d !!!", m_nFingerScore);
    m_state = CFS_INITIAL;
    return NEXT;
}

void CaptureCycle::run()
{
    for (;;) {
        if (abort())
            return;
        Step step;
        switch (m_state) {
        case CFS_INITIAL: step = initial(); break;
        case CFS_START: step = start(); break;
        case CFS_CONTINUE: step = cont(); break;
        case CFS_COMPLETED: step = completed(); break;
        default: step = ERROR_EXIT; break;
        }
        if (step == STOP)
            return;
        if (step == ERROR_EXIT) {
            VT_LOG_TO(g_logFP, L, "<%ld>-出現錯誤，跳出while迴圈 !!!");
            return;
        }
    }
}

}  // namespace

static void* backgroundThread_Q230G_FP(void*)
{
    {
        auto cycle = std::make_unique<CaptureCycle>();
        cycle->run();
    }
    g_bInside_FP_Background_Thread_Q230G = 0;
    return nullptr;
}

// ---- connect and shutdown -------------------------------------------------------

int InitialFPDevice_Q230G()
{
    const char* L = "InitialFPDevice_Q230G()";
    libusb_set_auto_detach_kernel_driver(g_device_handle_Q230G_FP, 1);
    int nResult = libusb_claim_interface(g_device_handle_Q230G_FP, 0);
    if (nResult != 0) {
        VT_LOG(L, "<%ld>-libusb_claim_interface(g_device_handle_Q230G_FP, 0) failed, nResult=%d, err=%s\n", nResult,
               libusb_error_name(nResult));
        return VTSPDART_CLAIM_INTERFACE_FAILED;
    }
    nResult = OpenDevice_Q230G_FP();
    if (nResult != 0) {
        VT_LOG(L, "<%ld>-after call OpenDevice_Q230G_FP() failed, nResult=%d\n !", nResult);
        return nResult;
    }
    nResult = SetScore_Q230G_FP(128);
    if (nResult != 0) {
        VT_LOG(L, "<%ld>-after call SetScore_Q230G_FP() failed, nResult=%d\n !", nResult);
        return nResult;
    }
    g_bAbort_Q230G_FP = 0;
    nResult = VtStartWorker(&g_backgroundThreadID_Q230G_FP, backgroundThread_Q230G_FP, nullptr,
                            g_bInside_FP_Background_Thread_Q230G);
    if (nResult != 0) {
        VT_LOG(L, "<%ld>-pthread_create(&g_device_handle_Q230G_FP...) failed, nResult=%d\n", nResult);
        return VTSPDART_THREAD_CREATE_FAILED;
    }
    return VTSPDART_SUCCESS;
}

int IsUSBDeviceConnected_Q230G()
{
    const char* L = "IsUSBDeviceConnected_Q230G()";
    int nResult = VtUsbInit();
    if (nResult < 0) {
        VT_LOG(L, "<%ld>-libusb_init() failed, nResult=%d, err=%s", nResult, libusb_error_name(nResult));
        return VTSPDART_USB_INIT_FAILED;
    }
    g_device_handle_Q230G = libusb_open_device_with_vid_pid(nullptr, PAD_USB_VENDOR_ID, SIGN_PAD_PRODUCT_ID);
    g_device_handle_Q230G_FP = libusb_open_device_with_vid_pid(nullptr, PAD_USB_VENDOR_ID, FP_READER_PRODUCT_ID);
    if (!g_device_handle_Q230G || !g_device_handle_Q230G_FP) {
        if (g_device_handle_Q230G)
            libusb_close(g_device_handle_Q230G);
        if (g_device_handle_Q230G_FP)
            libusb_close(g_device_handle_Q230G_FP);
        g_device_handle_Q230G = nullptr;
        g_device_handle_Q230G_FP = nullptr;
        VT_LOG(L, "<%ld>-libusb_open_device_with_vid_pid() failed or not found Q230G DIVuziDad device !");
        return VTSPDART_DEVICE_NOT_FOUND;
    }
    VT_LOG(L, "<%ld>-libusb_open_device_with_vid_pid() found Q230G DIVuziDad device !");
    libusb_set_auto_detach_kernel_driver(g_device_handle_Q230G, 1);
    nResult = libusb_claim_interface(g_device_handle_Q230G, 0);
    if (nResult != 0) {
        VT_LOG(L, "<%ld>-libusb_claim_interface(g_device_handle_Q230G, 0) failed, nResult=%d, err=%s\n", nResult,
               libusb_error_name(nResult));
        return VTSPDART_CLAIM_INTERFACE_FAILED;
    }
    g_bAbort_Q230G = 0;
    nResult = VtStartWorker(&g_backgroundThreadID_Q230G, backgroundThread_Q230G, nullptr,
                            g_bInside_Sign_Background_Thread_Q230G);
    if (nResult != 0) {
        VT_LOG(L, "<%ld>-pthread_create(&g_backgroundThreadID_Q230G...) failed, nResult=%d\n", nResult);
        return VTSPDART_THREAD_CREATE_FAILED;
    }
    return InitialFPDevice_Q230G();
}

int ShutdownUSBDevice_Q230G()
{
    const char* L = "ShutdownUSBDevice_Q230G()";
    g_bAbort_Q230G = 1;
    g_bAbort_Q230G_FP = 1;
    if (g_device_handle_Q230G) {
        // Releasing ends the reader's pending read.
        if (VtReleaseAndWaitReader(g_device_handle_Q230G, 0, g_bInside_Sign_Background_Thread_Q230G))
            VT_LOG(L, "<%ld>-g_bInside_Sign_Background_Thread_Q230G == false !");
        libusb_close(g_device_handle_Q230G);
        g_device_handle_Q230G = nullptr;
    }
    if (g_device_handle_Q230G_FP) {
        libusb_release_interface(g_device_handle_Q230G_FP, 0);
        CloseDevice_Q230G_FP();
        if (waitForThreadExit(g_bInside_FP_Background_Thread_Q230G, 1000))
            VT_LOG(L, "<%ld>-g_bInside_FP_Background_Thread_Q230G == false !");
        libusb_close(g_device_handle_Q230G_FP);
        g_device_handle_Q230G_FP = nullptr;
    }
    VtUsbExit();
    return VTSPDART_SUCCESS;
}

// ---- the pen device's HID requests --------------------------------------------------

int OpenDeviceLCD_Q230G(bool bOn)
{
    if (!g_device_handle_Q230G)
        return VTSPDART_NOT_AVAILABLE;
    return HidPadSendCommand(g_device_handle_Q230G, bOn ? 0x00 : 0x40, "OpenDeviceLCD_Q230G()");
}

int ClearDeviceContent_Q230G()
{
    if (!g_device_handle_Q230G)
        return VTSPDART_NOT_AVAILABLE;
    return HidPadSendCommand(g_device_handle_Q230G, 0x80, "ClearDeviceContent_Q230G()");
}

int ShowVersionInfoOnDevice_Q230G(bool bShow)
{
    if (!g_device_handle_Q230G)
        return VTSPDART_NOT_AVAILABLE;
    return HidPadSendCommand(g_device_handle_Q230G, bShow ? 0x20 : 0x00, "ShowVersionInfoOnDevice_Q230G()");
}

int SetDevicePenStyle_Q230G(bool bWithPressureValue)
{
    if (!g_device_handle_Q230G)
        return VTSPDART_NOT_AVAILABLE;
    return HidPadSendCommand(g_device_handle_Q230G, bWithPressureValue ? 0x00 : 0x04, "SetDevicePenStyle_Q230G()");
}

#define VT_Q230G_TEXT_REQUEST(Name, reportId)                                          \
    int Name##_Q230G(char* pText, int nMaxCount)                                       \
    {                                                                                  \
        if (!g_device_handle_Q230G)                                                    \
            return VTSPDART_NOT_AVAILABLE;                                             \
        return HidPadReadText(g_device_handle_Q230G, reportId, pText, nMaxCount, #Name "_Q230G()"); \
    }

VT_Q230G_TEXT_REQUEST(GetDevicePenID, 3)
VT_Q230G_TEXT_REQUEST(GetDeviceSecureID, 4)
VT_Q230G_TEXT_REQUEST(GetDevicePartsVersion, 5)
VT_Q230G_TEXT_REQUEST(GetDevicePadID, 7)

// ---- screen image ----------------------------------------------------------------------

int SendImageHeaderToDevice_Q230G_FP(int nIndex, int nWidth, int nHeight)
{
    const char* L = "SendImageHeaderToDevice_Q230G_FP()";
    if (!g_device_handle_Q230G)
        return VTSPDART_NOT_AVAILABLE;
    uint8_t ucQ230GCmdSendFPImageHeaderData[SET_FP_IMAGE_ON_DEVICE_MAX_PACKET_SIZE] = {
        0x06, 0xC1, 0x02, (uint8_t)nIndex, (uint8_t)nWidth, (uint8_t)nHeight};
    int nWriteBytes = 0;
    int nResult = libusb_interrupt_transfer(g_device_handle_Q230G, kEndpointOut, ucQ230GCmdSendFPImageHeaderData,
                                            sizeof ucQ230GCmdSendFPImageHeaderData, &nWriteBytes, 0);
    if (nResult != 0) {
        VT_LOG(L, "<%ld>-libusb_interrupt_transfer(...ucQ230GCmdSendFPImageHeaderData...) failed, nResult=%d, err=%s",
               nResult, libusb_error_name(nResult));
        return VTSPDART_IMAGE_HEADER_FAILED;
    }
    if (nWriteBytes != SET_FP_IMAGE_ON_DEVICE_MAX_PACKET_SIZE) {
        VT_LOG(L, "<%ld>-nWriteBytes != SET_FP_IMAGE_ON_DEVICE_MAX_PACKET_SIZE !!!");
        return VTSPDART_IMAGE_HEADER_FAILED;
    }
    VT_LOG(L, "<%ld>-Send Image Header To Device succeeded...");
    return VTSPDART_SUCCESS;
}

static bool sendImagePacket(const uint8_t* pData, long nCount)
{
    uint8_t ucQ230GCmdSendFPImageData[SET_FP_IMAGE_ON_DEVICE_MAX_PACKET_SIZE] = {0x06};
    memcpy(ucQ230GCmdSendFPImageData + 1, pData, (size_t)nCount);
    int nWriteBytes = 0;
    int nResult = libusb_interrupt_transfer(g_device_handle_Q230G, kEndpointOut, ucQ230GCmdSendFPImageData,
                                            sizeof ucQ230GCmdSendFPImageData, &nWriteBytes, 0);
    return nResult == 0 && nWriteBytes == SET_FP_IMAGE_ON_DEVICE_MAX_PACKET_SIZE;
}

int SendImageDataToDevice_Q230G_FP(const uint8_t* pData, long lLength, const bool* pbAbort)
{
    const char* L = "SendImageDataToDevice_Q230G_FP()";
    const long kDataPerPacket = SET_FP_IMAGE_ON_DEVICE_MAX_PACKET_SIZE - 2;
    if (!g_device_handle_Q230G)
        return VTSPDART_NOT_AVAILABLE;
    long lRemainCount = lLength;
    while (lRemainCount > kDataPerPacket) {
        if (aborted(pbAbort)) {
            VT_LOG(L, "<%ld>-Abort !!!");
            return VTSPDART_IMAGE_SEND_ABORTED;
        }
        if (!sendImagePacket(pData, kDataPerPacket))
            return VTSPDART_IMAGE_DATA_FAILED;
        pData += kDataPerPacket;
        lRemainCount -= kDataPerPacket;
    }
    VT_LOG(L, "<%ld>-lRemainCount=%ld", lRemainCount);
    // The last packet is zero-padded to the full packet size like the others.
    if (!sendImagePacket(pData, lRemainCount)) {
        VT_LOG(L, "<%ld>-nWriteBytes != (lRemainCount + 1) !!!");
        return VTSPDART_IMAGE_DATA_FAILED;
    }
    VT_LOG(L, "<%ld>-Send Image Data of lRemainCount To Device succeeded...");
    return VTSPDART_SUCCESS;
}

int CheckSendImageToDeviceResult_Q230G_FP()
{
    std::unique_lock<std::mutex> lk(g_sentFPImageLock);
    g_sentFPImageChanged.wait_for(lk, std::chrono::milliseconds(kImageAnswerWaitMs),
                                  [] { return g_nSentFPImageStatus != 0; });
    const int nStatus = g_nSentFPImageStatus;
    lk.unlock();
    VT_LOG("CheckSendImageToDeviceResult_Q230G_FP()", "<%ld>-g_nSentFPImageStatus=%d", nStatus);
    return nStatus == SENT_FPIMAGE_BLOCK_SUCCEEDED ? VTSPDART_SUCCESS : VTSPDART_NOT_AVAILABLE;
}

int DisplayImageOnDevice_Q230G_FP(unsigned char* pucImage, int nSize, int nWidth, int nHeight, bool* pbAbort)
{
    const char* L = "DisplayImageOnDevice_Q230G_FP()";
    if (nSize < 0)
        return VTSPDART_INVALID_PARAMETERS;
    int nIndex = 0;
    int nResult = SendImageHeaderToDevice_Q230G_FP(nIndex, nWidth, nHeight);
    if (nResult != 0)
        return nResult;
    const uint8_t* p = pucImage;
    long lRemainCount = nSize;
    if (lRemainCount > SET_FP_IMAGE_ON_DEVICE_MAX_CACHE_SIZE)
        VT_LOG(L, "<%ld>-b4 call while (lRemainCount > SET_FP_IMAGE_ON_DEVICE_MAX_CACHE_SIZE)...");
    while (lRemainCount > SET_FP_IMAGE_ON_DEVICE_MAX_CACHE_SIZE) {
        setSentFPImageStatus(0);
        nResult = SendImageDataToDevice_Q230G_FP(p, SET_FP_IMAGE_ON_DEVICE_MAX_CACHE_SIZE, pbAbort);
        if (nResult == 0)
            nResult = CheckSendImageToDeviceResult_Q230G_FP();
        if (nResult == 0)
            nResult = SendImageHeaderToDevice_Q230G_FP(++nIndex, nWidth, nHeight);
        if (nResult != 0)
            return nResult;
        p += SET_FP_IMAGE_ON_DEVICE_MAX_CACHE_SIZE;
        lRemainCount -= SET_FP_IMAGE_ON_DEVICE_MAX_CACHE_SIZE;
    }
    VT_LOG(L, "<%ld>-after leave while (lRemainCount > SET_FP_IMAGE_ON_DEVICE_MAX_CACHE_SIZE), lRemainCount=%ld, nResult=%d",
           lRemainCount, nResult);
    setSentFPImageStatus(0);
    nResult = SendImageDataToDevice_Q230G_FP(p, lRemainCount, pbAbort);
    if (nResult == 0)
        nResult = CheckSendImageToDeviceResult_Q230G_FP();
    return nResult;
}

// ---- read access for tests -----------------------------------------------------------------

int SentFPImageStatus_Q230G()
{
    std::lock_guard<std::mutex> lk(g_sentFPImageLock);
    return g_nSentFPImageStatus;
}

bool IsCaptureThreadRunning_Q230G()
{
    return g_bInside_FP_Background_Thread_Q230G != 0;
}

bool IsPenReaderRunning_Q230G()
{
    return g_bInside_Sign_Background_Thread_Q230G != 0;
}
