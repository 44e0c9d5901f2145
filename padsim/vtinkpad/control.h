// The control interface of vtinkpad: HTTP requests that drive the emulated
// pads (strokes, signature replay, keys, plug and unplug) and, optionally,
// the static files of the web kit.
#pragma once

#include "httpserver.h"
#include "signer.h"

#include <padsim.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vtinkpad {

struct ControlOptions {
    std::string serveDir;      // "" = no static files
    std::string signatureDir;  // sample signatures, <name>.json
    double intervalMs = 5;     // time between pen reports (200 reports a second)
};

class Control {
public:
    // bed null: no virtual pads (a real pad is used), only the web kit is served
    Control(padsim::Bed* bed, ControlOptions options);

    bool plug(const std::string& model, std::string& error);
    std::string summary() const;  // "q210" or "q210, q220"
    void setProgram(pid_t pid) { m_programPid = pid; }
    void abortDrawing() { m_abort = true; }

    HttpResponse handle(const HttpRequest& req);

private:
    struct VirtualPad {
        const PadTraits* traits;
        padsim::Pad* pad;
        std::mutex inputLock;  // one stroke or key touch at a time per pad
    };

    HttpResponse handlePad(const HttpRequest& req);
    HttpResponse serveFile(const HttpRequest& req);
    VirtualPad* choosePad(const std::string& which, std::string& error);
    std::vector<std::string> signatureNames() const;

    padsim::Bed* m_bed;
    ControlOptions m_opt;
    std::vector<std::unique_ptr<VirtualPad>> m_pads;
    std::atomic<pid_t> m_programPid{-1};
    std::atomic<bool> m_abort{false};
};

}  // namespace vtinkpad
