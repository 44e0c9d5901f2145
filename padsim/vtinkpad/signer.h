// Turns strokes (in fractions of the writing area or in raw pad units) into
// pen input of an emulated pad, paced like a hand on a real pad.
#pragma once

#include <padsim.h>

#include <QJsonValue>
#include <atomic>
#include <chrono>
#include <string>
#include <vector>

namespace vtinkpad {

// What vtinkpad needs to know per model to place strokes on its writing
// area, taken from padsim's model descriptions.
struct PadTraits {
    std::string name;        // vtinkpad's model name: the web name in lower case
    std::string padsimName;  // padsim model
    std::string webName;     // the model name a web page opens
    padsim::WritingArea area;  // raw writing area, as the SDK maps it to the canvas
    uint16_t pressureMax;    // highest raw pressure a stroke uses
    bool fingerprint;
};

// nullptr for an unknown name; accepts the web names too ("Q230F").
const PadTraits* padTraits(const std::string& name);
std::vector<std::string> padNames();

struct InkPoint {
    double x, y, pressure;  // as given (fractions or raw)
    double t;               // ms since the signature started; < 0 when not given
};
using InkStroke = std::vector<InkPoint>;

struct Signature {
    bool raw = false;  // coordinates in raw pad units instead of fractions
    std::vector<InkStroke> strokes;
    size_t pointCount() const;
};

// Parses a signature: {"units": "unit"|"raw", "strokes": [...]} or a bare
// list of strokes; a point is [x, y, p] / [x, y, p, t] or {"x", "y", "p", "t"}.
// false with a message on bad input.
bool parseSignature(const QJsonValue& doc, Signature& out, std::string& error);

struct DrawResult {
    size_t points = 0;   // pen points sent (down + moves)
    size_t strokes = 0;  // each one ends with a lift
    bool delivered = false;  // the program read every report in time
    bool aborted = false;
};

// Draws every stroke on the pad. intervalMs paces points without their own
// time; speed scales given times (0 = as fast as the program reads).
DrawResult draw(padsim::Pad& pad, const PadTraits& traits, const Signature& sig, double intervalMs, double speed,
                const std::atomic<bool>& abort);

// Waits until the program has read every queued report; false on timeout
// or when abort is set.
bool waitDelivered(padsim::Pad& pad, std::chrono::milliseconds timeout, const std::atomic<bool>& abort);

}  // namespace vtinkpad
