#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QAction;
class QMenu;
class QSystemTrayIcon;
class CheckSysTrayThread;
class SitePermission;
class TrayStatus;
class WebSocketThread;

// The program's only user interface: waits for the system tray, reads the
// settings, starts the WebSocket service and shows the tray icon with its
// three-item menu; on exit saves the settings and stops the service.
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
    CheckSysTrayThread* m_pCheckSysTrayThread = nullptr;
    int m_nOSProductID = 0;

Q_SIGNALS:
    void closed();

public Q_SLOTS:
    void AutoLaunchService();
    void ExitWebSocketService();
    void StartCreateSystemTrayIcon(bool bSysTrayAvailable);

private:
    void StopCheckSysTrayThread();

    // Owned here so that they go away with the manager at the end of main.
    QSystemTrayIcon* m_pTrayIcon = nullptr;
    QMenu* m_pTrayMenu = nullptr;
    SitePermission* m_pSitePermission = nullptr; // lives as long as the service thread
    TrayStatus* m_pTrayStatus = nullptr; // the service's state on the icon
};
