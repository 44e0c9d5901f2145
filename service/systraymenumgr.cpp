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
#include <QTimer>

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
    QObject::connect(pMenu, &QMenu::aboutToHide, pMenu, [] { VtDesktopTrace("menu hidden"); });
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
    // destroyed while running aborts the process, so stop the service first.
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
    // The icon and the SDK the service loads are relative to our folder.
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    LoadDataFromINIFIle();
    OpenWebSocketService(true);

    // The platform's tray watch starts with the first icon object: kept for
    // the program's life, shown only while a tray is there.
    m_pTrayIcon = new QSystemTrayIcon();
    m_pProbeTimer = new QTimer(this);
    m_pProbeTimer->setInterval(PROBE_INTERVAL_MS);
    connect(m_pProbeTimer, &QTimer::timeout, this, &SysTrayMenuMgr::ProbeSysTray);
    m_pProbeTimer->start();
    ProbeSysTray();
}

void SysTrayMenuMgr::ProbeSysTray()
{
    const bool bAvailable = QSystemTrayIcon::isSystemTrayAvailable();
    ++m_nProbe;
    // Traced during the first minute and on every change after it.
    if (m_nProbe <= PROBE_COUNT || bAvailable != m_bTrayThere) {
        VT_LOG("SysTrayMenuMgr::ProbeSysTray()", "<%ld>-probe %d: %d", m_nProbe, bAvailable ? 1 : 0);
        VtDesktopTrace(QStringLiteral("tray probe %1 %2").arg(m_nProbe).arg(bAvailable ? 1 : 0));
    }
    if (m_nProbe == PROBE_COUNT)
        m_pProbeTimer->setInterval(LATE_PROBE_INTERVAL_MS);
    if (bAvailable && !m_bTrayThere)
        TrayAppeared();
    else if (!bAvailable && m_bTrayThere)
        TrayGone();
}

void SysTrayMenuMgr::TrayAppeared()
{
    m_bTrayThere = true;
    if (!m_pTrayMenu) {
        CreateSystemTray();
    } else {
        // Dock again in the new tray.
        m_pTrayIcon->setVisible(false);
        m_pTrayIcon->setVisible(true);
        if (m_pWebSocketThread)
            m_pWebSocketThread->EnableSiteQuestions(SitePermission::AskTimeoutMs());
        VtDesktopTrace("tray icon shown: " + m_pTrayIcon->toolTip());
    }
}

void SysTrayMenuMgr::TrayGone()
{
    // Nobody to ask until a tray is back: sites in question are refused.
    m_bTrayThere = false;
    if (m_pWebSocketThread)
        m_pWebSocketThread->EnableSiteQuestions(0);
    VT_LOG("SysTrayMenuMgr::TrayGone()", "<%ld>-tray gone");
    VtDesktopTrace(QStringLiteral("tray gone"));
}

void SysTrayMenuMgr::OpenWebSocketService(bool bOpenService)
{
    if (bOpenService) {
        m_pWebSocketThread = new WebSocketThread(this, INIDATA.nWebSocketPort, AccessSettings::Load());
        connect(m_pWebSocketThread, &WebSocketThread::ListenResult, this,
                [this](int nPort, bool bListening, const QString& strReason) {
                    m_bListenKnown = true;
                    m_nListenPort = nPort;
                    m_bListening = bListening;
                    m_strListenReason = strReason;
                    if (m_pTrayStatus)
                        m_pTrayStatus->ServiceListening(nPort, bListening, strReason);
                });
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
    m_pTrayMenu = new QMenu();
    const MenuTexts& texts = MenuTextsFor(INIDATA.nUILangID);
    const QString title = QString::fromUtf8(texts.title);
    // Lives as long as the service thread; from now on the service asks.
    m_pSitePermission = new SitePermission(m_pWebSocketThread, INIDATA.nUILangID, title, m_pWebSocketThread);

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
    m_pTrayStatus = new TrayStatus(m_pTrayIcon, INIDATA.nUILangID, this);
    if (m_bListenKnown)
        m_pTrayStatus->ServiceListening(m_nListenPort, m_bListening, m_strListenReason);
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
    if (m_pProbeTimer)
        m_pProbeTimer->stop();
    WriteDataToINIFIle();
    OpenWebSocketService(false);
    emit closed();
}
