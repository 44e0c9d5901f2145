#include "sitepermission.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include "accesssettings.h"
#include "sitepolicy.h"
#include "desktoptesthooks.h"
#include "qtfloor.h"
#include "vtlog.h"
#include "websocketthread.h"

// UILangID 1 traditional Chinese, 2 simplified Chinese, anything else English,
// as the menu.
struct SitePermission::Texts {
    const char* question;        // %1: the origin
    const char* remoteQuestion;  // %1: the other computer's address
    const char* remote;          // the other computer in the list of sites
    const char* allow;
    const char* block;
    const char* menuItem;
    const char* allowed;
    const char* blocked;
    const char* remove;
    const char* close;
    const char* none;
};

namespace {

const int ASK_TIMEOUT_MS = 60000;

const SitePermission::Texts TEXTS_TRADITIONAL = {
    "%1 想使用您的簽名板", "位於 %1 的電腦想使用您的簽名板", "位於 %1 的電腦",
    "允許", "封鎖", "已允許的網站…", "已允許", "已封鎖", "移除", "關閉", "尚未記住任何網站。"};
const SitePermission::Texts TEXTS_SIMPLIFIED = {
    "%1 想使用您的签名板", "位于 %1 的计算机想使用您的签名板", "位于 %1 的计算机",
    "允许", "阻止", "已允许的网站…", "已允许", "已阻止", "移除", "关闭", "尚未记住任何网站。"};
const SitePermission::Texts TEXTS_ENGLISH = {
    "%1 wants to use your signature pad",
    "A computer at %1 wants to use your signature pad", "a computer at %1", "Allow", "Block", "Allowed sites…",
    "allowed", "blocked", "Remove", "Close", "No sites remembered yet."};

const SitePermission::Texts& TextsFor(int nUILangID)
{
    switch (nUILangID) {
    case 1: return TEXTS_TRADITIONAL;
    case 2: return TEXTS_SIMPLIFIED;
    default: return TEXTS_ENGLISH;
    }
}

QString Tr(const char* psz) { return QString::fromUtf8(psz); }

#ifdef VT_DESKTOP_TEST_HOOKS
// "<text>@x,y": a button and where to click it on the screen.
QString Where(const QPushButton* pButton)
{
    const QPoint p = pButton->mapToGlobal(pButton->rect().center());
    return QStringLiteral("%1@%2,%3").arg(pButton->text()).arg(p.x()).arg(p.y());
}

// Reports a window once it is on the screen, so that a test can click it.
void TraceWhenShown(QWidget* pWindow, std::function<QStringList()> lines)
{
    auto* pPoll = new QTimer(pWindow);
    QObject::connect(pPoll, &QTimer::timeout, pWindow, [pWindow, pPoll, lines] {
        if (!pWindow->windowHandle() || !pWindow->windowHandle()->isExposed())
            return;
        pPoll->deleteLater();
        for (const QString& line : lines())
            VtDesktopTrace(line);
    });
    pPoll->start(20);
}
#endif

} // namespace

int SitePermission::AskTimeoutMs()
{
    bool bOk = false;
    const int n = VtDesktopOverride("VTINKHOST_TEST_ASK_TIMEOUT_MS", QString::number(ASK_TIMEOUT_MS)).toInt(&bOk);
    return bOk && n > 0 ? n : ASK_TIMEOUT_MS;
}

SitePermission::SitePermission(WebSocketThread* pThread, int nUILangID, const QString& strTitle, QObject* parent)
    : QObject(parent), m_pThread(pThread), m_texts(TextsFor(nUILangID)), m_strTitle(strTitle)
{
    // The program has no window of its own: closing the last dialog must
    // not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    m_pThread->EnableSiteQuestions(AskTimeoutMs());
    connect(m_pThread, &WebSocketThread::siteQuestion, this, &SitePermission::Ask);
    connect(m_pThread, &WebSocketThread::siteQuestionEnded, this, &SitePermission::EndQuestion);
}

SitePermission::~SitePermission()
{
    for (const QPointer<QDialog>& pDialog : qAsConst(m_questions))
        delete pDialog;
    delete m_pSitesDialog;
}

QAction* SitePermission::CreateMenuAction(QObject* parent)
{
    auto* pAction = new QAction(Tr(m_texts.menuItem), parent);
    connect(pAction, &QAction::triggered, this, &SitePermission::ShowAllowedSites);
    return pAction;
}

QString SitePermission::SiteLabel(const QString& strSite) const
{
    return strSite.contains(QLatin1String("://")) ? strSite : Tr(m_texts.remote).arg(strSite);
}

void SitePermission::Ask(const QString& strSite, bool bRemote)
{
    if (m_questions.value(strSite))
        return;
    // Not modal: the program and the other questions go on meanwhile.
    auto* pDialog = new QDialog(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint);
    pDialog->setAttribute(Qt::WA_DeleteOnClose);
    pDialog->setWindowTitle(m_strTitle);
    auto* pLayout = new QVBoxLayout(pDialog);
    auto* pText = new QLabel(Tr(bRemote ? m_texts.remoteQuestion : m_texts.question).arg(strSite), pDialog);
    pText->setTextFormat(Qt::PlainText); // the origin comes from a page
    pLayout->addWidget(pText);
    auto* pButtons = new QDialogButtonBox(pDialog);
    QPushButton* pAllow = pButtons->addButton(Tr(m_texts.allow), QDialogButtonBox::AcceptRole);
    QPushButton* pBlock = pButtons->addButton(Tr(m_texts.block), QDialogButtonBox::DestructiveRole);
    pAllow->setAutoDefault(false); // Enter is no answer: the user clicks one
    pBlock->setAutoDefault(false);
    pLayout->addWidget(pButtons);
    // Closing the window answers nothing: the site waits until its time is up.
    connect(pAllow, &QPushButton::clicked, this, [this, strSite] { Answer(strSite, true); });
    connect(pBlock, &QPushButton::clicked, this, [this, strSite] { Answer(strSite, false); });
    m_questions.insert(strSite, pDialog);
    VT_LOG("SitePermission::Ask()", "<%ld>-asking about '%s'", strSite.toUtf8().constData());
    pDialog->show();
    pDialog->raise();
#ifdef VT_DESKTOP_TEST_HOOKS
    TraceWhenShown(pDialog, [strSite, pText, pAllow, pBlock] {
        return QStringList{VtArgs(QStringLiteral("site question: %1 | %2 | %3 | %4"),
                                  {strSite, pText->text(), Where(pAllow), Where(pBlock)})};
    });
#endif
}

void SitePermission::EndQuestion(const QString& strSite)
{
    QPointer<QDialog> pDialog = m_questions.take(strSite);
    if (!pDialog)
        return;
    pDialog->close();
    VtDesktopTrace(QStringLiteral("site question closed: ") + strSite);
}

void SitePermission::Answer(const QString& strSite, bool bAllowed)
{
    const bool bRemembered = AccessSettings::RememberOrigin(strSite, bAllowed);
    m_sessionAllowed.removeAll(strSite);
    m_sessionBlocked.removeAll(strSite);
    if (!bRemembered)
        (bAllowed ? m_sessionAllowed : m_sessionBlocked) << strSite;
    VT_LOG("SitePermission::Answer()", "<%ld>-'%s' %s, %s", strSite.toUtf8().constData(), bAllowed ? "allowed" : "blocked",
           bRemembered ? "remembered" : "until the program ends");
    VtDesktopTrace(VtArgs(QStringLiteral("site answer: %1 %2 %3"),
                          {strSite, bAllowed ? "allow" : "block", bRemembered ? "remembered" : "this session"}));
    SendAccess();
    EndQuestion(strSite);
    FillAllowedSites();
}

void SitePermission::Forget(const QString& strSite)
{
    AccessSettings::ForgetOrigin(strSite);
    m_sessionAllowed.removeAll(strSite);
    m_sessionBlocked.removeAll(strSite);
    VtDesktopTrace(QStringLiteral("site forgotten: ") + strSite);
    SendAccess();
    FillAllowedSites();
}

void SitePermission::SendAccess()
{
    AccessSettings access = AccessSettings::Load();
    for (const QString& site : qAsConst(m_sessionBlocked)) {
        access.allowedOrigins.removeAll(site);
        if (!access.blockedOrigins.contains(site))
            access.blockedOrigins << site;
    }
    for (const QString& site : qAsConst(m_sessionAllowed))
        if (!access.allowedOrigins.contains(site) && !access.blockedOrigins.contains(site))
            access.allowedOrigins << site;
    m_pThread->SetAccess(access);
}

void SitePermission::ShowAllowedSites()
{
    if (!m_pSitesDialog) {
        m_pSitesDialog = new QDialog(nullptr, Qt::Dialog);
        m_pSitesDialog->setAttribute(Qt::WA_DeleteOnClose);
        m_pSitesDialog->setWindowTitle(Tr(m_texts.menuItem));
        auto* pLayout = new QVBoxLayout(m_pSitesDialog);
        auto* pButtons = new QDialogButtonBox(m_pSitesDialog);
        QPushButton* pClose = pButtons->addButton(Tr(m_texts.close), QDialogButtonBox::RejectRole);
        connect(pClose, &QPushButton::clicked, m_pSitesDialog, &QDialog::close);
        pLayout->addWidget(pButtons);
    }
    FillAllowedSites();
    m_pSitesDialog->show();
    m_pSitesDialog->raise();
}

void SitePermission::FillAllowedSites()
{
    if (!m_pSitesDialog)
        return;
    delete m_pSiteRows;
    m_pSiteRows = new QWidget(m_pSitesDialog);
    auto* pRows = new QVBoxLayout(m_pSiteRows);
    pRows->setContentsMargins(0, 0, 0, 0);
    struct Row {
        QString site;
        bool bAllowed;
    };
    QList<Row> rows;
    for (const QString& site : AccessSettings::RememberedOrigins(true) + m_sessionAllowed)
        rows << Row{site, true};
    for (const QString& site : AccessSettings::RememberedOrigins(false) + m_sessionBlocked)
        rows << Row{site, false};
    QStringList shown;
    QList<QPair<QString, QPushButton*>> removes;
    for (const Row& row : qAsConst(rows)) {
        auto* pLine = new QHBoxLayout();
        const QString label = SiteLabel(row.site) + QStringLiteral(" (") + Tr(row.bAllowed ? m_texts.allowed : m_texts.blocked) +
                              QLatin1Char(')');
        auto* pLabel = new QLabel(label, m_pSiteRows);
        pLabel->setTextFormat(Qt::PlainText);
        auto* pRemove = new QPushButton(Tr(m_texts.remove), m_pSiteRows);
        const QString site = row.site;
        connect(pRemove, &QPushButton::clicked, this, [this, site] { Forget(site); });
        pLine->addWidget(pLabel, 1);
        pLine->addWidget(pRemove);
        pRows->addLayout(pLine);
        shown << label;
        removes << qMakePair(row.site, pRemove);
    }
    if (rows.isEmpty()) {
        pRows->addWidget(new QLabel(Tr(m_texts.none), m_pSiteRows));
        shown << Tr(m_texts.none);
    }
    static_cast<QVBoxLayout*>(m_pSitesDialog->layout())->insertWidget(0, m_pSiteRows);
    m_pSitesDialog->adjustSize();
#ifdef VT_DESKTOP_TEST_HOOKS
    QPointer<QWidget> pRowsShown = m_pSiteRows;
    TraceWhenShown(m_pSitesDialog, [shown, removes, pRowsShown] {
        QStringList lines{QStringLiteral("sites shown: ") + shown.join(QStringLiteral(" | "))};
        if (pRowsShown) // not replaced meanwhile
            for (const auto& remove : removes)
                lines << VtArgs(QStringLiteral("site row: %1 %2"), {remove.first, Where(remove.second)});
        return lines;
    });
#endif
}
