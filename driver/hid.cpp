// HID pen devices: control and identification requests, the pen reader and
// report decoding; and the Q210/Q220 pad's connect and shutdown.
#include "hid.h"

#include <unistd.h>

namespace {

const uint8_t kPenEndpointIn = 0x81;

// The pad's commands, in VtPadCommand order: byte 1 of the SET_REPORT 2 data,
// for bOn true and false.
const struct HidCommand {
    const char* name;
    uint8_t on, off;
} kHidCommands[VT_CMD_COUNT] = {
    {.name = "OpenDeviceLCD", .on = 0x00, .off = 0x40},
    {.name = "ClearDeviceContent", .on = 0x80, .off = 0x80},  // clear has no "off"
    {.name = "ShowVersionInfoOnDevice", .on = 0x20, .off = 0x00},
    {.name = "SetDevicePenStyle", .on = 0x00, .off = 0x04},  // on: reports with pressure
};

// The identification texts, in VtPadText order: GET_REPORT feature reports.
const struct HidText {
    const char* name;
    uint8_t reportId;
    uint16_t nAsk;      // bytes asked for
    bool bLengthFirst;  // byte 0 is the text's length, else the reply is the text
} kHidTexts[VT_TEXT_COUNT] = {
    {.name = "GetDevicePenID", .reportId = 3, .nAsk = 33, .bLengthFirst = true},
    {.name = "GetDevicePadID", .reportId = 7, .nAsk = 11, .bLengthFirst = false},
    {.name = "GetDeviceSecureID", .reportId = 4, .nAsk = 33, .bLengthFirst = true},
    {.name = "GetDevicePartsVersion", .reportId = 5, .nAsk = 9, .bLengthFirst = false},
};

std::string LabelOf(const char* name, const char* suffix)
{
    return std::string(name) + "_" + suffix + "()";
}

const HidPenTraits kTraitsQ210_220 = {
    .suffix = "Q210_220",
    .threadLogFile = VT_LOG_DIR "vtinkdrv_inthread_Q210_220.log",
    .report = {.nSize = 11, .nMaskOffset = 9, .bStateWord = true, .bLogEventType = false,
               .label = "DecodeHIDRawPacket_Q210_220()"},
    .bLogEveryRead = false,
    .claimFailText = "<%ld>-libusb_claim_interface() failed, nResult=%d, err=%s\n",
    .startFailText = "<%ld>-pthread_create() failed, nResult=%d\n",
};

}  // namespace

HidPadFamily g_familyQ210_220;

// ---- decoding ---------------------------------------------------------------------

void DecodeHidReport(const HidReportFormat& f, const uint8_t* pReport, int nLength, unsigned char* pbPenUp,
                     const VtPenSink& sink)
{
    uint8_t plain[32];
    if (nLength < f.nSize || f.nSize > (int)sizeof plain)
        return;
    const uint8_t mask = pReport[f.nMaskOffset];
    plain[0] = pReport[0];
    for (int i = 1; i < f.nSize; ++i)
        plain[i] = pReport[i] ^ mask;
    const int x = plain[1] | plain[2] << 8;
    const int y = plain[3] | plain[4] << 8;
    const int p = plain[5] | plain[6] << 8;
    const int nState = f.bStateWord ? plain[7] | plain[8] << 8 : plain[7];
    if (f.bLogEventType)
        VT_LOG_TO(sink.log, f.label, "<%ld>-nHWEventType=%d...", nState);
    int nEvent;
    switch (nState) {
    case 0:
        nEvent = *pbPenUp ? HWET_PEN_DOWN : HWET_PEN_MOVE;
        VT_LOG_TO(sink.log, f.label, *pbPenUp ? "<%ld>-Pen-Down, x=%d, y=%d, p=%d" : "<%ld>-Pen-Move, x=%d, y=%d, p=%d",
                  x, y, p);
        break;
    case 1:
        nEvent = HWET_CANCEL_KEY;
        VT_LOG_TO(sink.log, f.label, "<%ld>-Cancel, x=%d, y=%d, p=%d", x, y, p);
        break;
    case 2:
        nEvent = HWET_CONFIRM_KEY;
        VT_LOG_TO(sink.log, f.label, "<%ld>-Enter, x=%d, y=%d, p=%d", x, y, p);
        break;
    case 3:
        if (*pbPenUp)
            return;  // already up
        nEvent = HWET_PEN_UP;
        VT_LOG_TO(sink.log, f.label, "<%ld>-Pen-Up, x=%d, y=%d, p=%d", x, y, p);
        break;
    default:
        return;
    }
    // Keys count as contact: the lift after a key ends it with a pen-up.
    *pbPenUp = nState == 3;
    sink.Send(x, y, p, nEvent);
}

// ---- requests ----------------------------------------------------------------------

HidPenFamily::HidPenFamily(const HidPenTraits& traits) : m_traits(traits), m_pen(traits.threadLogFile)
{
    for (int i = 0; i < VT_CMD_COUNT; ++i)
        m_commandLabels[i] = LabelOf(kHidCommands[i].name, traits.suffix);
    for (int i = 0; i < VT_TEXT_COUNT; ++i)
        m_textLabels[i] = LabelOf(kHidTexts[i].name, traits.suffix);
    m_readerLabel = LabelOf("backgroundThread", traits.suffix);
}

int HidPenFamily::Command(VtPadCommand cmd, bool bOn)
{
    libusb_device_handle* h = m_pen.Handle();
    if (!h)
        return VTSPDART_NOT_AVAILABLE;
    unsigned char ucCmd[9] = {0x02, bOn ? kHidCommands[cmd].on : kHidCommands[cmd].off};
    int nSentBytes = libusb_control_transfer(h, 0x21, 0x09, 0x0302, 0, ucCmd, sizeof ucCmd, 0);
    const char* label = m_commandLabels[cmd].c_str();
    VT_LOG(label, "<%ld>-after call libusb_control_transfer(), nSentBytes=%d, Cmd[0]=0x%02x, Cmd[1]=0x%02x",
           nSentBytes, ucCmd[0], ucCmd[1]);
    if (nSentBytes < 0) {
        VT_LOG(label, "<%ld>-libusb_control_transfer() failed !");
        return VTSPDART_CONTROL_TRANSFER_FAILED;
    }
    return VTSPDART_SUCCESS;  // a short transfer counts as sent
}

int HidPenFamily::GetText(VtPadText text, char* pText, int nMaxCount)
{
    libusb_device_handle* h = m_pen.Handle();
    if (!h)
        return VTSPDART_NOT_AVAILABLE;
    const HidText& t = kHidTexts[text];
    const char* label = m_textLabels[text].c_str();
    unsigned char ucReply[33] = {};
    int nRxBytes = libusb_control_transfer(h, 0xA1, 0x01, (uint16_t)(0x0300 + t.reportId), 0, ucReply, t.nAsk, 0);
    if (nRxBytes < 0) {
        VT_LOG(label, "<%ld>-libusb_control_transfer() failed !");
        return VTSPDART_CONTROL_TRANSFER_FAILED;
    }
    const unsigned char* pSrc = ucReply;
    int nAvail = nRxBytes;
    unsigned long ulSize = 0;
    if (t.bLengthFirst) {
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
    if (t.bLengthFirst)
        VT_LOG(label, "<%ld>-after call libusb_control_transfer(), nRxBytes=%d, ulSize=%lu", nRxBytes, ulSize);
    else
        VT_LOG(label, "<%ld>-after call libusb_control_transfer(), nRxBytes=%d", nRxBytes);
    return VTSPDART_SUCCESS;
}

// ---- pen reader -----------------------------------------------------------------------

int HidPenFamily::StartPen(const char* label)
{
    if (int nResult = m_pen.Claim(label, 0, m_traits.claimFailText))
        return nResult;
    return m_pen.Start(label, [this](WorkerRun& run) { PenReader(run); }, m_traits.startFailText);
}

void HidPenFamily::HandleReport(const uint8_t* pReport, int nLength, unsigned char* pbPenUp)
{
    DecodeHidReport(m_traits.report, pReport, nLength, pbPenUp, VtPenSink{VtPenCallback(), m_pen.Log()});
}

void HidPenFamily::PenReader(WorkerRun& run)
{
    const char* label = m_readerLabel.c_str();
    VtLogWriter& log = m_pen.Log();
    const int nSize = m_traits.report.nSize;
    unsigned char bPenUp = 1;
    VT_LOG_TO(log, label, "<%ld>-Enter...");
    int nErrorsInRow = 0;
    while (!run.Aborted()) {
        uint8_t ucRawData[32];
        int nReadBytes = 0;
        int nResult = run.Read(kPenEndpointIn, ucRawData, nSize, 0, &nReadBytes);
        if (m_traits.bLogEveryRead)
            VT_LOG_TO(log, label, "<%ld>-after call libusb_interrupt_transfer(...ucRawData...), nResult=%d, nReadBytes=%d",
                      nResult, nReadBytes);
        if (nResult < 0) {
            VT_LOG_TO(log, label, "<%ld>-libusb_interrupt_transfer() failed, nResult=%d, err=%s", nResult,
                      libusb_error_name(nResult));
            // An unplugged pad answers every read at once: stop reading; pen
            // input comes back with the next connect.
            if (run.PadGone())
                break;
            // Anything else persisting (a stuck endpoint) must not spin a core.
            if (++nErrorsInRow > 3)
                usleep(10000);
            continue;
        }
        nErrorsInRow = 0;
        if (nReadBytes == nSize)
            HandleReport(ucRawData, nReadBytes, &bPenUp);
        else
            VT_LOG_TO(log, label, "<%ld>-Rx Invalid Sign Packet ! (nReadBytes == %d)", nReadBytes);
    }
    VT_LOG_TO(log, label, "<%ld>-Leave !");
}

// ---- the Q210/Q220 pad ----------------------------------------------------------------

HidPadFamily::HidPadFamily() : HidPenFamily(kTraitsQ210_220) {}

int HidPadFamily::Connect()
{
    const char* label = "IsUSBDeviceConnected_Q210_220()";
    if (int nResult = VtUsbInit(label))
        return nResult;
    // The Q230G's pen device has our product id: with one attached, this is not our pad.
    if (libusb_device_handle* fp = libusb_open_device_with_vid_pid(nullptr, PAD_USB_VENDOR_ID, FP_READER_PRODUCT_ID)) {
        libusb_close(fp);
        VT_LOG(label, "<%ld>-libusb_open_device_with_vid_pid() Found Q230G but not found Q210/Q220 DIVuziDad device !");
        return VTSPDART_DEVICE_NOT_FOUND;
    }
    if (!m_pen.Open(PAD_USB_VENDOR_ID, SIGN_PAD_PRODUCT_ID)) {
        VT_LOG(label, "<%ld>-libusb_open_device_with_vid_pid() failed or not found Q210/Q220 DIVuziDad device !");
        return VTSPDART_DEVICE_NOT_FOUND;
    }
    VT_LOG(label, "<%ld>-libusb_open_device_with_vid_pid() found Q210/Q220 DIVuziDad device !");
    if (int nResult = StartPen(label))
        return nResult;
    VT_LOG(label, "<%ld>-create background thread OK, start sign on the device now...");
    return VTSPDART_SUCCESS;
}

bool HidPadFamily::PadAttached(libusb_device* const* ppDevices, long n) const
{
    // As the connect: our pen device, and no Q230G (whose pen device has our id).
    return VtUsbDeviceListed(ppDevices, n, PAD_USB_VENDOR_ID, SIGN_PAD_PRODUCT_ID) &&
           !VtUsbDeviceListed(ppDevices, n, PAD_USB_VENDOR_ID, FP_READER_PRODUCT_ID);
}

int HidPadFamily::Shutdown()
{
    const char* label = "ShutdownUSBDevice_Q210_220()";
    // Releasing interface 0 ends the reader's pending read, so that it sees the abort flag.
    m_pen.Stop(label, "<%ld>-g_bInside_Background_Thread == false !", 0);
    if (m_pen.Close(label))
        VtUsbExit();
    return VTSPDART_SUCCESS;
}
