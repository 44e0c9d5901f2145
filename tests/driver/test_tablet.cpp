// QT410 and M420 tablets through the exported driver interface, against
// tablets emulated at the USB level. Every case runs on both models.
#include "events.h"
#include "families.h"
#include "padsim.h"
#include "qt410.h"
#include "tablet.h"

#include <cstring>

using namespace std::chrono_literals;
using padsim::Bytes;
using padsim::TabletModel;

namespace {

struct TabletCase {
    const char* name;
    int deviceId;
    const padsim::TabletIdentity* identity;
    const char* clearProduct;
    int shutdownPenMode;  // pen mode the tablet is left in
    TabletFamily* family;
};

// Device ids and product texts as the emulated tablets carry them.
const TabletCase kCases[] = {
    {"QT410", padsim::kQT410Identity.deviceId, &padsim::kQT410Identity, padsim::kQT410Identity.product,
     TABLET_PEN_MODE_CUSTOM_QT410, &g_familyQT410},
    {"M420", padsim::kM420Identity.deviceId, &padsim::kM420Identity, padsim::kM420Identity.product,
     TABLET_PEN_MODE_STD_M420, &g_familyM420},
};

const PenEvent kCancel{0, 0, 0, HWET_CANCEL_KEY};
const PenEvent kConfirm{0, 0, 0, HWET_CONFIRM_KEY};

class Tablet : public PadTest<::testing::TestWithParam<TabletCase>> {
protected:
    TabletModel& plug(const padsim::TabletLayout& layout = {})
    {
        plugModel(padsim::makeTablet(*GetParam().identity, layout));
        return model();
    }
    TabletModel& model() { return static_cast<TabletModel&>(pad().model()); }
    int open() { return VTSPDAPI_Initial(GetParam().deviceId, Events::onPen, nullptr); }
    const TabletDeviceInfo& info() { return family().DeviceInfo(); }
    TabletFamily& family() { return *GetParam().family; }
    std::string padId()
    {
        char buf[64];
        memset(buf, 'x', sizeof buf);
        EXPECT_EQ(VTSPDAPI_GetDevicePadID(buf, 32), VTSPDART_SUCCESS);
        return buf;
    }
    int vendorOuts(uint8_t command)
    {
        int n = 0;
        for (const padsim::Transfer& t : pad().received())
            if (t.kind == padsim::Transfer::Out && t.data.size() >= 2 && t.data[0] == 0x09 && t.data[1] == command)
                n++;
        return n;
    }
};

// ---- finding and opening --------------------------------------------------------

TEST_P(Tablet, SearchNeedsThreeInterfacesAndTwoVendorEndpoints)
{
    padsim::TabletLayout twoInterfaces;
    twoInterfaces.interfaces = 2;
    plug(twoInterfaces);
    EXPECT_EQ(open(), VTSPDART_TABLET_NOT_FOUND);
    EXPECT_EQ(VTSPDAPI_UnInitial(), VTSPDART_SUCCESS);
    pad().unplug();

    padsim::TabletLayout oneEndpoint;
    oneEndpoint.vendorEndpoints = 1;
    plug(oneEndpoint);
    EXPECT_EQ(open(), VTSPDART_TABLET_NOT_FOUND);
    EXPECT_EQ(VTSPDAPI_UnInitial(), VTSPDART_SUCCESS);
    pad().unplug();

    // The real layout, endpoints listed IN first this time.
    padsim::TabletLayout inFirst;
    inFirst.outFirst = false;
    plug(inFirst);
    EXPECT_EQ(open(), VTSPDART_SUCCESS);
    EXPECT_EQ(pad().claimedInterfaces(), 1 << 2);
}

TEST_P(Tablet, UnreadableDescriptionFailsTheOpenAndLeavesNothingOpen)
{
    const std::vector<std::pair<uint8_t, std::optional<Bytes>>> faults = {
        {TABLET_INDEX_STRING_PRODUCT_QT410, std::nullopt},
        {TABLET_INDEX_STRING_FIRMWARE_VERSION_QT410, std::nullopt},
        {TABLET_INDEX_STRING_FIRMWARE_RELEASE_DATE_QT410, std::nullopt},
        {TABLET_INDEX_STRING_SN_QT410, std::nullopt},
        {TABLET_INDEX_STRING_CAPACITY_QT410, std::nullopt},
        {TABLET_INDEX_STRING_CAPACITY_QT410, Bytes{0x10, 0x27, 0x88, 0x13, 0xFF, 0x07, 0xE8, 0x03, 0x00}},
    };
    TabletModel& m = plug();
    for (const auto& [index, payload] : faults) {
        SCOPED_TRACE("string " + std::to_string(index));
        const std::optional<Bytes> good = m.stringPayload(index);
        if (payload)
            m.setStringPayload(index, payload);
        else
            pad().setStall([index = index](const padsim::ControlRequest& s) {
                return s.bmRequestType == 0x80 && s.bRequest == 6 && s.wValue == (0x0300 | index);
            });
        EXPECT_EQ(open(), VTSPDART_TABLET_OPEN_FAILED);
        EXPECT_EQ(pad().claimedInterfaces(), 0);
        char text[32];
        EXPECT_EQ(VTSPDAPI_GetDevicePadID(text, sizeof text), VTSPDART_NOT_AVAILABLE);
        EXPECT_EQ(VTSPDAPI_ClearDeviceContent(), VTSPDART_SUCCESS);
        EXPECT_EQ(VTSPDAPI_UnInitial(), VTSPDART_SUCCESS);
        // Nothing was left claimed: the repaired tablet opens.
        m.setStringPayload(index, good);
        pad().setStall(nullptr);
        ASSERT_EQ(open(), VTSPDART_SUCCESS);
        EXPECT_EQ(VTSPDAPI_UnInitial(), VTSPDART_SUCCESS);
    }
}

TEST_P(Tablet, InterfaceHeldElsewhereFailsTheOpen)
{
    plug();
    // Another program holds interface 2 (its own libusb context, its own handle).
    libusb_context* other = nullptr;
    ASSERT_EQ(libusb_init(&other), 0);
    libusb_device_handle* h = libusb_open_device_with_vid_pid(other, TABLET_USB_VENDOR_ID,
                                                              GetParam().identity->productId);
    ASSERT_NE(h, nullptr);
    libusb_set_auto_detach_kernel_driver(h, 1);
    ASSERT_EQ(libusb_claim_interface(h, 2), 0);
    EXPECT_EQ(open(), VTSPDART_TABLET_OPEN_FAILED);
    EXPECT_EQ(VTSPDAPI_UnInitial(), VTSPDART_SUCCESS);
    libusb_release_interface(h, 2);
    libusb_close(h);
    libusb_exit(other);
    EXPECT_EQ(open(), VTSPDART_SUCCESS);
}

TEST_P(Tablet, CapacityRecordInBothCoordinateWidths)
{
    TabletModel& m = plug();
    m.setXYBytes(3);
    m.setCapacity(Bytes{0x10, 0x27, 0x00, 0x88, 0x13, 0x00, 0xFF, 0x07, 0xE8, 0x03});
    ASSERT_EQ(open(), VTSPDART_SUCCESS);
    EXPECT_EQ(info().MaxLogicX, 10000u);
    EXPECT_EQ(info().MaxLogicY, 5000u);
    EXPECT_EQ(info().MaxPressure, 2047u);
    EXPECT_EQ(info().lpi, 1000u);
    EXPECT_EQ(family().Context().MaxLogicY, 5000);
    ASSERT_EQ(VTSPDAPI_UnInitial(), VTSPDART_SUCCESS);

    m.setXYBytes(2);
    m.setCapacity(Bytes{0x10, 0x27, 0x88, 0x13, 0xFF, 0x07, 0xE8, 0x03, 0x00, 0x00});
    ASSERT_EQ(open(), VTSPDART_SUCCESS);
    EXPECT_EQ(info().MaxLogicX, 10000u);
    EXPECT_EQ(info().MaxLogicY, 5000u);
    EXPECT_EQ(info().MaxPressure, 2047u);
    EXPECT_EQ(info().lpi, 1000u);
}

TEST_P(Tablet, FirmwareVersionAndReleaseYear)
{
    TabletModel& m = plug();
    m.setFirmwareVersion(3, 2, 1, 9);
    m.setReleaseDate("2022-11-30");
    ASSERT_EQ(open(), VTSPDART_SUCCESS);
    EXPECT_EQ(info().nFirmwareMajorVersion, 3u);
    EXPECT_EQ(info().nFirmwareMinorVersion, 2u);
    EXPECT_EQ(info().nFirmwareRevision1, 1u);
    EXPECT_EQ(info().nFirmwareRevision2, 9u);
    EXPECT_EQ(info().nFirmwareReleaseYear, 2022u);
}

TEST_P(Tablet, SerialNumberFormatsFollowTheReleaseYear)
{
    struct Case {
        const char* date;
        std::function<void(TabletModel&)> serial;
        const char* expected;
    };
    const Case cases[] = {
        {"2023-01-01", [](TabletModel& m) { m.setSerialBcd({0x12, 0x34, 0x56, 0x78, 0x90}); }, "1234567890"},
        {"2023-01-01", [](TabletModel& m) { m.setSerialBcd({0xAB, 0x01}); }, ":;01"},
        {"2023-01-01", [](TabletModel& m) { m.setSerialBcd({0x11, 0x22, 0x33, 0x44, 0x55, 0x66}); }, "1122334455"},
        {"2024-02-01", [](TabletModel& m) { m.setSerialText("SN2024ABCDEF"); }, "SN2024ABCD"},
        {"2024-02-01", [](TabletModel& m) { m.setSerialText("AB"); }, ""},
    };
    TabletModel& m = plug();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        m.setReleaseDate(c.date);
        c.serial(m);
        ASSERT_EQ(open(), VTSPDART_SUCCESS);
        EXPECT_EQ(padId(), c.expected);
        ASSERT_EQ(VTSPDAPI_UnInitial(), VTSPDART_SUCCESS);
    }
}

TEST_P(Tablet, IdentificationTexts)
{
    TabletModel& m = plug();
    m.setSerialBcd({0x20, 0x24, 0x05, 0x17, 0x01});
    ASSERT_EQ(open(), VTSPDART_SUCCESS);
    EXPECT_EQ(padId(), "2024051701");
    char version[40];
    ASSERT_EQ(VTSPDAPI_GetDevicePartsVersion(version, 32), VTSPDART_SUCCESS);
    EXPECT_STREQ(version, GetParam().identity->product);
    // At most nMaxCount bytes with the terminator: a long product is cut.
    ASSERT_EQ(VTSPDAPI_UnInitial(), VTSPDART_SUCCESS);
    m.setProduct(std::string(40, 'P'));
    ASSERT_EQ(open(), VTSPDART_SUCCESS);
    memset(version, 'x', sizeof version);
    ASSERT_EQ(VTSPDAPI_GetDevicePartsVersion(version, 32), VTSPDART_SUCCESS);
    EXPECT_EQ(std::string(version), std::string(31, 'P'));
    // Operations tablets do not have.
    EXPECT_EQ(VTSPDAPI_OpenDeviceLCD(true), VTSPDART_NOT_AVAILABLE);
    EXPECT_EQ(VTSPDAPI_GetDevicePenID(version, 32), VTSPDART_NOT_AVAILABLE);
}

// ---- modes, acknowledgements, clear, shutdown -------------------------------------------

TEST_P(Tablet, OpenSwitchesToSelfDefinedModesAndRecordsAcknowledgements)
{
    TabletModel& m = plug();
    ASSERT_EQ(open(), VTSPDART_SUCCESS);
    EXPECT_EQ(m.penMode(), TABLET_PEN_MODE_CUSTOM_QT410);
    EXPECT_EQ(m.keyModeCount(), 1);
    EXPECT_TRUE(eventually([&] {
        return (family().AckMask() & (TABLET_ACK_CUSTOM_PEN | TABLET_ACK_CUSTOM_HOTKEYS)) ==
               (TABLET_ACK_CUSTOM_PEN | TABLET_ACK_CUSTOM_HOTKEYS);
    }));
    // A short acknowledgement is dropped, a good one recorded.
    pad().sendRaw(model().penEndpoint, Bytes{0x09, 0x81});
    pad().sendRaw(model().penEndpoint, Bytes{0x09, 0x81, 0x01});
    pad().touchCancel();
    Events::instance().penUntil(kCancel);
    EXPECT_TRUE(family().AckMask() & TABLET_ACK_STD_MOUSE);
}

TEST_P(Tablet, ClearGoesOnlyToTheModelsOwnProduct)
{
    TabletModel& m = plug();
    ASSERT_EQ(open(), VTSPDART_SUCCESS);
    EXPECT_EQ(VTSPDAPI_ClearDeviceContent(), VTSPDART_SUCCESS);
    EXPECT_EQ(vendorOuts(0x0F), 1);  // the transfer is done when the call returns
    EXPECT_EQ(m.clearCount(), 1);
    EXPECT_TRUE(eventually([&] { return family().AckMask() & TABLET_ACK_CLEAR; }));
    ASSERT_EQ(VTSPDAPI_UnInitial(), VTSPDART_SUCCESS);

    for (const char* other : {"RUVU410X", "ROV42", "RUVU410", "ROV420"}) {
        if (strcmp(other, GetParam().clearProduct) == 0)
            continue;
        SCOPED_TRACE(other);
        m.setProduct(other);
        ASSERT_EQ(open(), VTSPDART_SUCCESS);
        pad().clearReceived();
        EXPECT_EQ(VTSPDAPI_ClearDeviceContent(), VTSPDART_SUCCESS);
        EXPECT_EQ(vendorOuts(0x0F), 0);
        ASSERT_EQ(VTSPDAPI_UnInitial(), VTSPDART_SUCCESS);
    }
    EXPECT_EQ(m.clearCount(), 1);
}

TEST_P(Tablet, ShutdownLeavesThePenModeOfTheModel)
{
    TabletModel& m = plug();
    ASSERT_EQ(open(), VTSPDART_SUCCESS);
    EXPECT_TRUE(family().ReaderRunning());
    EXPECT_EQ(VTSPDAPI_UnInitial(), VTSPDART_SUCCESS);
    EXPECT_FALSE(family().ReaderRunning());
    EXPECT_EQ(m.penMode(), GetParam().shutdownPenMode);
    EXPECT_EQ(pad().claimedInterfaces(), 0);
}

// ---- reports -------------------------------------------------------------------------

TEST_P(Tablet, PenReportsBecomeStrokes)
{
    plug();
    ASSERT_EQ(open(), VTSPDART_SUCCESS);
    pad().penUp(5, 6);  // lifted straight after the start: nothing
    pad().penDown(100, 200, 300);
    pad().penMove(110, 210, 310);
    pad().penUp(120, 220);
    pad().penUp(130, 230);  // already up: nothing
    pad().touchCancel();
    const std::vector<PenEvent> expected = {
        {100, 200, 300, HWET_PEN_DOWN},
        {110, 210, 310, HWET_PEN_MOVE},
        {120, 220, 0, HWET_PEN_UP},
    };
    EXPECT_EQ(Events::instance().penUntil(kCancel), expected);
}

TEST_P(Tablet, ShortAndForeignReportsAreDropped)
{
    plug();
    ASSERT_EQ(open(), VTSPDART_SUCCESS);
    const uint8_t ep = model().penEndpoint;
    pad().sendRaw(ep, Bytes{0x09, 0x41, 0xA1, 1, 0, 2, 0, 3});      // 8 bytes: dropped
    pad().sendRaw(ep, Bytes{0x08, 0x41, 0xA1, 1, 0, 2, 0, 3, 0});   // not ours
    pad().sendRaw(ep, Bytes{0x09, 0x41, 0xA2, 1, 0, 2, 0, 3, 0});   // unknown state
    pad().sendRaw(ep, Bytes{0x09, 0x42, 0x01, 0x00});               // 4-byte key: dropped
    pad().sendRaw(ep, Bytes{0x09});
    pad().sendRaw(ep, Bytes{0x09, 0x41, 0xA1, 0x34, 0x12, 0x78, 0x56, 0xFF, 0xFF, 0xEE});  // longer is fine
    pad().touchCancel();
    const std::vector<PenEvent> expected = {{0x1234, 0x5678, 0xFFFF, HWET_PEN_DOWN}};
    EXPECT_EQ(Events::instance().penUntil(kCancel), expected);
}

TEST_P(Tablet, HotKeysReportOnRelease)
{
    plug();
    ASSERT_EQ(open(), VTSPDART_SUCCESS);
    const uint8_t ep = model().penEndpoint;
    pad().penDown(1, 2, 3);
    pad().sendRaw(ep, Bytes{0x09, 0x42, 0x01, 0x00, 0x01});  // cancel released
    pad().sendRaw(ep, Bytes{0x09, 0x42, 0x01, 0x01, 0x02});  // confirm pressed: nothing yet
    pad().sendRaw(ep, Bytes{0x09, 0x42, 0x00, 0x00, 0x01});  // not a key report
    pad().sendRaw(ep, Bytes{0x09, 0x42, 0x01, 0x00, 0x03});  // unknown key
    pad().penMove(4, 5, 6);  // keys leave the stroke alone
    pad().touchConfirm();
    const std::vector<PenEvent> expected = {
        {1, 2, 3, HWET_PEN_DOWN},
        {0, 0, 0, HWET_CANCEL_KEY},
        {4, 5, 6, HWET_PEN_MOVE},
    };
    EXPECT_EQ(Events::instance().penUntil(kConfirm), expected);
}

TEST_P(Tablet, ReaderStopsWhenTheTabletIsUnplugged)
{
    plug();
    ASSERT_EQ(open(), VTSPDART_SUCCESS);
    ASSERT_TRUE(family().ReaderRunning());
    pad().unplug();
    EXPECT_TRUE(eventually([&] { return !family().ReaderRunning(); }));
    EXPECT_EQ(VTSPDAPI_UnInitial(), VTSPDART_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(Models, Tablet, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<TabletCase>& i) { return std::string(i.param.name); });

// ---- the records on their own ------------------------------------------------------

TEST(TabletRecords, Capacity)
{
    TabletCapacity c{};
    const uint8_t w3[] = {0x10, 0x27, 0x01, 0x88, 0x13, 0x02, 0xFF, 0x07, 0xE8, 0x03};
    ASSERT_TRUE(ParseTabletCapacity(w3, sizeof w3, 3, &c));
    EXPECT_EQ(c.MaxLogicX, 10000);  // the third coordinate byte does not count
    EXPECT_EQ(c.MaxLogicY, 5000);
    EXPECT_EQ(c.MaxPressure, 2047);
    EXPECT_EQ(c.lpi, 1000);
    EXPECT_FALSE(ParseTabletCapacity(w3, 9, 2, &c));
    EXPECT_FALSE(ParseTabletCapacity(w3, 0, 3, &c));
}

TEST(TabletRecords, SerialNumbers)
{
    char sn[12];
    const uint8_t bcd[] = {0x12, 0, 0x34, 0, 0xAB, 0, 0xF0, 0};
    FormatTabletSerialNumber(bcd, sizeof bcd, 2023, sn);
    EXPECT_STREQ(sn, "1234:;?0");
    FormatTabletSerialNumber(bcd, 3, 2023, sn);  // one whole unit only
    EXPECT_STREQ(sn, "12");
    const uint8_t text[] = {'A', 0, 'B', 0, 'C', 0};
    FormatTabletSerialNumber(text, sizeof text, 2024, sn);
    EXPECT_STREQ(sn, "ABC");
    FormatTabletSerialNumber(text, 4, 2030, sn);
    EXPECT_STREQ(sn, "");
    FormatTabletSerialNumber(text, 0, 2023, sn);
    EXPECT_STREQ(sn, "");
}

TEST(TabletRecords, ReleaseYear)
{
    const uint8_t date[] = {'2', 0, '0', 0, '2', 0, '4', 0, '-', 0};
    EXPECT_EQ(ParseTabletReleaseYear(date, sizeof date), 2024u);
    EXPECT_EQ(ParseTabletReleaseYear(date, 4), 20u);
    EXPECT_EQ(ParseTabletReleaseYear(date, 0), 0u);
}

}  // namespace
