// Pads: input, texts, the log of what the host sent, and the model hooks' defaults.
#include "internal.h"
#include "../../tests/common/timescale.h"

#include <cstdlib>

namespace padsim {

// ---- descriptors -----------------------------------------------------------

static void put16(Bytes& b, uint16_t v)
{
    b.push_back((uint8_t)v);
    b.push_back((uint8_t)(v >> 8));
}

Bytes UsbDescription::descriptors() const
{
    Bytes d = {18, 1};
    put16(d, bcdUSB);
    d.insert(d.end(), {0, 0, 0, maxPacket0});
    put16(d, vendorId);
    put16(d, productId);
    put16(d, bcdDevice);
    d.push_back(manufacturer.empty() ? 0 : 1);
    d.push_back(product.empty() ? 0 : 2);
    d.push_back(serial.empty() ? 0 : 3);
    d.push_back(1);  // one configuration

    Bytes c = {9, 2, 0, 0, (uint8_t)interfaces.size(), 1, 0, 0x80, (uint8_t)(maxPowerMa / 2)};
    for (const Interface& itf : interfaces) {
        c.insert(c.end(), {9, 4, itf.number, 0, (uint8_t)itf.endpoints.size(), itf.cls, itf.subclass,
                           itf.protocol, 0});
        c.insert(c.end(), itf.classDescriptor.begin(), itf.classDescriptor.end());
        for (const Endpoint& ep : itf.endpoints) {
            c.insert(c.end(), {7, 5, ep.address, ep.attributes});
            put16(c, ep.maxPacket);
            c.push_back(ep.interval);
        }
    }
    c[2] = (uint8_t)c.size();
    c[3] = (uint8_t)(c.size() >> 8);
    d.insert(d.end(), c.begin(), c.end());
    return d;
}

// ---- model defaults ----------------------------------------------------------

bool Model::control(Pad&, int, const ControlRequest&, Bytes&)
{
    return false;
}

void Model::out(Pad&, int, uint8_t, const Bytes&) {}

void Model::plugged(Pad&) {}

void Model::setFirmware(Pad& pad, const std::string& text)
{
    pad.setPartsVersion(text);
}

std::string Model::firmware(const Pad& pad) const
{
    return pad.texts().partsVersion;
}

bool answerHidRequest(Pad& pad, const ControlRequest& s, Bytes& data)
{
    if (s.bmRequestType == 0x21 && s.bRequest == 0x09 && s.wValue == 0x0302)
        return true;  // SET_REPORT: the command is in the log
    if (s.bmRequestType != 0xA1 || s.bRequest != 0x01 || (s.wValue >> 8) != 0x03)
        return false;
    uint8_t id = s.wValue & 0xff;
    if (auto raw = pad.featureReport(id)) {
        data = *raw;
        return true;
    }
    Texts t = pad.texts();
    const std::string* text = id == 3 ? &t.penId : id == 4 ? &t.secureId : id == 5 ? &t.partsVersion
                              : id == 7 ? &t.padId : nullptr;
    if (!text)
        return false;
    data.clear();
    if (id == 3 || id == 4)
        data.push_back((uint8_t)text->size());
    data.insert(data.end(), text->begin(), text->end());
    return true;
}

TransferMatch isSetReport(uint8_t command)
{
    return [command](const Transfer& t) {
        return t.kind == Transfer::Control && t.setup.bmRequestType == 0x21 && t.setup.bRequest == 0x09 &&
               t.setup.wValue == 0x0302 && t.data.size() >= 2 && t.data[0] == 0x02 && t.data[1] == command;
    };
}

TransferMatch isGetReport(uint8_t reportId)
{
    return [reportId](const Transfer& t) {
        return t.kind == Transfer::Control && t.setup.bmRequestType == 0xA1 && t.setup.bRequest == 0x01 &&
               t.setup.wValue == (0x0300 | reportId);
    };
}

TransferMatch isOut(uint8_t endpoint, int device)
{
    return [endpoint, device](const Transfer& t) {
        return t.kind == Transfer::Out && t.endpoint == endpoint && (device < 0 || t.device == device);
    };
}

// ---- Pad ---------------------------------------------------------------------

void PadImpl::record(Transfer t)
{
    t.seq = seq++;
    log.push_back(std::move(t));
    cv.notify_all();
}

int PadImpl::throttleUs() const
{
    return bed->throttleUs.load();
}

Pad::Pad(std::unique_ptr<PadImpl> impl) : d(std::move(impl))
{
    d->self = this;
}

Pad::~Pad() = default;

const Model& Pad::model() const { return *d->model; }
Model& Pad::model() { return *d->model; }
Bed& Pad::bed() { return *d->owner; }

void Pad::unplug()
{
    d->bed->unplugNodes(*d);
}

void Pad::replug()
{
    {
        std::lock_guard<std::mutex> g(d->mu);
        if (d->plugged)
            return;
    }
    d->bed->plugNodes(*d);
}

bool Pad::isPlugged() const
{
    std::lock_guard<std::mutex> g(d->mu);
    return d->plugged;
}

std::vector<std::string> Pad::devNodes() const
{
    std::lock_guard<std::mutex> g(d->mu);
    std::vector<std::string> v;
    for (auto& n : d->nodes)
        v.push_back(n->devNode());
    return v;
}

std::vector<std::string> Pad::sysPaths() const
{
    std::lock_guard<std::mutex> g(d->mu);
    std::vector<std::string> v;
    for (auto& n : d->nodes)
        v.push_back(n->sysPath());
    return v;
}

void Pad::input(const PenInput& in)
{
    Bytes r = d->model->penReport(*this, in);
    sendRaw(d->model->penEndpoint, std::move(r), d->model->penDevice);
}

void Pad::penDown(uint16_t x, uint16_t y, uint16_t p) { input({PenInput::Contact, x, y, p}); }
void Pad::penMove(uint16_t x, uint16_t y, uint16_t p) { input({PenInput::Contact, x, y, p}); }
void Pad::penUp(uint16_t x, uint16_t y) { input({PenInput::Lift, x, y, 0}); }

void Pad::touchConfirm(uint16_t x, uint16_t y)
{
    input({PenInput::Confirm, x, y, 0});
    if (!(d->model->features & ONE_STEP_KEYS))
        input({PenInput::Lift, x, y, 0});
}

void Pad::touchCancel(uint16_t x, uint16_t y)
{
    input({PenInput::Cancel, x, y, 0});
    if (!(d->model->features & ONE_STEP_KEYS))
        input({PenInput::Lift, x, y, 0});
}

void Pad::stroke(const std::vector<Point>& points)
{
    if (points.empty())
        return;
    for (const Point& p : points)
        input({PenInput::Contact, p.x, p.y, p.pressure});
    penUp(points.back().x, points.back().y);
}

void Pad::sendRaw(uint8_t endpoint, Bytes report, int device)
{
    std::lock_guard<std::mutex> g(d->mu);
    if (!d->plugged || device < 0 || device >= (int)d->nodes.size())
        return;  // nobody is listening to an unplugged pad
    d->nodes[device]->queueInLocked(endpoint, std::move(report));
    d->cv.notify_all();  // a throttled reap picks it up
}

void Pad::forceMask(std::optional<uint8_t> mask)
{
    std::lock_guard<std::mutex> g(d->mu);
    d->forcedMask = mask;
}

uint8_t Pad::nextMask()
{
    std::lock_guard<std::mutex> g(d->mu);
    if (d->forcedMask)
        return *d->forcedMask;
    return (uint8_t)(d->rng() & 0xff);
}

uint8_t Pad::randomByte()
{
    std::lock_guard<std::mutex> g(d->mu);
    return (uint8_t)(d->rng() & 0xff);
}

void Pad::seed(uint32_t s)
{
    std::lock_guard<std::mutex> g(d->mu);
    d->rng.seed(s);
}

static void setText(PadImpl& d, std::string Texts::*field, std::string text)
{
    std::lock_guard<std::mutex> g(d.mu);
    d.texts.*field = std::move(text);
}

void Pad::setPenId(std::string t) { setText(*d, &Texts::penId, std::move(t)); }
void Pad::setSecureId(std::string t) { setText(*d, &Texts::secureId, std::move(t)); }
void Pad::setPartsVersion(std::string t) { setText(*d, &Texts::partsVersion, std::move(t)); }
void Pad::setPadId(std::string t) { setText(*d, &Texts::padId, std::move(t)); }

Texts Pad::texts() const
{
    std::lock_guard<std::mutex> g(d->mu);
    return d->texts;
}

void Pad::setFirmware(const std::string& text) { d->model->setFirmware(*this, text); }
std::string Pad::firmware() const { return d->model->firmware(*this); }

void Pad::setFeatureReport(uint8_t reportId, std::optional<Bytes> raw)
{
    std::lock_guard<std::mutex> g(d->mu);
    if (raw)
        d->featureReports[reportId] = std::move(*raw);
    else
        d->featureReports.erase(reportId);
}

std::optional<Bytes> Pad::featureReport(uint8_t reportId) const
{
    std::lock_guard<std::mutex> g(d->mu);
    auto it = d->featureReports.find(reportId);
    if (it == d->featureReports.end())
        return std::nullopt;
    return it->second;
}

void Pad::setStall(std::function<bool(const ControlRequest&)> match)
{
    std::lock_guard<std::mutex> g(d->mu);
    d->stall = std::move(match);
}

void Pad::setOutStall(TransferMatch match)
{
    std::lock_guard<std::mutex> g(d->mu);
    d->outStall = std::move(match);
}

std::vector<Transfer> Pad::received() const
{
    std::lock_guard<std::mutex> g(d->mu);
    return d->log;
}

void Pad::clearReceived()
{
    std::lock_guard<std::mutex> g(d->mu);
    d->log.clear();
}

uint64_t Pad::nextSeq() const
{
    std::lock_guard<std::mutex> g(d->mu);
    return d->seq;
}

std::optional<Transfer> Pad::waitForControl(const TransferMatch& match, Millis timeout, uint64_t since)
{
    std::unique_lock<std::mutex> lk(d->mu);
    std::optional<Transfer> found;
    d->cv.wait_for(lk, vttest::Scaled(timeout), [&] {
        for (const Transfer& t : d->log)
            if (t.seq >= since && match(t)) {
                found = t;
                return true;
            }
        return false;
    });
    return found;
}

bool Pad::waitForPendingRead(Millis timeout, int device, uint8_t endpoint)
{
    std::unique_lock<std::mutex> lk(d->mu);
    return d->cv.wait_for(lk, vttest::Scaled(timeout), [&] {
        for (size_t i = 0; i < d->nodes.size(); ++i)
            if ((device < 0 || (int)i == device) && d->nodes[i]->hasPendingReadLocked(endpoint))
                return true;
        return false;
    });
}

bool Pad::waitUntilDelivered(Millis timeout)
{
    std::unique_lock<std::mutex> lk(d->mu);
    return d->cv.wait_for(lk, vttest::Scaled(timeout), [&] {
        for (auto& n : d->nodes)
            if (n->queuedLocked())
                return false;
        return true;
    });
}

size_t Pad::queuedReports() const
{
    std::lock_guard<std::mutex> g(d->mu);
    size_t n = 0;
    for (auto& node : d->nodes)
        n += node->queuedLocked();
    return n;
}

int Pad::claimedInterfaces(int device) const
{
    std::lock_guard<std::mutex> g(d->mu);
    if (device < 0 || device >= (int)d->nodes.size())
        return 0;
    return d->nodes[device]->claimedLocked();
}

uint64_t Pad::ioctlCount() const
{
    std::lock_guard<std::mutex> g(d->mu);
    return d->ioctls;
}

}  // namespace padsim
