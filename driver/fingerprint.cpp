// Q230G fingerprint pad: a pen device that speaks the HID pad's requests and
// takes images for its screen, and a fingerprint reader whose capture cycle
// runs on a thread of its own.
#include "fingerprint.h"

#include <chrono>
#include <cstring>
#include <memory>

namespace {

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

const HidPenTraits kTraitsQ230G = {
    .suffix = "Q230G",
    .threadLogFile = VT_LOG_DIR "vtinkdrv_inthread_Q230G.log",
    // the event type byte stands in for the HID pad's state word
    .report = {.nSize = 16, .nMaskOffset = 12, .bStateWord = false, .bLogEventType = true,
               .label = "DecodeHIDRawPacket_Q230G()"},
    .bLogEveryRead = true,
    .claimFailText = "<%ld>-libusb_claim_interface(g_device_handle_Q230G, 0) failed, nResult=%d, err=%s\n",
    .startFailText = "<%ld>-pthread_create(&g_backgroundThreadID_Q230G...) failed, nResult=%d\n",
};

bool aborted(const bool* pbAbort)
{
    return __atomic_load_n(pbAbort, __ATOMIC_ACQUIRE);
}

const int kShortWrite = 1;

// One fingerprint command: 1024 bytes on the reader's OUT endpoint, no timeout.
// Returns 0, the libusb error, or kShortWrite when not all bytes went out.
int sendFPCommand(libusb_device_handle* h, const uint8_t* pCommand, size_t nLength)
{
    uint8_t packet[ENDPOINT_OUT_MAX_PACKET_SIZE_Q230G_FP] = {};
    memcpy(packet, pCommand, nLength);
    int nWriteBytes = 0;
    int nResult = libusb_interrupt_transfer(h, kEndpointOut, packet, sizeof packet, &nWriteBytes, 0);
    if (nResult == 0 && nWriteBytes != ENDPOINT_OUT_MAX_PACKET_SIZE_Q230G_FP)
        return kShortWrite;
    return nResult;
}

}  // namespace

Q230GFamily g_familyQ230G;

// ---- decoding ----------------------------------------------------------------------

uint32_t checksum(const uint8_t* pData, int nLength)
{
    uint32_t sum = 0;
    for (int i = 0; i < nLength; ++i)
        sum += pData[i];
    return sum & 0xFFFFFF;
}

int DecodeImageAnswer(const uint8_t* p, int n, VtLogWriter& log)
{
    const char* label = "GetResponseAfterSentFPImage()";
    if (n < 3)
        return 0;
    if (p[1] == 0xD0 && p[2] == 0x00) {
        VT_LOG_TO(log, label, "<%ld>-SENT_FPIMAGE_BLOCK_SUCCEEDED...");
        return SENT_FPIMAGE_BLOCK_SUCCEEDED;
    }
    if (p[1] == 0xE1 && p[2] == 0x01) {
        VT_LOG_TO(log, label, "<%ld>-SENT_FPIMAGE_SIZE_UNMATCH !");
        return SENT_FPIMAGE_SIZE_UNMATCH;
    }
    if (p[1] == 0xE1 && p[2] == 0x03) {
        VT_LOG_TO(log, label, "<%ld>-SENT_FPIMAGE_INVALID_INDEX !");
        return SENT_FPIMAGE_INVALID_INDEX;
    }
    return 0;
}

int DecodeStartAnswer(const uint8_t* p, int n)
{
    if (n < 3 || p[0] != 1)
        return -1;
    return p[2];
}

bool CheckImagePacket(const uint8_t* p, int n)
{
    if (n != ENDPOINT_OUT_MAX_PACKET_SIZE_Q230G_FP)
        return false;
    const uint32_t sum = p[1] | p[2] << 8 | (uint32_t)p[3] << 16;
    return sum == checksum(p + 4, FP_IMAGE_PACKET_DATA_SIZE_Q230G_FP);
}

// ---- the fingerprint reader's commands -------------------------------------------------

Q230GFamily::Q230GFamily() : HidPenFamily(kTraitsQ230G), m_fp(VT_LOG_DIR "vtinkdrv_inthread_Q230G_FP.log") {}

// Open and close share one exchange: a command, then a 1024-byte answer with byte 0 = 1.
int Q230GFamily::OpenOrCloseFP(bool bOpen)
{
    const char* label = bOpen ? "OpenDevice_Q230G_FP()" : "CloseDevice_Q230G_FP()";
    const uint8_t* pCommand = bOpen ? ucOpenDeviceCommand : ucCloseDeviceCommand;
    const int nFailCode = bOpen ? VTSPDART_FP_OPEN_FAILED : VTSPDART_FP_CLOSE_FAILED;
    const char* cmdName = bOpen ? "ucOpenDeviceCommand" : "ucCloseDeviceCommand";
    libusb_device_handle* h = m_fp.Handle();
    if (!h)
        return nFailCode;
    int nResult = sendFPCommand(h, pCommand, 6);
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
    nResult = libusb_interrupt_transfer(h, kEndpointIn, ucReturnBuffer, sizeof ucReturnBuffer, &nReadBytes,
                                        kOpenCloseAnswerTimeoutMs);
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

int Q230GFamily::SetScore(uint8_t ucScore)
{
    libusb_device_handle* h = m_fp.Handle();
    if (!h)
        return VTSPDART_FP_SET_SCORE_FAILED;
    const uint8_t ucSetScoreCommand[] = {0x02, 0x04, 0xCC, 0xCC, 0xCC, ucScore};
    if (sendFPCommand(h, ucSetScoreCommand, sizeof ucSetScoreCommand) != 0)
        return VTSPDART_FP_SET_SCORE_FAILED;
    VT_LOG("SetScore_Q230G_FP()", "<%ld>-Set Score succeeded...");
    return VTSPDART_SUCCESS;
}

// ---- pen reader ----------------------------------------------------------------

void Q230GFamily::HandleReport(const uint8_t* pReport, int nLength, unsigned char* pbPenUp)
{
    // Answers to screen images come on the pen endpoint, unmasked.
    if (int nStatus = DecodeImageAnswer(pReport, nLength, m_pen.Log()))
        SetSentFPImageStatus(nStatus);
    else
        HidPenFamily::HandleReport(pReport, nLength, pbPenUp);
}

// ---- capture thread ------------------------------------------------------------

namespace {

class CaptureCycle {
public:
    CaptureCycle(WorkerRun& run, VtLogWriter& log) : m_run(run), m_log(log) {}
    void run();

private:
    enum Step { NEXT, STOP, ERROR_EXIT };
    Step initial();
    Step start();
    Step cont();
    Step completed();
    bool abort() const { return m_run.Aborted(); }
    int send(const uint8_t* pCommand, size_t nLength) { return sendFPCommand(m_run.Handle(), pCommand, nLength); }
    int read(unsigned nTimeoutMs, int* pnRead)
    {
        return m_run.Read(kEndpointIn, m_answer, sizeof m_answer, nTimeoutMs, pnRead);
    }

    const char* L = "backgroundThread_Q230G_FP()";
    WorkerRun& m_run;
    VtLogWriter& m_log;
    CaptureFpState m_state = CFS_INITIAL;
    // Handed to the callback; overwritten by the next capture.
    uint8_t m_image[FP_IMAGE_RAW_DATA_SIZE_Q230G_FP];
    uint8_t m_answer[ENDPOINT_OUT_MAX_PACKET_SIZE_Q230G_FP];
    int m_nFingerScore = 0;
};

CaptureCycle::Step CaptureCycle::initial()
{
    memset(m_image, 0, sizeof m_image);
    memset(m_answer, 0, sizeof m_answer);
    VT_LOG_TO(m_log, L, "<%ld>-status : CFS_INITIAL");
    m_state = CFS_START;
    return NEXT;
}

CaptureCycle::Step CaptureCycle::start()
{
    int nResult = send(ucStartCaptureFPCommand, sizeof ucStartCaptureFPCommand);
    const bool bSent = nResult == 0;
    VT_LOG_TO(m_log, L, "<%ld>-status : CFS_START, ucStartCaptureFPCommand, nResult=%d", nResult);
    // Waits for a finger: the answer comes when one is laid on the reader.
    for (;;) {
        if (abort())
            return STOP;
        int nRead = 0;
        nResult = read(kStartAnswerTimeoutMs, &nRead);
        VT_LOG_TO(m_log, L, "<%ld>-status : CFS_START, ucReturnFPRawDataBuffer, nResult=%d", nResult);
        if (nResult == LIBUSB_ERROR_TIMEOUT && bSent) {
            VT_LOG_TO(m_log, L, "<%ld>-nResult == LIBUSB_ERROR_TIMEOUT !!!");
            continue;
        }
        if (nResult != 0)
            return ERROR_EXIT;
        m_nFingerScore = DecodeStartAnswer(m_answer, nRead);
        if (m_nFingerScore < 0)
            return ERROR_EXIT;
        break;
    }
    VT_LOG_TO(m_log, L, "<%ld>-status : CFS_START, nFingerScore=%d", m_nFingerScore);
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
            int nResult = send(ucResetCaptureFPCommand, sizeof ucResetCaptureFPCommand);
            VT_LOG_TO(m_log, L, "<%ld>-status : CFS_CONTINUE, ucResetCaptureFPCommand, nResult=%d", nResult);
            if (nResult == 0) {
                bResend = false;
                nRetries = 0;
            } else if (++nRetries >= kMaxResendFailures) {
                return ERROR_EXIT;
            }
            continue;
        }
        int nResult = send(ucContinueCaptureFPCommand, sizeof ucContinueCaptureFPCommand);
        VT_LOG_TO(m_log, L, "<%ld>-status : CFS_CONTINUE, ucContinueCaptureFPCommand, nResult=%d", nResult);
        if (nResult != 0) {
            VT_LOG_TO(m_log, L, "<%ld>-status : CFS_CONTINUE, 發送問題，標記節點，重新發送 !!!");
            bResend = true;
            continue;
        }
        int nRead = 0;
        nResult = read(kImagePacketTimeoutMs, &nRead);
        VT_LOG_TO(m_log, L, "<%ld>-status : CFS_CONTINUE, ucReturnFPRawDataBuffer, nResult=%d", nResult);
        if (nResult != 0 || nRead != ENDPOINT_OUT_MAX_PACKET_SIZE_Q230G_FP) {
            VT_LOG_TO(m_log, L, "<%ld>-status : CFS_CONTINUE, 接收問題，標記節點，重新發送 !!!");
            bResend = true;
            continue;
        }
        if (!CheckImagePacket(m_answer, nRead)) {
            VT_LOG_TO(m_log, L, "<%ld>-status : CFS_CONTINUE, CheckSum不對，標記節點，重新發送 !!!");
            bResend = true;
            continue;
        }
        const uint8_t* data = m_answer + 4;
        if (packageCount < packageSum) {
            memcpy(m_image + pos, data, FP_IMAGE_PACKET_DATA_SIZE_Q230G_FP);
            pos += FP_IMAGE_PACKET_DATA_SIZE_Q230G_FP;
            ++packageCount;
            continue;
        }
        VT_LOG_TO(m_log, L, "<%ld>-status : CFS_CONTINUE, packageCount == packageSum, status = CFS_COMPLETED !!!");
        memcpy(m_image + pos, data, (size_t)(FP_IMAGE_RAW_DATA_SIZE_Q230G_FP - pos));
        m_state = CFS_COMPLETED;
        return NEXT;
    }
}

CaptureCycle::Step CaptureCycle::completed()
{
    if (FPDataCallback cb = VtFPCallback())
        cb(m_image, FP_IMAGE_RAW_DATA_SIZE_Q230G_FP, m_nFingerScore);
    VT_LOG_TO(m_log, L, "<%ld>-status : CFS_COMPLETED, nFingerScore=%d !!!", m_nFingerScore);
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
            VT_LOG_TO(m_log, L, "<%ld>-出現錯誤，跳出while迴圈 !!!");
            return;
        }
    }
}

}  // namespace

void Q230GFamily::CaptureThread(WorkerRun& run)
{
    auto cycle = std::make_unique<CaptureCycle>(run, m_fp.Log());
    cycle->run();
}

// ---- connect and shutdown --------------------------------------------------------

int Q230GFamily::InitialFPDevice()
{
    const char* label = "InitialFPDevice_Q230G()";
    if (int nResult = m_fp.Claim(label, 0, "<%ld>-libusb_claim_interface(g_device_handle_Q230G_FP, 0) failed, nResult=%d, err=%s\n"))
        return nResult;
    if (int nResult = OpenOrCloseFP(true)) {
        VT_LOG(label, "<%ld>-after call OpenDevice_Q230G_FP() failed, nResult=%d\n !", nResult);
        return nResult;
    }
    if (int nResult = SetScore(128)) {
        VT_LOG(label, "<%ld>-after call SetScore_Q230G_FP() failed, nResult=%d\n !", nResult);
        return nResult;
    }
    return m_fp.Start(label, [this](WorkerRun& run) { CaptureThread(run); },
                      "<%ld>-pthread_create(&g_device_handle_Q230G_FP...) failed, nResult=%d\n");
}

int Q230GFamily::Connect()
{
    const char* label = "IsUSBDeviceConnected_Q230G()";
    if (int nResult = VtUsbInit(label))
        return nResult;
    const bool bPen = m_pen.Open(PAD_USB_VENDOR_ID, SIGN_PAD_PRODUCT_ID);
    const bool bReader = m_fp.Open(PAD_USB_VENDOR_ID, FP_READER_PRODUCT_ID);
    if (!bPen || !bReader) {
        m_pen.Close(label);
        m_fp.Close(label);
        VT_LOG(label, "<%ld>-libusb_open_device_with_vid_pid() failed or not found Q230G DIVuziDad device !");
        return VTSPDART_DEVICE_NOT_FOUND;
    }
    VT_LOG(label, "<%ld>-libusb_open_device_with_vid_pid() found Q230G DIVuziDad device !");
    if (int nResult = StartPen(label))
        return nResult;
    return InitialFPDevice();
}

bool Q230GFamily::PadAttached(libusb_device* const* ppDevices, long n) const
{
    // Both of its USB devices, as the connect needs them.
    return VtUsbDeviceListed(ppDevices, n, PAD_USB_VENDOR_ID, SIGN_PAD_PRODUCT_ID) &&
           VtUsbDeviceListed(ppDevices, n, PAD_USB_VENDOR_ID, FP_READER_PRODUCT_ID);
}

int Q230GFamily::Shutdown()
{
    const char* label = "ShutdownUSBDevice_Q230G()";
    m_pen.RequestStop();
    m_fp.RequestStop();
    // Releasing ends each worker's pending read; the reader is told to close
    // once its interface is released.
    m_pen.Stop(label, "<%ld>-g_bInside_Sign_Background_Thread_Q230G == false !", 0);
    m_fp.Stop(label, "<%ld>-g_bInside_FP_Background_Thread_Q230G == false !", 0, [this] { OpenOrCloseFP(false); });
    const bool bPenClosed = m_pen.Close(label);
    const bool bReaderClosed = m_fp.Close(label);
    if (bPenClosed && bReaderClosed)
        VtUsbExit();
    return VTSPDART_SUCCESS;
}

// ---- screen image ----------------------------------------------------------------------

void Q230GFamily::SetSentFPImageStatus(int nStatus)
{
    {
        std::lock_guard<std::mutex> lk(m_sentLock);
        m_nSentFPImageStatus = nStatus;
    }
    m_sentChanged.notify_all();
}

int Q230GFamily::SentFPImageStatus()
{
    std::lock_guard<std::mutex> lk(m_sentLock);
    return m_nSentFPImageStatus;
}

int Q230GFamily::SendImageHeader(int nIndex, int nWidth, int nHeight)
{
    const char* label = "SendImageHeaderToDevice_Q230G_FP()";
    libusb_device_handle* h = m_pen.Handle();
    if (!h)
        return VTSPDART_NOT_AVAILABLE;
    uint8_t ucQ230GCmdSendFPImageHeaderData[SET_FP_IMAGE_ON_DEVICE_MAX_PACKET_SIZE] = {
        0x06, 0xC1, 0x02, (uint8_t)nIndex, (uint8_t)nWidth, (uint8_t)nHeight};
    int nWriteBytes = 0;
    int nResult = libusb_interrupt_transfer(h, kEndpointOut, ucQ230GCmdSendFPImageHeaderData,
                                            sizeof ucQ230GCmdSendFPImageHeaderData, &nWriteBytes, 0);
    if (nResult != 0) {
        VT_LOG(label, "<%ld>-libusb_interrupt_transfer(...ucQ230GCmdSendFPImageHeaderData...) failed, nResult=%d, err=%s",
               nResult, libusb_error_name(nResult));
        return VTSPDART_IMAGE_HEADER_FAILED;
    }
    if (nWriteBytes != SET_FP_IMAGE_ON_DEVICE_MAX_PACKET_SIZE) {
        VT_LOG(label, "<%ld>-nWriteBytes != SET_FP_IMAGE_ON_DEVICE_MAX_PACKET_SIZE !!!");
        return VTSPDART_IMAGE_HEADER_FAILED;
    }
    VT_LOG(label, "<%ld>-Send Image Header To Device succeeded...");
    return VTSPDART_SUCCESS;
}

static bool sendImagePacket(libusb_device_handle* h, const uint8_t* pData, long nCount)
{
    uint8_t ucQ230GCmdSendFPImageData[SET_FP_IMAGE_ON_DEVICE_MAX_PACKET_SIZE] = {0x06};
    memcpy(ucQ230GCmdSendFPImageData + 1, pData, (size_t)nCount);
    int nWriteBytes = 0;
    int nResult = libusb_interrupt_transfer(h, kEndpointOut, ucQ230GCmdSendFPImageData,
                                            sizeof ucQ230GCmdSendFPImageData, &nWriteBytes, 0);
    return nResult == 0 && nWriteBytes == SET_FP_IMAGE_ON_DEVICE_MAX_PACKET_SIZE;
}

int Q230GFamily::SendImageData(const uint8_t* pData, long lLength, const bool* pbAbort)
{
    const char* label = "SendImageDataToDevice_Q230G_FP()";
    const long kDataPerPacket = SET_FP_IMAGE_ON_DEVICE_MAX_PACKET_SIZE - 2;
    libusb_device_handle* h = m_pen.Handle();
    if (!h)
        return VTSPDART_NOT_AVAILABLE;
    long lRemainCount = lLength;
    while (lRemainCount > kDataPerPacket) {
        if (aborted(pbAbort)) {
            VT_LOG(label, "<%ld>-Abort !!!");
            return VTSPDART_IMAGE_SEND_ABORTED;
        }
        if (!sendImagePacket(h, pData, kDataPerPacket))
            return VTSPDART_IMAGE_DATA_FAILED;
        pData += kDataPerPacket;
        lRemainCount -= kDataPerPacket;
    }
    VT_LOG(label, "<%ld>-lRemainCount=%ld", lRemainCount);
    // The last packet is zero-padded to the full packet size like the others.
    if (!sendImagePacket(h, pData, lRemainCount)) {
        VT_LOG(label, "<%ld>-nWriteBytes != (lRemainCount + 1) !!!");
        return VTSPDART_IMAGE_DATA_FAILED;
    }
    VT_LOG(label, "<%ld>-Send Image Data of lRemainCount To Device succeeded...");
    return VTSPDART_SUCCESS;
}

int Q230GFamily::CheckSendImageResult()
{
    std::unique_lock<std::mutex> lk(m_sentLock);
    m_sentChanged.wait_for(lk, std::chrono::milliseconds(kImageAnswerWaitMs),
                           [this] { return m_nSentFPImageStatus != 0; });
    const int nStatus = m_nSentFPImageStatus;
    lk.unlock();
    VT_LOG("CheckSendImageToDeviceResult_Q230G_FP()", "<%ld>-g_nSentFPImageStatus=%d", nStatus);
    return nStatus == SENT_FPIMAGE_BLOCK_SUCCEEDED ? VTSPDART_SUCCESS : VTSPDART_NOT_AVAILABLE;
}

int Q230GFamily::ShowFPImage(unsigned char* pucImage, int nSize, int nWidth, int nHeight, bool* pbAbort)
{
    const char* label = "DisplayImageOnDevice_Q230G_FP()";
    if (nSize < 0)
        return VTSPDART_INVALID_PARAMETERS;
    int nIndex = 0;
    int nResult = SendImageHeader(nIndex, nWidth, nHeight);
    if (nResult != 0)
        return nResult;
    const uint8_t* p = pucImage;
    long lRemainCount = nSize;
    if (lRemainCount > SET_FP_IMAGE_ON_DEVICE_MAX_CACHE_SIZE)
        VT_LOG(label, "<%ld>-b4 call while (lRemainCount > SET_FP_IMAGE_ON_DEVICE_MAX_CACHE_SIZE)...");
    while (lRemainCount > SET_FP_IMAGE_ON_DEVICE_MAX_CACHE_SIZE) {
        SetSentFPImageStatus(0);
        nResult = SendImageData(p, SET_FP_IMAGE_ON_DEVICE_MAX_CACHE_SIZE, pbAbort);
        if (nResult == 0)
            nResult = CheckSendImageResult();
        if (nResult == 0)
            nResult = SendImageHeader(++nIndex, nWidth, nHeight);
        if (nResult != 0)
            return nResult;
        p += SET_FP_IMAGE_ON_DEVICE_MAX_CACHE_SIZE;
        lRemainCount -= SET_FP_IMAGE_ON_DEVICE_MAX_CACHE_SIZE;
    }
    VT_LOG(label, "<%ld>-after leave while (lRemainCount > SET_FP_IMAGE_ON_DEVICE_MAX_CACHE_SIZE), lRemainCount=%ld, nResult=%d",
           lRemainCount, nResult);
    SetSentFPImageStatus(0);
    nResult = SendImageData(p, lRemainCount, pbAbort);
    if (nResult == 0)
        nResult = CheckSendImageResult();
    return nResult;
}
