// Internals shared by the bed, the pads and the usbfs emulation.
#pragma once

#include "padsim.h"

#include <umockdev.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <random>
#include <set>

namespace padsim {

struct PadImpl;

// One emulated USB device node: answers libusb's usbfs ioctls on umockdev's
// worker thread. All state is guarded by the owning pad's mutex.
class UsbNode {
public:
    UsbNode(PadImpl& pad, int device, UMockdevTestbed* tb, const UsbDescription& desc, int devnum);
    ~UsbNode();

    // Pending reads fail with -ESHUTDOWN, later ioctls with ENODEV.
    void unplugLocked();
    void queueInLocked(uint8_t ep, Bytes report);
    bool hasPendingReadLocked(uint8_t ep) const;  // ep 0 = any IN endpoint
    size_t queuedLocked() const;
    int claimedLocked() const;

    const std::string& devNode() const { return m_devNode; }
    const std::string& sysPath() const { return m_sysPath; }

private:
    struct Urb {
        UMockdevIoctlData* d = nullptr;    // the client's struct usbdevfs_urb
        UMockdevIoctlData* buf = nullptr;  // its buffer
        gulong clientAddr = 0;             // URB address in the client (DISCARDURB)
        uint8_t ep = 0;
        UMockdevIoctlClient* client = nullptr;
    };
    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self);
    gboolean handle(UMockdevIoctlClient* client);
    void complete(Urb u, int status, const Bytes* in);
    void release(Urb& u);
    void pumpLocked();
    void dropClientsLocked(const std::function<bool(UMockdevIoctlClient*)>& gone);
    void dropGoneClientsLocked();
    bool clientGone(UMockdevIoctlClient* c) const;
    bool hasDoneFor(UMockdevIoctlClient* c) const;
    int ifaceOf(uint8_t ep) const;
    bool claimLocked(int iface, UMockdevIoctlClient* client);
    long submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg, gulong raw, int& eno,
                std::unique_lock<std::mutex>& lk);
    long control(UMockdevIoctlClient* client, Urb u, std::unique_lock<std::mutex>& lk);

    PadImpl& m_pad;
    std::atomic<int> m_inHandler{0};  // requests being served on umockdev's worker thread
    int m_device;
    UMockdevTestbed* m_tb;
    UMockdevIoctlBase* m_handler = nullptr;
    UsbDescription m_desc;
    Bytes m_descriptors;
    std::string m_devNode, m_sysPath;
    std::map<uint8_t, int> m_epIface;
    std::map<int, std::string> m_kernelDriver;              // interface -> bound kernel driver
    std::map<int, UMockdevIoctlClient*> m_claims;           // interface -> claiming client (ref)
    std::map<uint8_t, std::deque<Urb>> m_pendingIn;
    std::map<uint8_t, std::deque<Bytes>> m_reports;
    std::deque<Urb> m_done;                                 // completed, waiting to be reaped
    bool m_gone = false;
    int m_quietReaps = 0;

};

struct PadImpl {
    Bed::Impl* bed = nullptr;
    Bed* owner = nullptr;
    Pad* self = nullptr;
    ModelPtr model;

    mutable std::mutex mu;
    std::condition_variable cv;  // any change: transfers, reads, deliveries, unplug

    bool plugged = false;
    std::vector<std::unique_ptr<UsbNode>> nodes;      // current plug, one per USB device
    std::vector<std::unique_ptr<UsbNode>> retired;    // unplugged; a client may still hold them
    Texts texts;
    std::map<uint8_t, Bytes> featureReports;
    std::function<bool(const ControlRequest&)> stall;
    TransferMatch outStall;
    std::vector<Transfer> log;
    uint64_t seq = 0;
    uint64_t ioctls = 0;
    std::mt19937 rng;
    std::optional<uint8_t> forcedMask;

    void record(Transfer t);  // with mu held
    int throttleUs() const;
};

struct Bed::Impl {
    UMockdevTestbed* tb = nullptr;
    std::string root;
    std::string hubPath;
    int nextDevnum = 2;
    std::atomic<int> throttleUs{1000};
    std::mutex mu;
    std::vector<std::unique_ptr<Pad>> pads;

    void plugNodes(PadImpl& pad);
    void unplugNodes(PadImpl& pad);
};

}  // namespace padsim
