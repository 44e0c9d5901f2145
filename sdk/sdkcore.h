// The signature canvas of one pad model, in either kind (headless sign
// object, widget): it opens the pad and routes what the driver reports to
// its parts, and it is what the exported frame forwards to. The parts:
//   CSignPadDriver    the driver and its typed entry points (driverlink.h)
//   CSignCanvas       the drawing surface, scale and pen (signcanvas.h)
//   CInkStore         stored and decoded points, Base64 ink (inkstore.h)
//   CKeyGate          confirm and cancel keys (keygate.h)
//   CImageExport      files, Base64 images, SVG (imageexport.h)
//   CFingerprintLayer the Q230F's fingerprint (fplayer.h, its pad screen in
//                     fpscreen.h), only on that model
// What differs between models is read from its SdkModelTraits row; the
// per-model class names are thin subclasses (signobj.h, signwidget.h).
#pragma once

#include "driverlink.h"
#include "imageexport.h"
#include "inkstore.h"
#include "keygate.h"
#include "modeltraits.h"
#include "signcanvas.h"
#include "vtinkdrv.h"
#include "vtinksdk.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

class CFingerprintLayer;
class QWidget;

class CSignCore {
public:
    // bDropHighPressure: moves with a pressure above the pad's levels are dropped.
    CSignCore(const SdkModelTraits& traits, int nWidth, int nHeight, bool bDropHighPressure);
    virtual ~CSignCore();
    CSignCore(const CSignCore&) = delete;
    CSignCore& operator=(const CSignCore&) = delete;

    const SdkModelTraits& Traits() const { return m_Traits; }

    // Loads the driver, opens the pad, identifies it by its firmware text,
    // clears it and switches its screen on; true when the pad answered.
    bool OpenSignPad();
    // Key thread stopped, driver shut down, ink freed; no callback arrives after it.
    void Shutdown();

    // Device operations behind the exports.
    int OpenDeviceLCD(bool bOn);
    int GetDevicePenID(char* p, int n) { return CallDriver(Api().m_pfn_VTSPDAPI_GetDevicePenID, p, n); }
    int GetDevicePadID(char* p, int n) { return CallDriver(Api().m_pfn_VTSPDAPI_GetDevicePadID, p, n); }
    int GetDeviceSecureID(char* p, int n) { return CallDriver(Api().m_pfn_VTSPDAPI_GetDeviceSecureID, p, n); }
    int GetDevicePartsVersion(char* p, int n) { return CallDriver(Api().m_pfn_VTSPDAPI_GetDevicePartsVersion, p, n); }
    int ShowVersionInfoOnDevice(bool bOn) { return CallDriver(Api().m_pfn_VTSPDAPI_ShowVersionInfoOnDevice, bOn); }
    int SetDevicePenStyle(bool b);
    int SetDevicePenWidth(int n) { return m_Canvas.SetDevicePenWidth(n); }
    int SetDevicePenColor(int r, int g, int b);
    int SetSignatureStatusCallback(SignatureStatusCallback fn);
    bool SetRealTimeSignDataCallback(RealTimeSignatureDataCallback fn);
    int SetPadEventCallback(PadEventCallback fn, void* pContext);
    int ClearDeviceContent();
    int GetDeviceConfirmOrCancelKeyStatus() { return m_KeyGate.GetDeviceConfirmOrCancelKeyStatus(); }
    int GetDeviceInfo(int nIndex, void* pOutput);

    // Pen and fingerprint events (driver threads).
    void RxSignPadRawData(int nX, int nY, int nP, int nPenStatus);
    void RxQ230FSignPadFPRawData(unsigned char* pData, int nDataLength, int nScore);

    // Ink, pictures and their encodings.
    int GetTotalInkPointsNumber() { return m_Ink.GetTotalInkPointsNumber(); }
    int GetPACKETS(_PACKETS& p) { return m_Ink.GetPACKETS(p); }
    char* GetInkPointTime(int nIndex) { return m_Ink.GetInkPointTime(nIndex); }
    char* Base64Encode(int nImageTypeID) { return m_Export.Base64Encode(nImageTypeID); }
    char* Base64EncodeEx(int nImageTypeID, bool bTransparent) { return m_Export.Base64EncodeEx(nImageTypeID, bTransparent); }
    int Base64Decode(int nImageTypeID, const char* pEncodedData, const wchar_t* pImageFilePath)
    {
        return m_Export.Base64Decode(nImageTypeID, pEncodedData, pImageFilePath);
    }
    int GetTotalDecodeInkPointsNumber() { return m_Ink.GetTotalDecodeInkPointsNumber(); }
    int GetDecodePACKETS(int nIndex, int nTypeID) { return m_Ink.GetDecodePACKETS(nIndex, nTypeID); }
    int SetSaveClipImageMargin(bool bClip, int nMarginX, int nMarginY)
    {
        return m_Canvas.SetSaveClipImageMargin(bClip, nMarginX, nMarginY);
    }
    int SaveDrawingImage(int nImageTypeID, const wchar_t* pImageFilePath, int nDPI)
    {
        return m_Export.SaveDrawingImage(nImageTypeID, pImageFilePath, nDPI);
    }
    char* GetSVGImageBase64Data() { return m_Export.GetSVGImageBase64Data(); }

    // Fingerprint placement and picture; ARI_FAILED and null without a
    // fingerprint layer. The object kind places off-screen, the widget kind
    // on itself or in another window.
    virtual int SetDisplayedFPImageAt(int nCanvasWidth, int nCanvasHeight, int nFPLeft, int nFPTop, int nFPWidth,
                                      int nFPHeight);
    virtual int SetDisplayedFPImageAt(QWidget* pParentWidget, int nFPLeft, int nFPTop, int nFPWidth,
                                      int nFPHeight);
    virtual char* GetFPImageBase64Data(int nImageTypeID, bool bFPImageOnly);

    // How the frame disposes of this canvas after Shutdown (widgets: hide, deferred delete).
    virtual void Dispose() { delete this; }
    // Widget kind: geometry, show and size once the pad answered.
    virtual void PlaceWidget(int /*nX*/, int /*nY*/, int /*nWidth*/, int /*nHeight*/) {}

    // The parts, for the canvas kinds, tests and benchmarks.
    CSignCanvas& Canvas() { return m_Canvas; }
    CInkStore& Ink() { return m_Ink; }
    CKeyGate& KeyGate() { return m_KeyGate; }
    CImageExport& Export() { return m_Export; }
    CFingerprintLayer* Fingerprint() { return m_pFingerprint.get(); }
    // Tests and benchmarks: the pipeline runs as if a pad had answered.
    void AssumeConnected();

private:
    // The one step after a record entered the ink (a point, or the end of
    // its stroke, given by its raw values): the live report to the host.
    void PointStored(int nX, int nY, int nP, bool bStrokeEnd);
    void CheckIfNeedToSendRealTimeSignData(int nX, int nY, int nP, unsigned short nPenFlag);
    // Tells the host's pad event callback, when one is set (any thread).
    void PadEvent(int nEvent);
    // The driver lost the pad or has it back (driver threads).
    void PadPresence(bool bBack);
    const DriverEntryPoints& Api() const { return m_Driver.Api(); }
    // An entry point the model may lack: ARI_FAILED when it is not resolved.
    template <class Fn, class... Args> static int CallDriver(Fn pfn, Args... args)
    {
        return pfn ? pfn(args...) : ARI_FAILED;
    }
    std::string Label(const char* pszOp) const { return m_strLabel + pszOp + "()"; }

    const SdkModelTraits& m_Traits;
    const std::string m_strLabel; // "CQ210SignObj::"
    const bool m_bDropHighPressure;
    std::atomic<bool> m_bDeviceConnected{false};
    bool m_bPenDown = false; // reader thread only
    std::atomic<RealTimeSignatureDataCallback> m_pfnRealTimeSignDataCallback{nullptr};
    std::atomic<bool> m_bPadGone{false}; // the driver lost the pad; a new InitialDevice is needed
    std::mutex m_PadEventMutex;          // the callback and its context, set together
    PadEventCallback m_pfnPadEventCallback = nullptr;
    void* m_pPadEventContext = nullptr;
    CSignCanvas m_Canvas;
    CInkStore m_Ink;
    CSignPadDriver m_Driver;
    CKeyGate m_KeyGate;
    CImageExport m_Export;
    // Last, so that it goes first: its thread uses the driver and the canvas.
    std::unique_ptr<CFingerprintLayer> m_pFingerprint;
};
