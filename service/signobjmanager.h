#pragma once

#include "signobjinterface.h"

#include <QString>
#include <functional>
#include <memory>

// Holds at most one model adapter and forwards to it. While none is held it
// answers with the interface defaults. Used only on the service thread.
class SignObjManager
{
public:
    // Creates the adapter for a device type, or null for an unsupported one.
    using CreationTable = std::function<SignObjInterface*(int nID)>;

    SignObjManager();
    ~SignObjManager();

    // The table every manager uses from now on; an empty function restores
    // the real one. Lets tests put their own adapter behind the manager.
    static void SetCreationTable(CreationTable table);
    static SignObjInterface* CreateSignObj(int nID);

    // The held adapter, or null. Still owned by the manager.
    SignObjInterface* CurrentSignObj() const { return m_pCurrentActiveSignObj.get(); }

    bool InitialDevice(int nID, int nWidth, int nHeight);
    bool UnInitialDevice();

    QString GetAboutInfo() { return Active().GetAboutInfo(); }
    bool IsValid() { return Active().IsValid(); }
    void Clear() { Active().Clear(); }
    int GetSize() { return Active().GetSize(); }
    QString GetPointer() { return Active().GetPointer(); }
    void SetPenWidth(int nWidth) { Active().SetPenWidth(nWidth); }
    void SetPenStyle(bool bPressureOn) { Active().SetPenStyle(bPressureOn); }
    void SetPenColor(int nR, int nG, int nB) { Active().SetPenColor(nR, nG, nB); }
    QString Encode(int nType) { return Active().Encode(nType); }
    QString Decode(int nType, QString strPath, QString strData) { return Active().Decode(nType, strPath, strData); }
    QString GetDecodeFilePath() { return Active().GetDecodeFilePath(); }
    QString GetDeviceInfo(int nType) { return Active().GetDeviceInfo(nType); }
    void SetClip(int nWidth, int nHeight) { Active().SetClip(nWidth, nHeight); }
    QString SaveDrawImage(int nType, int nDPI, QString strPath) { return Active().SaveDrawImage(nType, nDPI, strPath); }
    QString GetInks() { return Active().GetInks(); }
    QString GetOpaqueInks() { return Active().GetOpaqueInks(); }
    QString VersionID() { return Active().VersionID(); }
    QString PenID() { return Active().PenID(); }
    QString PadID() { return Active().PadID(); }
    void DisplayDeviceInfoInLCD(bool bShow) { Active().DisplayDeviceInfoInLCD(bShow); }
    void CloseLCD() { Active().CloseLCD(); }
    void OpenLCD() { Active().OpenLCD(); }
    int GetDeviceConfirmOrCancelKeyStatus() { return Active().GetDeviceConfirmOrCancelKeyStatus(); }
    QString GetFingerPrintImage(bool bFPImageOnly) { return Active().GetFingerPrintImage(bFPImageOnly); }
    void SetDisplayedFPImageAt(int nCanvasWidth, int nCanvasHeight, int nFPLeft, int nFPTop, int nFPWidth, int nFPHeight)
    {
        Active().SetDisplayedFPImageAt(nCanvasWidth, nCanvasHeight, nFPLeft, nFPTop, nFPWidth, nFPHeight);
    }
    QString WPSSignConfirmed(bool bEnableDateTime, QString strName) { return Active().WPSSignConfirmed(bEnableDateTime, strName); }
    QString WPSGetInks() { return Active().WPSGetInks(); }
    QString GetSVGImageBase64Data() { return Active().GetSVGImageBase64Data(); }

private:
    SignObjManager(const SignObjManager&) = delete;
    SignObjManager& operator=(const SignObjManager&) = delete;

    // The held adapter, or one that answers with the interface defaults.
    SignObjInterface& Active();

    std::unique_ptr<SignObjInterface> m_pCurrentActiveSignObj;
};
