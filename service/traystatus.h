#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

class QSystemTrayIcon;

// What the tray icon tells about the service: the tooltip's second line
// says on which port it listens or why the port could not be opened, the
// icon is greyed while nothing listens, and a failure is announced once.
class TrayStatus : public QObject
{
    Q_OBJECT
public:
    // The texts follow nUILangID as the menu does (1 traditional Chinese,
    // 2 simplified Chinese, else English).
    TrayStatus(QSystemTrayIcon* pTrayIcon, int nUILangID, QObject* parent);

    // The status line for a listen result.
    static QString StatusText(int nUILangID, int nPort, bool bListening, const QString& strReason);

public Q_SLOTS:
    // From the service thread: the port listened on, or the configured port
    // and why it could not be opened.
    void ServiceListening(int nPort, bool bListening, const QString& strReason);

private:
    QSystemTrayIcon* m_pTrayIcon;
    const int m_nUILangID;
    QString m_strTitle; // the tooltip's first line, as the tray manager set it
    QIcon m_normalIcon;
    bool m_bFailureAnnounced = false;
};
