#include "sitepolicy.h"

#include <QUrl>

namespace {

int DefaultPort(const QString& strScheme)
{
    if (strScheme == QLatin1String("http") || strScheme == QLatin1String("ws"))
        return 80;
    if (strScheme == QLatin1String("https") || strScheme == QLatin1String("wss"))
        return 443;
    return -1;
}

bool IsLoopbackPeer(const QHostAddress& peer)
{
    bool bV4 = false;
    const quint32 nV4 = peer.toIPv4Address(&bV4); // also an IPv4-mapped IPv6 peer
    return bV4 ? QHostAddress(nV4).isLoopback() : peer.isLoopback();
}

// Pages served by this computer to itself: http://localhost:*, 127.0.0.1, [::1].
bool IsLoopbackPage(const QString& strOrigin)
{
    const QUrl url(strOrigin);
    if (url.scheme() != QLatin1String("http"))
        return false;
    const QString host = url.host();
    return host == QLatin1String("localhost") || host == QLatin1String("127.0.0.1") || host == QLatin1String("::1");
}

// Entries are written by people: compare them normalised.
bool ListHas(const QStringList& list, const QString& strSite)
{
    for (const QString& entry : list)
        if (NormaliseSite(entry) == strSite)
            return true;
    return false;
}

SiteVerdict Verdict(SiteVerdict v, SiteVerdict::Action e, const char* pszReason)
{
    v.eAction = e;
    v.pszReason = pszReason;
    return v;
}

} // namespace

QString NormaliseOrigin(const QString& strText)
{
    QString text = strText.trimmed();
    if (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    if (text.isEmpty() || !text.contains(QLatin1String("://")))
        return QString();
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || !url.path().isEmpty() || url.hasQuery() || url.hasFragment() ||
        !url.userInfo().isEmpty())
        return QString();
    QString host = url.host(QUrl::FullyEncoded); // lower case; IDN as browsers send it ("xn--...")
    if (host.isEmpty())
        return QString();
    if (host.contains(QLatin1Char(':')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    const QString scheme = url.scheme().toLower();
    QString origin = scheme + QLatin1String("://") + host;
    const int nPort = url.port(-1);
    if (nPort >= 0 && nPort != DefaultPort(scheme))
        origin += QLatin1Char(':') + QString::number(nPort);
    return origin;
}

QString AddressSite(const QHostAddress& peer)
{
    bool bV4 = false;
    const quint32 nV4 = peer.toIPv4Address(&bV4);
    if (bV4)
        return QHostAddress(nV4).toString();
    QHostAddress address(peer);
    address.setScopeId(QString());
    return address.toString().toLower();
}

QString NormaliseSite(const QString& strText)
{
    const QString text = strText.trimmed();
    if (text.contains(QLatin1String("://")))
        return NormaliseOrigin(text);
    QString bare = text;
    if (bare.startsWith(QLatin1Char('[')) && bare.endsWith(QLatin1Char(']')))
        bare = bare.mid(1, bare.size() - 2);
    QHostAddress address;
    if (bare.isEmpty() || !address.setAddress(bare))
        return QString();
    return AddressSite(address);
}

SiteVerdict DecideSite(const AccessSettings& access, const QString& strOriginHeader, const QHostAddress& peer)
{
    using Action = SiteVerdict::Action;
    SiteVerdict v;
    bool bNamed = true; // the site can be shown to the user and remembered
    if (!IsLoopbackPeer(peer)) {
        v.strSite = AddressSite(peer);
        v.bRemote = true;
    } else if (strOriginHeader.isEmpty()) {
        return Verdict(v, Action::Allow, "a program on this computer");
    } else {
        v.strSite = NormaliseOrigin(strOriginHeader);
        if (v.strSite.isEmpty()) {
            // "null" (a file, a sandboxed frame) or something that is no
            // origin: it names no site the user could judge.
            v.strSite = strOriginHeader.trimmed();
            bNamed = false;
        }
    }
    if (bNamed && ListHas(access.blockedOrigins, v.strSite))
        return Verdict(v, Action::Refuse, "blocked");
    if (bNamed && !v.bRemote && IsLoopbackPage(v.strSite))
        return Verdict(v, Action::Allow, "a page from this computer");
    if (access.ePolicy == AccessSettings::Policy::Allow)
        return Verdict(v, Action::Allow, "every site allowed");
    if (bNamed && ListHas(access.allowedOrigins, v.strSite))
        return Verdict(v, Action::Allow, "allowed");
    if (!bNamed)
        return Verdict(v, Action::Refuse, "not an origin");
    if (access.ePolicy == AccessSettings::Policy::List)
        return Verdict(v, Action::Refuse, "not listed");
    return Verdict(v, Action::Ask, "not yet allowed");
}
