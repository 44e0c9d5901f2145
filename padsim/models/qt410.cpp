// QT410 tablet, and the tablet behaviour the M420 shares.
//
// The tablet answers its vendor commands (09 01 m pen mode, 09 02 02 key
// mode, 09 0F 01 clear) with an acknowledgement report 09 8x flags, and in
// the self-defined modes sends 9-byte pen reports 09 41 A1/A0 x y p and
// 5-byte hot-key reports 09 42 01 pressed key. A key touch is one press and
// one release report, queued together.
#include "qt410.h"

#include "vtinkmodels.h"

namespace padsim {

const TabletIdentity kQT410Identity = {"qt410", "RUVU410", 0x0410, 0x0105, RUVU410_DEVICE};

namespace {
enum : uint8_t {
    kIndexProduct = 2,
    kIndexSerial = 3,
    kIndexCapacity = 20,
    kIndexFirmware = 21,
    kIndexXYBytes = 22,
    kIndexReleaseDate = 23,
};
const uint8_t kVendorIn = 0x83;
const uint8_t kVendorOut = 0x04;
}  // namespace

TabletModel::TabletModel(const TabletIdentity& id, const TabletLayout& layout)
{
    name = id.name;
    features = TABLET | ONE_STEP_KEYS;
    UsbDescription dev;
    dev.vendorId = TABLET_USB_VENDOR_ID;
    dev.productId = id.productId;
    dev.bcdDevice = id.bcdDevice;
    dev.manufacturer = "DIVuziDad";
    dev.product = id.product;
    const Bytes hidDescriptor = {9, 0x21, 0x11, 0x01, 0, 1, 0x22, 0x40, 0};
    for (int i = 0; i < layout.interfaces; ++i) {
        Interface itf;
        itf.number = (uint8_t)i;
        itf.cls = 3;
        itf.classDescriptor = hidDescriptor;
        if (i < 2) {
            // standard mouse and digitizer: stay with the kernel
            itf.protocol = i == 0 ? 2 : 0;
            itf.endpoints = {{(uint8_t)(0x81 + i), 3, 16, 1}};
        } else if (i == 2) {
            Endpoint in{kVendorIn, 3, layout.inMaxPacket, 1};
            Endpoint outEp{kVendorOut, 3, layout.outMaxPacket, 1};
            if (layout.vendorEndpoints >= 2)
                itf.endpoints = layout.outFirst ? std::vector<Endpoint>{outEp, in} : std::vector<Endpoint>{in, outEp};
            else if (layout.vendorEndpoints == 1)
                itf.endpoints = {in};
            for (int e = 2; e < layout.vendorEndpoints; ++e)
                itf.endpoints.push_back({(uint8_t)(0x84 + e), 3, 16, 1});
        } else {
            itf.endpoints = {{(uint8_t)(0x85 + i), 3, 16, 1}};
        }
        dev.interfaces.push_back(itf);
    }
    usb = {dev};
    penDevice = 0;
    penEndpoint = kVendorIn;

    m_strings[kIndexProduct] = utf16(id.product);
    m_strings[kIndexSerial] = Bytes{0x12, 0, 0x34, 0, 0x56, 0, 0x78, 0, 0x90, 0};
    m_strings[kIndexFirmware] = Bytes{0x04, 0x03, 0x02, 0x01};
    m_strings[kIndexReleaseDate] = utf16("2023-05-17");
    m_strings[kIndexXYBytes] = Bytes{0, 0, 0, 0};
    m_strings[kIndexCapacity] = Bytes{0x10, 0x27, 0x88, 0x13, 0xFF, 0x07, 0xE8, 0x03, 0x00, 0x00};

    const std::string product = id.product;
    host.deviceId = id.deviceId;
    host.area = {.xOffset = 550, .xSpan = 29870, .yOffset = 180, .ySpan = 20120};
    // the SDK reads the product string as the firmware text; one character short is refused
    host.firmware = {{product, 8192}, {product.substr(0, product.size() - 1), 0}};
    host.infoName = host.modelName();
}

std::unique_ptr<TabletModel> makeTablet(const TabletIdentity& id, const TabletLayout& layout)
{
    return std::make_unique<TabletModel>(id, layout);
}

Bytes TabletModel::utf16(const std::string& text)
{
    Bytes b;
    for (char c : text) {
        b.push_back((uint8_t)c);
        b.push_back(0);
    }
    return b;
}

void TabletModel::setStringPayload(uint8_t index, std::optional<Bytes> payload)
{
    std::lock_guard<std::mutex> g(m_lock);
    m_strings[index] = std::move(payload);
}

std::optional<Bytes> TabletModel::stringPayload(uint8_t index) const
{
    std::lock_guard<std::mutex> g(m_lock);
    auto it = m_strings.find(index);
    return it == m_strings.end() ? std::nullopt : it->second;
}

void TabletModel::setProduct(const std::string& text) { setStringPayload(kIndexProduct, utf16(text)); }
void TabletModel::setFirmware(Pad&, const std::string& text) { setProduct(text); }

std::string TabletModel::firmware(const Pad&) const
{
    std::string text;
    const std::optional<Bytes> payload = stringPayload(kIndexProduct);
    for (size_t i = 0; payload && i + 1 < payload->size(); i += 2)
        text += char((*payload)[i]);
    return text;
}
void TabletModel::setSerialText(const std::string& text) { setStringPayload(kIndexSerial, utf16(text)); }
void TabletModel::setReleaseDate(const std::string& text) { setStringPayload(kIndexReleaseDate, utf16(text)); }

void TabletModel::setSerialBcd(const Bytes& bcd)
{
    Bytes b;
    for (uint8_t v : bcd) {
        b.push_back(v);
        b.push_back(0);
    }
    setStringPayload(kIndexSerial, b);
}

void TabletModel::setFirmwareVersion(uint8_t major, uint8_t minor, uint8_t rev1, uint8_t rev2)
{
    setStringPayload(kIndexFirmware, Bytes{rev2, rev1, minor, major});
}

void TabletModel::setXYBytes(int bytes)
{
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_xyBytes = bytes;
    }
    setStringPayload(kIndexXYBytes, Bytes{0, 0, (uint8_t)(bytes == 3 ? 1 : 0), 0});
}

void TabletModel::setCapacity(const Bytes& payload) { setStringPayload(kIndexCapacity, payload); }

void TabletModel::setCapacity(uint32_t maxX, uint32_t maxY, uint16_t maxPressure, uint16_t lpi)
{
    int w;
    {
        std::lock_guard<std::mutex> g(m_lock);
        w = m_xyBytes;
    }
    Bytes b;
    auto put = [&b](uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            b.push_back((uint8_t)(v >> (8 * i)));
    };
    put(maxX, w);
    put(maxY, w);
    put(maxPressure, 2);
    put(lpi, 2);
    while (b.size() < 10)
        b.push_back(0);
    setCapacity(b);
}

int TabletModel::penMode() const
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_penMode;
}

int TabletModel::keyModeCount() const
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_keyModes;
}

int TabletModel::clearCount() const
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_clears;
}

void TabletModel::setAcknowledge(bool on)
{
    std::lock_guard<std::mutex> g(m_lock);
    m_acknowledge = on;
}

void TabletModel::plugged(Pad&)
{
    std::lock_guard<std::mutex> g(m_lock);
    m_penMode = 0;
}

bool TabletModel::control(Pad&, int, const ControlRequest& s, Bytes& data)
{
    const uint8_t type = s.wValue >> 8, index = s.wValue & 0xff;
    if (s.bmRequestType != 0x80 || s.bRequest != 6 || type != 3 || index == 0)
        return false;
    std::lock_guard<std::mutex> g(m_lock);
    auto it = m_strings.find(index);
    if (it == m_strings.end() || !it->second)
        return false;  // stalls: padsim answers only the descriptors it knows
    data = {(uint8_t)(2 + it->second->size()), 3};
    data.insert(data.end(), it->second->begin(), it->second->end());
    return true;
}

void TabletModel::out(Pad& pad, int, uint8_t endpoint, const Bytes& d)
{
    if (endpoint != kVendorOut || d.size() < 3 || d[0] != 0x09)
        return;
    uint8_t ackCommand = 0, ackFlags = 0;
    bool ack;
    {
        std::lock_guard<std::mutex> g(m_lock);
        ack = m_acknowledge;
        switch (d[1]) {
        case 0x01:  // pen mode: 4 self-defined, 1 standard pen
            m_penMode = d[2];
            ackCommand = 0x81;
            ackFlags = d[2] == 4 ? 0x04 : d[2] == 1 ? 0x02 : 0x01;
            break;
        case 0x02:
            m_keyModes++;
            ackCommand = 0x82;
            ackFlags = d[2] == 2 ? 0x02 : 0x01;
            break;
        case 0x0F:
            m_clears++;
            ackCommand = 0x8F;
            ackFlags = 0x01;
            break;
        default:
            return;
        }
    }
    if (ack)
        pad.sendRaw(kVendorIn, Bytes{0x09, ackCommand, ackFlags, 0, 0, 0, 0, 0});
}

Bytes TabletModel::penReport(Pad& pad, const PenInput& in)
{
    if (in.action == PenInput::Cancel || in.action == PenInput::Confirm) {
        const uint8_t key = in.action == PenInput::Cancel ? 1 : 2;
        pad.sendRaw(kVendorIn, Bytes{0x09, 0x42, 0x01, 0x01, key});  // pressed
        return Bytes{0x09, 0x42, 0x01, 0x00, key};                   // released: the key event
    }
    const uint8_t state = in.action == PenInput::Contact ? 0xA1 : 0xA0;
    return Bytes{0x09, 0x41, state, (uint8_t)in.x, (uint8_t)(in.x >> 8), (uint8_t)in.y, (uint8_t)(in.y >> 8),
                 (uint8_t)in.pressure, (uint8_t)(in.pressure >> 8)};
}

TransferMatch isTabletCommand(uint8_t command)
{
    return [command](const Transfer& t) {
        return t.kind == Transfer::Out && t.endpoint == kVendorOut && t.data.size() >= 2 && t.data[0] == 0x09 &&
               t.data[1] == command;
    };
}

namespace models {

ModelPtr qt410()
{
    return makeTablet(kQT410Identity);
}

}  // namespace models
}  // namespace padsim
