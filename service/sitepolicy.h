#pragma once

// Which pages and computers may use the service: a pure decision over the
// "Access" settings and what the service knows of a connection, with no
// sockets involved, so that every case can be tested as a table.
#include "accesssettings.h"

#include <QHostAddress>
#include <QString>

struct SiteVerdict {
    enum class Action {
        Allow,  // requests are answered
        Ask,    // requests are held until the user answers in the tray
        Refuse  // closed at once with SITE_CLOSE_CODE
    };
    Action eAction = Action::Refuse;
    // The key the settings' lists and the user's answers use: the page's
    // origin as browsers send it, or the address of another computer; empty
    // for a program on this computer that sent no Origin.
    QString strSite;
    bool bRemote = false;         // strSite is the address of another computer
    const char* pszReason = "";   // for the log
};

// Close code and reason of a connection the policy does not let in.
const int SITE_CLOSE_CODE = 4003;
const char* const SITE_CLOSE_REASON = "origin not allowed";

// strOriginHeader: the handshake's Origin ("" when none was sent); peer:
// where the connection comes from. An Origin from another computer proves
// nothing (any program can send one), so such a connection counts as that
// computer. Loopback pages and native programs on this computer are let in
// without asking; blocked sites never, whatever the policy.
SiteVerdict DecideSite(const AccessSettings& access, const QString& strOriginHeader, const QHostAddress& peer);

// "scheme://host[:port]" as browsers send an origin: scheme and host in lower
// case, the scheme's default port left out, no path. Also takes what people
// write in the settings ("HTTPS://Site.Example:443/"). Empty when the text is
// not an origin (a path, a query, user info, no host, "null").
QString NormaliseOrigin(const QString& strText);

// A list entry or an answer as stored: an origin normalised as above, or the
// address of a computer ("192.168.1.7", "fe80::1"); empty when it is neither.
QString NormaliseSite(const QString& strText);

// The address of a peer as a site key: IPv4 for an IPv4-mapped address, no
// IPv6 scope.
QString AddressSite(const QHostAddress& peer);
