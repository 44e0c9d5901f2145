#include "signobjmanager.h"

#include "signobjinterface.h"
#include "signobjmodels.h"

namespace {
SignObjManager::CreationTable& creationTable()
{
    static SignObjManager::CreationTable table;
    return table;
}
}

void SignObjManager::SetCreationTable(CreationTable table)
{
    creationTable() = std::move(table);
}

SignObjInterface* SignObjManager::CreateSignObj(int nID)
{
    if (creationTable())
        return creationTable()(nID);
    return CreateModelSignObj(nID);
}

SignObjManager::SignObjManager() = default;

SignObjManager::~SignObjManager()
{
    UnInitialDevice();
}

bool SignObjManager::InitialDevice(int nID, int nWidth, int nHeight)
{
    // Close first, even for an unsupported type: two adapters never coexist,
    // so the SDK never drives two models at once.
    if (m_pCurrentActiveSignObj) {
        m_pCurrentActiveSignObj->UnInitialDevice();
        delete m_pCurrentActiveSignObj;
        m_pCurrentActiveSignObj = nullptr;
    }
    m_pCurrentActiveSignObj = CreateSignObj(nID);
    if (!m_pCurrentActiveSignObj)
        return false;
    // A failed open keeps the adapter: later requests get its answers.
    return m_pCurrentActiveSignObj->InitialDevice(nID, nWidth, nHeight);
}

bool SignObjManager::UnInitialDevice()
{
    if (!m_pCurrentActiveSignObj)
        return false;
    bool bResult = m_pCurrentActiveSignObj->UnInitialDevice();
    delete m_pCurrentActiveSignObj;
    m_pCurrentActiveSignObj = nullptr;
    return bResult;
}

QString SignObjManager::GetAboutInfo() { return m_pCurrentActiveSignObj ? m_pCurrentActiveSignObj->GetAboutInfo() : QString(""); }
bool SignObjManager::IsValid() { return m_pCurrentActiveSignObj ? m_pCurrentActiveSignObj->IsValid() : false; }
void SignObjManager::Clear() { if (m_pCurrentActiveSignObj) m_pCurrentActiveSignObj->Clear(); }
int SignObjManager::GetSize() { return m_pCurrentActiveSignObj ? m_pCurrentActiveSignObj->GetSize() : 0; }
QString SignObjManager::GetPointer() { return m_pCurrentActiveSignObj ? m_pCurrentActiveSignObj->GetPointer() : QString("[]"); }
void SignObjManager::SetPenWidth(int nWidth) { if (m_pCurrentActiveSignObj) m_pCurrentActiveSignObj->SetPenWidth(nWidth); }
void SignObjManager::SetPenStyle(bool bPressureOn) { if (m_pCurrentActiveSignObj) m_pCurrentActiveSignObj->SetPenStyle(bPressureOn); }
void SignObjManager::SetPenColor(int nR, int nG, int nB) { if (m_pCurrentActiveSignObj) m_pCurrentActiveSignObj->SetPenColor(nR, nG, nB); }
QString SignObjManager::Encode(int nType) { return m_pCurrentActiveSignObj ? m_pCurrentActiveSignObj->Encode(nType) : QString(""); }
QString SignObjManager::Decode(int nType, QString strPath, QString strData)
{
    return m_pCurrentActiveSignObj ? m_pCurrentActiveSignObj->Decode(nType, strPath, strData) : QString("");
}
QString SignObjManager::GetDecodeFilePath() { return m_pCurrentActiveSignObj ? m_pCurrentActiveSignObj->GetDecodeFilePath() : QString(""); }
QString SignObjManager::GetDeviceInfo(int nType) { return m_pCurrentActiveSignObj ? m_pCurrentActiveSignObj->GetDeviceInfo(nType) : QString(""); }
void SignObjManager::SetClip(int nWidth, int nHeight) { if (m_pCurrentActiveSignObj) m_pCurrentActiveSignObj->SetClip(nWidth, nHeight); }
QString SignObjManager::SaveDrawImage(int nType, int nDPI, QString strPath)
{
    return m_pCurrentActiveSignObj ? m_pCurrentActiveSignObj->SaveDrawImage(nType, nDPI, strPath) : QString("");
}
QString SignObjManager::GetInks() { return m_pCurrentActiveSignObj ? m_pCurrentActiveSignObj->GetInks() : QString(""); }
QString SignObjManager::GetOpaqueInks() { return m_pCurrentActiveSignObj ? m_pCurrentActiveSignObj->GetOpaqueInks() : QString(""); }
QString SignObjManager::VersionID() { return m_pCurrentActiveSignObj ? m_pCurrentActiveSignObj->VersionID() : QString(""); }
QString SignObjManager::PenID() { return m_pCurrentActiveSignObj ? m_pCurrentActiveSignObj->PenID() : QString(""); }
QString SignObjManager::PadID() { return m_pCurrentActiveSignObj ? m_pCurrentActiveSignObj->PadID() : QString(""); }
void SignObjManager::DisplayDeviceInfoInLCD(bool bShow) { if (m_pCurrentActiveSignObj) m_pCurrentActiveSignObj->DisplayDeviceInfoInLCD(bShow); }
void SignObjManager::CloseLCD() { if (m_pCurrentActiveSignObj) m_pCurrentActiveSignObj->CloseLCD(); }
void SignObjManager::OpenLCD() { if (m_pCurrentActiveSignObj) m_pCurrentActiveSignObj->OpenLCD(); }
int SignObjManager::GetDeviceConfirmOrCancelKeyStatus()
{
    return m_pCurrentActiveSignObj ? m_pCurrentActiveSignObj->GetDeviceConfirmOrCancelKeyStatus() : -1;
}
QString SignObjManager::GetFingerPrintImage(bool bFPImageOnly)
{
    return m_pCurrentActiveSignObj ? m_pCurrentActiveSignObj->GetFingerPrintImage(bFPImageOnly) : QString("");
}
void SignObjManager::SetDisplayedFPImageAt(int nCanvasWidth, int nCanvasHeight, int nFPLeft, int nFPTop, int nFPWidth, int nFPHeight)
{
    if (m_pCurrentActiveSignObj)
        m_pCurrentActiveSignObj->SetDisplayedFPImageAt(nCanvasWidth, nCanvasHeight, nFPLeft, nFPTop, nFPWidth, nFPHeight);
}
QString SignObjManager::WPSSignConfirmed(bool bEnableDateTime, QString strName)
{
    return m_pCurrentActiveSignObj ? m_pCurrentActiveSignObj->WPSSignConfirmed(bEnableDateTime, strName) : QString("");
}
QString SignObjManager::WPSGetInks() { return m_pCurrentActiveSignObj ? m_pCurrentActiveSignObj->WPSGetInks() : QString(""); }
QString SignObjManager::GetSVGImageBase64Data() { return m_pCurrentActiveSignObj ? m_pCurrentActiveSignObj->GetSVGImageBase64Data() : QString(""); }
