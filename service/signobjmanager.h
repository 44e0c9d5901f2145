#pragma once

#include <QString>
#include <functional>

class SignObjInterface;

// Holds at most one model adapter and forwards to it; fixed answers when none
// is held. Used only on the service thread.
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

    QString GetAboutInfo();
    bool InitialDevice(int nID, int nWidth, int nHeight);
    bool UnInitialDevice();
    bool IsValid();
    void Clear();
    int GetSize();
    QString GetPointer();
    void SetPenWidth(int nWidth);
    void SetPenStyle(bool bPressureOn);
    void SetPenColor(int nR, int nG, int nB);
    QString Encode(int nType);
    QString Decode(int nType, QString strPath, QString strData);
    QString GetDecodeFilePath();
    QString GetDeviceInfo(int nType);
    void SetClip(int nWidth, int nHeight);
    QString SaveDrawImage(int nType, int nDPI, QString strPath);
    QString GetInks();
    QString GetOpaqueInks();
    QString VersionID();
    QString PenID();
    QString PadID();
    void DisplayDeviceInfoInLCD(bool bShow);
    void CloseLCD();
    void OpenLCD();
    int GetDeviceConfirmOrCancelKeyStatus();
    QString GetFingerPrintImage(bool bFPImageOnly);
    void SetDisplayedFPImageAt(int nCanvasWidth, int nCanvasHeight, int nFPLeft, int nFPTop, int nFPWidth, int nFPHeight);
    QString WPSSignConfirmed(bool bEnableDateTime, QString strName);
    QString WPSGetInks();
    QString GetSVGImageBase64Data();

    SignObjInterface* m_pCurrentActiveSignObj = nullptr;

private:
    SignObjManager(const SignObjManager&) = delete;
    SignObjManager& operator=(const SignObjManager&) = delete;
};
