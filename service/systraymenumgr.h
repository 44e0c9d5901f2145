#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;
class SitePermission;
class TrayStatus;
class WebSocketThread;

// The program's only user interface: reads the settings, starts the
// WebSocket service at once, and shows the tray icon with its menu whenever
// a system tray is there (probing for one for as long as the program runs);
// on exit saves the settings and stops the service.
class SysTrayMenuMgr : public QObject
{
    Q_OBJECT
public:
    explicit SysTrayMenuMgr(QObject* parent);
    ~SysTrayMenuMgr() override;

    void Initialize();
    void OpenWebSocketService(bool bOpenService);
    void LoadDataFromINIFIle();
    void CreateSystemTray();
    void WriteDataToINIFIle();

    // The autostart entry's file name on this distribution; empty when the
    // distribution is not one we install an entry for.
    QString AutoLaunchEntryName() const;
    // "<home>/.config/autostart/<entry>", or empty without an entry.
    QString UserAutoLaunchEntryPath() const;
    // Where the installation puts the entries ("/usr/share/applications/").
    static QString InstalledEntriesDir();
    static int OSProductIDFor(const QString& productType);

    struct {
        bool bAutoLaunch = false;
        int nWebSocketPort = 6089;
        int nUILangID = 2;
    } INIDATA;

    QPointer<QAction> m_pAutoLaunchAction;
    WebSocketThread* m_pWebSocketThread = nullptr;
    int m_nOSProductID = 0;

Q_SIGNALS:
    void closed();

public Q_SLOTS:
    void AutoLaunchService();
    void ExitWebSocketService();
    void ProbeSysTray();

public:
    // Probes 500 ms apart during the first minute, then every few seconds.
    static constexpr int PROBE_COUNT = 60;
    static constexpr int PROBE_INTERVAL_MS = 500;
    static constexpr int LATE_PROBE_INTERVAL_MS = 3000;

private:
    void TrayAppeared();
    void TrayGone();

    QTimer* m_pProbeTimer = nullptr;
    int m_nProbe = 0;
    bool m_bTrayThere = false;
    // The service's listen result, kept for an icon made after it came.
    bool m_bListenKnown = false;
    int m_nListenPort = 0;
    bool m_bListening = false;
    QString m_strListenReason;

    // Owned here so that they go away with the manager at the end of main.
    QSystemTrayIcon* m_pTrayIcon = nullptr;
    QMenu* m_pTrayMenu = nullptr;
    SitePermission* m_pSitePermission = nullptr; // lives as long as the service thread
    TrayStatus* m_pTrayStatus = nullptr; // the service's state on the icon
};
