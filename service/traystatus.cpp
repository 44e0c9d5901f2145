#include "traystatus.h"

#include "desktoptesthooks.h"
#include "qtfloor.h"
#include "vtlog.h"

#include <QPixmap>
#include <QSystemTrayIcon>

namespace {

struct StatusTexts {
    const char* listening; // %1 port
    const char* failed;    // %1 port, %2 reason
};
// UILangID 1 traditional Chinese, 2 simplified Chinese, anything else English.
const StatusTexts STATUS_TRADITIONAL = {"正在監聽連接埠 %1", "連接埠 %1 無法開啟：%2"};
const StatusTexts STATUS_SIMPLIFIED = {"正在监听端口 %1", "端口 %1 无法打开：%2"};
const StatusTexts STATUS_ENGLISH = {"listening on port %1", "port %1 could not be opened: %2"};

const StatusTexts& StatusTextsFor(int nUILangID)
{
    return nUILangID == 1 ? STATUS_TRADITIONAL : nUILangID == 2 ? STATUS_SIMPLIFIED : STATUS_ENGLISH;
}

const int ICON_SIZES[] = {16, 22, 24, 32, 48, 64};
const int NOTIFICATION_MS = 15000;

QIcon Greyed(const QIcon& icon)
{
    QIcon grey;
    for (int n : ICON_SIZES)
        grey.addPixmap(icon.pixmap(n, QIcon::Disabled));
    return grey;
}

} // namespace

TrayStatus::TrayStatus(QSystemTrayIcon* pTrayIcon, int nUILangID, QObject* parent)
    : QObject(parent), m_pTrayIcon(pTrayIcon), m_nUILangID(nUILangID)
{
}

QString TrayStatus::StatusText(int nUILangID, int nPort, bool bListening, const QString& strReason)
{
    const StatusTexts& texts = StatusTextsFor(nUILangID);
    return bListening ? QString::fromUtf8(texts.listening).arg(nPort) : QString::fromUtf8(texts.failed).arg(nPort).arg(strReason);
}

void TrayStatus::ServiceListening(int nPort, bool bListening, const QString& strReason)
{
    // The icon and title as the tray manager set them, before any status.
    if (m_strTitle.isNull()) {
        m_strTitle = m_pTrayIcon->toolTip();
        m_normalIcon = m_pTrayIcon->icon();
    }
    const QString strStatus = StatusText(m_nUILangID, nPort, bListening, strReason);
    VT_LOG("TrayStatus::ServiceListening()", "<%ld>-%s", strStatus.toUtf8().constData());
    m_pTrayIcon->setToolTip(m_strTitle + QLatin1Char('\n') + strStatus);
    m_pTrayIcon->setIcon(bListening ? m_normalIcon : Greyed(m_normalIcon));
    VtDesktopTrace(VtArgs(QStringLiteral("tray status: %1 (icon %2)"), {strStatus, bListening ? "normal" : "greyed"}));
    if (!bListening && !m_bFailureAnnounced) {
        m_bFailureAnnounced = true;
        m_pTrayIcon->showMessage(m_strTitle, strStatus, QSystemTrayIcon::Warning, NOTIFICATION_MS);
        VtDesktopTrace(QStringLiteral("tray notification: %1").arg(strStatus));
    }
}
