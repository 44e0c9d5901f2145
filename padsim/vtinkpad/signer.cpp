#include "signer.h"

#include <QJsonArray>
#include <QJsonObject>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace vtinkpad {

namespace {

std::string lower(std::string s)
{
    for (char& c : s)
        c = char(tolower(static_cast<unsigned char>(c)));
    return s;
}

bool parsePoint(const QJsonValue& v, InkPoint& p)
{
    p.t = -1;
    if (v.isArray()) {
        QJsonArray a = v.toArray();
        if (a.size() < 3 || a.size() > 4)
            return false;
        for (int i = 0; i < a.size(); ++i)
            if (!a[i].isDouble())
                return false;
        p.x = a[0].toDouble();
        p.y = a[1].toDouble();
        p.pressure = a[2].toDouble();
        if (a.size() == 4)
            p.t = a[3].toDouble();
        return true;
    }
    if (v.isObject()) {
        QJsonObject o = v.toObject();
        QJsonValue pr = o.contains("p") ? o["p"] : o["pressure"];
        if (!o["x"].isDouble() || !o["y"].isDouble() || !pr.isDouble())
            return false;
        p.x = o["x"].toDouble();
        p.y = o["y"].toDouble();
        p.pressure = pr.toDouble();
        if (o["t"].isDouble())
            p.t = o["t"].toDouble();
        return true;
    }
    return false;
}

uint16_t toRaw(double v, bool raw, uint16_t offset, uint16_t span)
{
    double r = raw ? v : offset + std::clamp(v, 0.0, 1.0) * (span - 1);
    return uint16_t(std::clamp(std::lround(r), 0L, 65535L));
}

// Every model the SDK knows. Strokes stay inside the writing area, so that
// nothing is clamped to the canvas border, and below the lowest level count
// a model's firmware may report.
const std::vector<PadTraits>& allTraits()
{
    static const std::vector<PadTraits> traits = [] {
        std::vector<PadTraits> v;
        for (const std::string& n : padsim::models::names()) {
            padsim::ModelPtr m = padsim::models::byName(n);
            if (!m->host.deviceId)
                continue;
            v.push_back({.name = lower(m->host.modelName()), .padsimName = m->name, .webName = m->host.modelName(),
                         .area = m->host.area, .pressureMax = uint16_t(m->host.fewestLevels() / 1000 * 1000),
                         .fingerprint = (m->features & padsim::HAS_FINGERPRINT) != 0});
        }
        return v;
    }();
    return traits;
}

}  // namespace

const PadTraits* padTraits(const std::string& name)
{
    std::string n = lower(name);
    for (const PadTraits& t : allTraits())
        if (n == t.name || n == t.padsimName)
            return &t;
    return nullptr;
}

std::vector<std::string> padNames()
{
    std::vector<std::string> names;
    for (const PadTraits& t : allTraits())
        names.push_back(t.name);
    return names;
}

size_t Signature::pointCount() const
{
    size_t n = 0;
    for (auto& s : strokes)
        n += s.size();
    return n;
}

bool parseSignature(const QJsonValue& doc, Signature& out, std::string& error)
{
    out = Signature{};
    QJsonValue strokes = doc;
    if (doc.isObject()) {
        QJsonObject o = doc.toObject();
        QString units = o["units"].toString("unit");
        if (units != "unit" && units != "raw") {
            error = "\"units\" must be \"unit\" or \"raw\"";
            return false;
        }
        out.raw = units == "raw";
        strokes = o.contains("strokes") ? o["strokes"] : QJsonValue(QJsonArray{o["points"]});
    }
    if (!strokes.isArray()) {
        error = "expected a list of strokes";
        return false;
    }
    for (const QJsonValue& s : strokes.toArray()) {
        if (!s.isArray()) {
            error = "a stroke must be a list of points";
            return false;
        }
        InkStroke stroke;
        for (const QJsonValue& v : s.toArray()) {
            InkPoint p;
            if (!parsePoint(v, p) || !std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.pressure)) {
                error = "a point must be [x, y, pressure] or [x, y, pressure, t] with numbers";
                return false;
            }
            stroke.push_back(p);
        }
        if (!stroke.empty())
            out.strokes.push_back(std::move(stroke));
    }
    if (out.strokes.empty()) {
        error = "no points to draw";
        return false;
    }
    return true;
}

DrawResult draw(padsim::Pad& pad, const PadTraits& traits, const Signature& sig, double intervalMs, double speed,
                const std::atomic<bool>& abort)
{
    using clock = std::chrono::steady_clock;
    DrawResult r;
    const auto start = clock::now();
    double untimedAt = 0;  // running time of points without their own time
    auto pace = [&](const InkPoint& p) {
        if (speed <= 0)
            return;
        double at = p.t >= 0 ? p.t / speed : untimedAt;
        untimedAt = std::max(untimedAt, at) + intervalMs / speed;
        // short naps, so that a stop request is seen at once
        const auto due = start + std::chrono::microseconds(int64_t(at * 1000));
        while (!abort && clock::now() < due)
            std::this_thread::sleep_until(std::min(due, clock::now() + std::chrono::milliseconds(50)));
    };
    for (const InkStroke& stroke : sig.strokes) {
        uint16_t x = 0, y = 0;
        for (size_t i = 0; i < stroke.size() && !abort; ++i) {
            const InkPoint& p = stroke[i];
            pace(p);
            x = toRaw(p.x, sig.raw, traits.area.xOffset, traits.area.xSpan);
            y = toRaw(p.y, sig.raw, traits.area.yOffset, traits.area.ySpan);
            double pr = sig.raw ? p.pressure : std::clamp(p.pressure, 0.0, 1.0) * traits.pressureMax;
            // a contact report with pressure 0 would read as hovering
            auto pressure = uint16_t(std::clamp(std::lround(pr), 1L, 65535L));
            if (i == 0)
                pad.penDown(x, y, pressure);
            else
                pad.penMove(x, y, pressure);
            ++r.points;
        }
        if (abort) {
            r.aborted = true;
            pad.penUp(x, y);
            break;
        }
        pad.penUp(x, y);
        ++r.strokes;
        if (speed > 0)
            untimedAt += 4 * intervalMs / speed;  // the pen leaves the pad between strokes
    }
    r.delivered = !r.aborted && waitDelivered(pad, std::chrono::seconds(10), abort);
    return r;
}

bool waitDelivered(padsim::Pad& pad, std::chrono::milliseconds timeout, const std::atomic<bool>& abort)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!abort && std::chrono::steady_clock::now() < deadline) {
        if (pad.waitUntilDelivered(std::chrono::milliseconds(100)))
            return true;
    }
    return false;
}

}  // namespace vtinkpad
