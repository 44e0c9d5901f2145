// padsim: USB signature pads emulated under umockdev, reached through the
// real libusb of the process (or of a program started under the bed).
//
// A test creates one Bed before anything calls libusb_init, plugs models into
// it and drives them:
//
//     padsim::Bed bed;                                   // testbed + root hub
//     padsim::Pad& pad = bed.plug(padsim::models::q210());
//     pad.setPartsVersion("VTQ210L12");                  // GET_REPORT 5
//     ... VTSPDAPI_Initial(VTQ210_DEVICE, cb, nullptr) ...
//     pad.stroke({{100, 200, 300}, {110, 210, 320}});    // down, move, up
//     auto cmd = pad.waitForControl(padsim::isSetReport(0x80), 5s);
//
// The host process runs with the umockdev preload (tests/umockdev-run.sh or
// umockdev-wrapper). Everything here is thread-safe unless said otherwise;
// the emulated devices are served on umockdev's own worker thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace padsim {

using Bytes = std::vector<uint8_t>;
using Millis = std::chrono::milliseconds;

// ---- Model descriptions ---------------------------------------------------

// Feature bits of a model; tests pick the models they run on by these.
enum Feature : unsigned {
    HAS_LCD = 1u << 0,          // screen: on/off, clear, version screen
    HAS_FINGERPRINT = 1u << 1,  // second USB device with a fingerprint reader
    ONE_STEP_KEYS = 1u << 2,    // a key touch is one report (no lift report after it)
    HID_REQUESTS = 1u << 3,     // answers the HID pad's SET_REPORT / GET_REPORT requests
    TABLET = 1u << 4,           // vendor-endpoint tablet protocol
};

struct Endpoint {
    uint8_t address;          // bit 7 set = IN
    uint8_t attributes = 3;   // 2 bulk, 3 interrupt
    uint16_t maxPacket = 64;
    uint8_t interval = 1;
};

struct Interface {
    uint8_t number = 0;
    uint8_t cls = 3;          // 3 HID, 0xff vendor
    uint8_t subclass = 0;
    uint8_t protocol = 0;
    Bytes classDescriptor;    // e.g. the 9-byte HID descriptor, written before the endpoints
    std::vector<Endpoint> endpoints;
    std::string kernelDriver = "usbhid";  // bound at plug (libusb must detach it); "" = none
};

// One USB device: what lsusb -v would show. Q230G pads consist of two of these.
struct UsbDescription {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t bcdDevice = 0x0100;
    uint16_t bcdUSB = 0x0200;
    uint8_t maxPacket0 = 64;
    std::string manufacturer, product, serial;  // string descriptors 1, 2, 3 ("" = none)
    std::map<uint8_t, std::string> extraStrings; // further string descriptors by index
    std::vector<Interface> interfaces;
    uint8_t maxPowerMa = 100;

    Bytes descriptors() const;  // device descriptor + full configuration, as sysfs "descriptors"
};

// The identification texts a pad hands out (GET_REPORT 3, 4, 5, 7 on HID pads).
struct Texts {
    std::string penId, secureId, partsVersion, padId;
};

// One USB setup packet.
struct ControlRequest {
    uint8_t bmRequestType = 0, bRequest = 0;
    uint16_t wValue = 0, wIndex = 0, wLength = 0;
};

// What the host sent to the pad (and, for control IN requests, what it got back).
struct Transfer {
    enum Kind { Control, Out } kind = Control;
    int device = 0;           // index into Model::usb
    ControlRequest setup;     // Control only
    uint8_t endpoint = 0;     // Out only
    Bytes data;               // OUT payload, or the answer of a control IN request
    bool stalled = false;     // the pad refused the request
    uint64_t seq = 0;         // order of arrival over the pad's life
};
using TransferMatch = std::function<bool(const Transfer&)>;

// Pen and key input as the user produces it; a model turns it into reports.
struct PenInput {
    enum Action { Contact, Lift, Cancel, Confirm } action = Contact;
    uint16_t x = 0, y = 0, pressure = 0;
};

// ---- What the host side knows of a model ----------------------------------
// The SDK's view of each model, kept beside its USB side so that vtinkpad and
// every suite build their model lists from one place.

// A firmware text the pad may report, and the pressure levels the SDK gives
// a pad that reports it (0: the SDK refuses the pad).
struct Firmware {
    std::string text;
    int pressureLevels = 0;
};

// The raw area the SDK maps onto the canvas: the offset to the first pixel,
// offset + span - 1 to the last.
struct WritingArea {
    uint16_t xOffset = 0, xSpan = 1, yOffset = 0, ySpan = 1;
    // The raw coordinate a fraction (0..1) of the way across the area.
    uint16_t rawX(double fraction) const;
    uint16_t rawY(double fraction) const;
};

struct HostFacts {
    int deviceId = 0;   // VTQ210_DEVICE, ... (vtinkmodels.h); 0 = no host model
    WritingArea area;
    std::vector<Firmware> firmware;  // the first is the text the pad reports unless told otherwise
    std::string infoName;            // the SDK's answer to DIID_GET_MODEL_NAME

    std::string modelName() const;   // "Q210": what pages, the service and logs call it
    std::string sdkPrefix() const;   // "VTQ210_": starts the names of its SDK functions
    int pressureLevels(const std::string& firmwareText) const;  // 0 for a refused or unlisted text
    int fewestLevels() const;        // lowest level count of a text the SDK accepts
};

class Pad;

// A model: USB description(s) plus behaviour. Subclass per model (or family)
// and override what differs; each plug gets its own instance, so per-pad
// state (e.g. a capture cycle) may live in the subclass. The hooks run on
// umockdev's worker thread without padsim's locks held; they may call any
// Pad function except the wait* ones.
class Model {
public:
    virtual ~Model() = default;

    std::string name;              // "q210", "q220", ...
    unsigned features = 0;         // Feature bits
    std::vector<UsbDescription> usb;  // one per USB device, plugged together
    Texts texts;                   // defaults, changeable through Pad::set*
    int penDevice = 0;             // device and endpoint that carry pen reports
    uint8_t penEndpoint = 0x81;
    HostFacts host;                // what the SDK makes of the model

    // A control request other than the standard ones padsim answers itself
    // (GET_DESCRIPTOR, SET_CONFIGURATION, ...). IN: fill data (cut to wLength
    // by padsim); OUT: data holds the host's payload. false = stall.
    virtual bool control(Pad& pad, int device, const ControlRequest& setup, Bytes& data);
    // An OUT transfer on a non-control endpoint; the model may answer with Pad::sendRaw.
    virtual void out(Pad& pad, int device, uint8_t endpoint, const Bytes& data);
    // The report that carries one pen or key input (masked as the pad masks it).
    virtual Bytes penReport(Pad& pad, const PenInput& input) = 0;
    // Called at every plug and replug (reset per-connection state here).
    virtual void plugged(Pad& pad);
    // The text the host reads as the firmware version (default: the parts version).
    virtual void setFirmware(Pad& pad, const std::string& text);
    virtual std::string firmware(const Pad& pad) const;
};
using ModelPtr = std::unique_ptr<Model>;

// The HID pad requests shared by Q210/Q220 and the Q230G's pen device:
// SET_REPORT 0x0302 (9 bytes, logged only) and GET_REPORT 3, 4 (length byte +
// text), 5, 7 (the text) from pad.texts(), unless Pad::setFeatureReport
// overrides a report. Returns false for any other request.
bool answerHidRequest(Pad& pad, const ControlRequest& setup, Bytes& data);

// Each models/<name>.cpp defines padsim::models::<name>() with the line
// "ModelPtr <name>()" at the start of a line; the build registers it for byName().
// A model the host serves fills Model::host too; the suites then run on it.
namespace models {
ModelPtr q210();   // HID pad, one USB device, 11-byte masked reports on 0x81
ModelPtr q220();
ModelPtr qt410();  // tablets and the fingerprint pad are defined in their own files
ModelPtr m420();
ModelPtr q230g();
// Every model built into this library, by name ("q210", ...); null if unknown.
ModelPtr byName(const std::string& name);
ModelPtr byDeviceId(int deviceId);  // the model the host opens with this id
// Names in the order of vtinkmodels.h (models without a device id last).
std::vector<std::string> names();
// Names of the models that have every bit of features and none of without.
std::vector<std::string> withFeatures(unsigned features, unsigned without = 0);
}  // namespace models

// ---- Emulated pads ---------------------------------------------------------

class Bed;
struct PadImpl;

// A plugged model. Owned by its Bed and valid as long as the Bed.
class Pad {
public:
    const Model& model() const;
    Model& model();
    Bed& bed();

    // Plug state. unplug() fails pending reads (LIBUSB_ERROR_NO_DEVICE),
    // sends "remove" and removes the device(s); replug() plugs them again
    // under new device numbers and sends "add". Texts, logs and masks stay.
    void unplug();
    void replug();
    bool isPlugged() const;
    // Device nodes and sysfs paths of the current plug, one per USB device.
    std::vector<std::string> devNodes() const;
    std::vector<std::string> sysPaths() const;

    // Pen and keys. Each queues one or more reports on the pen endpoint.
    void penDown(uint16_t x, uint16_t y, uint16_t pressure);   // a contact report
    void penMove(uint16_t x, uint16_t y, uint16_t pressure);   // a contact report
    void penUp(uint16_t x, uint16_t y);                        // a lift report
    void touchConfirm(uint16_t x = 0, uint16_t y = 0);         // key report, then a lift (unless ONE_STEP_KEYS)
    void touchCancel(uint16_t x = 0, uint16_t y = 0);
    struct Point { uint16_t x, y, pressure; };
    void stroke(const std::vector<Point>& points);             // down, moves, up at the last point
    void input(const PenInput& in);                            // one report through the model
    // Queue raw bytes on an IN endpoint of a device (malformed input, model answers).
    void sendRaw(uint8_t endpoint, Bytes report, int device = 0);

    // Masks. Reports use a fresh random mask each (seeded, reproducible)
    // unless one is forced. Models call nextMask()/randomByte().
    void forceMask(std::optional<uint8_t> mask);
    uint8_t nextMask();
    uint8_t randomByte();
    void seed(uint32_t seed);

    // Identification texts (GET_REPORT 3 pen id, 4 secure id, 5 parts version / firmware, 7 pad id).
    void setPenId(std::string text);
    void setSecureId(std::string text);
    void setPartsVersion(std::string text);
    void setPadId(std::string text);
    Texts texts() const;
    // The text the host reads as the firmware version, whatever carries it
    // (the parts version of the HID pads, the product string of the tablets).
    void setFirmware(const std::string& text);
    std::string firmware() const;
    // Exact bytes GET_REPORT of this report id returns (cut to the length
    // asked), instead of the text layout; nullopt goes back to the texts.
    void setFeatureReport(uint8_t reportId, std::optional<Bytes> raw);
    std::optional<Bytes> featureReport(uint8_t reportId) const;
    // Requests matching this are stalled (LIBUSB_ERROR_PIPE) before the model sees them.
    void setStall(std::function<bool(const ControlRequest&)> match);
    // OUT transfers matching this fail (LIBUSB_ERROR_PIPE) before the model
    // sees them; they are logged with stalled set. The match runs under the
    // pad's lock: look at the transfer only.
    void setOutStall(TransferMatch match);

    // What the pad received: control requests (the standard ones padsim
    // answers itself are left out) and OUT transfers, oldest first.
    std::vector<Transfer> received() const;
    void clearReceived();
    // Wait until a received transfer with seq >= since matches; nullopt on timeout.
    std::optional<Transfer> waitForControl(const TransferMatch& match, Millis timeout, uint64_t since = 0);
    uint64_t nextSeq() const;  // seq the next transfer will get (pass as since)

    // Host side of the pen endpoint.
    bool waitForPendingRead(Millis timeout, int device = -1, uint8_t endpoint = 0);  // a read is waiting
    bool waitUntilDelivered(Millis timeout);  // every queued report was taken by the host
    size_t queuedReports() const;
    int claimedInterfaces(int device = 0) const;  // bit mask of interfaces claimed now
    uint64_t ioctlCount() const;  // usbfs requests served so far, over all plugs (busy-loop checks)

    PadImpl& impl() { return *d; }  // padsim's own sources only

private:
    friend class Bed;
    explicit Pad(std::unique_ptr<PadImpl> impl);
    std::unique_ptr<PadImpl> d;
public:
    ~Pad();
};

// Predicates for waitForControl.
TransferMatch isSetReport(uint8_t command);          // 21 09 0302, data 02 <command> 00...
TransferMatch isGetReport(uint8_t reportId);         // A1 01 03<id>
TransferMatch isOut(uint8_t endpoint, int device = -1);
TransferMatch isTabletCommand(uint8_t command);       // OUT 0x04, data 09 <command> ...

// A program started under the bed (its libusb sees the bed's pads).
class Child {
public:
    Child() = default;
    Child(Child&&) noexcept;
    Child& operator=(Child&&) noexcept;
    ~Child();  // kills a child still running
    pid_t pid() const { return m_pid; }
    bool running();
    // Exit code; 128 + signal when killed; -1 on timeout (the child keeps running).
    int wait(Millis timeout);
    void kill(int signal = 9);
    int stdinFd() const { return m_stdin; }    // -1 unless started with pipeStdin
    int stdoutFd() const { return m_stdout; }  // -1 unless started with pipeStdout
private:
    friend class Bed;
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
    int m_status = -1;
};

// The umockdev testbed with a root hub. Create it before libusb_init in this
// process; one per process.
class Bed {
public:
    Bed();
    ~Bed();
    Bed(const Bed&) = delete;
    Bed& operator=(const Bed&) = delete;

    Pad& plug(ModelPtr model);
    Pad* find(const std::string& modelName);  // first pad of that model
    std::vector<Pad*> pads();
    std::string rootDir() const;

    // Poll the REAP of an idle reader at most every throttleUs (0 = never wait;
    // libusb then busy-polls). Default 1000.
    void setThrottleUs(int us);
    int throttleUs() const;

    // Environment a child needs: UMOCKDEV_DIR and LD_PRELOAD (preload added
    // after a sanitizer runtime already first in LD_PRELOAD).
    std::vector<std::string> childEnvironment() const;
    Child start(const std::vector<std::string>& argv, bool pipeStdin = false, bool pipeStdout = false);
    // start + wait; exit code, 128 + signal, or -1 on timeout (child killed).
    int run(const std::vector<std::string>& argv, Millis timeout);

    struct Impl;
    Impl& impl() { return *d; }  // padsim's own sources only

private:
    std::unique_ptr<Impl> d;
};

}  // namespace padsim
