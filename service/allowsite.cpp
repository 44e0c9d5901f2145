// vtinkhost-allow-site ORIGIN [--remove] [--root DIR]
//
// Lets a web site use the signature pads of this computer, for every user:
// the origin goes into the system-wide allowlist of vtinkhost and into the
// managed policies of Chromium, Google Chrome and Firefox that let the site's
// pages reach the service on the loopback. Run again it changes nothing;
// --remove takes the site out of all of them. Policies already there are
// kept: the command only adds or removes its own entries.
#include "accesssettings.h"
#include "qtfloor.h"
#include "sitepolicy.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>
#include <QUrl>

#include <cstdio>
#include <unistd.h>

namespace {

// Chromium and Chrome read every *.json in their managed folder; ours is
// one file of its own unless another file there already sets the list.
const char* const CHROMIUM_POLICY_DIR = "/etc/chromium/policies/managed";
const char* const CHROME_POLICY_DIR = "/etc/opt/chrome/policies/managed";
const char* const OWN_POLICY_FILE = "vtinkhost.json";
// Pages of the listed URL patterns may reach the loopback (Chromium 146 and
// later; WebSockets need it from 147 on).
const char* const CHROMIUM_LIST = "LoopbackNetworkAllowedForUrls";
// Firefox reads this one file (its LocalNetworkAccess policy, Firefox 150 and
// later): SkipDomains lists the sites' host names.
const char* const FIREFOX_POLICY_FILE = "/etc/firefox/policies/policies.json";

const int EXIT_FAILED = 1;
const int EXIT_USAGE = 2;

void Print(FILE* pOut, const QString& text)
{
    std::fprintf(pOut, "%s\n", text.toLocal8Bit().constData());
}

// A planned change of one JSON file: its new content, or its removal.
struct FileChange {
    QString path;
    QByteArray content;
    bool bRemove = false;
    QString what; // for the report
};

struct Plan {
    QList<FileChange> changes;
    QStringList unchanged;
    QStringList errors;
};

// A missing file is an empty object; a file that is not a JSON object is
// an error, and nothing is written over it.
bool ReadObject(const QString& path, QJsonObject* pObject, QString* pError)
{
    QFile file(path);
    if (!file.exists()) {
        *pObject = QJsonObject();
        return true;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *pError = path + ": " + file.errorString();
        return false;
    }
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
        *pError = path + ": not a JSON object (" + (parse.error != QJsonParseError::NoError ? parse.errorString() : "")
                  + "), left as it is";
        return false;
    }
    *pObject = doc.object();
    return true;
}

QByteArray Serialise(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

// The list under key with value added or taken out; false when that changes nothing.
bool EditList(QJsonObject& object, const QString& key, const QString& value, bool bAdd)
{
    QJsonArray list = object.value(key).toArray();
    const bool bHas = list.contains(value);
    if (bAdd == bHas)
        return false;
    if (bAdd) {
        list.append(value);
    } else {
        for (int i = list.size() - 1; i >= 0; --i)
            if (list.at(i) == QJsonValue(value))
                list.removeAt(i);
    }
    if (list.isEmpty())
        object.remove(key);
    else
        object.insert(key, list);
    return true;
}

void PlanFile(Plan& plan, const QString& path, const QJsonObject& before, const QJsonObject& after, const QString& what,
              bool bRemoveWhenEmpty)
{
    if (after == before) {
        plan.unchanged << path;
        return;
    }
    FileChange change;
    change.path = path;
    change.what = what;
    change.bRemove = bRemoveWhenEmpty && after.isEmpty();
    change.content = Serialise(after);
    plan.changes << change;
}

void PlanChromium(Plan& plan, const QString& dir, const QString& origin, bool bAdd)
{
    const QString own = dir + "/" + OWN_POLICY_FILE;
    QStringList files;
    for (const QString& name : QDir(dir).entryList({"*.json"}, QDir::Files, QDir::Name))
        files << dir + "/" + name;
    if (!files.contains(own))
        files << own;
    QMap<QString, QJsonObject> objects;
    for (const QString& path : qAsConst(files)) {
        QString error;
        if (!ReadObject(path, &objects[path], &error)) {
            plan.errors << error;
            return;
        }
    }
    // Two files setting one policy conflict: add to the file that sets it already.
    QString target = own;
    for (const QString& path : qAsConst(files))
        if (path != own && objects[path].contains(CHROMIUM_LIST)) {
            target = path;
            break;
        }
    const QString what = VtArgs(QStringLiteral("%1 %2 %3"), {origin, bAdd ? "in" : "out of", CHROMIUM_LIST});
    for (const QString& path : qAsConst(files)) {
        // Adding touches the target (and moves the entry out of our own
        // file); removing takes it out of every file.
        if (bAdd && path != target && path != own)
            continue;
        QJsonObject after = objects[path];
        EditList(after, CHROMIUM_LIST, origin, bAdd && path == target);
        if (path == own || after != objects[path])
            PlanFile(plan, path, objects[path], after, what, path == own);
    }
}

void PlanFirefox(Plan& plan, const QString& path, const QString& host, bool bAdd)
{
    QJsonObject before;
    QString error;
    if (!ReadObject(path, &before, &error)) {
        plan.errors << error;
        return;
    }
    QJsonObject after = before;
    QJsonObject policies = after.value("policies").toObject();
    QJsonObject lna = policies.value("LocalNetworkAccess").toObject();
    EditList(lna, "SkipDomains", host, bAdd);
    if (lna.isEmpty())
        policies.remove("LocalNetworkAccess");
    else
        policies.insert("LocalNetworkAccess", lna);
    if (policies.isEmpty())
        after.remove("policies");
    else
        after.insert("policies", policies);
    PlanFile(plan, path, before, after,
             VtArgs(QStringLiteral("%1 %2 LocalNetworkAccess.SkipDomains"), {host, bAdd ? "in" : "out of"}), true);
}

bool Commit(const FileChange& change, QString* pError)
{
    if (change.bRemove) {
        if (QFile::exists(change.path) && !QFile::remove(change.path)) {
            *pError = change.path + ": could not remove it";
            return false;
        }
        return true;
    }
    if (!QDir().mkpath(QFileInfo(change.path).absolutePath())) {
        *pError = change.path + ": could not create its folder";
        return false;
    }
    // Written whole or not at all.
    QSaveFile file(change.path);
    if (!file.open(QIODevice::WriteOnly) || file.write(change.content) != change.content.size() || !file.commit()) {
        *pError = change.path + ": " + file.errorString();
        return false;
    }
    return true;
}

int Usage(FILE* pOut)
{
    Print(pOut, "usage: vtinkhost-allow-site ORIGIN [--remove] [--root DIR]\n"
                "Lets the web site ORIGIN (https://host[:port]) use the signature pads of this\n"
                "computer: vtinkhost's system-wide allowlist and the browsers' managed policies.");
    return pOut == stdout ? 0 : EXIT_USAGE;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    bool bRemove = false;
    QString root;
    QString text;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg == "--help" || arg == "-h")
            return Usage(stdout);
        if (arg == "--remove")
            bRemove = true;
        else if (arg == "--root" && i + 1 < args.size())
            root = QDir::cleanPath(QDir(args.at(++i)).absolutePath());
        else if (arg.startsWith('-') || !text.isEmpty())
            return Usage(stderr);
        else
            text = arg;
    }
    if (text.isEmpty())
        return Usage(stderr);

    // Only a web page's origin: the browsers' policies name pages.
    const QString origin = NormaliseOrigin(text);
    const QString scheme = QUrl(origin).scheme();
    if (origin.isEmpty() || (scheme != "https" && scheme != "http")) {
        Print(stderr, QStringLiteral("vtinkhost-allow-site: %1 is not a web site's origin: scheme://host[:port] with "
                                     "https or http, no path (for example https://sign.example.com)").arg(text));
        return EXIT_USAGE;
    }
    if (root.isEmpty() && geteuid() != 0) {
        Print(stderr, "vtinkhost-allow-site: the files are the system's: run it as root");
        return EXIT_FAILED;
    }
    if (root == "/")
        root.clear();

    const QString systemFile = root + AccessSettings::SystemFilePath();
    // A host stays in Firefox's list while another allowed origin has it.
    QStringList allowedAfter = AccessSettings::AllowedSitesIn(systemFile);
    allowedAfter.removeAll(origin);
    if (!bRemove)
        allowedAfter << origin;
    const QString host = QUrl(origin).host();
    bool bHostNeeded = false;
    for (const QString& site : qAsConst(allowedAfter))
        bHostNeeded |= QUrl(site).host() == host;

    // Everything is read and checked before anything is written.
    Plan plan;
    PlanChromium(plan, root + CHROMIUM_POLICY_DIR, origin, !bRemove);
    PlanChromium(plan, root + CHROME_POLICY_DIR, origin, !bRemove);
    PlanFirefox(plan, root + FIREFOX_POLICY_FILE, host, bHostNeeded);
    for (const QString& error : qAsConst(plan.errors))
        Print(stderr, "vtinkhost-allow-site: " + error);
    if (!plan.errors.isEmpty())
        return EXIT_FAILED;

    int nResult = 0;
    for (const FileChange& change : qAsConst(plan.changes)) {
        QString error;
        if (Commit(change, &error)) {
            Print(stdout, VtArgs(QStringLiteral("%1: %2%3"),
                                 {change.path, change.what, change.bRemove ? " (file removed)" : ""}));
        } else {
            Print(stderr, "vtinkhost-allow-site: " + error);
            nResult = EXIT_FAILED;
        }
    }
    for (const QString& path : qAsConst(plan.unchanged))
        if (QFile::exists(path))
            Print(stdout, path + ": unchanged");
    bool bChanged = false;
    if (!AccessSettings::EditAllowedSites(systemFile, origin, !bRemove, nullptr, &bChanged)) {
        Print(stderr, "vtinkhost-allow-site: " + systemFile + ": could not be written");
        return EXIT_FAILED;
    }
    const QString strChange = bChanged
                                  ? VtArgs(QStringLiteral("%1 %2 AllowedOrigins"), {origin, bRemove ? "out of" : "in"})
                                  : QStringLiteral("unchanged");
    Print(stdout, VtArgs(QStringLiteral("%1: %2"), {systemFile, strChange}));
    if (nResult == 0)
        Print(stdout, "Restart vtinkhost and the browsers to apply it.");
    return nResult;
}
