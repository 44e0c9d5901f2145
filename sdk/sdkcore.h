// Signature canvas core shared by every model and by both canvas kinds
// (headless sign object, widget): driver binding, pen-event pipeline, key
// actions, ink store and image export. What differs between models lives in
// a ModelTraits table (modeltraits.cpp); the per-model class names are thin
// subclasses (signobj.h).
#pragma once

#include "vtinksdk.h"
#include "vtinkdrv.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QLibrary;
class QPainter;
class QWidget;

// One stored point. Its memory layout is the record of the Base64 ink text.
struct _POINTDATA {
    int16_t nX;
    int16_t nY;
    int16_t nPressure;
    uint8_t bStrokeEnd;
    uint8_t ucPadding;  // written as 0
    int64_t lTickCount; // monotonic milliseconds when stored
    int64_t tTime;      // wall-clock seconds when stored
};
static_assert(sizeof(_POINTDATA) == 24, "ink record is 24 bytes");
static_assert(offsetof(_POINTDATA, nX) == 0 && offsetof(_POINTDATA, nY) == 2 &&
                  offsetof(_POINTDATA, nPressure) == 4 && offsetof(_POINTDATA, bStrokeEnd) == 6 &&
                  offsetof(_POINTDATA, lTickCount) == 8 && offsetof(_POINTDATA, tTime) == 16,
              "ink record layout");
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "ink records are copied as little-endian bytes");

using PointDataList = std::vector<_POINTDATA>;

// Driver entry points, in resolution order.
enum DriverEntry : unsigned {
    DRV_INITIAL,
    DRV_UNINITIAL,
    DRV_OPEN_DEVICE_LCD,
    DRV_CLEAR_DEVICE_CONTENT,
    DRV_GET_DEVICE_PEN_ID,
    DRV_GET_DEVICE_PAD_ID,
    DRV_GET_DEVICE_SECURE_ID,
    DRV_GET_DEVICE_PARTS_VERSION,
    DRV_SHOW_VERSION_INFO_ON_DEVICE,
    DRV_SET_DEVICE_PEN_STYLE,
    DRV_SHOW_FP_IMAGE_ON_DEVICE,
    DRV_ENTRY_COUNT
};
#define DRV_BIT(e) (1u << (e))

enum class KeyModel {
    TwoStep, // key counts when the pen lifts from it (HID and fingerprint pads)
    OneStep  // key counts at once (tablets report keys on release)
};

enum class PressureRule {
    PerWidth306,     // width / 306.0
    ThreeTimesLevels // width * 3.0 / pressure levels
};

struct FirmwarePrefix {
    const char* pszPrefix; // compared over its own length
    int nPressureLevels;
};

struct ModelTraits {
    const char* pszName;        // "Q210": class and log names
    const char* pszFamily;      // export prefix, "VTQ210_"
    const char* pszDeviceConst; // "VTQ210_DEVICE", for log lines
    int nDeviceId;
    int nRawOffsetX, nRawSpanX;
    int nRawOffsetY, nRawSpanY;
    PressureRule ePressureRule;
    int nStartPressureLevels;
    const FirmwarePrefix* pPrefixes; // tried in order
    int nPrefixCount;
    unsigned uDriverEntries;   // DRV_BIT set, all required
    bool bHasScreen;           // LCD on at connect, off at shutdown (else: clear at shutdown)
    bool bPenStyleToDriver;    // SetDevicePenStyle reaches the pad
    KeyModel eKeyModel;
    bool bObjDropsHighPressure; // object kind drops moves above the pressure levels
    double dblFixedWidthFactor; // fixed-width strokes: pen width times this
    const char* pszModelText;   // DIID_GET_MODEL_NAME
};

extern const ModelTraits g_TraitsQ210, g_TraitsQ220, g_TraitsQ230F, g_TraitsQT410, g_TraitsM420;
// Traits of a device id, null when unsupported.
const ModelTraits* TraitsForDevice(int nDeviceId);
extern const char* const g_DriverEntryNames[DRV_ENTRY_COUNT];

// Runs the key actions of one canvas; the per-model names are aliases.
class CDoConfirmOrCancelKeyActionThread : public QThread {
    Q_OBJECT
public:
    explicit CDoConfirmOrCancelKeyActionThread(void* pSignObj) : m_pSignObj(pSignObj)
    {
        setObjectName(QStringLiteral("vtsdk-keyaction")); // thread name, as tools show it
    }

protected:
    void run() override;

private:
    void* m_pSignObj;
};

class CSignCore {
public:
    CSignCore(const ModelTraits& traits, int nWidth, int nHeight, HWSignDataCallback pfnPen,
              FPDataCallback pfnFP);
    virtual ~CSignCore();
    CSignCore(const CSignCore&) = delete;
    CSignCore& operator=(const CSignCore&) = delete;

    const ModelTraits& Traits() const { return m_Traits; }

    // Driver and device.
    bool LoadDIVuziDadDriver();
    bool ShutdownDIVuziDadDriver();
    bool IsDeviceConnected();
    int OpenDeviceLCD(bool bOn);
    int GetDevicePenID(char* p, int n);
    int GetDevicePadID(char* p, int n);
    int GetDeviceSecureID(char* p, int n);
    int GetDevicePartsVersion(char* p, int n);
    int ShowVersionInfoOnDevice(bool bOn);
    int SetDevicePenStyle(bool b);
    int SetDevicePenWidth(int n);
    int SetDevicePenColor(int r, int g, int b);
    int SetSignatureStatusCallback(SignatureStatusCallback fn);
    bool SetRealTimeSignDataCallback(RealTimeSignatureDataCallback fn);
    void ClearSignCanvas();
    virtual int ClearDeviceContent();
    int GetDeviceConfirmOrCancelKeyStatus();
    int GetDeviceInfo(int nIndex, void* pOutput);
    virtual void Shutdown();

    // Pen pipeline (driver reader thread).
    void RxSignPadRawData(int nX, int nY, int nP, int nPenStatus);
    void ConvertSignRawDataToSignWndData(int nX, int nY, int nP, double& dblX, double& dblY,
                                         double& dblPressure) const;
    void StartSignOnCanvas(double dblX, double dblY, double dblPressure);
    void CheckIfNeedToSendRealTimeSignData(int nX, int nY, int nP, unsigned short nPenFlag);

    // Key actions (key-action thread).
    bool AreWeGoingToShutDown() const { return m_bShutDown.load(); }
    void RunKeyActionLoop();
    void CheckIfWeCanDoConfirmOrCancelKeyAction();
    void DoClickConfirmKeyAction();
    void DoClickCancelKeyAction();

    // Ink store.
    int GetTotalInkPointsNumber();
    int GetPACKETS(_PACKETS& p);
    char* GetInkPointTime(int nIndex);
    void FreeInkPointTime(char* p);
    char* Base64Encode(int nImageTypeID);
    char* Base64EncodeEx(int nImageTypeID, bool bEnableTransparentBackground);
    void Base64EncodeFree(char* p);
    void Base64EncodeExFree(char* p);
    int Base64Decode(int nImageTypeID, const char* pEncodedData, const wchar_t* pImageFilePath);
    int GetTotalDecodeInkPointsNumber();
    int GetDecodePACKETS(int nIndex, int nTypeID);

    // Image export.
    int SetSaveClipImageMargin(bool bClipImage, int nClipMarginX, int nClipMarginY);
    void CheckSignImageBoundingBox(QRect& rcBoundBox);
    int SaveDrawingImage(int nImageTypeID, const wchar_t* pImageFilePath, int nDPI);
    bool SaveDrawingImageAsPDFFile(QImage image, const QString& path, int nDPI);
    bool SaveDrawingImageAsSVGFile(QImage image, const QString& path, int nDPI, const QRect& rcBoundBox);
    char* EncodeBase64SignImage(int nImageTypeID);
    char* EncodeBase64SignImageEx(int nImageTypeID, bool bEnableTransparentBackground);
    char* GetSVGImageBase64Data();
    void FreeSVGImageBase64Data(char* p);
    static void clearCanvas(QImage& image, int nWidth, int nHeight);

    // Fingerprint model (filled in by the fingerprint canvas).
    virtual void RxQ230FSignPadFPRawData(unsigned char* pData, int nDataLength, int nScore);
    virtual int SetDisplayedFPImageAt(int nCanvasWidth, int nCanvasHeight, int nFPLeft, int nFPTop,
                                      int nFPWidth, int nFPHeight);
    virtual int SetDisplayedFPImageAt(QWidget* pParentWidget, int nFPLeft, int nFPTop, int nFPWidth,
                                      int nFPHeight);
    virtual char* GetFPImageBase64Data(int nImageTypeID, bool bFPImageOnly);
    void FreeFPImageBase64Data(char* p);

    // How the frame disposes of this canvas after Shutdown (widgets: hide, deferred delete).
    virtual void Dispose() { delete this; }
    // Widget kind: which window it lives in (sizes, repaint); null for the object.
    virtual QWidget* Widget() { return nullptr; }
    // Widget kind: geometry, show and size once the pad answered.
    virtual void PlaceWidget(int /*nX*/, int /*nY*/, int /*nWidth*/, int /*nHeight*/) {}

protected:
    // Hooks for the canvas kinds. Called with m_CanvasMutex held.
    virtual QImage& StrokeCanvas() { return m_SignCanvas; } // where segments go
    virtual void AfterSegmentDrawn() {}
    virtual void AfterCanvasCleared() {}
    // Save and plain encoding proceed without ink when this is true.
    virtual bool HasFingerprintImage() const { return false; }
    // Extra content painted into the SVG before the strokes.
    virtual void PaintSvgUnderlay(QPainter&, int /*nWidth*/, int /*nHeight*/, int /*nDPI*/) {}

    // Geometry from a canvas size (constructor, widget resizes).
    void SetGeometryMembers(int nWidth, int nHeight);
    double PressureToWidth(int nPenWidth) const;
    void AppendPoint(int nX, int nY, int nP, bool bStrokeEnd);
    bool AppendStrokeEnd(_POINTDATA& last);
    bool InkIsEmpty();
    QImage TakeSnapshot(QRect& rcBoundBox); // caller holds m_CanvasMutex
    char* EncodeSnapshot(int nImageTypeID, bool bTransparent);
    char* EncodeInkText();
    // The SVG of the stored ink for a picture of this size (empty on failure).
    QByteArray RenderSvg(const QSize& size, int nDPI, const QRect& rcBoundBox);

public:
    // Data model (names as the system uses them).
    const ModelTraits& m_Traits;
    QImage m_SignCanvas;
    QColor m_PenColor{Qt::black};
    QLibrary* m_pSignPadDriver = nullptr;
    int (*m_pfn_VTSPDAPI_Initial)(int, HWSignDataCallback, FPDataCallback) = nullptr;
    int (*m_pfn_VTSPDAPI_UnInitial)() = nullptr;
    int (*m_pfn_VTSPDAPI_OpenDeviceLCD)(bool) = nullptr;
    int (*m_pfn_VTSPDAPI_ClearDeviceContent)() = nullptr;
    int (*m_pfn_VTSPDAPI_GetDevicePenID)(char*, int) = nullptr;
    int (*m_pfn_VTSPDAPI_GetDevicePadID)(char*, int) = nullptr;
    int (*m_pfn_VTSPDAPI_GetDeviceSecureID)(char*, int) = nullptr;
    int (*m_pfn_VTSPDAPI_GetDevicePartsVersion)(char*, int) = nullptr;
    int (*m_pfn_VTSPDAPI_ShowVersionInfoOnDevice)(bool) = nullptr;
    int (*m_pfn_VTSPDAPI_SetDevicePenStyle)(bool) = nullptr;
    int (*m_pfn_VTSPDAPI_ShowFPImageOnDevice)(unsigned char*, int, int, int, bool*) = nullptr;
    bool m_bPenDown = false; // reader thread only
    int m_nCanvasWidth = 0, m_nCanvasHeight = 0;
    int m_nRawOffsetX = 0, m_nRawOffsetY = 0;
    std::atomic<double> m_dblScaleX{0}, m_dblScaleY{0}; // widgets rescale while the reader maps
    std::atomic<double> m_dblPressureToWidth{0};
    std::atomic<int> m_nPenWidth{3};
    double m_dblLastX = 0, m_dblLastY = 0; // under m_CanvasMutex
    std::atomic<bool> m_bDeviceConnected{false};
    std::atomic<int> m_nMaxPressure{0};
    std::atomic<bool> m_bWithPressureValue{true};
    std::atomic<SignatureStatusCallback> m_pfnSignatureStatusCallback{nullptr};
    std::unique_ptr<PointDataList> m_pPointDataList;        // under m_InkListMutex
    bool m_bClipImage = false;
    int m_nClipMarginX = 0, m_nClipMarginY = 0;
    std::unique_ptr<PointDataList> m_pDecodedPointDataList; // host thread only
    std::atomic<int> m_nKeyStatus{-1};
    std::mutex m_CanvasMutex;
    std::atomic<bool> m_bPenDownOnCancelButton{false};
    std::atomic<RealTimeSignatureDataCallback> m_pfnRealTimeSignDataCallback{nullptr};
    std::atomic<bool> m_bShutDown{false};
    CDoConfirmOrCancelKeyActionThread* m_pDoConfirmOrCancelKeyActionThread = nullptr;
    int m_nDoClickConfirmOrCancelKeyActionFlag = -1; // under m_KeyActionMutex
    std::mutex m_KeyActionMutex;
    std::condition_variable m_KeyActionCond; // signalled when a key action waits or at shutdown
    int m_nPenDownOnKey = -1;                // under m_KeyActionMutex
    std::mutex m_InkListMutex;
    bool m_bDropHighPressure; // Q210 object, every widget
    QString m_strSvgTempFile;  // where GetSVGImageBase64Data leaves its SVG

private:
    HWSignDataCallback m_pfnPenCallback;
    FPDataCallback m_pfnFPCallback;
    void KeyEvent(int nStatus);
    void PenUpWithoutStroke();
    std::string Label(const char* pszOp) const;
};

// Bytes to a new zero-terminated array of standard Base64 (array delete).
char* NewBase64Text(const QByteArray& bytes);
// Writes a file through a fresh temporary file renamed into place, so that a
// planted file or symbolic link at the name is replaced, never written through.
bool WriteFileReplacing(const QString& path, const QByteArray& bytes);
