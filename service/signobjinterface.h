#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// What the open pad reports as it happens, delivered on the SDK's threads
// (the driver's reader and watcher), except InkCleared. Implementations
// return quickly and never call back into the adapter.
class PadReports
{
public:
    struct Point {
        int nX, nY, nPressure;  // as "GetPointer" gives them afterwards
        bool bStrokeEnd;
        int nCanvasX, nCanvasY; // the canvas pixel the SDK drew it at
        qint64 nMsSinceOpen;    // when it was stored
    };
    // Only while this is true are points read and handed over.
    virtual bool WantsPoints() const = 0;
    // One stored point, in the order of the ink store (reader thread).
    virtual void PointStored(const Point& point) = 0;
    // A key was touched: the key status has it now (reader thread).
    virtual void KeyTouched() = 0;
    // The open pad went away (bAttached false) or a pad of its model is back.
    virtual void PadAttached(bool bAttached) = 0;
    // The ink was cleared; points handed over before belong to the old ink
    // (the service's thread, from Clear, before any point of the new ink).
    virtual void InkCleared() = 0;

protected:
    ~PadReports() = default;
};

// When the open pad was opened and the canvas it draws on.
struct PadSession {
    qint64 nOpenedUtcMs = 0; // ms since the epoch, UTC; points' "t" counts from here
    int nCanvasWidth = 0;
    int nCanvasHeight = 0;
    // Each stored point's ms since opening, in ink order, when the pad
    // reports points live (else empty).
    std::vector<qint64> pointTimes;
    // "PadID", "PenID" and "VersionID" as read when the pad opened, while
    // the same pad is known to be attached (else bIdentity is false).
    bool bIdentity = false;
    QString strPadId, strPenId, strFirmware;
};

// One point of the ink as "GetPointer" gives it.
struct InkPoint {
    int nX = 0, nY = 0, nPressure = 0;
    int nStrokeEnd = 0; // non-zero on the point that ends a stroke
    QByteArray time; // the SDK's "yyyy-mm-dd hh:mm:ss.mmm"
};

// What the request layer can ask of a pad model. Every operation has a
// default body, so an adapter overrides only what its model supports. The
// defaults are also the manager's answers while it holds no adapter: no
// ink ("[]"), no key press (-1), empty text, nothing done.
// IsValid, GetOpaqueInks, WPSSignConfirmed, WPSGetInks and
// GetSVGImageBase64Data have no request row: they belong to the adapters'
// published interface for native hosts, not to the WebSocket protocol.
class SignObjInterface
{
public:
    virtual ~SignObjInterface() {}

    virtual QString GetAboutInfo() { return QString(); }
    virtual bool InitialDevice(int nID, int nWidth, int nHeight) { Q_UNUSED(nID); Q_UNUSED(nWidth); Q_UNUSED(nHeight); return false; }
    virtual bool UnInitialDevice() { return false; }
    virtual bool IsValid() { return false; }
    virtual void Clear() {}
    virtual int GetSize() { return 0; }
    virtual QString GetPointer() { return QStringLiteral("[]"); }
    // The points of "GetPointer", unformatted; without bTimes their time
    // texts are left empty (and not made).
    virtual std::vector<InkPoint> InkPoints(bool bTimes) { Q_UNUSED(bTimes); return std::vector<InkPoint>(); }
    virtual void SetPenWidth(int nWidth) { Q_UNUSED(nWidth); }
    virtual void SetPenStyle(bool bPressureOn) { Q_UNUSED(bPressureOn); }
    virtual void SetPenColor(int nR, int nG, int nB) { Q_UNUSED(nR); Q_UNUSED(nG); Q_UNUSED(nB); }
    virtual QString Encode(int nType) { Q_UNUSED(nType); return QString(); }
    virtual QString Decode(int nType, QString strPath, QString strData) { Q_UNUSED(nType); Q_UNUSED(strPath); Q_UNUSED(strData); return QString(); }
    virtual QString GetDecodeFilePath() { return QString(); }
    virtual QString GetDeviceInfo(int nType) { Q_UNUSED(nType); return QString(); }
    virtual void SetClip(int nWidth, int nHeight) { Q_UNUSED(nWidth); Q_UNUSED(nHeight); }
    virtual QString SaveDrawImage(int nType, int nDPI, QString strPath) { Q_UNUSED(nType); Q_UNUSED(nDPI); Q_UNUSED(strPath); return QString(); }
    virtual QString GetInks() { return QString(); }
    virtual QString GetOpaqueInks() { return QString(); }
    virtual QString VersionID() { return QString(); }
    virtual QString PenID() { return QString(); }
    virtual QString PadID() { return QString(); }
    virtual void DisplayDeviceInfoInLCD(bool bShow) { Q_UNUSED(bShow); }
    virtual void CloseLCD() {}
    virtual void OpenLCD() {}
    virtual int GetDeviceConfirmOrCancelKeyStatus() { return -1; } // 0 would read as the cancel key
    virtual QString GetFingerPrintImage(bool bFPImageOnly) { Q_UNUSED(bFPImageOnly); return QString(); }
    virtual void SetDisplayedFPImageAt(int nCanvasWidth, int nCanvasHeight, int nFPLeft, int nFPTop, int nFPWidth, int nFPHeight)
    {
        Q_UNUSED(nCanvasWidth); Q_UNUSED(nCanvasHeight); Q_UNUSED(nFPLeft); Q_UNUSED(nFPTop); Q_UNUSED(nFPWidth); Q_UNUSED(nFPHeight);
    }
    virtual QString WPSSignConfirmed(bool bEnableDateTime, QString strName) { Q_UNUSED(bEnableDateTime); Q_UNUSED(strName); return QString(); }
    virtual QString WPSGetInks() { return QString(); }
    virtual QString GetSVGImageBase64Data() { return QString(); }
    // Live reports of the open pad go to pReports from now on; null ends
    // them (no call reaches the old one after it returns). False when the
    // pad cannot report live.
    virtual bool SetPadReports(PadReports* pReports) { Q_UNUSED(pReports); return false; }
    // The open pad's session; false when no pad is open.
    virtual bool Session(PadSession* pSession) const { Q_UNUSED(pSession); return false; }
};
