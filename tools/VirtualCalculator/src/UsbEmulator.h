#pragma once

#include "BusLayout.h"
#include "ScsiDrive.h"
#include "UsbPeer.h"

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

// A private umockdev testbed (sysfs and /dev) holding the calculators of a bus layout: a
// link calculator is a full-speed USB device 07cf:6101 with bulk endpoints 0x01 (OUT) and
// 0x82 (IN), a drive one a mass-storage device 07cf:6102 with its SCSI disk. A program
// started with UMOCKDEV_DIR set to `rootDirectory()` and the umockdev preload library sees
// them through the real libusb and libudev; its usbfs ioctls arrive on umockdev's worker
// thread and each link calculator's peer plays that device, as each drive's plays the SG_IO
// commands on its SCSI generic node. A claimed interface shows the
// usbfs driver in sysfs, as the kernel shows it, and refuses a second claimant (EBUSY).
class UsbEmulator {
public:
    // What the host did with one calculator's device: bulk transfers in each direction,
    // claims and releases of its interface, claims refused because another program held
    // it, and bulk transfers submitted without a claim.
    struct Counts {
        unsigned long outTransfers = 0;
        unsigned long inTransfers = 0;
        unsigned long claims = 0;
        unsigned long releases = 0;
        unsigned long refusedClaims = 0;
        unsigned long unclaimedTransfers = 0;
    };

    // `peers[k]` plays the link calculator in `layout.seats()[k]`, `drives[k]` the drive there.
    // A link calculator joins the bus after `plugDelays[k]` (none: at once), leaves it while its
    // peer is unplugged, and comes back as a freshly plugged device (the next device number)
    // when the peer is there again. A drive is there from the start and leaves for good once
    // its peer is unplugged; no usbfs ioctl reaches it. No seats: an empty bus. Watched from the
    // default GLib main context, which the caller runs.
    UsbEmulator(const BusLayout& layout, std::vector<UsbPeer*> peers,
                std::vector<ScsiDrive*> drives = {},
                std::vector<std::chrono::milliseconds> plugDelays = {});
    ~UsbEmulator();

    UsbEmulator(const UsbEmulator&) = delete;
    UsbEmulator& operator=(const UsbEmulator&) = delete;

    // Empty when the testbed is ready.
    const std::string& setUpError() const { return error; }
    const std::string& rootDirectory() const { return root; }

    // Tells the peers that the host has exited, in turn with the ioctls.
    void hostGone();

    // Of the calculator in seat `seat`.
    Counts counts(size_t seat) const;

    // A drive calculator leaves the bus, as when it is powered off: its devices go from
    // sysfs, the deepest first. On the main loop.
    void removeDrive(const Seat& seat);

private:
    struct Urb {
        UMockdevIoctlClient* client; // the opened device it belongs to, referenced
        UMockdevIoctlData* urb;      // the client's struct usbdevfs_urb, resolved
        UMockdevIoctlData* buffer;   // the transfer buffer it points to, resolved
        bool in;
        bool finished;
    };

    // One per time a device is plugged in: its node and the handler serving it.
    struct Plugging {
        UMockdevIoctlBase* handler;
        std::string node;
    };

    // One calculator's device, from plug-in to plug-in.
    struct Port {
        UsbEmulator* emulator = nullptr;
        Seat seat;
        UsbPeer* peer = nullptr;
        ScsiDrive* drive = nullptr;
        std::chrono::steady_clock::time_point plugAt;
        std::vector<Plugging> pluggings;
        UMockdevIoctlBase* current = nullptr; // serving the device on the bus, if it is there
        bool present = false;                 // on the bus; changed on the main loop only
        bool offBus = false;                  // the ioctl being handled is for a device gone
        std::deque<Urb> urbs; // submitted and not yet reaped, in the order of submission
        UMockdevIoctlClient* holder = nullptr;             // the client that claimed interface 0
        std::chrono::steady_clock::time_point holderHeard; // its last ioctl
        Counts counts;
    };

    static int onFollow(void* self);
    void followPeers();
    void plug(Port& port);
    void unplug(Port& port);
    static int onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* port);
    static int onScsiIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* port);
    void handleScsi(Port& port, UMockdevIoctlBase* handler, UMockdevIoctlClient* client);
    void followDrive(Port& port);
    static void onOpened(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* port);
    static void onClosed(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* port);
    void handle(Port& port, UMockdevIoctlBase* handler, UMockdevIoctlClient* client);
    void submit(Port& port, UMockdevIoctlClient* client);
    void reap(Port& port, UMockdevIoctlClient* client);
    void discard(Port& port, UMockdevIoctlClient* client);
    bool settle(Port& port, Urb& urb);
    static void control(const Port& port, UMockdevIoctlData* urb, UMockdevIoctlData* buffer);
    void complete(Port& port, UMockdevIoctlClient* client, int error);
    void claim(Port& port, UMockdevIoctlClient* client, bool claiming);
    void showHolder(Port& port, UMockdevIoctlClient* holder);
    void letGoOfTheDead(Port& port);
    void forget(Port& port, UMockdevIoctlClient* client);
    static void drop(Urb& urb);

    UMockdevTestbed* testbed = nullptr;
    std::string root;
    std::vector<std::unique_ptr<Port>> ports;
    int nextDeviceNumber;
    unsigned follower = 0;
    std::string error;
    mutable std::mutex mutex;
    std::vector<Urb> abandoned; // of programs that died in mid-transfer, kept on purpose
};
