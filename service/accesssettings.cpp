#include "accesssettings.h"

#include "sitepolicy.h"
#include "vtlog.h"

#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QSet>
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
const char* const KEY_RAW_INK = "RawInk";
const char* const KEY_SEALED_ORIGINS = "SealedRawInkOrigins";

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

// A list written by hand may be one comma-separated text, and its origins
// written as people write them: each entry comes back normalised, and one
// that is neither an origin nor an address is left out.
QStringList ReadList(const QSettings& s, const char* pszKey)
{
    QStringList list;
    for (const QString& item : s.value(QLatin1String(pszKey)).toStringList()) {
        const QString site = NormaliseSite(item);
        if (site.isEmpty()) {
            if (!item.trimmed().isEmpty())
                VT_LOG("AccessSettings::Load()", "<%ld>-%s: not an origin or address: %s", pszKey,
                       item.toUtf8().constData());
            continue;
        }
        if (!list.contains(site))
            list << site;
    }
    return list;
}

// An empty list leaves no key behind (QSettings would write "@Invalid()").
void SetList(QSettings& s, const char* pszKey, const QStringList& list)
{
    if (list.isEmpty())
        s.remove(QLatin1String(pszKey));
    else
        s.setValue(QLatin1String(pszKey), list);
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
    if (s.value(QLatin1String(KEY_RAW_INK)).toString().trimmed().toLower() == QLatin1String("sealed"))
        a.bRawInkSealed = true;
    for (const QString& o : ReadList(s, KEY_SEALED_ORIGINS))
        if (!a.sealedRawInkOrigins.contains(o))
            a.sealedRawInkOrigins << o;
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

// Rewrites the user's two lists with strSite taken out of both, then put into
// the allowed or blocked one (bAllowed), or into neither (bForget).
bool WriteUserAnswer(const QString& strSite, bool bAllowed, bool bForget)
{
    const QString site = NormaliseSite(strSite);
    if (site.isEmpty())
        return false;
    QScopedPointer<QSettings> user(Open(QSettings::UserScope));
    user->beginGroup(QLatin1String(GROUP));
    QStringList allowed = ReadList(*user, KEY_ALLOWED);
    QStringList blocked = ReadList(*user, KEY_BLOCKED);
    auto drop = [&site](QStringList& list) {
        list.erase(std::remove_if(list.begin(), list.end(), [&site](const QString& o) { return NormaliseSite(o) == site; }),
                   list.end());
    };
    drop(allowed);
    drop(blocked);
    if (!bForget)
        (bAllowed ? allowed : blocked) << site;
    SetList(*user, KEY_ALLOWED, allowed);
    SetList(*user, KEY_BLOCKED, blocked);
    user->endGroup();
    user->sync();
    const bool bWritten = user->status() == QSettings::NoError;
    VT_LOG("AccessSettings::WriteUserAnswer()", "<%ld>-%s %s: %s", site.toUtf8().constData(),
           bForget ? "forgotten" : bAllowed ? "allowed" : "blocked", bWritten ? "written" : "not written");
    return bWritten;
}

} // namespace

bool AccessSettings::RememberOrigin(const QString& strOrigin, bool bAllowed)
{
    if (bAllowed && Load().bLocked)
        return false;
    return WriteUserAnswer(strOrigin, bAllowed, false);
}

bool AccessSettings::ForgetOrigin(const QString& strOrigin)
{
    return WriteUserAnswer(strOrigin, false, true);
}

QStringList AccessSettings::RememberedOrigins(bool bAllowed)
{
    QScopedPointer<QSettings> user(Open(QSettings::UserScope));
    user->beginGroup(QLatin1String(GROUP));
    return ReadList(*user, bAllowed ? KEY_ALLOWED : KEY_BLOCKED);
}

QString AccessSettings::SystemFilePath()
{
    // Where QSettings' system scope looks on this platform.
    return QLibraryInfo::location(QLibraryInfo::SettingsPath) + QStringLiteral("/%1/%1.conf").arg(QLatin1String(SETTINGS_NAME));
}

QStringList AccessSettings::AllowedSitesIn(const QString& strPath)
{
    QSettings file(strPath, QSettings::IniFormat);
    file.beginGroup(QLatin1String(GROUP));
    return ReadList(file, KEY_ALLOWED);
}

bool AccessSettings::EditAllowedSites(const QString& strPath, const QString& strSite, bool bAllow, QStringList* pAllowed,
                                      bool* pChanged)
{
    const QString site = NormaliseSite(strSite);
    if (site.isEmpty())
        return false;
    if (!QDir().mkpath(QFileInfo(strPath).absolutePath()))
        return false;
    QSettings file(strPath, QSettings::IniFormat);
    file.beginGroup(QLatin1String(GROUP));
    const QStringList allowedBefore = ReadList(file, KEY_ALLOWED);
    const QStringList blockedBefore = ReadList(file, KEY_BLOCKED);
    QStringList allowed = allowedBefore;
    QStringList blocked = blockedBefore;
    allowed.removeAll(site);
    if (bAllow) {
        allowed << site;
        blocked.removeAll(site);
    }
    const bool bChanged = QSet<QString>(allowed.begin(), allowed.end()) !=
                              QSet<QString>(allowedBefore.begin(), allowedBefore.end()) ||
                          blocked != blockedBefore;
    if (bChanged) {
        SetList(file, KEY_ALLOWED, allowed);
        if (blocked != blockedBefore)
            SetList(file, KEY_BLOCKED, blocked);
    }
    file.endGroup();
    file.sync();
    if (pAllowed)
        *pAllowed = bChanged ? allowed : allowedBefore;
    if (pChanged)
        *pChanged = bChanged;
    return file.status() == QSettings::NoError;
}

bool AccessSettings::RawInkSealedFor(const QString& strOrigin) const
{
    return bRawInkSealed || (!strOrigin.isEmpty() && sealedRawInkOrigins.contains(NormaliseSite(strOrigin)));
}
