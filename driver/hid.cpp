// Q210/Q220 HID pad family: connect, reader thread, report decoding, control
// and identification requests, shutdown. The Q230G's pen device shares the
// requests (HidPadSendCommand, HidPadReadText).
#include "families.h"
#include "vtlog.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

libusb_device_handle* g_device_handle_Q210_220 = nullptr;
std::atomic<unsigned char> g_bAbort_Q210_220{0};
std::atomic<unsigned char> g_bInside_Background_Thread{0};
pthread_t g_backgroundThreadID_Q210_220;

static VtLogWriter s_threadLog(VT_LOG_DIR "vtinkdrv_inthread_Q210_220.log");

enum : unsigned char {
    HID_PAD_REPORT_SIZE = 11,
    HID_PAD_ENDPOINT_IN = 0x81,
    HID_PAD_MASK_OFFSET = 9,
};

// Pad commands (second data byte of SET_REPORT 2).
enum : unsigned char {
    HID_CMD_SCREEN_ON = 0x00,
    HID_CMD_SCREEN_OFF = 0x40,
    HID_CMD_CLEAR = 0x80,
    HID_CMD_VERSION_ON = 0x20,
    HID_CMD_VERSION_OFF = 0x00,
    HID_CMD_PEN_PRESSURE = 0x00,
    HID_CMD_PEN_NO_PRESSURE = 0x04,
};

// ---- requests shared with the Q230G pen device -----------------------------------

int HidPadSendCommand(libusb_device_handle* h, unsigned char ucCommand, const char* label)
{
    if (!h)
        return VTSPDART_NOT_AVAILABLE;
    unsigned char ucCmd[9] = {0x02, ucCommand};
    int nSentBytes = libusb_control_transfer(h, 0x21, 0x09, 0x0302, 0, ucCmd, sizeof ucCmd, 0);
    VT_LOG(label, "<%ld>-after call libusb_control_transfer(), nSentBytes=%d, Cmd[0]=0x%02x, Cmd[1]=0x%02x",
           nSentBytes, ucCmd[0], ucCmd[1]);
    if (nSentBytes < 0) {
        VT_LOG(label, "<%ld>-libusb_control_transfer() failed !");
        return VTSPDART_CONTROL_TRANSFER_FAILED;
    }
    return VTSPDART_SUCCESS;  // a short transfer counts as sent
}

int HidPadReadText(libusb_device_handle* h, int nReportID, char* pText, int nMaxCount, const char* label)
{
    if (!h)
        return VTSPDART_NOT_AVAILABLE;
    if (!pText || nMaxCount < 1)
        return VTSPDART_INVALID_PARAMETERS;
    // pen and secure id: length byte + text; parts version and pad id: the text
    const bool bLengthFirst = nReportID == 3 || nReportID == 4;
    const int nAsk = bLengthFirst ? 33 : nReportID == 5 ? 9 : 11;
    unsigned char ucReply[33] = {};
    int nRxBytes = libusb_control_transfer(h, 0xA1, 0x01, (uint16_t)(0x0300 + nReportID), 0, ucReply,
                                           (uint16_t)nAsk, 0);
    if (nRxBytes < 0) {
        VT_LOG(label, "<%ld>-libusb_control_transfer() failed !");
        return VTSPDART_CONTROL_TRANSFER_FAILED;
    }
    const unsigned char* pSrc = ucReply;
    int nAvail = nRxBytes;
    unsigned long ulSize = 0;
    if (bLengthFirst) {
        ulSize = nRxBytes > 0 ? ucReply[0] : 0;
        pSrc = ucReply + 1;
        nAvail = nRxBytes > 0 ? nRxBytes - 1 : 0;
        // the pad's length byte may claim more than it sent
        if ((unsigned long)nAvail > ulSize)
            nAvail = (int)ulSize;
    }
    int n = 0;
    while (n < nAvail && n < nMaxCount - 1 && pSrc[n] != 0) {
        pText[n] = (char)pSrc[n];
        n++;
    }
    pText[n] = 0;
    if (bLengthFirst)
        VT_LOG(label, "<%ld>-after call libusb_control_transfer(), nRxBytes=%d, ulSize=%lu", nRxBytes, ulSize);
    else
        VT_LOG(label, "<%ld>-after call libusb_control_transfer(), nRxBytes=%d", nRxBytes);
    return VTSPDART_SUCCESS;
}

// ---- reader ------------------------------------------------------------------------

// The pen state table, shared with the Q230G's pen device (whose event type
// byte stands in for the state word): events, pen-up flag and log lines.
void HidPadApplyState(int nState, int x, int y, int p, unsigned char* pbPenUp, VtLogWriter& log, const char* label)
{
    int nEvent;
    switch (nState) {
    case 0:
        nEvent = *pbPenUp ? HWET_PEN_DOWN : HWET_PEN_MOVE;
        VT_LOG_TO(log, label, *pbPenUp ? "<%ld>-Pen-Down, x=%d, y=%d, p=%d" : "<%ld>-Pen-Move, x=%d, y=%d, p=%d",
                  x, y, p);
        *pbPenUp = 0;
        break;
    case 1:
        nEvent = HWET_CANCEL_KEY;
        VT_LOG_TO(log, label, "<%ld>-Cancel, x=%d, y=%d, p=%d", x, y, p);
        *pbPenUp = 0;
        break;
    case 2:
        nEvent = HWET_CONFIRM_KEY;
        VT_LOG_TO(log, label, "<%ld>-Enter, x=%d, y=%d, p=%d", x, y, p);
        *pbPenUp = 0;
        break;
    case 3:
        if (*pbPenUp)
            return;  // already up
        nEvent = HWET_PEN_UP;
        VT_LOG_TO(log, label, "<%ld>-Pen-Up, x=%d, y=%d, p=%d", x, y, p);
        *pbPenUp = 1;
        break;
    default:
        return;
    }
    if (HWSignDataCallback cb = VtPenCallback())
        cb(x, y, p, nEvent);
}

static void DecodeHIDRawPacket_Q210_220(const unsigned char* pReport, int nLength, unsigned char* pbPenUp)
{
    if (nLength < HID_PAD_REPORT_SIZE)
        return;
    unsigned char plain[HID_PAD_REPORT_SIZE];
    const unsigned char mask = pReport[HID_PAD_MASK_OFFSET];
    plain[0] = pReport[0];
    for (int i = 1; i < HID_PAD_REPORT_SIZE; ++i)
        plain[i] = pReport[i] ^ mask;
    HidPadApplyState(plain[7] | plain[8] << 8, plain[1] | plain[2] << 8, plain[3] | plain[4] << 8,
                     plain[5] | plain[6] << 8, pbPenUp, s_threadLog, "DecodeHIDRawPacket_Q210_220()");
}

static void* backgroundThread_Q210_220(void*)
{
    const char* label = "backgroundThread_Q210_220()";
    unsigned char bPenUp = 1;
    g_bInside_Background_Thread = 1;
    VT_LOG_TO(s_threadLog, label, "<%ld>-Enter...");
    libusb_device_handle* h = g_device_handle_Q210_220;
    int nErrorsInRow = 0;
    while (!g_bAbort_Q210_220) {
        unsigned char ucRawData[HID_PAD_REPORT_SIZE];
        int nReadBytes = 0;
        int nResult = libusb_interrupt_transfer(h, HID_PAD_ENDPOINT_IN, ucRawData, sizeof ucRawData, &nReadBytes, 0);
        if (nResult < 0) {
            VT_LOG_TO(s_threadLog, label, "<%ld>-libusb_interrupt_transfer() failed, nResult=%d, err=%s", nResult,
                      libusb_error_name(nResult));
            // An unplugged pad answers every read at once: stop reading; pen
            // input comes back with the next connect.
            if (nResult == LIBUSB_ERROR_NO_DEVICE)
                break;
            // Anything else persisting (a stuck endpoint) must not spin a core.
            if (++nErrorsInRow > 3)
                usleep(10000);
            continue;
        }
        nErrorsInRow = 0;
        if (nReadBytes == HID_PAD_REPORT_SIZE)
            DecodeHIDRawPacket_Q210_220(ucRawData, nReadBytes, &bPenUp);
        else
            VT_LOG_TO(s_threadLog, label, "<%ld>-Rx Invalid Sign Packet ! (nReadBytes == %d)", nReadBytes);
    }
    VT_LOG_TO(s_threadLog, label, "<%ld>-Leave !");
    g_bInside_Background_Thread = 0;
    return nullptr;
}

// ---- connect and shutdown ---------------------------------------------------------------

int IsUSBDeviceConnected_Q210_220()
{
    const char* label = "IsUSBDeviceConnected_Q210_220()";
    int nResult = VtUsbInit();
    if (nResult < 0) {
        VT_LOG(label, "<%ld>-libusb_init() failed, nResult=%d, err=%s", nResult, libusb_error_name(nResult));
        return VTSPDART_USB_INIT_FAILED;
    }
    // The Q230G's pen device has our product id: with one attached, this is not our pad.
    if (libusb_device_handle* fp = libusb_open_device_with_vid_pid(nullptr, PAD_USB_VENDOR_ID, FP_READER_PRODUCT_ID)) {
        libusb_close(fp);
        VT_LOG(label, "<%ld>-libusb_open_device_with_vid_pid() Found Q230G but not found Q210/Q220 DIVuziDad device !");
        return VTSPDART_DEVICE_NOT_FOUND;
    }
    g_device_handle_Q210_220 = libusb_open_device_with_vid_pid(nullptr, PAD_USB_VENDOR_ID, SIGN_PAD_PRODUCT_ID);
    if (!g_device_handle_Q210_220) {
        VT_LOG(label, "<%ld>-libusb_open_device_with_vid_pid() failed or not found Q210/Q220 DIVuziDad device !");
        return VTSPDART_DEVICE_NOT_FOUND;
    }
    VT_LOG(label, "<%ld>-libusb_open_device_with_vid_pid() found Q210/Q220 DIVuziDad device !");
    libusb_set_auto_detach_kernel_driver(g_device_handle_Q210_220, 1);
    nResult = libusb_claim_interface(g_device_handle_Q210_220, 0);
    if (nResult < 0) {
        VT_LOG(label, "<%ld>-libusb_claim_interface() failed, nResult=%d, err=%s\n", nResult,
               libusb_error_name(nResult));
        return VTSPDART_CLAIM_INTERFACE_FAILED;
    }
    g_bAbort_Q210_220 = 0;
    nResult = VtStartWorker(&g_backgroundThreadID_Q210_220, backgroundThread_Q210_220, nullptr,
                            g_bInside_Background_Thread);
    if (nResult != 0) {
        VT_LOG(label, "<%ld>-pthread_create() failed, nResult=%d\n", nResult);
        return VTSPDART_THREAD_CREATE_FAILED;
    }
    VT_LOG(label, "<%ld>-create background thread OK, start sign on the device now...");
    return VTSPDART_SUCCESS;
}

int ShutdownUSBDevice_Q210_220()
{
    const char* label = "ShutdownUSBDevice_Q210_220()";
    g_bAbort_Q210_220 = 1;
    bool bReaderGone = true;
    if (g_device_handle_Q210_220) {
        // ends the reader's pending read, so that it sees the abort flag
        bReaderGone = VtReleaseAndWaitReader(g_device_handle_Q210_220, 0, g_bInside_Background_Thread);
        if (bReaderGone) {
            VT_LOG(label, "<%ld>-g_bInside_Background_Thread == false !");
            libusb_close(g_device_handle_Q210_220);
        } else {
            // Closing under a running reader would free what it reads with:
            // leave the handle and libusb to it.
            VT_LOG(label, "<%ld>-reader still inside after 1000 ms, handle left open !");
        }
        g_device_handle_Q210_220 = nullptr;
    }
    if (bReaderGone)
        VtUsbExit();
    return VTSPDART_SUCCESS;
}

// ---- commands -------------------------------------------------------------------------

int OpenDeviceLCD_Q210_220(bool bOn)
{
    return HidPadSendCommand(g_device_handle_Q210_220, bOn ? HID_CMD_SCREEN_ON : HID_CMD_SCREEN_OFF,
                             "OpenDeviceLCD_Q210_220()");
}

int ClearDeviceContent_Q210_220()
{
    return HidPadSendCommand(g_device_handle_Q210_220, HID_CMD_CLEAR, "ClearDeviceContent_Q210_220()");
}

int ShowVersionInfoOnDevice_Q210_220(bool bShow)
{
    return HidPadSendCommand(g_device_handle_Q210_220, bShow ? HID_CMD_VERSION_ON : HID_CMD_VERSION_OFF,
                             "ShowVersionInfoOnDevice_Q210_220()");
}

int SetDevicePenStyle_Q210_220(bool bWithPressureValue)
{
    return HidPadSendCommand(g_device_handle_Q210_220,
                             bWithPressureValue ? HID_CMD_PEN_PRESSURE : HID_CMD_PEN_NO_PRESSURE,
                             "SetDevicePenStyle_Q210_220()");
}

int GetDevicePenID_Q210_220(char* pPenID, int nMaxCount)
{
    return HidPadReadText(g_device_handle_Q210_220, 3, pPenID, nMaxCount, "GetDevicePenID_Q210_220()");
}

int GetDeviceSecureID_Q210_220(char* pSecureID, int nMaxCount)
{
    return HidPadReadText(g_device_handle_Q210_220, 4, pSecureID, nMaxCount, "GetDeviceSecureID_Q210_220()");
}

int GetDevicePartsVersion_Q210_220(char* pVersion, int nMaxCount)
{
    return HidPadReadText(g_device_handle_Q210_220, 5, pVersion, nMaxCount, "GetDevicePartsVersion_Q210_220()");
}

int GetDevicePadID_Q210_220(char* pPadID, int nMaxCount)
{
    return HidPadReadText(g_device_handle_Q210_220, 7, pPadID, nMaxCount, "GetDevicePadID_Q210_220()");
}
