// The exported frame: argument checks, routing, result codes, state.
#include "drvtest.h"

#include <sys/stat.h>

#include <fstream>
#include <iterator>

namespace {

class Frame : public DriverTest {};

TEST_F(Frame, SupportedIdsAreTwoToFiveAndSeven)
{
    for (int id : {-1, 0, 1, 6, 8, 100})
        EXPECT_FALSE(drv.IsTheDeviceIDSupported(id)) << id;
    for (int id : {2, 3, 4, 5, 7})
        EXPECT_TRUE(drv.IsTheDeviceIDSupported(id)) << id;
}

TEST_F(Frame, LogSwitchIsOffAtLoad)
{
    EXPECT_EQ(*drv.enableLog, 0);
}

TEST_F(Frame, UnsupportedIdOrNullCallbackIsRefusedWithoutSelectingAnything)
{
    bed().plug(padsim::models::q210());
    for (int id : {0, 1, 6, 8, -3})
        EXPECT_EQ(drv.Initial(id, Events::callback, nullptr), VTSPDART_INVALID_PARAMETERS) << id;
    EXPECT_EQ(drv.Initial(VTQ210_DEVICE, nullptr, nullptr), VTSPDART_INVALID_PARAMETERS);
    // the fingerprint pad needs its fingerprint callback
    EXPECT_EQ(drv.Initial(VTQ230F_DEVICE, Events::callback, nullptr), VTSPDART_INVALID_PARAMETERS);
    // nothing was selected: there is nothing to shut down
    EXPECT_EQ(drv.UnInitial(), VTSPDART_NOT_AVAILABLE);
}

TEST_F(Frame, UnInitialWithoutActiveDeviceIsNotAvailable)
{
    EXPECT_EQ(drv.UnInitial(), VTSPDART_NOT_AVAILABLE);
}

TEST_F(Frame, NoPadAttachedSelectsTheIdButOpensNothing)
{
    EXPECT_EQ(drv.Initial(VTQ210_DEVICE, Events::callback, nullptr), VTSPDART_DEVICE_NOT_FOUND);
    // selected, not connected: routed to the HID family, which has no handle
    char text[64];
    EXPECT_EQ(drv.OpenDeviceLCD(true), VTSPDART_NOT_AVAILABLE);
    EXPECT_EQ(drv.GetDevicePenID(text, sizeof text), VTSPDART_NOT_AVAILABLE);
    EXPECT_EQ(drv.UnInitial(), VTSPDART_SUCCESS);
    EXPECT_EQ(drv.UnInitial(), VTSPDART_NOT_AVAILABLE);
}

TEST_F(Frame, FailedConnectsThenUnInitialKeepLibusbUsable)
{
    // each failed connect is paired with an UnInitial; libusb must come back every time
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(drv.Initial(VTQ220_DEVICE, Events::callback, nullptr), VTSPDART_DEVICE_NOT_FOUND);
        ASSERT_EQ(drv.UnInitial(), VTSPDART_SUCCESS);
    }
    // an extra UnInitial has nothing to release
    EXPECT_EQ(drv.UnInitial(), VTSPDART_NOT_AVAILABLE);
    padsim::Pad& pad = bed().plug(padsim::models::q220());
    ASSERT_EQ(drv.Initial(VTQ220_DEVICE, Events::callback, nullptr), VTSPDART_SUCCESS);
    pad.stroke({{10, 20, 30}});
    EXPECT_EQ(Events::waitFor(2).size(), 2u);
}

TEST_F(Frame, TextBufferCheckComesBeforeRouting)
{
    char text[64];
    using Getter = int (*)(char*, int);
    for (Getter get : {drv.GetDevicePenID, drv.GetDevicePadID, drv.GetDeviceSecureID, drv.GetDevicePartsVersion}) {
        EXPECT_EQ(get(text, 31), VTSPDART_INVALID_PARAMETERS);
        EXPECT_EQ(get(nullptr, 64), VTSPDART_INVALID_PARAMETERS);
        EXPECT_EQ(get(text, 32), VTSPDART_NOT_AVAILABLE);  // no active device
    }
    bed().plug(padsim::models::q210());
    ASSERT_EQ(drv.Initial(VTQ210_DEVICE, Events::callback, nullptr), VTSPDART_SUCCESS);
    for (Getter get : {drv.GetDevicePenID, drv.GetDevicePadID, drv.GetDeviceSecureID, drv.GetDevicePartsVersion}) {
        EXPECT_EQ(get(text, 31), VTSPDART_INVALID_PARAMETERS);
        EXPECT_EQ(get(text, 32), VTSPDART_SUCCESS);
    }
}

TEST_F(Frame, OperationsTheActiveFamilyLacksAreNotAvailable)
{
    unsigned char image[16] = {};
    bool abort = false;
    char text[64];
    // nothing active: everything is -1
    EXPECT_EQ(drv.OpenDeviceLCD(true), VTSPDART_NOT_AVAILABLE);
    EXPECT_EQ(drv.ClearDeviceContent(), VTSPDART_NOT_AVAILABLE);
    EXPECT_EQ(drv.ShowVersionInfoOnDevice(true), VTSPDART_NOT_AVAILABLE);
    EXPECT_EQ(drv.SetDevicePenStyle(true), VTSPDART_NOT_AVAILABLE);
    EXPECT_EQ(drv.ShowFPImageOnDevice(image, sizeof image, 4, 2, &abort), VTSPDART_NOT_AVAILABLE);

    // HID pad: no screen image operation
    padsim::Pad& pad = bed().plug(padsim::models::q210());
    ASSERT_EQ(drv.Initial(VTQ210_DEVICE, Events::callback, nullptr), VTSPDART_SUCCESS);
    uint64_t since = pad.nextSeq();
    EXPECT_EQ(drv.ShowFPImageOnDevice(image, sizeof image, 4, 2, &abort), VTSPDART_NOT_AVAILABLE);
    EXPECT_EQ(drv.ShowFPImageOnDevice(image, sizeof image, 4, 2, nullptr), VTSPDART_INVALID_PARAMETERS);
    EXPECT_EQ(drv.ShowFPImageOnDevice(nullptr, 16, 4, 2, &abort), VTSPDART_INVALID_PARAMETERS);
    EXPECT_FALSE(pad.waitForControl([](const padsim::Transfer&) { return true; }, 0ms, since))
        << "a refused operation reached the pad";
    ASSERT_EQ(drv.UnInitial(), VTSPDART_SUCCESS);
    pad.unplug();

    // a tablet id (no tablet attached): the HID-only operations answer -1 by routing
    drv.Initial(RUVU410_DEVICE, Events::callback, nullptr);
    EXPECT_EQ(drv.OpenDeviceLCD(true), VTSPDART_NOT_AVAILABLE);
    EXPECT_EQ(drv.ShowVersionInfoOnDevice(false), VTSPDART_NOT_AVAILABLE);
    EXPECT_EQ(drv.SetDevicePenStyle(true), VTSPDART_NOT_AVAILABLE);
    EXPECT_EQ(drv.GetDevicePenID(text, sizeof text), VTSPDART_NOT_AVAILABLE);
    EXPECT_EQ(drv.GetDeviceSecureID(text, sizeof text), VTSPDART_NOT_AVAILABLE);
    EXPECT_EQ(drv.ShowFPImageOnDevice(image, sizeof image, 4, 2, &abort), VTSPDART_NOT_AVAILABLE);
    EXPECT_EQ(drv.ShowFPImageOnDevice(image, sizeof image, 4, 2, nullptr), VTSPDART_INVALID_PARAMETERS);
    EXPECT_EQ(drv.UnInitial(), VTSPDART_SUCCESS);
}

std::string tail(const char* path, long from)
{
    std::ifstream f(path);
    f.seekg(from);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

long sizeOf(const char* path)
{
    struct stat st {};
    return stat(path, &st) == 0 ? (long)st.st_size : 0;
}

TEST_F(Frame, LogsGoToTheirWritersFilesOnlyWhileSwitchedOn)
{
    const char* mainLog = "/tmp/vtinkdrv.log";
    const char* readerLog = "/tmp/vtinkdrv_inthread_Q210_220.log";
    padsim::Pad& pad = bed().plug(padsim::models::q210());
    long mainAt = sizeOf(mainLog), readerAt = sizeOf(readerLog);
    ASSERT_EQ(drv.Initial(VTQ210_DEVICE, Events::callback, nullptr), VTSPDART_SUCCESS);
    pad.stroke({{7, 8, 9}});
    ASSERT_EQ(Events::waitFor(2).size(), 2u);
    EXPECT_EQ(sizeOf(mainLog), mainAt);
    EXPECT_EQ(sizeOf(readerLog), readerAt);

    *drv.enableLog = 1;
    char text[40];
    EXPECT_EQ(drv.GetDevicePenID(text, 31), VTSPDART_INVALID_PARAMETERS);
    pad.stroke({{17, 18, 19}});
    auto ev = Events::waitFor(4);
    *drv.enableLog = 0;
    ASSERT_EQ(ev.size(), 4u);
    std::string m = tail(mainLog, mainAt), r = tail(readerLog, readerAt);
    EXPECT_NE(m.find("[VTSPDAPI_GetDevicePenID()]:<"), std::string::npos) << m;
    EXPECT_NE(m.find(">-Enter, pPenID="), std::string::npos) << m;
    EXPECT_NE(m.find(">-leave with VTSPDART_INVALID_PARAMETERS !, \n"), std::string::npos) << m;
    EXPECT_NE(r.find("]:<"), std::string::npos) << r;
    EXPECT_NE(r.find(">-Pen-Down, x=17, y=18, p=19, \n"), std::string::npos) << r;
    EXPECT_NE(r.find(">-Pen-Up, x=17, y=18, p=0, \n"), std::string::npos) << r;
    EXPECT_EQ(r.find("VTSPDAPI_"), std::string::npos) << "interface lines in the reader's file";
    EXPECT_EQ(m.find("Pen-Down"), std::string::npos) << "reader lines in the main file";
}

}  // namespace
