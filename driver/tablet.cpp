// QT410/M420 tablet family: one implementation, the M420 differing only in
// the traits below. Pen and hot-key data arrive on interface 2's vendor
// endpoints once the tablet is switched into its self-defined modes.
#include "tablet.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#define INTERFACE_NUMBER 2

namespace {

const TabletTraits kTraitsQT410 = {
    .model = "QT410",
    .threadLogFile = VT_LOG_DIR "vtinkdrv_inthread_QT410.log",
    .bLogInputLengthOnEnter = true,
    .bStdPenModeAtShutdown = false,
    .clearProduct = "RUVU410",
    .penDecoderLabel = "DecodeSelfDefinedPenData()",
    .hotKeysDecoderLabel = "DecodeSelfDefinedHotKeysData()",
    .responseDecoderLabel = "DecodeResponseOfSelfDefinedEndpointCommands()",
};

const TabletTraits kTraitsM420 = {
    .model = "M420",
    .threadLogFile = VT_LOG_DIR "vtinkdrv_inthread_M420.log",
    .bLogInputLengthOnEnter = false,
    // The M420 is also used as a plain pen tablet: hand the pen back.
    .bStdPenModeAtShutdown = true,
    .clearProduct = "ROV420",
    .penDecoderLabel = "DecodeSelfDefinedPenData_M420()",
    .hotKeysDecoderLabel = "DecodeSelfDefinedHotKeysData_M420()",
    .responseDecoderLabel = "DecodeResponseOfSelfDefinedEndpointCommands_M420()",
};

void sleep_ms(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Copies at most nMaxCount - 1 bytes of a text and terminates it.
void copy_text(char* pDst, int nMaxCount, const char* pSrc)
{
    size_t n = strnlen(pSrc, (size_t)nMaxCount - 1);
    memcpy(pDst, pSrc, n);
    pDst[n] = 0;
}

}  // namespace

TabletFamily g_familyQT410(kTraitsQT410);
TabletFamily g_familyM420(kTraitsM420);

TabletFamily::TabletFamily(const TabletTraits& traits) : m_traits(traits), m_worker(traits.threadLogFile) {}

TabletFamily::Label TabletFamily::label(const char* fn) const
{
    Label l;
    snprintf(l.s, sizeof l.s, "%s_%s()", fn, m_traits.model);
    return l;
}

int TabletFamily::Connect()
{
    const Label L = label("IsUSBDeviceConnected");
    if (int nResult = VtUsbInit(L))
        return nResult;
    m_tc = TabletContext{};
    m_info = TabletDeviceInfo{};
    TabletDeviceContext dc{};
    if (!Search(&dc)) {
        VT_LOG(L, "<%ld>-SearchTablet_%s(&dc) Failed !", m_traits.model);
        return VTSPDART_TABLET_NOT_FOUND;
    }
    if (!Open(&dc)) {
        VT_LOG(L, "<%ld>-OpenTablet_%s(&dc) Failed !", m_traits.model);
        return VTSPDART_TABLET_OPEN_FAILED;
    }
    if (int nResult = m_worker.Start(L, [this](WorkerRun& run) { Reader(run); }, "<%ld>-pthread_create() failed, nResult=%d\n"))
        return nResult;
    VT_LOG(L, "<%ld>-create background thread OK...");
    return VTSPDART_SUCCESS;
}

namespace {

// A tablet's vendor interface: three interfaces, the third with one IN and
// one OUT endpoint. Fills pdc (ids, address, endpoints) when it is one.
bool TabletLayout(libusb_device* dev, TabletDeviceContext* pdc)
{
    libusb_device_descriptor desc;
    if (libusb_get_device_descriptor(dev, &desc) != 0 || desc.idVendor != TABLET_USB_VENDOR_ID)
        return false;
    libusb_config_descriptor* cfg = nullptr;
    if (libusb_get_config_descriptor(dev, 0, &cfg) != 0 || !cfg)
        return false;
    bool bFound = false;
    if (cfg->bNumInterfaces == 3 && cfg->interface[2].num_altsetting > 0 &&
        cfg->interface[2].altsetting[0].bNumEndpoints == 2) {
        TabletDeviceContext dc{};
        const libusb_interface_descriptor& alt = cfg->interface[2].altsetting[0];
        for (int e = 0; e < 2; ++e) {
            const libusb_endpoint_descriptor& ep = alt.endpoint[e];
            if (ep.bEndpointAddress & 0x80) {
                dc.EPInAddr = ep.bEndpointAddress;
                dc.InputLength = ep.wMaxPacketSize;
            } else {
                dc.EPOutAddr = ep.bEndpointAddress;
                dc.OutputLength = ep.wMaxPacketSize;
            }
        }
        // Two endpoints of one direction cannot carry commands and
        // reports both; such a device is not one of ours.
        if (dc.EPInAddr && dc.EPOutAddr && dc.InputLength > 0) {
            dc.VID = desc.idVendor;
            dc.PID = desc.idProduct;
            dc.BusAddr = (uint16_t)(libusb_get_bus_number(dev) << 8 | libusb_get_device_address(dev));
            *pdc = dc;
            bFound = true;
        }
    }
    libusb_free_config_descriptor(cfg);
    return bFound;
}

}  // namespace

bool TabletFamily::PadAttached(libusb_device* const* ppDevices, long n) const
{
    TabletDeviceContext dc{};
    for (long i = 0; i < n; ++i)
        if (TabletLayout(ppDevices[i], &dc))
            return true;
    return false;
}

bool TabletFamily::Search(TabletDeviceContext* pdc)
{
    const Label L = label("SearchTablet");
    libusb_device** devs = nullptr;
    ssize_t cnt = libusb_get_device_list(nullptr, &devs);
    if (cnt <= 0) {
        VT_LOG(L, "<%ld>-libusb_get_device_list(NULL, &devs), Failed !");
        if (devs)
            libusb_free_device_list(devs, 1);
        return false;
    }
    bool bFound = false;
    for (ssize_t i = 0; i < cnt && !bFound; ++i) {
        TabletDeviceContext dc{};
        if (!TabletLayout(devs[i], &dc))
            continue;
        *pdc = dc;
        bFound = true;
        VT_LOG(L, "<%ld>-pdc->EPInAddr=%x, InputLength=%d, EPOutAddr=%x, OutputLength=%d, VID=%x, PID=%x",
               dc.EPInAddr, dc.InputLength, dc.EPOutAddr, dc.OutputLength, dc.VID, dc.PID);
    }
    libusb_free_device_list(devs, 1);
    VT_LOG(L, "<%ld>-Leave with result=%d", (int)bFound);
    return bFound;
}

bool TabletFamily::Open(TabletDeviceContext* pdc)
{
    const Label L = label("OpenTablet");
    libusb_device** devs = nullptr;
    ssize_t cnt = libusb_get_device_list(nullptr, &devs);
    libusb_device* dev = nullptr;
    for (ssize_t i = 0; i < cnt && !dev; ++i) {
        libusb_device_descriptor desc;
        if (libusb_get_device_descriptor(devs[i], &desc) != 0)
            continue;
        uint16_t busAddr = (uint16_t)(libusb_get_bus_number(devs[i]) << 8 | libusb_get_device_address(devs[i]));
        if (desc.idVendor == pdc->VID && desc.idProduct == pdc->PID && busAddr == pdc->BusAddr)
            dev = devs[i];
    }
    auto fail = [&](libusb_device_handle* h) {
        if (h)
            libusb_close(h);
        if (devs)
            libusb_free_device_list(devs, 1);
        return false;
    };
    if (!dev) {
        VT_LOG(L, "<%ld>-(dev == NULL), Failed !");
        return fail(nullptr);
    }
    libusb_device_handle* handle = nullptr;
    if (libusb_open(dev, &handle) != 0 || !handle)
        return fail(nullptr);
    VT_LOG(L, "<%ld>-libusb_open(dev, &handle), OK...");

    const int itfnum = INTERFACE_NUMBER;
    if (libusb_kernel_driver_active(handle, itfnum) == 1) {
        VT_LOG(L, "<%ld>-(libusb_kernel_driver_active(handle, itfnum) == 1)...");
        int ret = libusb_detach_kernel_driver(handle, itfnum);
        if (ret != 0)
            VT_LOG(L, "<%ld>-libusb_detach_kernel_driver() failed, ret=%d, err=%s", ret, libusb_error_name(ret));
    }
    if (libusb_claim_interface(handle, INTERFACE_NUMBER) != 0) {
        VT_LOG(L, "<%ld>-libusb_claim_interface(), Failed !");
        return fail(handle);
    }
    m_worker.Adopt(handle);
    m_dc = *pdc;

    TabletContext tc{};
    if (!ReadTabletContext(&tc)) {
        VT_LOG(L, "<%ld>-ReadTabletContext_%s(&tc), Failed !", m_traits.model);
        libusb_release_interface(handle, INTERFACE_NUMBER);
        m_worker.Close(L);  // no reader runs yet
        return fail(nullptr);
    }
    bool bRet = ChangePenMode(TABLET_PEN_MODE_CUSTOM_QT410);
    VT_LOG(L, "<%ld>-after call ChangePenMode_%s(TABLET_PEN_MODE_CUSTOM_QT410), bRet=%d", m_traits.model, (int)bRet);
    sleep_ms(20);
    bRet = ChangeKeyMode();
    VT_LOG(L, "<%ld>-after call ChangeKeyMode_%s(), bRet=%d", m_traits.model, (int)bRet);
    sleep_ms(20);
    m_tc = tc;
    libusb_free_device_list(devs, 1);
    return true;
}

int TabletFamily::GetIndexString(uint8_t index, uint8_t* pBuffer, int nSize, bool bRaw)
{
    libusb_device_handle* h = m_worker.Handle();
    if (!h)
        return LIBUSB_ERROR_NO_DEVICE;
    memset(pBuffer, 0, (size_t)nSize);
    if (!bRaw)
        return libusb_get_string_descriptor_ascii(h, index, pBuffer, nSize);
    int r = libusb_control_transfer(h, 0x80, 0x06, (uint16_t)(0x0300 + index), 0x0409, pBuffer, (uint16_t)nSize, 1000);
    if (r < 0)
        return r;
    int n = r >= 2 ? r - 2 : 0;
    memmove(pBuffer, pBuffer + 2, (size_t)n);
    memset(pBuffer + n, 0, (size_t)(nSize - n));
    return n;
}

bool TabletFamily::ReadTabletContext(TabletContext* ptc)
{
    const Label L = label("ReadTabletContext");
    uint8_t buf[32];
    int xybytes = 2;
    int ret = GetIndexString(TABLET_INDEX_STRING_XYBYTES, buf, 32, true);
    if (ret >= 3 && buf[2] != 0)
        xybytes = 3;

    sleep_ms(30);
    uint8_t product[sizeof ptc->cProduct] = {};
    ret = GetIndexString(TABLET_INDEX_STRING_PRODUCT_QT410, product, 32, false);
    if (ret < 0) {
        VT_LOG(L, "<%ld>-GetIndexString_%s(TABLET_INDEX_STRING_PRODUCT_QT410, product, 32, false) Failed, ret=%d, err=%s",
               m_traits.model, ret, libusb_error_name(ret));
        return false;
    }
    product[ret < 32 ? ret : 31] = 0;
    copy_text(ptc->cProduct, sizeof ptc->cProduct, (const char*)product);
    copy_text(m_info.cProduct, sizeof m_info.cProduct, (const char*)product);
    VT_LOG(L, "<%ld>-ptc->cProduct=%s, xybytes=%d", ptc->cProduct, xybytes);

    sleep_ms(30);
    uint8_t fw[32];
    ret = GetIndexString(TABLET_INDEX_STRING_FIRMWARE_VERSION_QT410, fw, 32, true);
    if (ret < 0) {
        VT_LOG(L, "<%ld>-GetIndexString_%s(TABLET_INDEX_STRING_FIRMWARE_VERSION_QT410, firmwareVersion, 32, true) Failed, ret=%d, err=%s",
               m_traits.model, ret, libusb_error_name(ret));
        return false;
    }
    m_info.nFirmwareMajorVersion = fw[3];
    m_info.nFirmwareMinorVersion = fw[2];
    m_info.nFirmwareRevision1 = fw[1];
    m_info.nFirmwareRevision2 = fw[0];
    if (g_bEnableLog) {
        char fmVer[32 * 5 + 1] = {};
        for (int i = 0; i < ret; ++i)
            snprintf(fmVer + 5 * i, 6, "0x%02x ", fw[i]);
        VT_LOG(L, "<%ld>-fmVer=%s", fmVer);
        VT_LOG(L, "<%ld>-g_DeviceInfo_%s.nFirmwareMajorVersion=%d, nFirmwareMinorVersion=%d, nFirmwareRevision1=%d, nFirmwareRevision2=%d",
               m_traits.model, m_info.nFirmwareMajorVersion, m_info.nFirmwareMinorVersion, m_info.nFirmwareRevision1,
               m_info.nFirmwareRevision2);
    }

    sleep_ms(30);
    uint8_t date[32];
    ret = GetIndexString(TABLET_INDEX_STRING_FIRMWARE_RELEASE_DATE_QT410, date, 32, true);
    if (ret < 0) {
        VT_LOG(L, "<%ld>-GetIndexString_%s(TABLET_INDEX_STRING_FIRMWARE_RELEASE_DATE_QT410, firmwareReleaseDate, 32, true) Failed, ret=%d, err=%s",
               m_traits.model, ret, libusb_error_name(ret));
        return false;
    }
    m_info.nFirmwareReleaseYear = ParseTabletReleaseYear(date, ret);
    if (g_bEnableLog) {
        char text[17] = {};
        for (int i = 0; i < ret / 2 && i < 16; ++i)
            text[i] = (char)date[2 * i];
        VT_LOG(L, "<%ld>-fwRleaseDate=%s, nFirmwareReleaseYear=%d", text, m_info.nFirmwareReleaseYear);
    }

    sleep_ms(30);
    uint8_t sn[32];
    ret = GetIndexString(TABLET_INDEX_STRING_SN_QT410, sn, 32, true);
    if (ret < 0)
        return false;
    FormatTabletSerialNumber(sn, ret, m_info.nFirmwareReleaseYear, ptc->cSerialNumber);
    copy_text(m_info.cSerialNumber, sizeof m_info.cSerialNumber, ptc->cSerialNumber);
    if (m_info.nFirmwareReleaseYear < 2024)
        VT_LOG(L, "<%ld>-g_DeviceInfo_%s.cSerialNumber=%s (Old format due to firmware release year < 2024)", m_traits.model,
               m_info.cSerialNumber);
    else
        VT_LOG(L, "<%ld>-g_DeviceInfo_%s.cSerialNumber=%s (New format due to firmware release year >= 2024)", m_traits.model,
               m_info.cSerialNumber);

    sleep_ms(30);
    uint8_t capacity[32];
    ret = GetIndexString(TABLET_INDEX_STRING_CAPACITY_QT410, capacity, 32, true);
    TabletCapacity cap{};
    if (ret < 0 || !ParseTabletCapacity(capacity, ret, xybytes, &cap)) {
        VT_LOG(L, "<%ld>-GetIndexString_%s(TABLET_INDEX_STRING_CAPACITY_QT410, capacity, 32, true) Failed, ret=%d, err=%s",
               m_traits.model, ret, ret < 0 ? libusb_error_name(ret) : "capacity record too short");
        return false;
    }
    ptc->MaxLogicX = cap.MaxLogicX;
    ptc->MaxLogicY = cap.MaxLogicY;
    ptc->MaxPressure = cap.MaxPressure;
    m_info.MaxLogicX = cap.MaxLogicX;
    m_info.MaxLogicY = cap.MaxLogicY;
    m_info.MaxPressure = cap.MaxPressure;
    m_info.lpi = cap.lpi;
    VT_LOG(L, "<%ld>-ptc->MaxLogicX=%d, MaxLogicY=%d, MaxPressure=%d, lpi=%d", ptc->MaxLogicX, ptc->MaxLogicY,
           ptc->MaxPressure, cap.lpi);
    return true;
}

int TabletFamily::ReadBytes(WorkerRun& run, uint8_t* pBuffer, int nLength, unsigned int nTimeoutMs)
{
    if (!m_dc.EPInAddr || !m_dc.EPOutAddr)
        return -4;
    if (nLength > m_dc.InputLength)
        nLength = m_dc.InputLength;
    int transferred = 0;
    int r = run.Read(m_dc.EPInAddr, pBuffer, nLength, nTimeoutMs, &transferred);
    return r < 0 ? r : transferred;
}

int TabletFamily::WriteBytes(const uint8_t* pBuffer, int nLength, unsigned int nTimeoutMs)
{
    libusb_device_handle* h = m_worker.Handle();
    if (!h || !m_dc.EPInAddr || !m_dc.EPOutAddr)
        return -4;
    if (nLength > m_dc.OutputLength)
        nLength = m_dc.OutputLength;
    uint8_t out[64];
    std::vector<uint8_t> big;
    uint8_t* p = out;
    if (nLength > (int)sizeof out) {
        big.resize((size_t)nLength);
        p = big.data();
    }
    memcpy(p, pBuffer, (size_t)nLength);
    int transferred = 0;
    int r = libusb_interrupt_transfer(h, m_dc.EPOutAddr, p, nLength, &transferred, nTimeoutMs);
    if (r < 0)
        return r;
    return transferred == nLength ? nLength : 0;
}

bool TabletFamily::SendCommand(uint8_t b1, uint8_t b2)
{
    const uint8_t cmd[8] = {0x09, b1, b2, 0, 0, 0, 0, 0};
    return WriteBytes(cmd, 8, 100) == 8;
}

bool TabletFamily::ClearTabletSurface()
{
    const Label L = label("ClearTabletSurface");
    if (strcmp(m_tc.cProduct, m_traits.clearProduct) != 0) {
        VT_LOG(L, "<%ld>-strcmp(g_TabCtx_%s.cProduct, c%s) != 0, leave now !", m_traits.model, m_traits.clearProduct);
        return false;
    }
    VT_LOG(L, "<%ld>-strcmp(b4 call WriteBytes_%s()...", m_traits.model);
    return SendCommand(0x0F, 0x01);
}

int TabletFamily::Command(VtPadCommand cmd, bool)
{
    if (cmd != VT_CMD_CLEAR)
        return VTSPDART_NOT_AVAILABLE;
    ClearTabletSurface();
    return VTSPDART_SUCCESS;  // also when nothing was sent
}

int TabletFamily::GetText(VtPadText text, char* pText, int nMaxCount)
{
    const char* pSrc = text == VT_TEXT_PAD_ID ? m_info.cSerialNumber
                       : text == VT_TEXT_PARTS_VERSION ? m_info.cProduct
                                                      : nullptr;
    if (!pSrc || !m_worker.Handle())
        return VTSPDART_NOT_AVAILABLE;
    copy_text(pText, nMaxCount, pSrc);
    return VTSPDART_SUCCESS;
}

void TabletFamily::Reader(WorkerRun& run)
{
    char L[64];
    snprintf(L, sizeof L, "backgroundThread_%s()", m_traits.model);
    VtLogWriter& log = m_worker.Log();
    std::vector<uint8_t> buf(m_dc.InputLength ? m_dc.InputLength : 1);
    unsigned char bPenUp = 1;
    if (m_traits.bLogInputLengthOnEnter)
        VT_LOG_TO(log, L, "<%ld>-Enter, g_DevCtx_%s.InputLength=%d", m_traits.model, m_dc.InputLength);
    else
        VT_LOG_TO(log, L, "<%ld>-Enter...");
    while (!run.Aborted()) {
        int n = ReadBytes(run, buf.data(), (int)buf.size(), 100);
        if (n == LIBUSB_ERROR_TIMEOUT) {
            if (run.Aborted()) {
                VT_LOG_TO(log, L, "<%ld>-ReadBytes_%s() TIME OUT and Abort, break out the while() loop !",
                          m_traits.model);
                break;
            }
            continue;
        }
        if (n < 0) {
            // Also ends the reader on an unplug (no device): nothing to spin on.
            VT_LOG_TO(log, L, "<%ld>-ReadBytes_%s() failed, nResult=%d, err=%s, break out the while() loop !",
                      m_traits.model, n, libusb_error_name(n));
            break;
        }
        m_ackMask |= DecodeTabletReport(m_traits, buf.data(), n, &bPenUp, VtPenSink{VtPenCallback(), log});
    }
    VT_LOG_TO(log, L, "<%ld>-Leave !");
}

int TabletFamily::Shutdown()
{
    const Label L = label("ShutdownUSBDevice");
    libusb_device_handle* h = m_worker.Handle();
    if (h) {
        VT_LOG(L, "<%ld>-start wait leave sign background thread...");
        // The reader notices the abort flag within its 100 ms read timeout.
        char gone[96];
        snprintf(gone, sizeof gone, "<%%ld>-g_bInside_Background_Thread_%s == false !", m_traits.model);
        m_worker.Stop(L, gone);
        VT_LOG(L, "<%ld>-End wait leave sign background thread...");
        if (m_traits.bStdPenModeAtShutdown) {
            bool bRet = ChangePenMode(TABLET_PEN_MODE_STD_M420);
            VT_LOG(L, "<%ld>-after call ChangePenMode_%s(TABLET_PEN_MODE_STD_M420), bRet=%d", m_traits.model, (int)bRet);
        }
        VT_LOG(L, "<%ld>-B4 call libusb_release_interface(g_DevCtx_%s.Handle, INTERFACE_NUMBER)...", m_traits.model);
        libusb_release_interface(h, INTERFACE_NUMBER);
        VT_LOG(L, "<%ld>-after call libusb_release_interface(g_DevCtx_%s.Handle, INTERFACE_NUMBER)...", m_traits.model);
    }
    const bool bClosed = m_worker.Close(L);
    if (h && bClosed)
        VT_LOG(L, "<%ld>-after call libusb_close(g_DevCtx_%s.Handle)...", m_traits.model);
    if (bClosed)
        VtUsbExit();
    return VTSPDART_SUCCESS;
}

// ---- decoding ---------------------------------------------------------------------

namespace {

void DecodePen(const TabletTraits& t, const uint8_t* p, int n, unsigned char* pbPenUp, const VtPenSink& sink)
{
    const char* L = t.penDecoderLabel;
    if (n < 9) {
        VT_LOG_TO(sink.log, L, "<%ld>-Leave due to nDataSize < 9 !");
        return;
    }
    int x = p[3] | p[4] << 8;
    int y = p[5] | p[6] << 8;
    int pr = p[7] | p[8] << 8;
    int type;
    if (p[2] == 0xA1) {
        if (*pbPenUp) {
            *pbPenUp = 0;
            type = HWET_PEN_DOWN;
            VT_LOG_TO(sink.log, L, "<%ld>-(x, y, p) = (%d, %d, %d) - pen down !", x, y, pr);
        } else {
            type = HWET_PEN_MOVE;
            VT_LOG_TO(sink.log, L, "<%ld>-(x, y, p) = (%d, %d, %d) - pen move !", x, y, pr);
        }
    } else if (p[2] == 0xA0) {
        type = HWET_PEN_UP;
        VT_LOG_TO(sink.log, L, "<%ld>-(x, y, p) = (%d, %d, %d) - pen up !", x, y, pr);
    } else {
        return;
    }
    sink.Send(x, y, pr, type);
}

void DecodeHotKeys(const TabletTraits& t, const uint8_t* p, int n, const VtPenSink& sink)
{
    const char* L = t.hotKeysDecoderLabel;
    if (n < 5) {
        VT_LOG_TO(sink.log, L, "<%ld>-Leave due to nDataSize < 5 !");
        return;
    }
    if (p[4] != 1 && p[4] != 2) {
        VT_LOG_TO(sink.log, L, "<%ld>-[Unknown] HotKey !");
        return;
    }
    if (p[2] != 1)
        return;
    const bool bCancel = p[4] == 1;
    if (p[3] == 1) {
        VT_LOG_TO(sink.log, L, bCancel ? "<%ld>-[Cancel] HotKey : down..." : "<%ld>-[Confirm] HotKey : down...");
    } else if (p[3] == 0) {
        VT_LOG_TO(sink.log, L, bCancel ? "<%ld>-[Cancel] HotKey : up !" : "<%ld>-[Confirm] HotKey : up !");
        sink.Send(0, 0, 0, bCancel ? HWET_CANCEL_KEY : HWET_CONFIRM_KEY);
    }
}

uint32_t DecodeResponse(const TabletTraits& t, const uint8_t* p, int n, VtLogWriter& log)
{
    const char* L = t.responseDecoderLabel;
    if (n < 3) {
        VT_LOG_TO(log, L, "<%ld>-Leave due to nDataSize < 3 !");
        return 0;
    }
    static const struct {
        uint8_t command, flag;
        uint32_t bit;
        const char* text;
    } kAcks[] = {
        {0x81, 0x01, TABLET_ACK_STD_MOUSE, "standard mouse..."},
        {0x81, 0x02, TABLET_ACK_STD_PEN, "standard digit-pen/digit-tablet..."},
        {0x81, 0x04, TABLET_ACK_CUSTOM_PEN, "self-defined pen data..."},
        {0x82, 0x01, TABLET_ACK_STD_HOTKEYS, "standard hotkeys..."},
        {0x82, 0x02, TABLET_ACK_CUSTOM_HOTKEYS, "self-defined hotkeys..."},
        {0x8F, 0x01, TABLET_ACK_CLEAR, "clear signpad inking data..."},
    };
    uint32_t bits = 0;
    for (const auto& a : kAcks) {
        if (p[1] == a.command && (p[2] & a.flag)) {
            VT_LOG_TO(log, L, "<%ld>-response for setting self-defined endpoint command: %s", a.text);
            bits |= a.bit;
        }
    }
    return bits;
}

}  // namespace

uint32_t DecodeTabletReport(const TabletTraits& t, const uint8_t* p, int n, unsigned char* pbPenUp,
                            const VtPenSink& sink)
{
    if (n < 2 || p[0] != 0x09)
        return 0;
    if (p[1] & 0x80)
        return DecodeResponse(t, p, n, sink.log);
    if (p[1] == 0x41) {
        if (n < 3 || p[2] == 0xA1) {
            DecodePen(t, p, n, pbPenUp, sink);  // a short one is dropped with its log line
        } else if (p[2] == 0xA0 && *pbPenUp == 0) {
            DecodePen(t, p, n, pbPenUp, sink);
            *pbPenUp = 1;
        }
    } else if (p[1] == 0x42) {
        DecodeHotKeys(t, p, n, sink);
    }
    return 0;
}

// ---- records ----------------------------------------------------------------------

bool ParseTabletCapacity(const uint8_t* p, int n, int w, TabletCapacity* pOut)
{
    if (n <= 9 || (w != 2 && w != 3))
        return false;
    // Only the low 16 bits of a 3-byte coordinate count.
    pOut->MaxLogicX = (uint16_t)(p[0] | p[1] << 8);
    pOut->MaxLogicY = (uint16_t)(p[w] | p[w + 1] << 8);
    pOut->MaxPressure = (uint16_t)(p[2 * w] | p[2 * w + 1] << 8);
    pOut->lpi = (uint16_t)(p[2 * w + 2] | p[2 * w + 3] << 8);
    return true;
}

void FormatTabletSerialNumber(const uint8_t* p, int n, uint32_t nReleaseYear, char (&out)[12])
{
    memset(out, 0, sizeof out);
    const int units = n / 2;
    int k = 0;
    if (nReleaseYear < 2024) {
        // Packed BCD, high nibble first; nibbles above 9 come out as ':' to '?'.
        for (int i = 0; i < units && i < 5; ++i) {
            out[k++] = (char)('0' + (p[2 * i] >> 4));
            out[k++] = (char)('0' + (p[2 * i] & 0x0F));
        }
    } else if (n > 5) {
        for (int i = 0; i < units && k < 10 && p[2 * i] != 0; ++i)
            out[k++] = (char)p[2 * i];
    }
}

uint32_t ParseTabletReleaseYear(const uint8_t* p, int n)
{
    char year[5] = {};
    for (int i = 0; i < 4 && 2 * i < n; ++i)
        year[i] = (char)p[2 * i];
    return (uint32_t)strtoul(year, nullptr, 10);
}

