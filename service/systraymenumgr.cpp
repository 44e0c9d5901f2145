#include "systraymenumgr.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QMenu>
#include <QSettings>
#include <QSysInfo>
#include <QSystemTrayIcon>

#include "checksystraythread.h"
#include "desktoptesthooks.h"
#include "qtfloor.h"
#include "sitepermission.h"
#include "traystatus.h"
#include "vtlog.h"
#include "websocketthread.h"

namespace {

// Distributions we ship an autostart entry for; the same file name is used
// in the installed-entries folder and in the user's autostart folder.
struct DistroEntry {
    int nOSProductID;
    const char* productType;  // QSysInfo::productType(), compared exactly
    const char* entryFile;
};
const DistroEntry DISTRO_ENTRIES[] = {
    {1, "uos", "com.vantor.vtinkhost.desktop"},  // uos wants a reverse-domain id
    {2, "kylin", "vtinkhost-kylin.desktop"},
    {3, "neokylin", "vtinkhost-neokylin.desktop"},
    {4, "nfsdesktop", "vtinkhost-nfs.desktop"},
    {5, "ubuntu", "vtinkhost-ubuntu.desktop"},
};

struct MenuTexts {
    const char* title;  // also the tooltip
    const char* autoLaunch;
    const char* exit;
};
// UILangID 1 traditional Chinese, 2 simplified Chinese, anything else English.
const MenuTexts MENU_TEXTS_TRADITIONAL = {"Vantor電子簽名板驅動程式(跨平台WS)", "每次開機時自動啟動", "離開"};
const MenuTexts MENU_TEXTS_SIMPLIFIED = {"Vantor电子签名板驱动程序(跨平台WS)", "每次开机时自动启动", "离开"};
const MenuTexts MENU_TEXTS_ENGLISH = {"Vantor DureRur Driver (Cross Platform WS)", "Auto Launch at Startup", "Exit"};

const MenuTexts& MenuTextsFor(int nUILangID)
{
    switch (nUILangID) {
    case 1: return MENU_TEXTS_TRADITIONAL;
    case 2: return MENU_TEXTS_SIMPLIFIED;
    default: return MENU_TEXTS_ENGLISH;
    }
}

const char* const SETTINGS_NAME = "vtinkhost";  // organisation and application
const char* const SETTINGS_GROUP = "Settings";
const char* const KEY_AUTO_LAUNCH = "AutoLaunch";
const char* const KEY_PORT = "WebSocketPort";
const char* const KEY_LANG = "UILangID";

}  // namespace

#ifdef VT_DESKTOP_TEST_HOOKS
static void VtDesktopTraceMenu(QMenu* pMenu)
{
    QObject::connect(pMenu, &QMenu::aboutToShow, pMenu, [pMenu] {
        QStringList items;
        for (QAction* pAction : pMenu->actions()) {
            if (!pAction->isSeparator())
                items << pAction->text() + (pAction->isCheckable() ? (pAction->isChecked() ? "[x]" : "[ ]") : "");
        }
        VtDesktopTrace("menu shown: " + items.join(" | "));
    });
    QObject::connect(pMenu, &QMenu::hovered, pMenu,
                     [](QAction* pAction) { VtDesktopTrace("menu hovered: " + pAction->text()); });
}
#endif

SysTrayMenuMgr::SysTrayMenuMgr(QObject* parent) : QObject(parent)
{
    m_nOSProductID = OSProductIDFor(VtDesktopOverride("VTINKHOST_TEST_PRODUCT", QSysInfo::productType()));
}

SysTrayMenuMgr::~SysTrayMenuMgr()
{
    // The application may end without the exit item (session end): a QThread
    // destroyed while running aborts the process, so stop both threads first.
    StopCheckSysTrayThread();
    OpenWebSocketService(false);
    delete m_pTrayIcon;
    delete m_pTrayMenu;
}

int SysTrayMenuMgr::OSProductIDFor(const QString& productType)
{
    for (const DistroEntry& entry : DISTRO_ENTRIES) {
        if (productType == QLatin1String(entry.productType))
            return entry.nOSProductID;
    }
    return 0;
}

QString SysTrayMenuMgr::AutoLaunchEntryName() const
{
    for (const DistroEntry& entry : DISTRO_ENTRIES) {
        if (entry.nOSProductID == m_nOSProductID)
            return QString::fromLatin1(entry.entryFile);
    }
    return QString();
}

QString SysTrayMenuMgr::UserAutoLaunchEntryPath() const
{
    const QString name = AutoLaunchEntryName();
    if (name.isEmpty())
        return QString();
    return QDir::homePath() + "/.config/autostart/" + name;
}

QString SysTrayMenuMgr::InstalledEntriesDir()
{
    return VtDesktopOverride("VTINKHOST_TEST_APPS_DIR", QStringLiteral("/usr/share/applications/"));
}

void SysTrayMenuMgr::Initialize()
{
    m_pCheckSysTrayThread = new CheckSysTrayThread(this);
    connect(m_pCheckSysTrayThread, &CheckSysTrayThread::SysTrayAvailable, this,
            &SysTrayMenuMgr::StartCreateSystemTrayIcon, Qt::QueuedConnection);
    m_pCheckSysTrayThread->start(QThread::InheritPriority);
}

void SysTrayMenuMgr::StopCheckSysTrayThread()
{
    if (!m_pCheckSysTrayThread)
        return;
    m_pCheckSysTrayThread->Stop();
    m_pCheckSysTrayThread->quit();
    VtWaitForThread(m_pCheckSysTrayThread);
    delete m_pCheckSysTrayThread;
    m_pCheckSysTrayThread = nullptr;
}

void SysTrayMenuMgr::StartCreateSystemTrayIcon(bool bSysTrayAvailable)
{
    StopCheckSysTrayThread();
    VT_LOG("SysTrayMenuMgr::StartCreateSystemTrayIcon()", "<%ld>-tray available: %d", bSysTrayAvailable ? 1 : 0);
    if (bSysTrayAvailable)
        CreateSystemTray();
    else
        emit closed();
}

void SysTrayMenuMgr::OpenWebSocketService(bool bOpenService)
{
    if (bOpenService) {
        m_pWebSocketThread = new WebSocketThread(this, INIDATA.nWebSocketPort, AccessSettings::Load());
        m_pSitePermission = new SitePermission(m_pWebSocketThread, INIDATA.nUILangID,
                                               QString::fromUtf8(MenuTextsFor(INIDATA.nUILangID).title), m_pWebSocketThread);
        if (m_pTrayStatus)
            connect(m_pWebSocketThread, &WebSocketThread::ListenResult, m_pTrayStatus, &TrayStatus::ServiceListening);
        m_pWebSocketThread->start(QThread::InheritPriority);
        VtDesktopTrace(QStringLiteral("service started on port %1").arg(INIDATA.nWebSocketPort));
        return;
    }
    if (m_pWebSocketThread) {
        m_pWebSocketThread->quit();
        VtWaitForThread(m_pWebSocketThread);
        delete m_pWebSocketThread; // and the site questions with it
        m_pWebSocketThread = nullptr;
        m_pSitePermission = nullptr;
        VtDesktopTrace(QStringLiteral("service stopped"));
    }
}

void SysTrayMenuMgr::CreateSystemTray()
{
    m_pTrayIcon = new QSystemTrayIcon();
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        // The tray went away since the poll: stay without icon and service.
        VT_LOG("SysTrayMenuMgr::CreateSystemTray()", "<%ld>-tray gone, nothing built");
        VtDesktopTrace(QStringLiteral("tray gone"));
        return;
    }
    m_pTrayMenu = new QMenu();

    // The icon below and the SDK the service loads are relative to our folder.
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    LoadDataFromINIFIle();
    const MenuTexts& texts = MenuTextsFor(INIDATA.nUILangID);
    const QString title = QString::fromUtf8(texts.title);

    m_pTrayStatus = new TrayStatus(m_pTrayIcon, INIDATA.nUILangID, this);
    OpenWebSocketService(true);

    auto* pTitleAction = new QAction(title, this);
    auto* pAutoLaunchAction = new QAction(QString::fromUtf8(texts.autoLaunch), this);
    auto* pExitAction = new QAction(QString::fromUtf8(texts.exit), this);
    pAutoLaunchAction->setCheckable(true);
    pAutoLaunchAction->setChecked(INIDATA.bAutoLaunch);
    m_pAutoLaunchAction = pAutoLaunchAction;
    connect(pAutoLaunchAction, &QAction::triggered, this, &SysTrayMenuMgr::AutoLaunchService);
    connect(pExitAction, &QAction::triggered, this, &SysTrayMenuMgr::ExitWebSocketService);

    m_pTrayMenu->addAction(pTitleAction);
    m_pTrayMenu->addSeparator();
    m_pTrayMenu->addAction(pAutoLaunchAction);
    m_pTrayMenu->addAction(m_pSitePermission->CreateMenuAction(this));
    m_pTrayMenu->addSeparator();
    m_pTrayMenu->addAction(pExitAction);
#ifdef VT_DESKTOP_TEST_HOOKS
    VtDesktopTraceMenu(m_pTrayMenu);
#endif

    m_pTrayIcon->setIcon(QIcon(QStringLiteral("./vtinkhost.ico")));
    m_pTrayIcon->setContextMenu(m_pTrayMenu);
    m_pTrayIcon->setToolTip(title);
    m_pTrayIcon->setVisible(true);
    VtDesktopTrace("tray icon shown: " + m_pTrayIcon->toolTip());
}

void SysTrayMenuMgr::LoadDataFromINIFIle()
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, SETTINGS_NAME, SETTINGS_NAME);
    settings.beginGroup(SETTINGS_GROUP);
    // The autostart file decides, not the stored flag: the user may have
    // removed the file, or the copy may have failed.
    if (settings.contains(KEY_AUTO_LAUNCH)) {
        const QString entry = UserAutoLaunchEntryPath();
        INIDATA.bAutoLaunch = !entry.isEmpty() && QFile::exists(entry);
    }
    if (settings.contains(KEY_PORT))
        INIDATA.nWebSocketPort = settings.value(KEY_PORT).toInt();
    if (settings.contains(KEY_LANG))
        INIDATA.nUILangID = settings.value(KEY_LANG).toInt();
    settings.endGroup();
}

void SysTrayMenuMgr::WriteDataToINIFIle()
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, SETTINGS_NAME, SETTINGS_NAME);
    settings.beginGroup(SETTINGS_GROUP);
    settings.setValue(KEY_AUTO_LAUNCH, INIDATA.bAutoLaunch);
    settings.setValue(KEY_PORT, INIDATA.nWebSocketPort);
    settings.setValue(KEY_LANG, INIDATA.nUILangID);
    settings.endGroup();
}

void SysTrayMenuMgr::AutoLaunchService()
{
    if (!m_pAutoLaunchAction)
        return;
    const QString autostartDir = QDir::homePath() + "/.config/autostart";
    const QString userEntry = UserAutoLaunchEntryPath();
    if (!QDir(autostartDir).exists())
        QDir().mkpath(autostartDir);

    if (!m_pAutoLaunchAction->isChecked()) {
        if (!userEntry.isEmpty())
            QFile::remove(userEntry);
        INIDATA.bAutoLaunch = false;
    } else {
        // QFile::copy never replaces an existing file; a failed copy shows
        // up at the next start as a cleared item.
        if (!userEntry.isEmpty())
            QFile::copy(InstalledEntriesDir() + AutoLaunchEntryName(), userEntry);
        INIDATA.bAutoLaunch = true;
    }
    VtDesktopTrace(QStringLiteral("auto launch %1").arg(INIDATA.bAutoLaunch ? 1 : 0));
    WriteDataToINIFIle();
}

void SysTrayMenuMgr::ExitWebSocketService()
{
    WriteDataToINIFIle();
    OpenWebSocketService(false);
    emit closed();
}
