// usbfs as libusb sees it, for one emulated USB device.
#include "internal.h"

#include <linux/usbdevice_fs.h>
#include <poll.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <thread>

namespace padsim {

namespace {

// umockdev 0.17 notices a client's closed socket only while it waits for the
// client's next request; a client killed in the middle of a request stays
// "connected" for ever. So look at the socket itself: it is the second
// field of the client's private data, right after the handler (checked).
bool peerHungUp(UMockdevIoctlClient* c, UMockdevIoctlBase* handler)
{
    auto** priv = reinterpret_cast<gpointer*>(c->priv);
    if (!priv || priv[0] != handler || !G_IS_SOCKET_CONNECTION(priv[1]))
        return false;
    GSocket* sock = g_socket_connection_get_socket(G_SOCKET_CONNECTION(priv[1]));
    pollfd pfd{g_socket_get_fd(sock), POLLRDHUP, 0};
    return poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL));
}

}  // namespace

UsbNode::UsbNode(PadImpl& pad, int device, UMockdevTestbed* tb, const UsbDescription& desc, int devnum)
    : m_pad(pad), m_device(device), m_tb(tb), m_desc(desc), m_descriptors(desc.descriptors())
{
    char node[64], dev[16], majmin[24], vid[8], pid[8], product[32], sysname[32];
    snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", devnum);
    // sysfs values end with a newline or libusb complains
    snprintf(dev, sizeof dev, "%d\n", devnum);
    snprintf(majmin, sizeof majmin, "189:%d\n", devnum - 1);
    snprintf(vid, sizeof vid, "%04x\n", desc.vendorId);
    snprintf(pid, sizeof pid, "%04x\n", desc.productId);
    snprintf(product, sizeof product, "%x/%x/%x", desc.vendorId, desc.productId, desc.bcdDevice);
    // No parent path: umockdev would stat() it outside the preload.
    snprintf(sysname, sizeof sysname, "usb1/1-%d", devnum - 1);
    m_devNode = node;
    gchar* sp = umockdev_testbed_add_device(tb, "usb", sysname, nullptr,
        "idVendor", vid, "idProduct", pid, "busnum", "1\n", "devnum", dev, "speed", "12\n",
        "bConfigurationValue", "1\n", "dev", majmin, nullptr,
        "DEVTYPE", "usb_device", "DEVNAME", node, "PRODUCT", product, nullptr);
    m_sysPath = sp ? sp : "";
    g_free(sp);
    umockdev_testbed_set_attribute_binary(tb, m_sysPath.c_str(), "descriptors", m_descriptors.data(),
                                          (gint)m_descriptors.size());
    // add_device makes no /dev node: an empty file is enough for the preload
    gchar* root = umockdev_testbed_get_root_dir(tb);
    gchar* path = g_build_filename(root, node, nullptr);
    gchar* dir = g_path_get_dirname(path);
    g_mkdir_with_parents(dir, 0755);
    g_file_set_contents(path, "", 0, nullptr);
    g_free(dir);
    g_free(path);
    g_free(root);

    for (const Interface& itf : desc.interfaces) {
        if (!itf.kernelDriver.empty())
            m_kernelDriver[itf.number] = itf.kernelDriver;
        for (const Endpoint& ep : itf.endpoints)
            m_epIface[ep.address] = itf.number;
    }
    m_handler = umockdev_ioctl_base_new();
    g_signal_connect(m_handler, "handle-ioctl", G_CALLBACK(onIoctl), this);
    GError* err = nullptr;
    if (!umockdev_testbed_attach_ioctl(tb, node, m_handler, &err)) {
        g_warning("padsim: attach_ioctl %s: %s", node, err ? err->message : "?");
        g_clear_error(&err);
    }
}

UsbNode::~UsbNode()
{
    umockdev_testbed_detach_ioctl(m_tb, m_devNode.c_str(), nullptr);
    g_signal_handlers_disconnect_by_data(m_handler, this);
    // A request of a client that went away (a program killed in the middle of
    // a read) may still be served on umockdev's worker thread, a throttled
    // reap waiting on the pad's condition variable: wake it and let it finish
    // before the state it works on goes.
    {
        std::lock_guard<std::mutex> g(m_pad.mu);
        m_pad.cv.notify_all();
    }
    while (m_inHandler.load() > 0)
        std::this_thread::yield();
    g_object_unref(m_handler);
    for (auto& kv : m_pendingIn)
        for (Urb& u : kv.second)
            release(u);
    for (Urb& u : m_done)
        release(u);
    for (auto& kv : m_claims)
        g_object_unref(kv.second);
}

void UsbNode::release(Urb& u)
{
    g_clear_object(&u.buf);
    g_clear_object(&u.d);
    g_clear_object(&u.client);
}

void UsbNode::unplugLocked()
{
    m_gone = true;  // pending URBs are failed on the worker thread at the next reap
}

void UsbNode::queueInLocked(uint8_t ep, Bytes report)
{
    m_reports[ep].push_back(std::move(report));
}

bool UsbNode::hasPendingReadLocked(uint8_t ep) const
{
    for (auto& kv : m_pendingIn)
        if ((ep == 0 || kv.first == ep) && !kv.second.empty())
            return true;
    return false;
}

size_t UsbNode::queuedLocked() const
{
    size_t n = 0;
    for (auto& kv : m_reports)
        n += kv.second.size();
    return n;
}

bool UsbNode::clientGone(UMockdevIoctlClient* c) const
{
    return !umockdev_ioctl_client_get_connected(c) || peerHungUp(c, m_handler);
}

void UsbNode::dropGoneClientsLocked()
{
    dropClientsLocked([this](UMockdevIoctlClient* c) { return clientGone(c); });
}

int UsbNode::claimedLocked() const
{
    // a closed descriptor holds nothing, even before we have dropped its claims
    int mask = 0;
    for (auto& kv : m_claims)
        if (!clientGone(kv.second))
            mask |= 1 << kv.first;
    return mask;
}

// Claims for this client; false when another client holds the interface.
bool UsbNode::claimLocked(int iface, UMockdevIoctlClient* client)
{
    auto it = m_claims.find(iface);
    if (it != m_claims.end())
        return it->second == client;
    m_claims[iface] = UMOCKDEV_IOCTL_CLIENT(g_object_ref(client));
    return true;
}

int UsbNode::ifaceOf(uint8_t ep) const
{
    auto it = m_epIface.find(ep);
    return it == m_epIface.end() ? -1 : it->second;
}

bool UsbNode::hasDoneFor(UMockdevIoctlClient* c) const
{
    for (const Urb& u : m_done)
        if (u.client == c)
            return true;
    return false;
}

// Writes the result into the client's URB copy and queues it for reaping.
void UsbNode::complete(Urb u, int status, const Bytes* in)
{
    auto* urb = reinterpret_cast<usbdevfs_urb*>(u.d->data);
    int off = urb->type == USBDEVFS_URB_TYPE_CONTROL ? 8 : 0;
    urb->actual_length = 0;
    if (in && u.buf && status == 0) {
        size_t room = (size_t)(urb->buffer_length - off);
        if (in->size() > room) {
            status = -EOVERFLOW;  // babble: the report does not fit the host's buffer
        } else {
            if (!in->empty())
                memcpy(u.buf->data + off, in->data(), in->size());
            urb->actual_length = (int)in->size();
        }
    }
    urb->status = status;
    m_done.push_back(u);
}

void UsbNode::pumpLocked()
{
    bool delivered = false;
    for (auto& kv : m_pendingIn) {
        auto& q = m_reports[kv.first];
        while (!kv.second.empty() && !q.empty()) {
            Urb u = kv.second.front();
            kv.second.pop_front();
            complete(u, 0, &q.front());
            q.pop_front();
            delivered = true;
        }
    }
    if (delivered)
        m_pad.cv.notify_all();
}


// umockdev does not tell us when a client closes its descriptor: forget the
// reads and claims of clients that are gone, or they would swallow reports
// and keep interfaces busy for the next open.
void UsbNode::dropClientsLocked(const std::function<bool(UMockdevIoctlClient*)>& gone)
{
    for (auto& kv : m_pendingIn)
        for (auto it = kv.second.begin(); it != kv.second.end();)
            if (gone(it->client)) {
                release(*it);
                it = kv.second.erase(it);
            } else {
                ++it;
            }
    for (auto it = m_done.begin(); it != m_done.end();)
        if (gone(it->client)) {
            release(*it);
            it = m_done.erase(it);
        } else {
            ++it;
        }
    for (auto it = m_claims.begin(); it != m_claims.end();)
        if (gone(it->second)) {
            g_object_unref(it->second);
            it = m_claims.erase(it);
        } else {
            ++it;
        }
}

gboolean UsbNode::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self)
{
    auto* node = static_cast<UsbNode*>(self);
    node->m_inHandler++;
    const gboolean handled = node->handle(client);
    node->m_inHandler--;
    return handled;
}

gboolean UsbNode::handle(UMockdevIoctlClient* client)
{
    const unsigned req = (unsigned)umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const gulong raw = *reinterpret_cast<gulong*>(arg->data);
    const bool reap = req == USBDEVFS_REAPURB || req == USBDEVFS_REAPURBNDELAY;
    GError* err = nullptr;
    long ret = 0;
    int eno = 0;

    std::unique_lock<std::mutex> lk(m_pad.mu);
    m_pad.ioctls++;
    dropGoneClientsLocked();
    if (!reap)
        m_quietReaps = 0;
    if (m_gone && !reap) {
        ret = -1;
        eno = ENODEV;
    } else {
        switch (req) {
        case USBDEVFS_GET_CAPABILITIES: {
            g_autoptr(UMockdevIoctlData) d = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), &err);
            if (d)
                *reinterpret_cast<guint32*>(d->data) = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                                       USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                                       USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
            break;
        }
        case USBDEVFS_GETDRIVER: {
            g_autoptr(UMockdevIoctlData) d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_getdriver), &err);
            if (!d)
                break;
            auto* gd = reinterpret_cast<usbdevfs_getdriver*>(d->data);
            int i = (int)gd->interface;
            std::string drv = m_kernelDriver.count(i) ? m_kernelDriver[i] : m_claims.count(i) ? "usbfs" : "";
            if (drv.empty()) {
                ret = -1;
                eno = ENODATA;
            } else {
                snprintf(gd->driver, sizeof gd->driver, "%s", drv.c_str());
            }
            break;
        }
        case USBDEVFS_IOCTL: {  // kernel driver disconnect / connect
            g_autoptr(UMockdevIoctlData) d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), &err);
            if (!d)
                break;
            auto* ic = reinterpret_cast<usbdevfs_ioctl*>(d->data);
            if ((unsigned)ic->ioctl_code == USBDEVFS_DISCONNECT) {
                if (!m_kernelDriver.erase(ic->ifno)) {
                    ret = -1;
                    eno = ENODATA;
                }
            } else if ((unsigned)ic->ioctl_code == USBDEVFS_CONNECT) {
                for (const Interface& itf : m_desc.interfaces)
                    if (itf.number == ic->ifno && !itf.kernelDriver.empty() && !m_claims.count(ic->ifno))
                        m_kernelDriver[ic->ifno] = itf.kernelDriver;
            } else {
                ret = -1;
                eno = ENOTTY;
            }
            break;
        }
        case USBDEVFS_DISCONNECT_CLAIM: {
            g_autoptr(UMockdevIoctlData) d =
                umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_disconnect_claim), &err);
            if (!d)
                break;
            auto* dc = reinterpret_cast<usbdevfs_disconnect_claim*>(d->data);
            int i = (int)dc->interface;
            bool bound = m_kernelDriver.count(i) > 0;
            bool same = bound && m_kernelDriver[i] == dc->driver;
            if ((bound && (((dc->flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) && same) ||
                                  ((dc->flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER) && !same))) ||
                       (m_claims.count(i) && m_claims[i] != client)) {
                ret = -1;
                eno = EBUSY;
            } else {
                m_kernelDriver.erase(i);
                claimLocked(i, client);
            }
            break;
        }
        case USBDEVFS_CLAIMINTERFACE: {
            g_autoptr(UMockdevIoctlData) d = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint), &err);
            if (!d)
                break;
            int i = (int)*reinterpret_cast<guint*>(d->data);
            if (m_kernelDriver.count(i) || !claimLocked(i, client)) {
                ret = -1;
                eno = EBUSY;
            }
            break;
        }
        case USBDEVFS_RELEASEINTERFACE: {
            g_autoptr(UMockdevIoctlData) d = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint), &err);
            if (!d)
                break;
            int i = (int)*reinterpret_cast<guint*>(d->data);
            if (!m_claims.count(i) || m_claims[i] != client) {
                ret = -1;
                eno = EINVAL;
                break;
            }
            g_object_unref(m_claims[i]);
            m_claims.erase(i);
            // as Linux does: the interface's pending URBs end with -ESHUTDOWN
            for (auto& kv : m_pendingIn) {
                if (ifaceOf(kv.first) != i)
                    continue;
                for (auto it = kv.second.begin(); it != kv.second.end();)
                    if (it->client == client) {
                        complete(*it, -ESHUTDOWN, nullptr);
                        it = kv.second.erase(it);
                    } else {
                        ++it;
                    }
            }
            m_pad.cv.notify_all();
            break;
        }
        case USBDEVFS_SUBMITURB:
            ret = submit(client, arg, raw, eno, lk);
            break;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY: {
            auto failPending = [&] {
                if (!m_gone)
                    return;
                for (auto& kv : m_pendingIn)
                    while (!kv.second.empty()) {
                        complete(kv.second.front(), -ESHUTDOWN, nullptr);
                        kv.second.pop_front();
                    }
            };
            failPending();
            pumpLocked();
            // libusb drains with REAPURBNDELAY until EAGAIN before a transfer
            // returns, so only a client polling with nothing to do waits.
            int throttle = m_pad.throttleUs();
            if (!hasDoneFor(client) && throttle > 0 && m_quietReaps > 2) {
                m_pad.cv.wait_for(lk, std::chrono::microseconds(throttle), [&] {
                    failPending();
                    pumpLocked();
                    return hasDoneFor(client);
                });
            }
            auto it = m_done.begin();
            while (it != m_done.end() && it->client != client)
                ++it;
            if (it == m_done.end()) {
                m_quietReaps++;
                ret = -1;
                eno = m_gone ? ENODEV : EAGAIN;
                break;
            }
            Urb u = *it;
            m_done.erase(it);
            m_quietReaps = 0;
            g_autoptr(UMockdevIoctlData) p = umockdev_ioctl_data_resolve(arg, 0, sizeof(gpointer), &err);
            if (p)
                umockdev_ioctl_data_set_ptr(p, 0, u.d);  // hands the URB and its buffer back
            release(u);
            m_pad.cv.notify_all();
            break;
        }
        case USBDEVFS_DISCARDURB: {  // the argument is the URB pointer itself
            ret = -1;
            eno = EINVAL;
            for (auto& kv : m_pendingIn)
                for (auto it = kv.second.begin(); it != kv.second.end(); ++it)
                    if (it->clientAddr == raw && it->client == client) {
                        complete(*it, -ECONNRESET, nullptr);
                        kv.second.erase(it);
                        ret = 0;
                        eno = 0;
                        goto discarded;
                    }
        discarded:
            break;
        }
        case USBDEVFS_SETCONFIGURATION:
        case USBDEVFS_SETINTERFACE:
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESET:
            break;  // nothing to do for these pads
        case USBDEVFS_GET_SPEED:
            ret = 2;  // USB_SPEED_FULL
            break;
        default:
            ret = -1;
            eno = ENOTTY;
        }
    }
    if (err) {
        g_warning("padsim: %s", err->message);
        g_error_free(err);
    }
    lk.unlock();
    umockdev_ioctl_client_complete(client, ret, eno);
    return TRUE;
}

long UsbNode::submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg, gulong raw, int& eno,
                     std::unique_lock<std::mutex>& lk)
{
    GError* err = nullptr;
    Urb u;
    u.clientAddr = raw;
    u.d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &err);
    if (!u.d) {
        g_clear_error(&err);
        eno = EFAULT;
        return -1;
    }
    auto* urb = reinterpret_cast<usbdevfs_urb*>(u.d->data);
    if (urb->buffer_length > 0)
        u.buf = umockdev_ioctl_data_resolve(u.d, offsetof(usbdevfs_urb, buffer), urb->buffer_length, &err);
    g_clear_error(&err);
    u.ep = urb->endpoint;
    u.client = UMOCKDEV_IOCTL_CLIENT(g_object_ref(client));
    if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
        if (!u.buf || urb->buffer_length < 8) {
            release(u);
            eno = EINVAL;
            return -1;
        }
        return control(client, u, lk);
    }
    int i = ifaceOf(u.ep);
    if (i < 0) {
        eno = ENOENT;
    } else if (!m_claims.count(i) && m_kernelDriver.count(i)) {
        eno = EBUSY;  // the kernel cannot claim it for us
    } else if (!claimLocked(i, client)) {  // implicit claim, as Linux does
        eno = EBUSY;
    }
    if (eno) {
        release(u);
        return -1;
    }
    if (u.ep & 0x80) {
        m_pendingIn[u.ep].push_back(u);
        pumpLocked();
        m_pad.cv.notify_all();
        return 0;
    }
    Transfer t;
    t.kind = Transfer::Out;
    t.device = m_device;
    t.endpoint = u.ep;
    if (u.buf)
        t.data.assign(u.buf->data, u.buf->data + urb->buffer_length);
    if (m_pad.outStall && m_pad.outStall(t)) {
        t.stalled = true;
        m_pad.record(std::move(t));
        complete(u, -EPIPE, nullptr);
        return 0;
    }
    complete(u, 0, nullptr);
    urb->actual_length = urb->buffer_length;
    Bytes payload = t.data;
    uint8_t ep = u.ep;
    m_pad.record(std::move(t));
    Model* model = m_pad.model.get();
    lk.unlock();  // the model may answer through Pad::sendRaw
    model->out(*m_pad.self, m_device, ep, payload);
    lk.lock();
    pumpLocked();
    return 0;
}

long UsbNode::control(UMockdevIoctlClient*, Urb u, std::unique_lock<std::mutex>& lk)
{
    auto* urb = reinterpret_cast<usbdevfs_urb*>(u.d->data);
    const uint8_t* b = u.buf->data;
    ControlRequest s;
    s.bmRequestType = b[0];
    s.bRequest = b[1];
    s.wValue = (uint16_t)(b[2] | b[3] << 8);
    s.wIndex = (uint16_t)(b[4] | b[5] << 8);
    s.wLength = (uint16_t)(b[6] | b[7] << 8);
    const bool in = s.bmRequestType & 0x80;
    const bool standard = (s.bmRequestType & 0x60) == 0;
    Bytes data;
    if (!in) {
        size_t n = std::min<size_t>(s.wLength, (size_t)urb->buffer_length - 8);
        data.assign(b + 8, b + 8 + n);
    }
    std::function<bool(const ControlRequest&)> stall = m_pad.stall;
    Model* model = m_pad.model.get();
    lk.unlock();
    bool stalled = stall && stall(s);
    bool ok = !stalled && model->control(*m_pad.self, m_device, s, data);
    lk.lock();
    if (!ok && !stalled && standard) {
        ok = true;
        data.clear();
        uint8_t type = s.wValue >> 8, idx = s.wValue & 0xff;
        if (s.bRequest == 6 && type == 1) {  // GET_DESCRIPTOR
            data.assign(m_descriptors.begin(), m_descriptors.begin() + 18);
        } else if (s.bRequest == 6 && type == 2) {
            data.assign(m_descriptors.begin() + 18, m_descriptors.end());
        } else if (s.bRequest == 6 && type == 3 && idx == 0) {
            data = {4, 3, 0x09, 0x04};  // English (US) only
        } else if (s.bRequest == 6 && type == 3) {
            std::string str;
            if (idx == 1) str = m_desc.manufacturer;
            else if (idx == 2) str = m_desc.product;
            else if (idx == 3) str = m_desc.serial;
            else if (m_desc.extraStrings.count(idx)) str = m_desc.extraStrings.at(idx);
            if (str.empty()) {
                ok = false;
            } else {
                data = {(uint8_t)(2 + 2 * str.size()), 3};
                for (char ch : str) {
                    data.push_back((uint8_t)ch);
                    data.push_back(0);
                }
            }
        } else if (s.bRequest == 0) {  // GET_STATUS
            data = {0, 0};
        } else if (s.bRequest == 6) {
            ok = false;
        }
    }
    if (ok && in && data.size() > s.wLength)
        data.resize(s.wLength);
    if (!standard) {
        Transfer t;
        t.kind = Transfer::Control;
        t.device = m_device;
        t.setup = s;
        t.data = ok ? data : (in ? Bytes{} : data);
        t.stalled = !ok;
        m_pad.record(std::move(t));
    }
    if (!ok) {
        complete(u, -EPIPE, nullptr);
    } else if (in) {
        complete(u, 0, &data);
    } else {
        complete(u, 0, nullptr);
        urb->actual_length = (int)data.size();
    }
    m_pad.cv.notify_all();
    return 0;
}

}  // namespace padsim
