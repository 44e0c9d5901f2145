// Driver binding, pen-event pipeline and key actions of a signature canvas.
#include "sdkcore.h"
#include "vtlog.h"

#include <QLibrary>
#include <QPainter>

#include <cstring>
#include <ctime>

void CDoConfirmOrCancelKeyActionThread::run()
{
    static_cast<CSignCore*>(m_pSignObj)->RunKeyActionLoop();
}

CSignCore::CSignCore(const ModelTraits& traits, int nWidth, int nHeight, HWSignDataCallback pfnPen,
                     FPDataCallback pfnFP)
    : m_Traits(traits), m_bDropHighPressure(traits.bObjDropsHighPressure),
      m_strSvgTempFile(QStringLiteral("/tmp/ROvAdez.svg")), m_pfnPenCallback(pfnPen),
      m_pfnFPCallback(pfnFP)
{
    m_nMaxPressure = traits.nStartPressureLevels;
    SetGeometryMembers(nWidth, nHeight);
    {
        std::lock_guard<std::mutex> lock(m_CanvasMutex);
        clearCanvas(m_SignCanvas, nWidth, nHeight);
    }
    m_pDoConfirmOrCancelKeyActionThread = new CDoConfirmOrCancelKeyActionThread(this);
    m_pDoConfirmOrCancelKeyActionThread->start(QThread::InheritPriority);
}

CSignCore::~CSignCore()
{
    // The frame calls Shutdown first; this only covers a canvas dropped without it.
    Shutdown();
}

std::string CSignCore::Label(const char* pszOp) const
{
    return std::string("C") + m_Traits.pszName + "SignObj::" + pszOp + "()";
}

void CSignCore::SetGeometryMembers(int nWidth, int nHeight)
{
    m_nCanvasWidth = nWidth;
    m_nCanvasHeight = nHeight;
    m_nRawOffsetX = m_Traits.nRawOffsetX;
    m_nRawOffsetY = m_Traits.nRawOffsetY;
    m_dblScaleX = double(nWidth) / m_Traits.nRawSpanX;
    m_dblScaleY = double(nHeight) / m_Traits.nRawSpanY;
    m_dblPressureToWidth = PressureToWidth(m_nPenWidth);
}

double CSignCore::PressureToWidth(int nPenWidth) const
{
    if (m_Traits.ePressureRule == PressureRule::ThreeTimesLevels)
        return nPenWidth * 3.0 / m_nMaxPressure.load();
    return nPenWidth / 306.0;
}

void CSignCore::clearCanvas(QImage& image, int nWidth, int nHeight)
{
    image = QImage(nWidth, nHeight, QImage::Format_ARGB32);
    image.fill(Qt::white);
}

// ---------------------------------------------------------------- driver

bool CSignCore::LoadDIVuziDadDriver()
{
    const std::string label = Label("LoadDIVuziDadDriver");
    if (!m_pSignPadDriver)
        m_pSignPadDriver = new QLibrary(QStringLiteral("./libvtinkdrv.so"));
    if (!m_pSignPadDriver->isLoaded() && !m_pSignPadDriver->load()) {
        VT_LOG(label.c_str(), "<%ld>-'libvtinkdrv.so' Library is not loaded !");
        return false;
    }
    QFunctionPointer resolved[DRV_ENTRY_COUNT] = {};
    for (unsigned e = 0; e < DRV_ENTRY_COUNT; ++e) {
        if (!(m_Traits.uDriverEntries & DRV_BIT(e)))
            continue;
        resolved[e] = m_pSignPadDriver->resolve(g_DriverEntryNames[e]);
        if (!resolved[e]) {
            VT_LOG(label.c_str(), "<%ld>-'libvtinkdrv.so' Library APIs failed to load !");
            return false;
        }
    }
    m_pfn_VTSPDAPI_Initial = reinterpret_cast<decltype(m_pfn_VTSPDAPI_Initial)>(resolved[DRV_INITIAL]);
    m_pfn_VTSPDAPI_UnInitial = reinterpret_cast<decltype(m_pfn_VTSPDAPI_UnInitial)>(resolved[DRV_UNINITIAL]);
    m_pfn_VTSPDAPI_OpenDeviceLCD =
        reinterpret_cast<decltype(m_pfn_VTSPDAPI_OpenDeviceLCD)>(resolved[DRV_OPEN_DEVICE_LCD]);
    m_pfn_VTSPDAPI_ClearDeviceContent =
        reinterpret_cast<decltype(m_pfn_VTSPDAPI_ClearDeviceContent)>(resolved[DRV_CLEAR_DEVICE_CONTENT]);
    m_pfn_VTSPDAPI_GetDevicePenID =
        reinterpret_cast<decltype(m_pfn_VTSPDAPI_GetDevicePenID)>(resolved[DRV_GET_DEVICE_PEN_ID]);
    m_pfn_VTSPDAPI_GetDevicePadID =
        reinterpret_cast<decltype(m_pfn_VTSPDAPI_GetDevicePadID)>(resolved[DRV_GET_DEVICE_PAD_ID]);
    m_pfn_VTSPDAPI_GetDeviceSecureID =
        reinterpret_cast<decltype(m_pfn_VTSPDAPI_GetDeviceSecureID)>(resolved[DRV_GET_DEVICE_SECURE_ID]);
    m_pfn_VTSPDAPI_GetDevicePartsVersion =
        reinterpret_cast<decltype(m_pfn_VTSPDAPI_GetDevicePartsVersion)>(resolved[DRV_GET_DEVICE_PARTS_VERSION]);
    m_pfn_VTSPDAPI_ShowVersionInfoOnDevice = reinterpret_cast<decltype(m_pfn_VTSPDAPI_ShowVersionInfoOnDevice)>(
        resolved[DRV_SHOW_VERSION_INFO_ON_DEVICE]);
    m_pfn_VTSPDAPI_SetDevicePenStyle =
        reinterpret_cast<decltype(m_pfn_VTSPDAPI_SetDevicePenStyle)>(resolved[DRV_SET_DEVICE_PEN_STYLE]);
    m_pfn_VTSPDAPI_ShowFPImageOnDevice =
        reinterpret_cast<decltype(m_pfn_VTSPDAPI_ShowFPImageOnDevice)>(resolved[DRV_SHOW_FP_IMAGE_ON_DEVICE]);

    const int nResult = m_pfn_VTSPDAPI_Initial(m_Traits.nDeviceId, m_pfnPenCallback, m_pfnFPCallback);
    VT_LOG(label.c_str(), "<%ld>-after call m_pfn_VTSPDAPI_Initial(), nResult=%d", nResult);
    return nResult == 0;
}

bool CSignCore::IsDeviceConnected()
{
    const std::string label = Label("IsDeviceConnected");
    m_bDeviceConnected = LoadDIVuziDadDriver();
    if (!m_bDeviceConnected)
        return false;

    char cVersion[32] = {};
    const int nResult = m_pfn_VTSPDAPI_GetDevicePartsVersion(cVersion, 32);
    cVersion[31] = 0;
    VT_LOG(label.c_str(), "<%ld>-cVersion=%s, nResult=%d", cVersion, nResult);

    int nLevels = 0;
    for (int i = 0; i < m_Traits.nPrefixCount && nLevels == 0; ++i) {
        const FirmwarePrefix& prefix = m_Traits.pPrefixes[i];
        if (memcmp(cVersion, prefix.pszPrefix, strlen(prefix.pszPrefix)) == 0)
            nLevels = prefix.nPressureLevels;
    }
    if (nLevels == 0) {
        m_bDeviceConnected = false;
        VT_LOG(label.c_str(), "<%ld>-leave with m_bDeviceConnected=%d", 0);
        return false;
    }
    m_nMaxPressure = nLevels;
    m_dblPressureToWidth = PressureToWidth(m_nPenWidth);

    m_pfn_VTSPDAPI_ClearDeviceContent();
    if (m_Traits.bHasScreen)
        m_pfn_VTSPDAPI_OpenDeviceLCD(true);

    {
        std::lock_guard<std::mutex> lock(m_InkListMutex);
        m_pPointDataList.reset(new PointDataList);
    }
    m_pDecodedPointDataList.reset(new PointDataList);
    VT_LOG(label.c_str(), "<%ld>-leave with m_bDeviceConnected=%d", int(m_bDeviceConnected.load()));
    return m_bDeviceConnected;
}

bool CSignCore::ShutdownDIVuziDadDriver()
{
    if (!m_pSignPadDriver)
        return true;
    if (m_Traits.bHasScreen) {
        if (m_pfn_VTSPDAPI_OpenDeviceLCD)
            m_pfn_VTSPDAPI_OpenDeviceLCD(false);
    } else if (m_pfn_VTSPDAPI_ClearDeviceContent) {
        m_pfn_VTSPDAPI_ClearDeviceContent();
    }
    if (m_pfn_VTSPDAPI_UnInitial)
        m_pfn_VTSPDAPI_UnInitial();
    m_bDeviceConnected = false;
    m_pfn_VTSPDAPI_Initial = nullptr;
    m_pfn_VTSPDAPI_UnInitial = nullptr;
    m_pfn_VTSPDAPI_OpenDeviceLCD = nullptr;
    m_pfn_VTSPDAPI_ClearDeviceContent = nullptr;
    m_pfn_VTSPDAPI_GetDevicePenID = nullptr;
    m_pfn_VTSPDAPI_GetDevicePadID = nullptr;
    m_pfn_VTSPDAPI_GetDeviceSecureID = nullptr;
    m_pfn_VTSPDAPI_GetDevicePartsVersion = nullptr;
    m_pfn_VTSPDAPI_ShowVersionInfoOnDevice = nullptr;
    m_pfn_VTSPDAPI_SetDevicePenStyle = nullptr;
    m_pfn_VTSPDAPI_ShowFPImageOnDevice = nullptr;
    m_pSignPadDriver->unload();
    delete m_pSignPadDriver;
    m_pSignPadDriver = nullptr;
    return true;
}

void CSignCore::Shutdown()
{
    const std::string label = Label("Shutdown");
    if (m_pDoConfirmOrCancelKeyActionThread) {
        {
            // Under the lock, so the thread cannot miss the wake-up between its test and its wait.
            std::lock_guard<std::mutex> lock(m_KeyActionMutex);
            m_bShutDown = true;
        }
        m_KeyActionCond.notify_all();
        VT_LOG(label.c_str(), "<%ld>-b4 call m_pDoConfirmOrCancelKeyActionThread->quit()...");
        m_pDoConfirmOrCancelKeyActionThread->quit();
        VT_LOG(label.c_str(), "<%ld>-b4 call m_pDoConfirmOrCancelKeyActionThread->wait()...");
        m_pDoConfirmOrCancelKeyActionThread->wait();
        delete m_pDoConfirmOrCancelKeyActionThread;
        m_pDoConfirmOrCancelKeyActionThread = nullptr;
        VT_LOG(label.c_str(), "<%ld>-after call m_pDoConfirmOrCancelKeyActionThread = nullptr...");
    }
    ShutdownDIVuziDadDriver();
    {
        std::lock_guard<std::mutex> lock(m_InkListMutex);
        m_pPointDataList.reset();
    }
    m_pDecodedPointDataList.reset();
}

int CSignCore::OpenDeviceLCD(bool bOn)
{
    if (!m_pfn_VTSPDAPI_OpenDeviceLCD)
        return ARI_FAILED;
    if (!bOn)
        ClearSignCanvas();
    return m_pfn_VTSPDAPI_OpenDeviceLCD(bOn);
}

int CSignCore::GetDevicePenID(char* p, int n)
{
    return m_pfn_VTSPDAPI_GetDevicePenID ? m_pfn_VTSPDAPI_GetDevicePenID(p, n) : ARI_FAILED;
}

int CSignCore::GetDevicePadID(char* p, int n)
{
    return m_pfn_VTSPDAPI_GetDevicePadID ? m_pfn_VTSPDAPI_GetDevicePadID(p, n) : ARI_FAILED;
}

int CSignCore::GetDeviceSecureID(char* p, int n)
{
    return m_pfn_VTSPDAPI_GetDeviceSecureID ? m_pfn_VTSPDAPI_GetDeviceSecureID(p, n) : ARI_FAILED;
}

int CSignCore::GetDevicePartsVersion(char* p, int n)
{
    return m_pfn_VTSPDAPI_GetDevicePartsVersion ? m_pfn_VTSPDAPI_GetDevicePartsVersion(p, n) : ARI_FAILED;
}

int CSignCore::ShowVersionInfoOnDevice(bool bOn)
{
    return m_pfn_VTSPDAPI_ShowVersionInfoOnDevice ? m_pfn_VTSPDAPI_ShowVersionInfoOnDevice(bOn) : ARI_FAILED;
}

int CSignCore::SetDevicePenStyle(bool b)
{
    if (!m_pfn_VTSPDAPI_SetDevicePenStyle)
        return ARI_FAILED;
    m_bWithPressureValue = b;
    return m_Traits.bPenStyleToDriver ? m_pfn_VTSPDAPI_SetDevicePenStyle(b) : ARI_SUCCESS;
}

int CSignCore::SetDevicePenWidth(int n)
{
    if (n < 1 || n > 10) {
        VT_LOG(Label("SetDevicePenWidth").c_str(),
               "<%ld>-leave with ARI_INVALID_PARAMETERS since nPenWidth is out of range !");
        return ARI_INVALID_PARAMETERS;
    }
    m_nPenWidth = n;
    m_dblPressureToWidth = PressureToWidth(n);
    return ARI_SUCCESS;
}

int CSignCore::SetDevicePenColor(int r, int g, int b)
{
    std::lock_guard<std::mutex> lock(m_CanvasMutex);
    m_PenColor = QColor(r, g, b);
    return ARI_SUCCESS;
}

int CSignCore::SetSignatureStatusCallback(SignatureStatusCallback fn)
{
    m_pfnSignatureStatusCallback = fn;
    return ARI_SUCCESS;
}

bool CSignCore::SetRealTimeSignDataCallback(RealTimeSignatureDataCallback fn)
{
    m_pfnRealTimeSignDataCallback = fn;
    return true;
}

void CSignCore::ClearSignCanvas()
{
    std::lock_guard<std::mutex> lock(m_CanvasMutex);
    m_SignCanvas.fill(Qt::white);
    AfterCanvasCleared();
}

int CSignCore::ClearDeviceContent()
{
    int nResult = ARI_FAILED;
    if (m_pfn_VTSPDAPI_ClearDeviceContent) {
        ClearSignCanvas();
        if (m_bPenDownOnCancelButton.exchange(false)) {
            // The pad cleared itself when its cancel key was used.
            VT_LOG(Label("ClearDeviceContent").c_str(), "<%ld>-m_bPenDownOnCancelButton = false");
            nResult = ARI_SUCCESS;
        } else {
            nResult = m_pfn_VTSPDAPI_ClearDeviceContent();
        }
    }
    m_bClipImage = false;
    std::lock_guard<std::mutex> lock(m_InkListMutex);
    if (m_pPointDataList)
        m_pPointDataList->clear();
    return nResult;
}

int CSignCore::GetDeviceConfirmOrCancelKeyStatus()
{
    // Read and clear in one step: the reader thread may set a new key meanwhile.
    return m_nKeyStatus.exchange(-1);
}

int CSignCore::GetDeviceInfo(int nIndex, void* pOutput)
{
    auto* pn = static_cast<int32_t*>(pOutput);
    switch (nIndex) {
    case DIID_GET_STATUS:
        *static_cast<unsigned char*>(pOutput) = m_bDeviceConnected ? 1 : 0;
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
        pn[0] = m_nMaxPressure;
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

void CSignCore::ConvertSignRawDataToSignWndData(int nX, int nY, int nP, double& dblX, double& dblY,
                                                double& dblPressure) const
{
    int dx = nX - m_nRawOffsetX;
    if (dx < 0)
        dx = 0;
    else if (dx >= m_Traits.nRawSpanX)
        dx = m_Traits.nRawSpanX - 1;
    int dy = nY - m_nRawOffsetY;
    if (dy < 0)
        dy = 0;
    else if (dy >= m_Traits.nRawSpanY)
        dy = m_Traits.nRawSpanY - 1;
    dblX = dx * m_dblScaleX;
    dblY = dy * m_dblScaleY;
    dblPressure = nP * m_dblPressureToWidth.load(std::memory_order_relaxed);
}

void CSignCore::StartSignOnCanvas(double dblX, double dblY, double dblPressure)
{
    std::lock_guard<std::mutex> lock(m_CanvasMutex);
    const double dblWidth =
        m_bWithPressureValue ? dblPressure : m_nPenWidth * m_Traits.dblFixedWidthFactor;
    QPainter painter(&StrokeCanvas());
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(m_PenColor, dblWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawLine(QPointF(m_dblLastX, m_dblLastY), QPointF(dblX, dblY));
    painter.end();
    m_dblLastX = dblX;
    m_dblLastY = dblY;
    AfterSegmentDrawn();
}

void CSignCore::AppendPoint(int nX, int nY, int nP, bool bStrokeEnd)
{
    _POINTDATA pt{};
    pt.nX = int16_t(nX);
    pt.nY = int16_t(nY);
    pt.nPressure = int16_t(nP);
    pt.bStrokeEnd = bStrokeEnd ? 1 : 0;
    pt.lTickCount = GetTickCount();
    pt.tTime = int64_t(time(nullptr));
    std::lock_guard<std::mutex> lock(m_InkListMutex);
    if (m_pPointDataList)
        m_pPointDataList->push_back(pt);
}

bool CSignCore::AppendStrokeEnd(_POINTDATA& last)
{
    std::lock_guard<std::mutex> lock(m_InkListMutex);
    if (!m_pPointDataList || m_pPointDataList->empty())
        return false;
    last = m_pPointDataList->back();
    _POINTDATA end = last;
    end.bStrokeEnd = 1;
    end.lTickCount = GetTickCount();
    end.tTime = int64_t(time(nullptr));
    m_pPointDataList->push_back(end);
    return true;
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
    const unsigned long ulPosition = normalise(nX, m_nRawOffsetX, m_Traits.nRawSpanX) |
                                     (normalise(nY, m_nRawOffsetY, m_Traits.nRawSpanY) << 16);
    const long lPressure = long((unsigned long)(nP & 0xFFFF) | ((unsigned long)nPenFlag << 16));
    fn(ulPosition, lPressure);
}

void CSignCore::KeyEvent(int nStatus)
{
    const bool bConfirm = nStatus == HWET_CONFIRM_KEY;
    const std::string label = Label("RxSignPadRawData");
    {
        std::lock_guard<std::mutex> lock(m_KeyActionMutex);
        if (m_nDoClickConfirmOrCancelKeyActionFlag >= 0) {
            if (bConfirm)
                VT_LOG_THREAD(label.c_str(),
                              "<%ld>-Pen_Down_On_Confirm_Key, skip due to (m_nDoClickConfirmOrCancelKeyActionFlag >= 0) !");
            else
                VT_LOG_THREAD(label.c_str(),
                              "<%ld>-Pen_Down_On_Cancel_Key, skip due to (m_nDoClickConfirmOrCancelKeyActionFlag >= 0) !");
            return;
        }
        m_bPenDown = false; // a stroke in progress ends without a stroke-end record
        m_nKeyStatus.exchange(bConfirm ? 1 : 0);
        if (!bConfirm)
            m_bPenDownOnCancelButton.exchange(true);
        if (m_Traits.eKeyModel == KeyModel::TwoStep)
            m_nPenDownOnKey = bConfirm ? 1 : 0;
        else
            m_nDoClickConfirmOrCancelKeyActionFlag = bConfirm ? 1 : 0;
    }
    if (m_Traits.eKeyModel == KeyModel::OneStep)
        m_KeyActionCond.notify_all();
    if (bConfirm)
        VT_LOG_THREAD(label.c_str(), "<%ld>-Pen_Down_On_Confirm_Key !");
    else
        VT_LOG_THREAD(label.c_str(), "<%ld>-Pen_Down_On_Cancel_Key !!!");
}

void CSignCore::PenUpWithoutStroke()
{
    if (m_Traits.eKeyModel != KeyModel::TwoStep)
        return;
    bool bWake = false;
    {
        std::lock_guard<std::mutex> lock(m_KeyActionMutex);
        if (m_nPenDownOnKey == 1) {
            m_nDoClickConfirmOrCancelKeyActionFlag = 1;
            VT_LOG_THREAD(Label("RxSignPadRawData").c_str(), "<%ld>-Pen_Up_On_Enter_Button !");
            bWake = true;
        } else if (m_nPenDownOnKey == 0) {
            m_nDoClickConfirmOrCancelKeyActionFlag = 0;
            VT_LOG_THREAD(Label("RxSignPadRawData").c_str(), "<%ld>-Pen_Up_On_Cancel_Button !!!");
            bWake = true;
        }
        m_nPenDownOnKey = -1;
    }
    if (bWake)
        m_KeyActionCond.notify_all();
}

void CSignCore::RxSignPadRawData(int nX, int nY, int nP, int nPenStatus)
{
    if (!m_bDeviceConnected || nPenStatus < HWET_PEN_DOWN || nPenStatus > HWET_CONFIRM_KEY)
        return;
    double dblX = 0, dblY = 0, dblPressure = 0;
    switch (nPenStatus) {
    case HWET_PEN_DOWN: {
        {
            std::lock_guard<std::mutex> lock(m_KeyActionMutex);
            if (m_nDoClickConfirmOrCancelKeyActionFlag >= 0) {
                VT_LOG_THREAD(Label("RxSignPadRawData").c_str(),
                              "<%ld>-Pen_Down, skip due to (m_nDoClickConfirmOrCancelKeyActionFlag >= 0) !");
                return;
            }
            m_bPenDown = true;
            ConvertSignRawDataToSignWndData(nX, nY, nP, dblX, dblY, dblPressure);
            {
                std::lock_guard<std::mutex> canvasLock(m_CanvasMutex);
                m_dblLastX = dblX;
                m_dblLastY = dblY;
            }
            AppendPoint(nX, nY, nP, false);
        }
        CheckIfNeedToSendRealTimeSignData(nX, nY, nP, 1);
        break;
    }
    case HWET_PEN_MOVE:
        if (!m_bPenDown)
            return;
        if (m_bDropHighPressure && nP > m_nMaxPressure) {
            VT_LOG_THREAD(Label("RxSignPadRawData").c_str(), "<%ld>-Rx invalid pressure value, skip !");
            return;
        }
        ConvertSignRawDataToSignWndData(nX, nY, nP, dblX, dblY, dblPressure);
        StartSignOnCanvas(dblX, dblY, dblPressure);
        AppendPoint(nX, nY, nP, false);
        CheckIfNeedToSendRealTimeSignData(nX, nY, nP, 1);
        break;
    case HWET_PEN_UP:
        if (m_bPenDown) {
            m_bPenDown = false;
            _POINTDATA last{};
            if (AppendStrokeEnd(last))
                CheckIfNeedToSendRealTimeSignData(last.nX, last.nY, last.nPressure, 0);
        } else {
            PenUpWithoutStroke();
        }
        break;
    default:
        KeyEvent(nPenStatus);
        break;
    }
}

// ---------------------------------------------------------------- key actions

void CSignCore::RunKeyActionLoop()
{
    // Sleeps until a key action waits or the canvas shuts down; the key event
    // wakes it, so the action still reaches the host at once.
    std::unique_lock<std::mutex> lock(m_KeyActionMutex);
    while (!m_bShutDown) {
        m_KeyActionCond.wait(lock, [this] { return m_bShutDown || m_nDoClickConfirmOrCancelKeyActionFlag >= 0; });
        if (m_bShutDown)
            break;
        if (m_nDoClickConfirmOrCancelKeyActionFlag == 1)
            DoClickConfirmKeyAction();
        else if (m_nDoClickConfirmOrCancelKeyActionFlag == 0)
            DoClickCancelKeyAction();
    }
}

void CSignCore::CheckIfWeCanDoConfirmOrCancelKeyAction()
{
    std::lock_guard<std::mutex> lock(m_KeyActionMutex);
    if (m_nDoClickConfirmOrCancelKeyActionFlag == 1)
        DoClickConfirmKeyAction();
    else if (m_nDoClickConfirmOrCancelKeyActionFlag == 0)
        DoClickCancelKeyAction();
}

void CSignCore::DoClickConfirmKeyAction()
{
    if (SignatureStatusCallback fn = m_pfnSignatureStatusCallback.load()) {
        VT_LOG_THREAD(Label("DoClickConfirmKeyAction").c_str(), "<%ld>-Pen_Down_On_Confirm_Key !");
        fn(1);
    }
    m_nDoClickConfirmOrCancelKeyActionFlag = -1;
}

void CSignCore::DoClickCancelKeyAction()
{
    if (SignatureStatusCallback fn = m_pfnSignatureStatusCallback.load()) {
        VT_LOG_THREAD(Label("DoClickCancelKeyAction").c_str(), "<%ld>-Pen_Down_On_Cancel_Key !");
        fn(0);
    }
    m_nDoClickConfirmOrCancelKeyActionFlag = -1;
}

// ---------------------------------------------------------------- fingerprint defaults

void CSignCore::RxQ230FSignPadFPRawData(unsigned char*, int, int) {}

int CSignCore::SetDisplayedFPImageAt(int, int, int, int, int, int)
{
    return ARI_FAILED;
}

int CSignCore::SetDisplayedFPImageAt(QWidget*, int, int, int, int)
{
    return ARI_FAILED;
}

char* CSignCore::GetFPImageBase64Data(int, bool)
{
    return nullptr;
}

void CSignCore::FreeFPImageBase64Data(char* p)
{
    delete[] p;
}
