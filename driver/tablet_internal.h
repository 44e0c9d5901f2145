// QT410/M420 tablet family: records, per-model traits and the pure helpers
// (capacity record, serial-number formats) that tests reach directly.
#pragma once

#include "families.h"

#include <atomic>
#include <cstdint>
#include <pthread.h>

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
    libusb_device_handle* Handle;
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
    const char* decoderSuffix;   // the QT410's decoders carry no suffix
    const char* threadLogFile;
    bool bLogInputLengthOnEnter; // reader's first line names the IN length
    bool bStdPenModeAtShutdown;  // give the pen back to the standard driver
    const char* clearProduct;    // clear goes out only to this product
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

// Read access for tests and diagnostics (nDeviceID RUVU410_DEVICE or ROV420_DEVICE).
const TabletDeviceInfo* TabletDeviceInfoOf(int nDeviceID);
const TabletContext* TabletContextOf(int nDeviceID);
uint32_t TabletAckMaskOf(int nDeviceID);
bool TabletReaderRunningOf(int nDeviceID);
