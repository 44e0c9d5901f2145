// The exported interface: argument checks, no-canvas results, creation rules.
#include "sdktest.h"

#include <cstring>

namespace {

class Frame : public ::testing::TestWithParam<Family> {
protected:
    void SetUp() override
    {
        drv = FakeDriver::Fresh(VersionOf(GetParam().id));
        ASSERT_NE(nullptr, drv) << "test driver not in the working directory";
    }
    void TearDown() override
    {
        if (drv)
            GetParam().UnInitialDevice(GetParam().id);
    }
    FakeDriver* drv = nullptr;
};

TEST_P(Frame, WrongDeviceTypeGivesEachResultKind)
{
    const Family& f = GetParam();
    const int bad = f.id == 2 ? 5 : 2;
    ASSERT_TRUE(f.InitialDevice(f.id, nullptr, 0, 0, 400, 200));
    EXPECT_FALSE(f.InitialDevice(bad, nullptr, 0, 0, 400, 200));
    EXPECT_EQ(ARI_INVALID_PARAMETERS, f.Clear(bad));
    EXPECT_EQ(ARI_INVALID_PARAMETERS, f.GetTotalPacketsNumber(bad));
    EXPECT_EQ(ARI_INVALID_PARAMETERS, f.UnInitialDevice(bad));
    EXPECT_EQ(nullptr, f.PacketsBase64Encode(bad, EBITI_INK));
    EXPECT_EQ(nullptr, f.GetInkPointTime(bad, 0));
    EXPECT_FALSE(f.RealTimeSignatureDataCallback(bad, LiveRecorder::Callback));
    char about[256];
    memset(about, 'x', sizeof about);
    f.GetAboutInfo(bad, about);
    EXPECT_EQ('x', about[0]) << "nothing written for a wrong type";
    // The canvas survived all of it.
    EXPECT_EQ(0, drv->count("ClearDeviceContent") - 1);
    EXPECT_NE(nullptr, g_pSignWidget.load());
}

TEST_P(Frame, NoCanvasResults)
{
    const Family& f = GetParam();
    EXPECT_EQ(ARI_FAILED, f.Clear(f.id));
    EXPECT_EQ(ARI_NO_DATA, f.GetTotalPacketsNumber(f.id));
    EXPECT_EQ(ARI_NO_DATA, f.GetTotalDecodePacketsNumber(f.id));
    _PACKETS p{};
    EXPECT_EQ(ARI_FAILED, f.getPackets(f.id, &p));
    EXPECT_EQ(ARI_FAILED, f.GetDeviceConfirmOrCancelKeyStatus(f.id));
    EXPECT_EQ(nullptr, f.PacketsBase64Encode(f.id, EBITI_INK));
    EXPECT_EQ(nullptr, f.GetSVGImageBase64Data(f.id));
    EXPECT_FALSE(f.RealTimeSignatureDataCallback(f.id, LiveRecorder::Callback));
    EXPECT_EQ(ARI_SUCCESS, f.UnInitialDevice(f.id));
}

TEST_P(Frame, CanvasSizeOutsideRangeIsRefused)
{
    const Family& f = GetParam();
    for (auto size : {std::make_pair(0, 200), std::make_pair(400, 0), std::make_pair(8193, 200),
                      std::make_pair(400, 8193), std::make_pair(-5, 200)}) {
        EXPECT_FALSE(f.InitialDevice(f.id, nullptr, 0, 0, size.first, size.second));
        EXPECT_EQ(nullptr, g_pSignWidget.load());
    }
    EXPECT_EQ(0, drv->count("Initial")) << "the driver was not even loaded";
    EXPECT_TRUE(f.InitialDevice(f.id, nullptr, 0, 0, 1, 1));
}

TEST_P(Frame, SecondInitialDeviceKeepsTheFirstCanvas)
{
    const Family& f = GetParam();
    ASSERT_TRUE(f.InitialDevice(f.id, nullptr, 0, 0, 400, 200));
    CSignCore* first = g_pSignWidget.load();
    EXPECT_TRUE(f.InitialDevice(f.id, nullptr, 0, 0, 100, 50));
    EXPECT_EQ(first, g_pSignWidget.load());
    EXPECT_EQ(400, first->Canvas().Image().width());
    EXPECT_EQ(1, drv->count("Initial"));
}

TEST_P(Frame, FailedConnectLeavesNoCanvas)
{
    const Family& f = GetParam();
    drv->set_initial_result(VTSPDART_DEVICE_NOT_FOUND);
    EXPECT_FALSE(f.InitialDevice(f.id, nullptr, 0, 0, 400, 200));
    EXPECT_EQ(nullptr, g_pSignWidget.load());
    EXPECT_EQ(1, drv->count("UnInitial")) << "a failed connect is still shut down";
    EXPECT_EQ(ARI_SUCCESS, f.UnInitialDevice(f.id));
}

TEST_P(Frame, ArgumentRanges)
{
    const Family& f = GetParam();
    ASSERT_TRUE(f.InitialDevice(f.id, nullptr, 0, 0, 400, 200));
    wchar_t path[] = L"/nonexistent/x.png";
    for (int type : {0, 4, 5, 6, 9})
        EXPECT_EQ(ARI_INVALID_PARAMETERS, f.SaveDrawingImage(f.id, type, path, 0)) << type;
    EXPECT_EQ(ARI_NO_DATA, f.SaveDrawingImage(f.id, EBITI_PNG, path, 0)) << "valid type, no ink";
    EXPECT_EQ(ARI_INVALID_PARAMETERS, f.SetSaveCenterImageClip(f.id, true, -1, 0));
    EXPECT_EQ(ARI_INVALID_PARAMETERS, f.SetSaveCenterImageClip(f.id, true, 0, -1));
    EXPECT_EQ(ARI_SUCCESS, f.SetSaveCenterImageClip(f.id, true, 5, 5));
    int out[2] = {};
    EXPECT_EQ(ARI_INVALID_PARAMETERS, f.getDeviceInfo(f.id, 0, out));
    EXPECT_EQ(ARI_INVALID_PARAMETERS, f.getDeviceInfo(f.id, 8, out));
    EXPECT_EQ(ARI_INVALID_PARAMETERS, f.getDeviceInfo(f.id, 2, nullptr));
    EXPECT_EQ(ARI_SUCCESS, f.getDeviceInfo(f.id, DIID_GET_X_RANGE, out));
    EXPECT_EQ(0, out[0]);
    EXPECT_EQ(TraitsForDevice(f.id)->nRawSpanX, out[1]);
    for (int type : {0, 4, 5, 7})
        EXPECT_EQ(nullptr, f.PacketsBase64Encode(f.id, type)) << type;
    EXPECT_EQ(nullptr, f.PacketsBase64EncodeEx(f.id, 4, true));
    EXPECT_EQ(ARI_INVALID_PARAMETERS, f.Base64Decode(f.id, 4, "AAAA", path));
    EXPECT_EQ(ARI_INVALID_PARAMETERS, f.Base64Decode(f.id, EBITI_INK, nullptr, path));
    EXPECT_EQ(ARI_INVALID_PARAMETERS, f.Base64Decode(f.id, EBITI_INK, "", path));
    EXPECT_EQ(ARI_INVALID_PARAMETERS, f.GetDecodePacketsData(f.id, 0, 0));
    EXPECT_EQ(ARI_INVALID_PARAMETERS, f.GetDecodePacketsData(f.id, 0, 4));
    EXPECT_EQ(ARI_NO_DATA, f.GetDecodePacketsData(f.id, 0, INKDATATYPE_X)) << "valid type, nothing decoded";
    EXPECT_FALSE(f.RealTimeSignatureDataCallback(f.id, nullptr));
    EXPECT_TRUE(f.RealTimeSignatureDataCallback(f.id, LiveRecorder::Callback));
    EXPECT_EQ(ARI_INVALID_PARAMETERS, f.SetPenWidth(f.id, 0));
    EXPECT_EQ(ARI_INVALID_PARAMETERS, f.SetPenWidth(f.id, 11));
    EXPECT_EQ(ARI_SUCCESS, f.SetPenWidth(f.id, 10));
}

TEST_P(Frame, AboutInfoText)
{
    const Family& f = GetParam();
    char about[256];
    memset(about, 'x', sizeof about);
    f.GetAboutInfo(f.id, about);
    const std::string text(about);
    EXPECT_EQ(0u, text.find("About\n\nDIVuziDad SDK on Linux OS\nVersion : 3.0.0.0\n"));
    EXPECT_LT(text.size(), 256u);
}

INSTANTIATE_TEST_SUITE_P(Families, Frame, ::testing::ValuesIn(kFamilies),
                         [](const ::testing::TestParamInfo<Family>& info) { return std::string(info.param.name); });

TEST(FrameFamilies, ScreenAndFingerprintFunctionsWithoutCanvas)
{
    EXPECT_EQ(VTQ210_OpenLCD(5, true), ARI_INVALID_PARAMETERS);
    EXPECT_EQ(VTQ220_OpenLCD(5, true), ARI_FAILED);
    EXPECT_EQ(VTQ230F_GetFPImageBase64Data(7, 4, false), nullptr);
    EXPECT_EQ(VTQ230F_GetFPImageBase64Data(7, 3, false), nullptr);
    EXPECT_EQ(VTQ230F_SetDisplayedFPImageAt(7, nullptr, 400, 200, 0, 0, 100, 100), ARI_FAILED);
    EXPECT_EQ(VTQ230F_SetDisplayedFPImageAt(2, nullptr, 400, 200, 0, 0, 100, 100), ARI_INVALID_PARAMETERS);
}

} // namespace
