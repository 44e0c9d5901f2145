// The exported interface: one family of plain C functions per pad model.
// Every function checks the device type and its arguments, finds the current
// canvas and forwards to it. The families are generated from one template
// (SdkFrame<traits>) by the export macros at the end of this file.
#include "vtinksdk.h"

#include "signobj.h"
#include "vtlog.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

#include <cstring>
#include <string>

namespace {

constexpr const char* kSdkVersion = "3.0.0.0";
constexpr int kMaxCanvasSide = 8192; // canvas sizes come straight from web pages

bool InRange(int n, int lo, int hi)
{
    return n >= lo && n <= hi;
}

bool IsEncoderType(int nImageTypeID)
{
    return InRange(nImageTypeID, EBITI_BITMAP, EBITI_PNG) || nImageTypeID == EBITI_INK;
}

QWidget* FindWidget(VTSDK_WId wid)
{
    return wid ? QWidget::find(WId(wid)) : nullptr;
}

void ShowAboutBox(QWidget* pParent)
{
    // A modal box needs a widget application; a headless host has none.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    const QString text = QStringLiteral("<p align='center'>DIVuziDad SDK on Linux OS<br>Version : %1<br>"
                                        "Copyright (C) Vantor. All rights reserved.</p>")
                             .arg(QLatin1String(kSdkVersion));
    QMessageBox::about(pParent, QStringLiteral("About"), text);
}

template <const ModelTraits& T> struct SdkFrame {
    static std::string L(const char* pszOp) { return std::string(T.pszFamily) + pszOp + "()"; }
    static std::wstring LW(const char* pszOp)
    {
        const std::string s = L(pszOp);
        return std::wstring(s.begin(), s.end());
    }
    static CSignCore* Canvas() { return g_pSignWidget.load(); }

    // Result kinds of a refused device type: int code, null, false, nothing.
    static int BadTypeInt(const char* op)
    {
        VT_LOG(L(op).c_str(), "<%ld>-leave with ARI_INVALID_PARAMETERS due to (nDeviceType != %s) !", T.pszDeviceConst);
        return ARI_INVALID_PARAMETERS;
    }
    static char* BadTypePtr(const char* op)
    {
        VT_LOG(L(op).c_str(), "<%ld>-leave with nullptr due to (nDeviceType != %s) !", T.pszDeviceConst);
        return nullptr;
    }
    static bool BadTypeBool(const char* op)
    {
        VT_LOG(L(op).c_str(), "<%ld>-leave with false due to (nDeviceType != %s) !", T.pszDeviceConst);
        return false;
    }
    static void BadTypeVoid(const char* op)
    {
        VT_LOG(L(op).c_str(), "<%ld>-leave due to (nDeviceType != %s) !", T.pszDeviceConst);
    }

    // Forward an int operation: device type, then canvas.
    template <class F> static int Int(int nDeviceType, const char* op, F f, int nNoCanvas = ARI_FAILED)
    {
        if (nDeviceType != T.nDeviceId)
            return BadTypeInt(op);
        CSignCore* c = Canvas();
        if (!c) {
            VT_LOG(L(op).c_str(), "<%ld>-leave with false due to (g_pSignWidget == nullptr) !");
            return nNoCanvas;
        }
        const int nResult = f(c);
        VT_LOG(L(op).c_str(), "<%ld>-leave with nResult=%d !", nResult);
        return nResult;
    }
    template <class F> static char* Ptr(int nDeviceType, const char* op, F f)
    {
        if (nDeviceType != T.nDeviceId)
            return BadTypePtr(op);
        CSignCore* c = Canvas();
        if (!c)
            return nullptr;
        char* p = f(c);
        VT_LOG(L(op).c_str(), "<%ld>-leave with pEncodeBase64Image=%lx !", (unsigned long)p);
        return p;
    }
    // Releases a library-allocated text. Done also without a canvas: the array
    // is ours either way, and dropping it would only leak.
    static void Free(int nDeviceType, const char* op, char* p)
    {
        if (nDeviceType != T.nDeviceId)
            return BadTypeVoid(op);
        delete[] p;
        VT_LOG(L(op).c_str(), "<%ld>-after call delete[] pEncodedData !");
    }

    static bool Create(QWidget* pParent, int nX, int nY, int nWidth, int nHeight)
    {
        CSignCore* c = CreateSignCanvas(T, pParent, nWidth, nHeight);
        if (!c)
            return false;
        g_bUseSignObj = pParent == nullptr;
        g_pSignWidget = c; // before the driver starts: its first callbacks must find the canvas
        if (!c->IsDeviceConnected()) {
            UnInitialDevice(T.nDeviceId);
            return false;
        }
        if (pParent)
            c->PlaceWidget(nX, nY, nWidth, nHeight);
        return true;
    }

    static bool PreCreate(int nDeviceType, const char* op, int nWidth, int nHeight, bool& bDone)
    {
        bDone = true;
        if (nDeviceType != T.nDeviceId)
            return BadTypeBool(op);
        if (Canvas()) {
            VT_LOG(L(op).c_str(), "<%ld>-leave with true due to g_pSignWidget already created !");
            return true;
        }
        if (!InRange(nWidth, 1, kMaxCanvasSide) || !InRange(nHeight, 1, kMaxCanvasSide)) {
            VT_LOG(L(op).c_str(), "<%ld>-leave with false due to canvas size %dx%d !", nWidth, nHeight);
            return false;
        }
        bDone = false;
        return false;
    }

    static bool InitialDevice(int nDeviceType, QWidget* pParent, int nX, int nY, int nWidth, int nHeight)
    {
        VT_LOG(L("InitialDevice").c_str(), "<%ld>-Enter, nDeviceType=%d, nX=%d, nY=%d, nWidth=%d, nHeight=%d",
               nDeviceType, nX, nY, nWidth, nHeight);
        bool bDone = false;
        const bool bEarly = PreCreate(nDeviceType, "InitialDevice", nWidth, nHeight, bDone);
        if (bDone)
            return bEarly;
        const bool bRet = Create(pParent, nX, nY, nWidth, nHeight);
        VT_LOG(L("InitialDevice").c_str(), "<%ld>-leave with bRet=%d !", int(bRet));
        return bRet;
    }

    static bool InitialDeviceByWId(int nDeviceType, VTSDK_WId wid, int nX, int nY, int nWidth, int nHeight)
    {
        VT_LOG(L("InitialDeviceByWId").c_str(), "<%ld>-Enter, nDeviceType=%d, nX=%d, nY=%d, nWidth=%d, nHeight=%d",
               nDeviceType, nX, nY, nWidth, nHeight);
        bool bDone = false;
        const bool bEarly = PreCreate(nDeviceType, "InitialDeviceByWId", nWidth, nHeight, bDone);
        if (bDone)
            return bEarly;
        QWidget* pParent = FindWidget(wid);
        if (wid && !pParent)
            return false;
        return Create(pParent, nX, nY, nWidth, nHeight);
    }

    static int UnInitialDevice(int nDeviceType)
    {
        if (nDeviceType != T.nDeviceId)
            return BadTypeInt("UnInitialDevice");
        CSignCore* c = g_pSignWidget.load();
        if (!c)
            return ARI_SUCCESS;
        c->Shutdown(); // the driver no longer calls back after this
        g_pSignWidget = nullptr;
        g_bUseSignObj = false;
        c->Dispose();
        VT_LOG(L("UnInitialDevice").c_str(), "<%ld>-leave with ARI_SUCCESS...");
        return ARI_SUCCESS;
    }

    static int SaveDrawingImage(int nDeviceType, int nImageTypeID, wchar_t* pPath, int nDPILevel)
    {
        VT_LOGW(LW("SaveDrawingImage").c_str(), L"<%ld>-enter, nImageTypeID=%d, pImageFilePath=%x, nDPILevel=%d",
                nImageTypeID, (unsigned)(uintptr_t)pPath, nDPILevel);
        if (nDeviceType != T.nDeviceId)
            return BadTypeInt("SaveDrawingImage");
        if (!InRange(nImageTypeID, EBITI_BITMAP, EBITI_PNG) && !InRange(nImageTypeID, EBITI_PDF, EBITI_SVG)) {
            VT_LOG(L("SaveDrawingImage").c_str(),
                   "<%ld>-leave with ARI_INVALID_PARAMETERS due to nImageTypeID out of range !");
            return ARI_INVALID_PARAMETERS;
        }
        return Int(nDeviceType, "SaveDrawingImage",
                   [&](CSignCore* c) { return c->SaveDrawingImage(nImageTypeID, pPath, nDPILevel == 0 ? 150 : 300); });
    }

    static int SetSaveCenterImageClip(int nDeviceType, bool bClip, int nMarginX, int nMarginY)
    {
        if (nDeviceType != T.nDeviceId)
            return BadTypeInt("SetSaveCenterImageClip");
        if (nMarginX < 0 || nMarginY < 0) {
            VT_LOG(L("SetSaveCenterImageClip").c_str(),
                   "<%ld>-leave with ARI_INVALID_PARAMETERS due to (nClipMarginX < 0) || (nClipMarginY < 0) !");
            return ARI_INVALID_PARAMETERS;
        }
        return Int(nDeviceType, "SetSaveCenterImageClip",
                   [&](CSignCore* c) { return c->SetSaveClipImageMargin(bClip, nMarginX, nMarginY); });
    }

    static int getDeviceInfo(int nDeviceType, int nIndex, void* pOutput)
    {
        if (nDeviceType != T.nDeviceId)
            return BadTypeInt("getDeviceInfo");
        if (!InRange(nIndex, DIID_GET_STATUS, DIID_GET_DRV_VER) || !pOutput) {
            VT_LOG(L("getDeviceInfo").c_str(), "<%ld>-leave with ARI_INVALID_PARAMETERS due to (nIndex < DIID_GET_STATUS) || "
                                               "(nIndex > DIID_GET_DRV_VER) || (pOutput == nullptr) !");
            return ARI_INVALID_PARAMETERS;
        }
        return Int(nDeviceType, "getDeviceInfo", [&](CSignCore* c) { return c->GetDeviceInfo(nIndex, pOutput); });
    }

    static char* Encode(int nDeviceType, const char* op, int nImageTypeID, bool bEx, bool bTransparent)
    {
        if (nDeviceType != T.nDeviceId)
            return BadTypePtr(op);
        if (!IsEncoderType(nImageTypeID)) {
            VT_LOG(L(op).c_str(), "<%ld>-leave with nullptr due to (nImageTypeID < EBITI_BITMAP) || "
                                  "((nImageTypeID > EBITI_PNG) && (nImageTypeID != EBITI_INK)) !");
            return nullptr;
        }
        return Ptr(nDeviceType, op, [&](CSignCore* c) {
            return bEx ? c->Base64EncodeEx(nImageTypeID, bTransparent) : c->Base64Encode(nImageTypeID);
        });
    }

    static int Base64Decode(int nDeviceType, int nImageTypeID, const char* pEncodedData, wchar_t* pPath)
    {
        VT_LOGW(LW("Base64Decode").c_str(), L"<%ld>-enter, nImageTypeID=%d, pImageFilePath=%x", nImageTypeID,
                (unsigned)(uintptr_t)pPath);
        if (nDeviceType != T.nDeviceId)
            return BadTypeInt("Base64Decode");
        if (!IsEncoderType(nImageTypeID)) {
            VT_LOG(L("Base64Decode").c_str(), "<%ld>-leave with ARI_INVALID_PARAMETERS due to (nImageTypeID < EBITI_BITMAP) || "
                                              "((nImageTypeID > EBITI_PNG) && (nImageTypeID != EBITI_INK)) !");
            return ARI_INVALID_PARAMETERS;
        }
        if (!pEncodedData || !*pEncodedData) {
            VT_LOG(L("Base64Decode").c_str(), "<%ld>-leave with nullptr due to (pEncodedData : null or empty) !");
            return ARI_INVALID_PARAMETERS;
        }
        return Int(nDeviceType, "Base64Decode",
                   [&](CSignCore* c) { return c->Base64Decode(nImageTypeID, pEncodedData, pPath); });
    }

    static int GetDecodePacketsData(int nDeviceType, int nIndex, int nTypeID)
    {
        if (nDeviceType != T.nDeviceId)
            return BadTypeInt("GetDecodePacketsData");
        if (!InRange(nTypeID, INKDATATYPE_X, INKDATATYPE_STROKEEND)) {
            VT_LOG(L("GetDecodePacketsData").c_str(), "<%ld>-leave with ARI_INVALID_PARAMETERS due to (nTypeID < "
                                                      "INKDATATYPE_X) || (nTypeID > INKDATATYPE_STROKEEND) !");
            return ARI_INVALID_PARAMETERS;
        }
        return Int(nDeviceType, "GetDecodePacketsData",
                   [&](CSignCore* c) { return c->GetDecodePACKETS(nIndex, nTypeID); });
    }

    static bool RealTimeSignatureDataCallback(int nDeviceType, ::RealTimeSignatureDataCallback fn)
    {
        if (nDeviceType != T.nDeviceId || !fn) {
            VT_LOG(L("RealTimeSignatureDataCallback").c_str(),
                   "<%ld>-leave false due to (nDeviceType != %s) || (pfnRealTimeSignDataCallback == nullptr) !",
                   T.pszDeviceConst);
            return false;
        }
        CSignCore* c = Canvas();
        const bool bRet = c && c->SetRealTimeSignDataCallback(fn);
        VT_LOG(L("RealTimeSignatureDataCallback").c_str(), "<%ld>-leave with bRet = %d...", int(bRet));
        return bRet;
    }

    static void GetAboutInfo(int nDeviceType, char* pBuffer)
    {
        if (nDeviceType != T.nDeviceId)
            return BadTypeVoid("GetAboutInfo");
        if (!pBuffer)
            return;
        snprintf(pBuffer, 256, "About\n\nDIVuziDad SDK on Linux OS\nVersion : %s\nCopyright (C) Vantor. All rights reserved.",
                 kSdkVersion);
    }

    static int getPackets(int nDeviceType, _PACKETS* p)
    {
        if (nDeviceType != T.nDeviceId)
            return BadTypeInt("getPackets");
        if (!p)
            return ARI_INVALID_PARAMETERS;
        return Int(nDeviceType, "getPackets", [&](CSignCore* c) { return c->GetPACKETS(*p); });
    }

    static int SetDisplayedFPImageAt(int nDeviceType, QWidget* pParent, bool bByWId, int nCanvasWidth,
                                     int nCanvasHeight, int nFPLeft, int nFPTop, int nFPWidth, int nFPHeight)
    {
        return Int(nDeviceType, "SetDisplayedFPImageAt", [&](CSignCore* c) {
            if (g_bUseSignObj)
                return c->SetDisplayedFPImageAt(nCanvasWidth, nCanvasHeight, nFPLeft, nFPTop, nFPWidth, nFPHeight);
            if (bByWId && !pParent)
                return ARI_FAILED; // window id not found
            return c->SetDisplayedFPImageAt(pParent, nFPLeft, nFPTop, nFPWidth, nFPHeight);
        });
    }

    static char* GetFPImageBase64Data(int nDeviceType, int nImageTypeID, bool bFPImageOnly)
    {
        if (nDeviceType != T.nDeviceId)
            return BadTypePtr("GetFPImageBase64Data");
        if (!InRange(nImageTypeID, EBITI_BITMAP, EBITI_PNG))
            return nullptr;
        return Ptr(nDeviceType, "GetFPImageBase64Data",
                   [&](CSignCore* c) { return c->GetFPImageBase64Data(nImageTypeID, bFPImageOnly); });
    }
};

} // namespace

// ---------------------------------------------------------------- exports

#define VT_FRAME(TR) SdkFrame<TR>
#define VT_CANVAS_INT(TR, NAME, CALL) VT_FRAME(TR)::Int(nDeviceType, NAME, [&](CSignCore* c) { return c->CALL; })

#define VT_EXPORT_BASE(P, TR)                                                                                    \
    extern "C" {                                                                                                 \
    bool P##InitialDevice(int nDeviceType, QWidget* pParentWidget, int nX, int nY, int nWidth, int nHeight)     \
    {                                                                                                            \
        return VT_FRAME(TR)::InitialDevice(nDeviceType, pParentWidget, nX, nY, nWidth, nHeight);                 \
    }                                                                                                            \
    bool P##InitialDeviceByWId(int nDeviceType, VTSDK_WId wid, int nX, int nY, int nWidth, int nHeight)         \
    {                                                                                                            \
        return VT_FRAME(TR)::InitialDeviceByWId(nDeviceType, wid, nX, nY, nWidth, nHeight);                      \
    }                                                                                                            \
    int P##UnInitialDevice(int nDeviceType) { return VT_FRAME(TR)::UnInitialDevice(nDeviceType); }              \
    int P##Clear(int nDeviceType) { return VT_CANVAS_INT(TR, "Clear", ClearDeviceContent()); }                   \
    int P##GetHWPadID(int nDeviceType, char* pPadID, int nMaxCount)                                              \
    {                                                                                                            \
        return VT_CANVAS_INT(TR, "GetHWPadID", GetDevicePadID(pPadID, nMaxCount));                               \
    }                                                                                                            \
    int P##GetHWVersionID(int nDeviceType, char* pVersion, int nMaxCount)                                        \
    {                                                                                                            \
        return VT_CANVAS_INT(TR, "GetHWVersionID", GetDevicePartsVersion(pVersion, nMaxCount));                  \
    }                                                                                                            \
    int P##SetPenStyle(int nDeviceType, bool bPressureOn)                                                        \
    {                                                                                                            \
        return VT_CANVAS_INT(TR, "SetPenStyle", SetDevicePenStyle(bPressureOn));                                 \
    }                                                                                                            \
    int P##SetPenWidth(int nDeviceType, int nPenWidth)                                                           \
    {                                                                                                            \
        return VT_CANVAS_INT(TR, "SetPenWidth", SetDevicePenWidth(nPenWidth));                                   \
    }                                                                                                            \
    int P##SignatureStatusCallback(int nDeviceType, SignatureStatusCallback pStatus)                             \
    {                                                                                                            \
        return VT_CANVAS_INT(TR, "SignatureStatusCallback", SetSignatureStatusCallback(pStatus));                \
    }                                                                                                            \
    int P##GetTotalPacketsNumber(int nDeviceType)                                                                \
    {                                                                                                            \
        return VT_FRAME(TR)::Int(                                                                                \
            nDeviceType, "GetTotalPacketsNumber", [](CSignCore* c) { return c->GetTotalInkPointsNumber(); },     \
            ARI_NO_DATA);                                                                                        \
    }                                                                                                            \
    int P##getPackets(int nDeviceType, _PACKETS* pPackets) { return VT_FRAME(TR)::getPackets(nDeviceType, pPackets); } \
    char* P##GetInkPointTime(int nDeviceType, int nIndex)                                                        \
    {                                                                                                            \
        return VT_FRAME(TR)::Ptr(nDeviceType, "GetInkPointTime",                                                 \
                                 [&](CSignCore* c) { return c->GetInkPointTime(nIndex); });                      \
    }                                                                                                            \
    void P##FreeInkPointTime(int nDeviceType, char* p) { VT_FRAME(TR)::Free(nDeviceType, "FreeInkPointTime", p); } \
    int P##SaveDrawingImage(int nDeviceType, int nImageTypeID, wchar_t* pImageFilePath, int nDPILevel)          \
    {                                                                                                            \
        return VT_FRAME(TR)::SaveDrawingImage(nDeviceType, nImageTypeID, pImageFilePath, nDPILevel);             \
    }                                                                                                            \
    int P##SetSaveCenterImageClip(int nDeviceType, bool bClipImage, int nClipMarginX, int nClipMarginY)          \
    {                                                                                                            \
        return VT_FRAME(TR)::SetSaveCenterImageClip(nDeviceType, bClipImage, nClipMarginX, nClipMarginY);        \
    }                                                                                                            \
    int P##getDeviceInfo(int nDeviceType, int nIndex, void* pOutput)                                             \
    {                                                                                                            \
        return VT_FRAME(TR)::getDeviceInfo(nDeviceType, nIndex, pOutput);                                        \
    }                                                                                                            \
    void P##AboutBoxByWId(VTSDK_WId wid)                                                                         \
    {                                                                                                            \
        if (QWidget* pParent = FindWidget(wid))                                                                  \
            ShowAboutBox(pParent);                                                                               \
    }                                                                                                            \
    void P##AboutBox(QWidget* pParentWidget) { ShowAboutBox(pParentWidget); }                                    \
    void P##GetAboutInfo(int nDeviceType, char* pAboutInfo) { VT_FRAME(TR)::GetAboutInfo(nDeviceType, pAboutInfo); } \
    char* P##PacketsBase64Encode(int nDeviceType, int nImageTypeID)                                              \
    {                                                                                                            \
        return VT_FRAME(TR)::Encode(nDeviceType, "PacketsBase64Encode", nImageTypeID, false, true);              \
    }                                                                                                            \
    void P##PacketsBase64EncodeFree(int nDeviceType, char* p)                                                    \
    {                                                                                                            \
        VT_FRAME(TR)::Free(nDeviceType, "PacketsBase64EncodeFree", p);                                           \
    }                                                                                                            \
    int P##Base64Decode(int nDeviceType, int nImageTypeID, const char* pEncodedData, wchar_t* pImageFilePath)    \
    {                                                                                                            \
        return VT_FRAME(TR)::Base64Decode(nDeviceType, nImageTypeID, pEncodedData, pImageFilePath);              \
    }                                                                                                            \
    int P##GetTotalDecodePacketsNumber(int nDeviceType)                                                          \
    {                                                                                                            \
        return VT_FRAME(TR)::Int(                                                                                \
            nDeviceType, "GetTotalDecodePacketsNumber",                                                          \
            [](CSignCore* c) { return c->GetTotalDecodeInkPointsNumber(); }, ARI_NO_DATA);                       \
    }                                                                                                            \
    int P##GetDecodePacketsData(int nDeviceType, int nIndex, int nTypeID)                                        \
    {                                                                                                            \
        return VT_FRAME(TR)::GetDecodePacketsData(nDeviceType, nIndex, nTypeID);                                 \
    }                                                                                                            \
    int P##SetPenColor(int nDeviceType, int nR, int nG, int nB)                                                  \
    {                                                                                                            \
        return VT_CANVAS_INT(TR, "SetPenColor", SetDevicePenColor(nR, nG, nB));                                  \
    }                                                                                                            \
    int P##GetDeviceConfirmOrCancelKeyStatus(int nDeviceType)                                                    \
    {                                                                                                            \
        return VT_CANVAS_INT(TR, "GetDeviceConfirmOrCancelKeyStatus", GetDeviceConfirmOrCancelKeyStatus());     \
    }                                                                                                            \
    char* P##GetSVGImageBase64Data(int nDeviceType)                                                              \
    {                                                                                                            \
        return VT_FRAME(TR)::Ptr(nDeviceType, "GetSVGImageBase64Data",                                           \
                                 [](CSignCore* c) { return c->GetSVGImageBase64Data(); });                       \
    }                                                                                                            \
    void P##FreeSVGImageBase64Data(int nDeviceType, char* p)                                                     \
    {                                                                                                            \
        VT_FRAME(TR)::Free(nDeviceType, "FreeSVGImageBase64Data", p);                                            \
    }                                                                                                            \
    bool P##RealTimeSignatureDataCallback(int nDeviceType, RealTimeSignatureDataCallback fn)                     \
    {                                                                                                            \
        return VT_FRAME(TR)::RealTimeSignatureDataCallback(nDeviceType, fn);                                     \
    }                                                                                                            \
    char* P##PacketsBase64EncodeEx(int nDeviceType, int nImageTypeID, bool bEnableTransparentBackground)         \
    {                                                                                                            \
        return VT_FRAME(TR)::Encode(nDeviceType, "PacketsBase64EncodeEx", nImageTypeID, true,                    \
                                    bEnableTransparentBackground);                                               \
    }                                                                                                            \
    void P##PacketsBase64EncodeExFree(int nDeviceType, char* p)                                                  \
    {                                                                                                            \
        VT_FRAME(TR)::Free(nDeviceType, "PacketsBase64EncodeExFree", p);                                         \
    }                                                                                                            \
    }

#define VT_EXPORT_LCD(P, TR)                                                                                     \
    extern "C" {                                                                                                 \
    int P##OpenLCD(int nDeviceType, bool bOn) { return VT_CANVAS_INT(TR, "OpenLCD", OpenDeviceLCD(bOn)); }       \
    int P##GetHWPenID(int nDeviceType, char* pPenID, int nMaxCount)                                              \
    {                                                                                                            \
        return VT_CANVAS_INT(TR, "GetHWPenID", GetDevicePenID(pPenID, nMaxCount));                               \
    }                                                                                                            \
    int P##DisplayHWVersion(int nDeviceType, bool bOn)                                                           \
    {                                                                                                            \
        return VT_CANVAS_INT(TR, "DisplayHWVersion", ShowVersionInfoOnDevice(bOn));                              \
    }                                                                                                            \
    }

#define VT_EXPORT_FP(P, TR)                                                                                      \
    extern "C" {                                                                                                 \
    int P##SetDisplayedFPImageAtByWId(int nDeviceType, VTSDK_WId wid, int nCanvasWidth, int nCanvasHeight,      \
                                      int nFPLeft, int nFPTop, int nFPWidth, int nFPHeight)                      \
    {                                                                                                            \
        return VT_FRAME(TR)::SetDisplayedFPImageAt(nDeviceType, FindWidget(wid), true, nCanvasWidth,             \
                                                   nCanvasHeight, nFPLeft, nFPTop, nFPWidth, nFPHeight);         \
    }                                                                                                            \
    int P##SetDisplayedFPImageAt(int nDeviceType, QWidget* pParentWidget, int nCanvasWidth, int nCanvasHeight,   \
                                 int nFPLeft, int nFPTop, int nFPWidth, int nFPHeight)                           \
    {                                                                                                            \
        return VT_FRAME(TR)::SetDisplayedFPImageAt(nDeviceType, pParentWidget, false, nCanvasWidth,              \
                                                   nCanvasHeight, nFPLeft, nFPTop, nFPWidth, nFPHeight);         \
    }                                                                                                            \
    char* P##GetFPImageBase64Data(int nDeviceType, int nImageTypeID, bool bFPImageOnly)                          \
    {                                                                                                            \
        return VT_FRAME(TR)::GetFPImageBase64Data(nDeviceType, nImageTypeID, bFPImageOnly);                      \
    }                                                                                                            \
    void P##FreeFPImageBase64Data(int nDeviceType, char* p)                                                      \
    {                                                                                                            \
        VT_FRAME(TR)::Free(nDeviceType, "FreeFPImageBase64Data", p);                                             \
    }                                                                                                            \
    }

VT_EXPORT_BASE(VTQ210_, g_TraitsQ210)
VT_EXPORT_LCD(VTQ210_, g_TraitsQ210)
VT_EXPORT_BASE(VTQ220_, g_TraitsQ220)
VT_EXPORT_LCD(VTQ220_, g_TraitsQ220)
VT_EXPORT_BASE(VTQ230F_, g_TraitsQ230F)
VT_EXPORT_LCD(VTQ230F_, g_TraitsQ230F)
VT_EXPORT_FP(VTQ230F_, g_TraitsQ230F)
VT_EXPORT_BASE(RUVU410_, g_TraitsQT410)
VT_EXPORT_BASE(ROV420_, g_TraitsM420)
