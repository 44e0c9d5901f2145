// Opening the pad and the pen-event pipeline of a signature canvas.
#include "sdkcore.h"
#include "fplayer.h"
#include "signobj.h"
#include "vtlog.h"

#include <cstring>

CSignCore::CSignCore(const SdkModelTraits& traits, int nWidth, int nHeight, bool bDropHighPressure)
    : m_Traits(traits), m_strLabel(std::string("C") + traits.Name() + "SignObj::"),
      m_bDropHighPressure(bDropHighPressure), m_Canvas(traits, nWidth, nHeight, m_strLabel), m_Ink(m_strLabel),
      m_Driver(traits, m_strLabel), m_KeyGate(traits.eKeyModel, m_strLabel), m_Export(m_Canvas, m_Ink, m_strLabel)
{
    if (traits.HasFingerprint()) {
        m_pFingerprint.reset(new CFingerprintLayer(m_Canvas, m_Driver));
        m_Canvas.SetOverlay(m_pFingerprint.get());
        m_Export.SetFingerprint(m_pFingerprint.get());
        m_pFingerprint->StartScreenThread();
    }
    m_KeyGate.Start();
}

CSignCore::~CSignCore()
{
    // The frame calls Shutdown first; this only covers a canvas dropped without it.
    Shutdown();
}

bool CSignCore::OpenSignPad()
{
    // Pen events count from here on, while the pad is still being identified.
    m_bDeviceConnected = m_Driver.LoadDIVuziDadDriver(RxSignPadRawDataCallback,
                                                      m_Traits.HasFingerprint() ? RxQ230FSignPadFPRawDataCallback
                                                                               : nullptr);
    if (!m_bDeviceConnected)
        return false;
    const int nLevels = m_Driver.IdentifyPad();
    if (nLevels == 0) {
        m_bDeviceConnected = false;
        return false;
    }
    m_Canvas.SetPressureLevels(nLevels);
    m_Ink.Open();
    VT_LOG(Label("IsDeviceConnected").c_str(), "<%ld>-leave with m_bDeviceConnected=%d", 1);
    return true;
}

void CSignCore::AssumeConnected()
{
    m_Ink.Open();
    m_bDeviceConnected = true;
}

void CSignCore::Shutdown()
{
    if (m_pFingerprint)
        m_pFingerprint->StopScreenThread(); // before the driver goes: the thread calls into it
    m_KeyGate.Stop();
    m_Driver.ShutdownDIVuziDadDriver(); // the driver's threads no longer call back after it
    m_bDeviceConnected = false;
    m_Ink.Close();
    if (m_pFingerprint)
        m_pFingerprint->DropPlaced();
}

// ---------------------------------------------------------------- device operations

int CSignCore::OpenDeviceLCD(bool bOn)
{
    if (!Api().m_pfn_VTSPDAPI_OpenDeviceLCD)
        return ARI_FAILED;
    if (!bOn)
        m_Canvas.ClearSignCanvas();
    return Api().m_pfn_VTSPDAPI_OpenDeviceLCD(bOn);
}

int CSignCore::SetDevicePenStyle(bool b)
{
    if (!Api().m_pfn_VTSPDAPI_SetDevicePenStyle)
        return ARI_FAILED;
    m_Canvas.SetWithPressureValue(b);
    return m_Traits.bPenStyleToDriver ? Api().m_pfn_VTSPDAPI_SetDevicePenStyle(b) : ARI_SUCCESS;
}

int CSignCore::SetDevicePenColor(int r, int g, int b)
{
    m_Canvas.SetDevicePenColor(r, g, b);
    return ARI_SUCCESS;
}

int CSignCore::SetSignatureStatusCallback(SignatureStatusCallback fn)
{
    m_KeyGate.SetSignatureStatusCallback(fn);
    return ARI_SUCCESS;
}

bool CSignCore::SetRealTimeSignDataCallback(RealTimeSignatureDataCallback fn)
{
    m_pfnRealTimeSignDataCallback = fn;
    return true;
}

int CSignCore::SetPadEventCallback(PadEventCallback fn, void* pContext)
{
    std::lock_guard<std::mutex> lock(m_PadEventMutex);
    m_pfnPadEventCallback = fn;
    m_pPadEventContext = pContext;
    return ARI_SUCCESS;
}

void CSignCore::PadEvent(int nEvent)
{
    PadEventCallback fn;
    void* pContext;
    {
        std::lock_guard<std::mutex> lock(m_PadEventMutex);
        fn = m_pfnPadEventCallback;
        pContext = m_pPadEventContext;
    }
    if (fn)
        fn(nEvent, pContext);
}

void CSignCore::PadPresence(bool bBack)
{
    PadEventCallback fn;
    void* pContext;
    {
        // Only for hosts that asked: for the others nothing changes. The
        // session stays as it is: a pad back is opened by a new InitialDevice.
        std::lock_guard<std::mutex> lock(m_PadEventMutex);
        fn = m_pfnPadEventCallback;
        pContext = m_pPadEventContext;
        if (!fn)
            return;
        if (!bBack)
            m_bPadGone = true;
    }
    fn(bBack ? PADEV_PLUGGED : PADEV_UNPLUGGED, pContext);
}

int CSignCore::ClearDeviceContent()
{
    int nResult = ARI_FAILED;
    if (Api().m_pfn_VTSPDAPI_ClearDeviceContent) {
        m_Canvas.ClearSignCanvas();
        if (m_KeyGate.TakePadClearedByCancel()) {
            // The pad cleared itself when its cancel key was used.
            VT_LOG(Label("ClearDeviceContent").c_str(), "<%ld>-m_bPenDownOnCancelButton = false");
            nResult = ARI_SUCCESS;
        } else {
            nResult = Api().m_pfn_VTSPDAPI_ClearDeviceContent();
        }
    }
    m_Canvas.ClipOff();
    m_Ink.Clear();
    if (m_pFingerprint)
        m_pFingerprint->ClearPlaced();
    return nResult;
}

int CSignCore::GetDeviceInfo(int nIndex, void* pOutput)
{
    auto* pn = static_cast<int32_t*>(pOutput);
    switch (nIndex) {
    case DIID_GET_STATUS:
        *static_cast<unsigned char*>(pOutput) = m_bDeviceConnected && !m_bPadGone ? 1 : 0;
        break;
    case DIID_GET_X_RANGE:
        pn[0] = 0;
        pn[1] = m_Traits.nRawSpanX;
        break;
    case DIID_GET_Y_RANGE:
        pn[0] = 0;
        pn[1] = m_Traits.nRawSpanY;
        break;
    case DIID_GET_PRESSURE_LEVELS:
        pn[0] = m_Canvas.PressureLevels();
        break;
    case DIID_GET_VENDOR_NAME:
        memcpy(pOutput, "Vantor", 7);
        break;
    case DIID_GET_MODEL_NAME:
        memcpy(pOutput, m_Traits.pszModelText, strlen(m_Traits.pszModelText) + 1);
        break;
    case DIID_GET_DRV_VER:
        pn[0] = 3;
        pn[1] = 0;
        break;
    default:
        return ARI_INVALID_PARAMETERS;
    }
    return ARI_SUCCESS;
}

// ---------------------------------------------------------------- pen pipeline

void CSignCore::RxSignPadRawData(int nX, int nY, int nP, int nPenStatus)
{
    if (!m_bDeviceConnected)
        return;
    if (nPenStatus == HWET_PAD_GONE || nPenStatus == HWET_PAD_BACK) {
        PadPresence(nPenStatus == HWET_PAD_BACK);
        return;
    }
    if (nPenStatus < HWET_PEN_DOWN || nPenStatus > HWET_CONFIRM_KEY)
        return;
    double dblX = 0, dblY = 0, dblPressure = 0;
    _POINTDATA end{};
    switch (nPenStatus) {
    case HWET_PEN_DOWN:
        if (!m_KeyGate.PenMayGoDown())
            return;
        m_bPenDown = true;
        m_Canvas.ConvertSignRawDataToSignWndData(nX, nY, nP, dblX, dblY, dblPressure);
        m_Canvas.StartStroke(dblX, dblY); // nothing drawn yet
        if (m_Ink.Append(nX, nY, nP, false))
            PointStored(nX, nY, nP, false);
        break;
    case HWET_PEN_MOVE:
        if (!m_bPenDown)
            return;
        if (m_bDropHighPressure && nP > m_Canvas.PressureLevels()) {
            VT_LOG_THREAD(Label("RxSignPadRawData").c_str(), "<%ld>-Rx invalid pressure value, skip !");
            return;
        }
        m_Canvas.ConvertSignRawDataToSignWndData(nX, nY, nP, dblX, dblY, dblPressure);
        m_Canvas.StartSignOnCanvas(dblX, dblY, dblPressure);
        if (m_Ink.Append(nX, nY, nP, false)) // only what was stored is reported
            PointStored(nX, nY, nP, false);
        break;
    case HWET_PEN_UP:
        if (!m_bPenDown) {
            m_KeyGate.PenLifted();
            break;
        }
        m_bPenDown = false;
        // The pen-up's own position is not stored: the end repeats the last point.
        if (m_Ink.AppendStrokeEnd(end))
            PointStored(end.nX, end.nY, end.nPressure, true);
        break;
    default:
        if (m_KeyGate.KeyTouched(nPenStatus == HWET_CONFIRM_KEY)) {
            m_bPenDown = false; // a stroke in progress ends without a stroke-end record
            PadEvent(PADEV_KEY_STATUS); // the host may read the key now, before the lift
        }
        break;
    }
}

void CSignCore::PointStored(int nX, int nY, int nP, bool bStrokeEnd)
{
    CheckIfNeedToSendRealTimeSignData(nX, nY, nP, bStrokeEnd ? 0 : 1);
}

void CSignCore::CheckIfNeedToSendRealTimeSignData(int nX, int nY, int nP, unsigned short nPenFlag)
{
    RealTimeSignatureDataCallback fn = m_pfnRealTimeSignDataCallback.load();
    if (!fn)
        return;
    auto normalise = [](int raw, int offset, int span) -> unsigned long {
        long d = long(raw) - offset;
        if (d < 0)
            d = 0;
        if (d > span - 1)
            d = span - 1;
        return (unsigned long)(d * 65535 / span) & 0xFFFFul;
    };
    const unsigned long ulPosition = normalise(nX, m_Traits.nRawOffsetX, m_Traits.nRawSpanX) |
                                     (normalise(nY, m_Traits.nRawOffsetY, m_Traits.nRawSpanY) << 16);
    const long lPressure = long((unsigned long)(nP & 0xFFFF) | ((unsigned long)nPenFlag << 16));
    fn(ulPosition, lPressure);
}

void CSignCore::RxQ230FSignPadFPRawData(unsigned char* pData, int nDataLength, int nScore)
{
    if (m_pFingerprint)
        m_pFingerprint->RxQ230FSignPadFPRawData(pData, nDataLength, nScore, m_bDeviceConnected);
}

// ---------------------------------------------------------------- fingerprint, object kind

int CSignCore::SetDisplayedFPImageAt(int nCanvasWidth, int nCanvasHeight, int nFPLeft, int nFPTop, int nFPWidth,
                                     int nFPHeight)
{
    if (!m_pFingerprint)
        return ARI_FAILED;
    return m_pFingerprint->PlaceOffScreen(nCanvasWidth, nCanvasHeight, nFPLeft, nFPTop, nFPWidth, nFPHeight);
}

int CSignCore::SetDisplayedFPImageAt(QWidget*, int, int, int, int)
{
    return ARI_FAILED;
}

char* CSignCore::GetFPImageBase64Data(int nImageTypeID, bool bFPImageOnly)
{
    if (!m_pFingerprint || m_pFingerprint->Placement() != NFPPA_FP_ON_CANVAS_FROM_JS)
        return nullptr;
    return m_pFingerprint->EncodePlaced(m_Canvas.ClipImage(), m_Canvas.ClipMarginX(), m_Canvas.ClipMarginY(),
                                        bFPImageOnly, nImageTypeID);
}
