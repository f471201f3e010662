#pragma once

#include "UsbPeer.h"

#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

// A private umockdev testbed (sysfs and /dev) holding, when there is a peer, one
// full-speed USB device 07cf:6101 with bulk endpoints 0x01 (OUT) and 0x82 (IN). A program
// started with UMOCKDEV_DIR set to `rootDirectory()` and the umockdev preload library sees
// it through the real libusb; its usbfs ioctls arrive on umockdev's worker thread and the
// peer plays the device.
class UsbEmulator {
public:
    // Without a peer the bus is empty; with one, the device joins it after `plugDelay`,
    // leaves it while the peer is unplugged, and comes back as a freshly plugged device
    // (the next device number) when the peer is there again. Watched from the default
    // GLib main context, which the caller runs.
    explicit UsbEmulator(UsbPeer* peer,
                         std::chrono::milliseconds plugDelay = std::chrono::milliseconds(0));
    ~UsbEmulator();

    UsbEmulator(const UsbEmulator&) = delete;
    UsbEmulator& operator=(const UsbEmulator&) = delete;

    // Empty when the testbed is ready.
    const std::string& setUpError() const { return error; }
    std::string rootDirectory() const;

    // Tells the peer that the host has exited, in turn with the ioctls.
    void hostGone();

    // Bulk transfers the hosts submitted, in each direction.
    unsigned long outTransferCount() const { return outTransfers; }
    unsigned long inTransferCount() const { return inTransfers; }
    // Claims and releases of the interface, and bulk transfers submitted without a claim.
    unsigned long claimCount() const { return claims; }
    unsigned long releaseCount() const { return releases; }
    unsigned long unclaimedTransferCount() const { return unclaimedTransfers; }

private:
    struct Urb {
        UMockdevIoctlClient* client; // the opened device it belongs to, referenced
        UMockdevIoctlData* urb;      // the client's struct usbdevfs_urb, resolved
        UMockdevIoctlData* buffer;   // the transfer buffer it points to, resolved
        bool in;
        bool finished;
    };

    // One per time the device is plugged in: its node and the handler serving it.
    struct Plugging {
        UMockdevIoctlBase* handler;
        std::string node;
    };

    static int onFollow(void* self);
    void followPeer();
    void plug();
    void unplug();
    static int onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    static void onOpened(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    static void onClosed(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    void handle(UMockdevIoctlBase* handler, UMockdevIoctlClient* client);
    void submit(UMockdevIoctlClient* client);
    void reap(UMockdevIoctlClient* client);
    void discard(UMockdevIoctlClient* client);
    bool settle(Urb& urb);
    void complete(UMockdevIoctlClient* client, int error);
    void claim(UMockdevIoctlClient* client, bool claiming);
    static void drop(Urb& urb);

    UsbPeer* peer;
    UMockdevTestbed* testbed = nullptr;
    std::chrono::steady_clock::time_point plugAt;
    std::vector<Plugging> pluggings;
    UMockdevIoctlBase* current = nullptr; // serving the device on the bus, if it is there
    bool present = false;                 // on the bus; changed on the main loop only
    bool offBus = false;                  // the ioctl being handled is for a device gone
    unsigned follower = 0;
    std::string error;
    std::mutex mutex;
    std::deque<Urb> urbs;       // submitted and not yet reaped, in the order of submission
    std::vector<Urb> abandoned; // of programs that died in mid-transfer, kept on purpose
    unsigned long outTransfers = 0;
    unsigned long inTransfers = 0;
    unsigned long claims = 0;
    unsigned long releases = 0;
    unsigned long unclaimedTransfers = 0;
    std::vector<UMockdevIoctlClient*> claimants; // clients holding the interface
    void forget(UMockdevIoctlClient* client);
};
