// The tablet family (QT410, M420): three interfaces, the vendor interface 2
// with one interrupt IN and one OUT endpoint, and the tablet's description in
// string descriptors 2, 3, 20, 21, 22 and 23, every one of them changeable.
#pragma once

#include "padsim.h"

#include <mutex>
#include <optional>

namespace padsim {

// How the tablet's configuration looks; the defaults are the real layout.
struct TabletLayout {
    int interfaces = 3;
    int vendorEndpoints = 2;  // endpoints of interface 2
    bool outFirst = true;     // interface 2 lists its OUT endpoint first
    uint16_t inMaxPacket = 64;
    uint16_t outMaxPacket = 64;
};

struct TabletIdentity {
    const char* name;      // "qt410"
    const char* product;   // string 2, the text the SDK checks
    uint16_t productId;
    uint16_t bcdDevice;
    int deviceId;          // the host's id for it
};

class TabletModel : public Model {
public:
    TabletModel(const TabletIdentity& id, const TabletLayout& layout = {});

    // String descriptor contents (the payload after the 2-byte header).
    // nullopt: the model leaves the request to padsim (which knows only the
    // strings of the USB description); Pad::setStall makes any of them fail.
    void setProduct(const std::string& text);                  // index 2, as text
    void setSerialBcd(const Bytes& bcd);                      // index 3, one UTF-16 unit per byte
    void setSerialText(const std::string& text);               // index 3, as text
    void setFirmwareVersion(uint8_t major, uint8_t minor, uint8_t rev1, uint8_t rev2);  // index 21
    void setReleaseDate(const std::string& text);              // index 23, e.g. "2023-05-17"
    void setXYBytes(int bytes);                                // index 22: 2 or 3
    void setCapacity(const Bytes& payload);                    // index 20, raw
    void setCapacity(uint32_t maxX, uint32_t maxY, uint16_t maxPressure, uint16_t lpi);  // in the current width
    void setStringPayload(uint8_t index, std::optional<Bytes> payload);
    std::optional<Bytes> stringPayload(uint8_t index) const;

    // Vendor commands seen: the last pen mode (0 = none yet), key mode sets, clears.
    int penMode() const;
    int keyModeCount() const;
    int clearCount() const;
    // No acknowledgement reports for vendor commands while false.
    void setAcknowledge(bool on);

    bool control(Pad& pad, int device, const ControlRequest& setup, Bytes& data) override;
    void out(Pad& pad, int device, uint8_t endpoint, const Bytes& data) override;
    Bytes penReport(Pad& pad, const PenInput& input) override;
    void plugged(Pad& pad) override;
    void setFirmware(Pad& pad, const std::string& text) override;  // the product string
    std::string firmware(const Pad& pad) const override;

private:
    static Bytes utf16(const std::string& text);
    mutable std::mutex m_lock;
    std::map<uint8_t, std::optional<Bytes>> m_strings;
    int m_xyBytes = 2;
    int m_penMode = 0;
    int m_keyModes = 0;
    int m_clears = 0;
    bool m_acknowledge = true;
};

// A tablet of the given identity and layout (tests of odd layouts).
std::unique_ptr<TabletModel> makeTablet(const TabletIdentity& id, const TabletLayout& layout = {});
extern const TabletIdentity kQT410Identity;
extern const TabletIdentity kM420Identity;

}  // namespace padsim
