#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

// The "Access" group of the settings: which pages and computers may use the
// service, where it listens, and how much one client may ask of it. An
// administrator presets it in the system-wide file (Qt's system scope,
// /etc/xdg/vtinkhost/vtinkhost.conf); the user's file (the one that holds
// the "Settings" group) adds to it. With Locked=true in the system-wide file
// the user's file can only narrow it: block more origins, lower a bound.
struct AccessSettings {
    enum class Policy {
        Ask,   // an origin not yet allowed waits for the user's answer in the tray
        Allow, // every page is accepted
        List   // only the allowed origins; everything else is refused at once
    };

    Policy ePolicy = Policy::Ask;
    QStringList allowedOrigins; // exact origins: scheme, host and port
    QStringList blockedOrigins;
    bool bListenLoopbackOnly = false; // ListenAddress=loopback; default any address
    bool bLocked = false;             // the system-wide file's Locked

    qint64 nMaxMessageBytes = 32ll << 20;  // largest frame or message
    qint64 nMaxPendingBytes = 64ll << 20;  // unsent bytes of one connection
    int nMaxConnections = 1024;
    int nMaxConnectionsPerOrigin = 64;     // per origin, or per remote computer

    // RawInk=sealed: no page gets the ink's dynamics in the clear (points,
    // ink encoding, pen stream coordinates); SealedRawInkOrigins: only these
    // origins. Either file can seal; neither can unseal what the other sealed.
    bool bRawInkSealed = false;
    QStringList sealedRawInkOrigins;
    bool RawInkSealedFor(const QString& strOrigin) const;

    // The system-wide file, then the user's file over it.
    static AccessSettings Load();
    // The user's answer for a site (an origin, or the address of another
    // computer), remembered in the user's file (AllowedOrigins or
    // BlockedOrigins); false when a locked system file does not let the user
    // allow it, or the file could not be written.
    static bool RememberOrigin(const QString& strOrigin, bool bAllowed);
    // Drops a site from the user's lists; false when the file could not be written.
    static bool ForgetOrigin(const QString& strOrigin);
    // The sites the user's file remembers as allowed (or as blocked).
    static QStringList RememberedOrigins(bool bAllowed = true);

    static const char* PolicyName(Policy e);

    // The system-wide file as Qt's system scope finds it
    // ("/etc/xdg/vtinkhost/vtinkhost.conf").
    static QString SystemFilePath();
    // For the administrator's command: AllowedOrigins of the settings file
    // strPath; EditAllowedSites adds a site to AllowedOrigins of the
    // settings file strPath (taking it out of BlockedOrigins), or with
    // bAllow false takes it out again. *pAllowed: the allowed sites after it;
    // *pChanged: whether the file changed. False when it could not be written.
    static QStringList AllowedSitesIn(const QString& strPath);
    static bool EditAllowedSites(const QString& strPath, const QString& strSite, bool bAllow, QStringList* pAllowed,
                                 bool* pChanged);
};

Q_DECLARE_METATYPE(AccessSettings)
