#include "accesssettings.h"

#include "vtlog.h"

#include <QSettings>

#include <algorithm>
#include <limits>

namespace {

const char* const SETTINGS_NAME = "vtinkhost"; // organisation and application, as the "Settings" group
const char* const GROUP = "Access";
const char* const KEY_POLICY = "Policy";
const char* const KEY_ALLOWED = "AllowedOrigins";
const char* const KEY_BLOCKED = "BlockedOrigins";
const char* const KEY_LISTEN = "ListenAddress";
const char* const KEY_LOCKED = "Locked";
const char* const KEY_MAX_MESSAGE = "MaxMessageBytes";
const char* const KEY_MAX_PENDING = "MaxPendingBytes";
const char* const KEY_MAX_CONNECTIONS = "MaxConnections";
const char* const KEY_MAX_PER_ORIGIN = "MaxConnectionsPerOrigin";

struct PolicyName {
    AccessSettings::Policy e;
    const char* psz;
};
const PolicyName POLICIES[] = {
    {AccessSettings::Policy::Ask, "ask"},
    {AccessSettings::Policy::Allow, "allow"},
    {AccessSettings::Policy::List, "list"},
};

// How far each policy opens the door: a locked file keeps the narrower one.
int Openness(AccessSettings::Policy e)
{
    return e == AccessSettings::Policy::List ? 0 : e == AccessSettings::Policy::Ask ? 1 : 2;
}

QSettings* Open(QSettings::Scope scope)
{
    return new QSettings(QSettings::NativeFormat, scope, SETTINGS_NAME, SETTINGS_NAME);
}

// A list written by hand may be one comma-separated text.
QStringList ReadList(const QSettings& s, const char* pszKey)
{
    QStringList list;
    for (const QString& item : s.value(QLatin1String(pszKey)).toStringList()) {
        const QString trimmed = item.trimmed();
        if (!trimmed.isEmpty() && !list.contains(trimmed))
            list << trimmed;
    }
    return list;
}

// Bounds come from people: a value that is not a positive number keeps the default.
template <class T> void ReadBound(const QSettings& s, const char* pszKey, T& value)
{
    bool bOk = false;
    const qlonglong n = s.value(QLatin1String(pszKey)).toLongLong(&bOk);
    if (bOk && n > 0)
        value = T(std::min<qlonglong>(n, std::numeric_limits<T>::max()));
}

// Reads one file's group over what is already there. bNarrowOnly: the file
// may only narrow it (a locked system-wide file came first).
void ReadInto(const QSettings& s, AccessSettings& a, bool bNarrowOnly)
{
    const QString policy = s.value(QLatin1String(KEY_POLICY)).toString().trimmed().toLower();
    for (const PolicyName& p : POLICIES) {
        if (policy == QLatin1String(p.psz) && (!bNarrowOnly || Openness(p.e) < Openness(a.ePolicy)))
            a.ePolicy = p.e;
    }
    if (!bNarrowOnly) {
        for (const QString& o : ReadList(s, KEY_ALLOWED))
            if (!a.allowedOrigins.contains(o))
                a.allowedOrigins << o;
    }
    for (const QString& o : ReadList(s, KEY_BLOCKED))
        if (!a.blockedOrigins.contains(o))
            a.blockedOrigins << o;
    const QString listen = s.value(QLatin1String(KEY_LISTEN)).toString().trimmed().toLower();
    if (listen == QLatin1String("loopback"))
        a.bListenLoopbackOnly = true;
    else if (listen == QLatin1String("any") && !bNarrowOnly)
        a.bListenLoopbackOnly = false;
    AccessSettings bounds = a;
    ReadBound(s, KEY_MAX_MESSAGE, bounds.nMaxMessageBytes);
    ReadBound(s, KEY_MAX_PENDING, bounds.nMaxPendingBytes);
    ReadBound(s, KEY_MAX_CONNECTIONS, bounds.nMaxConnections);
    ReadBound(s, KEY_MAX_PER_ORIGIN, bounds.nMaxConnectionsPerOrigin);
    auto take = [bNarrowOnly](auto mine, auto& value) { value = bNarrowOnly ? std::min(mine, value) : mine; };
    take(bounds.nMaxMessageBytes, a.nMaxMessageBytes);
    take(bounds.nMaxPendingBytes, a.nMaxPendingBytes);
    take(bounds.nMaxConnections, a.nMaxConnections);
    take(bounds.nMaxConnectionsPerOrigin, a.nMaxConnectionsPerOrigin);
}

} // namespace

const char* AccessSettings::PolicyName(Policy e)
{
    for (const ::PolicyName& p : POLICIES)
        if (p.e == e)
            return p.psz;
    return "ask";
}

AccessSettings AccessSettings::Load()
{
    AccessSettings a;
    {
        // Only the program's own system-wide file, not the organisation-wide one.
        QScopedPointer<QSettings> system(Open(QSettings::SystemScope));
        system->setFallbacksEnabled(false);
        system->beginGroup(QLatin1String(GROUP));
        ReadInto(*system, a, false);
        a.bLocked = system->value(QLatin1String(KEY_LOCKED)).toBool();
        system->endGroup();
    }
    {
        QScopedPointer<QSettings> user(Open(QSettings::UserScope));
        user->setFallbacksEnabled(false); // the system-wide file was read above, under its own rules
        user->beginGroup(QLatin1String(GROUP));
        ReadInto(*user, a, a.bLocked);
        user->endGroup();
    }
    // An origin both allowed and blocked stays blocked.
    for (const QString& o : qAsConst(a.blockedOrigins))
        a.allowedOrigins.removeAll(o);
    VT_LOG("AccessSettings::Load()", "<%ld>-policy=%s, allowed=%d, blocked=%d, loopback=%d, locked=%d",
           PolicyName(a.ePolicy), a.allowedOrigins.size(), a.blockedOrigins.size(), int(a.bListenLoopbackOnly),
           int(a.bLocked));
    return a;
}

namespace {

// Drops an origin from the user's two lists, then adds it to one (or none).
void RewriteUserLists(const QString& strOrigin, const char* pszAddTo)
{
    QScopedPointer<QSettings> user(Open(QSettings::UserScope));
    user->beginGroup(QLatin1String(GROUP));
    for (const char* pszKey : {KEY_ALLOWED, KEY_BLOCKED}) {
        QStringList list = ReadList(*user, pszKey);
        list.removeAll(strOrigin);
        if (pszAddTo == pszKey)
            list << strOrigin;
        user->setValue(QLatin1String(pszKey), list);
    }
    user->endGroup();
}

} // namespace

bool AccessSettings::RememberOrigin(const QString& strOrigin, bool bAllowed)
{
    if (bAllowed && Load().bLocked)
        return false;
    RewriteUserLists(strOrigin, bAllowed ? KEY_ALLOWED : KEY_BLOCKED);
    return true;
}

void AccessSettings::ForgetOrigin(const QString& strOrigin)
{
    RewriteUserLists(strOrigin, nullptr);
}

QStringList AccessSettings::RememberedOrigins()
{
    QScopedPointer<QSettings> user(Open(QSettings::UserScope));
    user->beginGroup(QLatin1String(GROUP));
    return ReadList(*user, KEY_ALLOWED);
}
