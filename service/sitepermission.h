#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class QAction;
class QDialog;
class QWidget;
class WebSocketThread;

// The tray's side of the site policy (GUI thread): asks the user, in the
// menu's language, whether a site may use the pad ("Allow" / "Block"),
// remembers the answer in the user's file and hands the new settings to the
// service thread; the "Allowed sites…" item lists the remembered sites, each
// with "Remove".
class SitePermission : public QObject
{
    Q_OBJECT
public:
    // Call before the thread starts: it enables the service's questions.
    // nUILangID as the menu's "UILangID"; strTitle: the menu's title line,
    // the dialogs' title.
    SitePermission(WebSocketThread* pThread, int nUILangID, const QString& strTitle, QObject* parent);
    ~SitePermission() override;

    // The "Allowed sites…" menu item, a child of parent.
    QAction* CreateMenuAction(QObject* parent);

    // How long a question waits for its answer before the site is refused.
    static int AskTimeoutMs();

    struct Texts; // in the three menu languages

public Q_SLOTS:
    void ShowAllowedSites();

private Q_SLOTS:
    void Ask(const QString& strSite, bool bRemote);
    void EndQuestion(const QString& strSite);

private:
    void Answer(const QString& strSite, bool bAllowed);
    void Forget(const QString& strSite);
    void SendAccess();
    void FillAllowedSites();
    QString SiteLabel(const QString& strSite) const;

    WebSocketThread* m_pThread;
    const Texts& m_texts;
    QString m_strTitle;
    QHash<QString, QPointer<QDialog>> m_questions; // open question per site
    QPointer<QDialog> m_pSitesDialog;
    QPointer<QWidget> m_pSiteRows;
    // Answers the user's file could not keep (a locked system-wide file, a
    // file that cannot be written): they hold until the program ends.
    QStringList m_sessionAllowed;
    QStringList m_sessionBlocked;
};
