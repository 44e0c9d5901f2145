// QT410/M420 tablet family: records, per-model traits, the family, and the
// pure helpers (reports, capacity record, serial-number formats).
#pragma once

#include "families.h"
#include "usbworker.h"

#include <atomic>
#include <cstdint>

#define TABLET_INDEX_STRING_PRODUCT_QT410 2
#define TABLET_INDEX_STRING_SN_QT410 3
#define TABLET_INDEX_STRING_CAPACITY_QT410 20
#define TABLET_INDEX_STRING_FIRMWARE_VERSION_QT410 21
#define TABLET_INDEX_STRING_XYBYTES 22
#define TABLET_INDEX_STRING_FIRMWARE_RELEASE_DATE_QT410 23

#define TABLET_PEN_MODE_CUSTOM_QT410 4
#define TABLET_PEN_MODE_STD_M420 1

struct TabletDeviceContext {
    uint16_t VID;
    uint16_t PID;
    uint16_t BusAddr;  // bus number << 8 | device address
    uint8_t EPInAddr;
    uint8_t EPOutAddr;
    uint16_t InputLength;
    uint16_t OutputLength;
};

struct TabletContext {
    uint16_t MaxLogicX;
    uint16_t MaxLogicY;
    uint16_t MaxPressure;
    char cProduct[100];
    char cSerialNumber[12];
};

struct TabletDeviceInfo {
    uint32_t MaxLogicX;
    uint32_t MaxLogicY;
    uint32_t MaxPressure;
    uint32_t lpi;
    char cProduct[100];
    char cSerialNumber[11];
    uint32_t nFirmwareMajorVersion;
    uint32_t nFirmwareMinorVersion;
    uint32_t nFirmwareRevision1;
    uint32_t nFirmwareRevision2;
    uint32_t nFirmwareReleaseYear;
};

// Everything that differs between the QT410 and the M420 code paths.
struct TabletTraits {
    const char* model;           // suffix of names in log labels and texts
    const char* threadLogFile;
    bool bLogInputLengthOnEnter; // reader's first line names the IN length
    bool bStdPenModeAtShutdown;  // give the pen back to the standard driver
    const char* clearProduct;    // clear goes out only to this product
    // the decoders' log labels (the QT410's carry no model suffix)
    const char* penDecoderLabel;
    const char* hotKeysDecoderLabel;
    const char* responseDecoderLabel;
};

// Acknowledgement flags of the vendor commands, as bits of the mask.
enum : uint32_t {
    TABLET_ACK_STD_MOUSE = 0x01,
    TABLET_ACK_STD_PEN = 0x02,
    TABLET_ACK_CUSTOM_PEN = 0x04,
    TABLET_ACK_STD_HOTKEYS = 0x08,
    TABLET_ACK_CUSTOM_HOTKEYS = 0x10,
    TABLET_ACK_CLEAR = 0x20,
};

struct TabletCapacity {
    uint16_t MaxLogicX;
    uint16_t MaxLogicY;
    uint16_t MaxPressure;
    uint16_t lpi;
};

// Capacity payload with coordinates of nXYBytes (2 or 3) bytes; false for a
// record of 9 bytes or fewer.
bool ParseTabletCapacity(const uint8_t* pPayload, int nLength, int nXYBytes, TabletCapacity* pOut);
// Serial number from the UTF-16 payload of string 3, old (BCD, release year
// before 2024) or new (text) format; at most 10 characters, "" when none.
void FormatTabletSerialNumber(const uint8_t* pPayload, int nLength, uint32_t nReleaseYear, char (&out)[12]);
// Year from the first 4 characters of the UTF-16 release date; 0 if none.
uint32_t ParseTabletReleaseYear(const uint8_t* pPayload, int nLength);

// One report from the tablet's vendor IN endpoint (byte 0 = 0x09): pen data
// (A1 contact; A0 lift, taken only after a contact), a hot key, or an
// acknowledgement of vendor commands, whose flags it returns as
// TABLET_ACK_* bits. Events go to sink; pbPenUp is the reader's pen-up flag.
uint32_t DecodeTabletReport(const TabletTraits& traits, const uint8_t* pReport, int nLength, unsigned char* pbPenUp,
                            const VtPenSink& sink);

// One tablet model; the QT410 and the M420 differ only in their traits.
class TabletFamily final : public FamilyOps {
public:
    explicit TabletFamily(const TabletTraits& traits);
    int Connect() override;
    int Shutdown() override;
    int Command(VtPadCommand cmd, bool bOn) override;  // clear only
    int GetText(VtPadText text, char* pText, int nMaxCount) override;  // pad id and parts version
    bool PadAttached(libusb_device* const* ppDevices, long n) const override;

    // Read access for tests and diagnostics.
    const TabletTraits& Traits() const { return m_traits; }
    const TabletDeviceInfo& DeviceInfo() const { return m_info; }
    const TabletContext& Context() const { return m_tc; }
    uint32_t AckMask() const { return m_ackMask; }
    bool ReaderRunning() const { return m_worker.Running(); }

private:
    struct Label {
        char s[96];
        operator const char*() const { return s; }
    };
    // "Name_QT410()": log labels carry the model's own function names.
    Label label(const char* fn) const;

    bool Search(TabletDeviceContext* pdc);
    bool Open(TabletDeviceContext* pdc);
    bool ReadTabletContext(TabletContext* ptc);
    int GetIndexString(uint8_t index, uint8_t* pBuffer, int nSize, bool bRaw);
    int ReadBytes(WorkerRun& run, uint8_t* pBuffer, int nLength, unsigned int nTimeoutMs);
    int WriteBytes(const uint8_t* pBuffer, int nLength, unsigned int nTimeoutMs);
    bool SendCommand(uint8_t b1, uint8_t b2);
    bool ChangePenMode(uint8_t mode) { return SendCommand(0x01, mode); }
    bool ChangeKeyMode() { return SendCommand(0x02, 0x02); }
    bool ClearTabletSurface();
    void Reader(WorkerRun& run);

    const TabletTraits& m_traits;
    UsbWorker m_worker;
    TabletDeviceContext m_dc{};
    TabletContext m_tc{};
    TabletDeviceInfo m_info{};
    std::atomic<uint32_t> m_ackMask{0};
};

extern TabletFamily g_familyQT410;
extern TabletFamily g_familyM420;
