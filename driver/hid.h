// HID pen devices: the Q210/Q220 pad, and the Q230G's pen device, which
// speaks the same control and identification requests and the same pen state
// table. They differ only in the report layout and the names in their logs.
#pragma once

#include "families.h"
#include "usbworker.h"

#include <cstdint>
#include <string>

// How a pen device's input reports are laid out.
struct HidReportFormat {
    int nSize;           // bytes per report (at most 32)
    int nMaskOffset;     // bytes 1 to nSize - 1 are XORed with the byte here
    bool bStateWord;     // state in the two bytes at 7, else in byte 7 alone
    bool bLogEventType;  // logs every report's state before the table
    const char* label;   // the decoder's log label
};

// Decodes one report: unmasks it, takes x, y, pressure and the state, applies
// the pen state table (0 contact, 1 cancel, 2 confirm, 3 lifted) to the
// reader's pen-up flag and sends the event, with the report's own x, y and
// pressure, to sink. Reports shorter than the format's size are dropped.
void DecodeHidReport(const HidReportFormat& format, const uint8_t* pReport, int nLength, unsigned char* pbPenUp,
                     const VtPenSink& sink);

// What differs between the two HID pen devices.
struct HidPenTraits {
    const char* suffix;  // model part of the log labels: "OpenDeviceLCD_<suffix>()"
    const char* threadLogFile;
    HidReportFormat report;
    bool bLogEveryRead;  // the reader logs the result of every read
    // what the connect logs when claiming interface 0 / starting the reader fails
    const char* claimFailText;
    const char* startFailText;
};

// The requests and the pen reader shared by both HID pen devices.
class HidPenFamily : public FamilyOps {
public:
    explicit HidPenFamily(const HidPenTraits& traits);
    int Command(VtPadCommand cmd, bool bOn) override;
    int GetText(VtPadText text, char* pText, int nMaxCount) override;
    bool PenReaderRunning() const { return m_pen.Running(); }
    const HidReportFormat& ReportFormat() const { return m_traits.report; }

protected:
    ~HidPenFamily() = default;
    // Claims the pen device's interface 0 and starts its reader: 0, -5 or -6.
    int StartPen(const char* label);
    // One report of the format's size, read by the pen reader.
    virtual void HandleReport(const uint8_t* pReport, int nLength, unsigned char* pbPenUp);

    const HidPenTraits& m_traits;
    UsbWorker m_pen;

private:
    void PenReader(WorkerRun& run);
    std::string m_commandLabels[VT_CMD_COUNT];
    std::string m_textLabels[VT_TEXT_COUNT];
    std::string m_readerLabel;
};

// The Q210/Q220 pad: one USB device, interface 0.
class HidPadFamily final : public HidPenFamily {
public:
    HidPadFamily();
    int Connect() override;
    int Shutdown() override;
    bool PadAttached(libusb_device* const* ppDevices, long n) const override;
};

extern HidPadFamily g_familyQ210_220;
