#include "control.h"

#include "q230g.h"

#include <QImage>
#include <QPainter>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <dirent.h>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <sys/stat.h>

namespace vtinkpad {

namespace {

constexpr auto READER_WAIT = std::chrono::milliseconds(500);

HttpResponse json(int status, const QJsonObject& body)
{
    HttpResponse r;
    r.status = status;
    r.body = QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString();
    return r;
}

HttpResponse fail(int status, const std::string& error)
{
    return json(status, {{"ok", false}, {"error", QString::fromStdString(error)}});
}

// Pages from the loopback interface (or opened from a file) may drive the
// pads; pages of other sites may not.
bool originAllowed(const std::string& origin)
{
    if (origin.empty() || origin == "null")
        return true;
    for (const char* host : {"http://localhost", "http://127.0.0.1", "http://[::1]"}) {
        size_t n = strlen(host);
        if (origin.compare(0, n, host) == 0 && (origin.size() == n || origin[n] == ':'))
            return true;
    }
    return false;
}

bool validName(const std::string& s)
{
    if (s.empty() || s.size() > 64)
        return false;
    for (char c : s)
        if (!isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_')
            return false;
    return true;
}

std::string contentType(const std::string& path)
{
    static const std::pair<const char*, const char*> TYPES[] = {
        {".html", "text/html; charset=utf-8"}, {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"}, {".css", "text/css; charset=utf-8"},
        {".json", "application/json"}, {".png", "image/png"}, {".svg", "image/svg+xml"},
        {".ico", "image/x-icon"}, {".ts", "text/plain; charset=utf-8"}, {".md", "text/plain; charset=utf-8"},
    };
    for (auto& [ext, type] : TYPES) {
        size_t n = strlen(ext);
        if (path.size() >= n && path.compare(path.size() - n, n, ext) == 0)
            return type;
    }
    return "application/octet-stream";
}

// A finger image for the reader: raw 208 x 288 sensor bytes as they are,
// any other image (PNG, JPEG, BMP) scaled into the sensor's frame as grey.
bool fingerImage(const std::string& data, padsim::Bytes& out)
{
    constexpr int W = 208, H = 288;
    if (data.size() == size_t(padsim::FingerprintPadModel::kImageSize)) {
        out.assign(data.begin(), data.end());
        return true;
    }
    QImage src = QImage::fromData(QByteArray::fromStdString(data));
    if (src.isNull())
        return false;
    QImage canvas(W, H, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QImage scaled = src.scaled(W, H, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    {
        QPainter p(&canvas);
        p.drawImage((W - scaled.width()) / 2, (H - scaled.height()) / 2, scaled);
    }
    QImage frame = canvas.convertToFormat(QImage::Format_Grayscale8);
    out.resize(size_t(W * H));
    for (int y = 0; y < H; ++y)
        memcpy(out.data() + y * W, frame.constScanLine(y), W);
    return true;
}

bool readFile(const std::string& path, std::string& out)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return false;
    std::ostringstream ss;
    ss << f.rdbuf();
    out = ss.str();
    return true;
}

}  // namespace

Control::Control(padsim::Bed* bed, ControlOptions options) : m_bed(bed), m_opt(std::move(options)) {}

bool Control::plug(const std::string& model, std::string& error)
{
    const PadTraits* traits = padTraits(model);
    if (!m_bed) {
        error = "no emulator for " + model;
        return false;
    }
    padsim::ModelPtr m = traits ? padsim::models::byName(traits->padsimName) : nullptr;
    if (!m) {
        std::string names;
        for (auto& n : padNames())
            names += (names.empty() ? "" : ", ") + n;
        error = traits ? "the emulator has no model " + std::string(traits->padsimName) + " yet"
                       : "unknown model " + model + " (known: " + names + ")";
        return false;
    }
    auto vp = std::make_unique<VirtualPad>();
    vp->traits = traits;
    vp->pad = &m_bed->plug(std::move(m));
    m_pads.push_back(std::move(vp));
    return true;
}

std::string Control::summary() const
{
    if (m_pads.empty())
        return "no virtual pad";
    std::string s;
    for (auto& p : m_pads)
        s += (s.empty() ? "" : ", ") + std::string(p->traits->webName);
    return s;
}

std::vector<std::string> Control::signatureNames() const
{
    std::vector<std::string> names;
    if (DIR* d = opendir(m_opt.signatureDir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n.size() > 5 && n.compare(n.size() - 5, 5, ".json") == 0 && validName(n.substr(0, n.size() - 5)))
                names.push_back(n.substr(0, n.size() - 5));
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

Control::VirtualPad* Control::choosePad(const std::string& which, std::string& error)
{
    if (which.empty())
        return m_pads.front().get();
    for (auto& p : m_pads)
        if (padTraits(which) == p->traits)
            return p.get();
    char* end = nullptr;
    long i = strtol(which.c_str(), &end, 10);
    if (end && !*end && i >= 0 && size_t(i) < m_pads.size())
        return m_pads[size_t(i)].get();
    error = "no pad " + which + " is plugged in";
    return nullptr;
}

HttpResponse Control::handle(const HttpRequest& req)
{
    auto origin = req.headers.find("origin");
    std::string originText = origin == req.headers.end() ? "" : origin->second;
    if (!originAllowed(originText))
        return fail(403, "pages from " + originText + " may not drive the virtual pad");
    HttpResponse res;
    if (req.method == "OPTIONS") {
        res.status = 204;
        res.contentType.clear();
        res.headers["Access-Control-Allow-Methods"] = "GET, POST, OPTIONS";
        res.headers["Access-Control-Allow-Headers"] = "Content-Type";
    } else if (req.path == "/pad" || req.path.rfind("/pad/", 0) == 0) {
        res = m_pads.empty() ? fail(404, "no virtual pad: a real pad is in use") : handlePad(req);
    } else if (!m_opt.serveDir.empty() && (req.method == "GET" || req.method == "HEAD")) {
        res = serveFile(req);
    } else {
        res = fail(404, "no such path: " + req.path);
    }
    if (!originText.empty())
        res.headers["Access-Control-Allow-Origin"] = originText;
    return res;
}

HttpResponse Control::serveFile(const HttpRequest& req)
{
    std::string path = req.path;
    if (path == "/") {
        HttpResponse r;
        r.status = 302;
        r.contentType.clear();
        r.headers["Location"] = "/demo/";
        return r;
    }
    if (path.find("..") != std::string::npos || path.find('\\') != std::string::npos || path.find('%') != std::string::npos)
        return fail(404, "no such file");
    std::string full = m_opt.serveDir + path;
    struct stat st {};
    if (stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        if (path.back() != '/') {
            HttpResponse r;
            r.status = 302;
            r.contentType.clear();
            r.headers["Location"] = path + "/";
            return r;
        }
        full += "index.html";
    }
    HttpResponse r;
    if (!readFile(full, r.body))
        return fail(404, "no such file: " + path);
    r.contentType = contentType(full);
    return r;
}

HttpResponse Control::handlePad(const HttpRequest& req)
{
    std::string action = req.path.size() > 5 ? req.path.substr(5) : "";
    if (action.empty()) {
        if (req.method != "GET" && req.method != "HEAD")
            return fail(405, "use GET for the status");
        QJsonArray pads;
        for (size_t i = 0; i < m_pads.size(); ++i) {
            auto& p = *m_pads[i];
            pads.append(QJsonObject{
                {"index", int(i)},
                {"model", QString::fromStdString(p.traits->name)},
                {"modelName", QString::fromStdString(p.traits->webName)},
                {"plugged", p.pad->isPlugged()},
                {"reading", p.pad->isPlugged() && p.pad->waitForPendingRead(std::chrono::milliseconds(0))},
                {"fingerprint", p.traits->fingerprint},
            });
        }
        QJsonArray sigs;
        for (auto& n : signatureNames())
            sigs.append(QString::fromStdString(n));
        pid_t pid = m_programPid;
        return json(200, {{"ok", true},
                          {"pads", pads},
                          {"signatures", sigs},
                          {"program", QJsonObject{{"pid", int(pid)}, {"running", pid > 0 && kill(pid, 0) == 0}}}});
    }
    if (req.method != "POST")
        return fail(405, "use POST for /pad/" + action);

    QJsonObject body;
    QJsonValue bodyValue;
    auto type = req.headers.find("content-type");
    bool binaryBody = type != req.headers.end() && type->second.rfind("application/json", 0) != 0
                      && type->second.rfind("text/plain", 0) != 0;
    if (!req.body.empty() && !binaryBody) {
        QJsonParseError perr{};
        QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(req.body), &perr);
        if (perr.error != QJsonParseError::NoError)
            return fail(400, "body is not JSON: " + perr.errorString().toStdString());
        bodyValue = doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
        body = doc.object();
    }
    std::string error;
    std::string which = body["pad"].toString().toStdString();
    if (action == "finger" && which.empty()) {
        for (auto& p : m_pads)
            if (p->traits->fingerprint)
                which = p->traits->name;
    }
    VirtualPad* vp = choosePad(which, error);
    if (!vp)
        return fail(404, error);
    padsim::Pad& pad = *vp->pad;

    if (action == "unplug" || action == "plug") {
        std::lock_guard<std::mutex> lock(vp->inputLock);
        bool plug = action == "plug";
        if (pad.isPlugged() != plug) {
            if (plug)
                pad.replug();
            else
                pad.unplug();
        }
        return json(200, {{"ok", true}, {"plugged", pad.isPlugged()}});
    }

    if (!pad.isPlugged())
        return fail(409, "the pad is unplugged (POST /pad/plug first)");

    if (action == "confirm" || action == "cancel") {
        std::lock_guard<std::mutex> lock(vp->inputLock);
        if (action == "confirm")
            pad.touchConfirm();
        else
            pad.touchCancel();
        bool delivered = waitDelivered(pad, std::chrono::seconds(5), m_abort);
        return json(200, {{"ok", true}, {"delivered", delivered}});
    }

    if (action == "finger") {
        auto* reader = dynamic_cast<padsim::FingerprintPadModel*>(&pad.model());
        if (!reader)
            return fail(409, std::string("the ") + vp->traits->webName + " has no fingerprint reader");
        padsim::Bytes image;
        if (binaryBody) {
            if (!fingerImage(req.body, image))
                return fail(400, "the body is neither an image nor 59904 raw sensor bytes");
        } else {
            image = padsim::FingerprintPadModel::patternImage(uint8_t(body["pattern"].toInt(1)));
        }
        int score = body["score"].toInt(90);
        if (score < 1 || score > 255)
            return fail(400, "\"score\" must be 1 to 255");
        reader->placeFinger(image, uint8_t(score));
        return json(200, {{"ok", true}, {"queued", reader->fingersQueued()}});
    }

    if (action == "stroke" || action == "replay") {
        Signature sig;
        if (action == "replay" && body.contains("name")) {
            std::string name = body["name"].toString().toStdString();
            std::string text;
            if (!validName(name) || !readFile(m_opt.signatureDir + "/" + name + ".json", text))
                return fail(404, "no sample signature \"" + name + "\"");
            QJsonParseError perr{};
            QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &perr);
            if (perr.error != QJsonParseError::NoError)
                return fail(500, "sample " + name + " is not JSON: " + perr.errorString().toStdString());
            bodyValue = doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
        }
        if (!parseSignature(bodyValue, sig, error))
            return fail(400, error);
        double speed = body.contains("speed") ? body["speed"].toDouble(1) : 1;
        double interval = body.contains("interval") ? body["interval"].toDouble(m_opt.intervalMs) : m_opt.intervalMs;
        if ((speed != 0 && (speed < 0.05 || speed > 100)) || interval < 0 || interval > 1000)
            return fail(400, "\"speed\" must be 0 or 0.05 to 100, \"interval\" 0 to 1000 ms");
        std::lock_guard<std::mutex> lock(vp->inputLock);
        // A real pad only sends while a program reads it; reports queued now
        // would pop up in some later session.
        if (!pad.waitForPendingRead(READER_WAIT))
            return fail(409, "no program is reading the pad: open it first (\"InitialDevice\")");
        DrawResult r = draw(pad, *vp->traits, sig, interval, speed, m_abort);
        return json(r.aborted ? 503 : 200, {{"ok", !r.aborted},
                                            {"points", int(r.points)},
                                            {"strokes", int(r.strokes)},
                                            {"records", int(r.points + r.strokes)},
                                            {"delivered", r.delivered}});
    }

    return fail(404, "unknown action /pad/" + action);
}

}  // namespace vtinkpad
