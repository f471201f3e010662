#include "UsbEmulator.h"

#include "NodeClients.h"
#include "SgIoRequest.h"

// The request macros only work as case labels with these two first.
#include <linux/ioctl.h>
#include <linux/types.h>

#include <linux/usbdevice_fs.h>
#include <scsi/sg.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <umockdev.h>
#include <unistd.h>

namespace {

constexpr guint followInterval = 10; // ms between looks at whether a device is on the bus
constexpr std::chrono::milliseconds quietBeforeLooking{200};

std::string deviceNode(int number) {
    char node[32];
    snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", number);
    return node;
}

constexpr unsigned capabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                  USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                  USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

constexpr size_t setupLength = 8; // the setup packet before a control transfer's data
constexpr uint8_t standardIn = 0x80;
constexpr uint8_t getDescriptor = 0x06;

constexpr unsigned char endpointOut = 0x01;
constexpr int genericVersion = 30536; // what the sg driver of a current kernel tells
constexpr unsigned char endpointIn = 0x82;

usbdevfs_urb& fieldsOf(UMockdevIoctlData* urb) {
    return *reinterpret_cast<usbdevfs_urb*>(urb->data);
}

// The argument as the client passed it: for DISCARDURB the URB's address in the client.
unsigned long rawArgument(UMockdevIoctlClient* client) {
    unsigned long value = 0;
    UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
    memcpy(&value, argument->data, sizeof value);
    return value;
}

} // namespace

UsbEmulator::UsbEmulator(const BusLayout& layout, std::vector<UsbPeer*> peers,
                         std::vector<ScsiDrive*> drives,
                         std::vector<std::chrono::milliseconds> plugDelays)
    : testbed(umockdev_testbed_new()), nextDeviceNumber(layout.firstDeviceNumber()) {
    gchar* directory = umockdev_testbed_get_root_dir(testbed);
    root = directory;
    g_free(directory);
    GError* gerror = nullptr;
    const std::string hubs = layout.hubRecords();
    if (!hubs.empty() && !umockdev_testbed_add_from_string(testbed, hubs.c_str(), &gerror)) {
        error = gerror != nullptr ? gerror->message : "unknown umockdev error";
        g_clear_error(&gerror);
        return;
    }
    for (size_t seat = 0; seat < layout.seats().size(); ++seat) {
        ports.push_back(std::make_unique<Port>());
        ports.back()->emulator = this;
        ports.back()->seat = layout.seats()[seat];
        ports.back()->peer = seat < peers.size() ? peers[seat] : nullptr;
        ports.back()->drive = seat < drives.size() ? drives[seat] : nullptr;
        const std::chrono::milliseconds delay =
            seat < plugDelays.size() ? plugDelays[seat] : std::chrono::milliseconds(0);
        ports.back()->plugAt = std::chrono::steady_clock::now() + delay;
        if (ports.back()->peer == nullptr || delay.count() == 0) {
            plug(*ports.back());
        }
    }
    follower = g_timeout_add(followInterval, onFollow, this);
}

UsbEmulator::~UsbEmulator() {
    if (follower != 0) {
        g_source_remove(follower);
    }
    for (std::unique_ptr<Port>& port : ports) {
        for (Plugging& plugging : port->pluggings) {
            umockdev_testbed_detach_ioctl(testbed, plugging.node.c_str(), nullptr);
            g_object_unref(plugging.handler);
        }
        for (Urb& urb : port->urbs) {
            drop(urb);
        }
    }
    g_object_unref(testbed);
}

int UsbEmulator::onFollow(void* self) {
    static_cast<UsbEmulator*>(self)->followPeers();
    return G_SOURCE_CONTINUE;
}

// On the main loop: each device joins or leaves the bus as its peer and the plug-in time
// say. umockdev is called without the lock, which its worker thread may be waiting for.
void UsbEmulator::followPeers() {
    for (std::unique_ptr<Port>& port : ports) {
        if (port->drive != nullptr) {
            followDrive(*port);
        }
        if (port->peer == nullptr) {
            continue;
        }
        bool wanted = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            letGoOfTheDead(*port);
            wanted = std::chrono::steady_clock::now() >= port->plugAt && !port->peer->unplugged();
        }
        if (wanted && !port->present) {
            plug(*port);
        } else if (!wanted && port->present) {
            unplug(*port);
        }
    }
}

// A drive whose peer left the bus goes for good, as when it is unplugged.
void UsbEmulator::followDrive(Port& port) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!port.present || !port.drive->unplugged()) {
            return;
        }
        port.current = nullptr;
        port.present = false;
    }
    removeDrive(port.seat);
}

void UsbEmulator::plug(Port& port) {
    const int number = nextDeviceNumber++;
    const bool drive = port.drive != nullptr;
    Plugging plugging{nullptr, drive ? "/dev/" + port.seat.genericDevice() : deviceNode(number)};
    GError* gerror = nullptr;
    bool added = true;
    if (port.peer != nullptr || drive) {
        plugging.handler = umockdev_ioctl_base_new();
        g_signal_connect(plugging.handler, "handle-ioctl",
                         drive ? G_CALLBACK(onScsiIoctl) : G_CALLBACK(onIoctl), &port);
        g_signal_connect(plugging.handler, "client-connected", G_CALLBACK(onOpened), &port);
        g_signal_connect(plugging.handler, "client-vanished", G_CALLBACK(onClosed), &port);
        port.pluggings.push_back(plugging);
        added = umockdev_testbed_attach_ioctl(testbed, plugging.node.c_str(), plugging.handler,
                                              &gerror);
    }
    // Served from the moment it is on the bus: a host may open it at once.
    {
        std::lock_guard<std::mutex> lock(mutex);
        port.current = plugging.handler;
        port.present = true;
    }
    if (!added || !umockdev_testbed_add_from_string(
                      testbed, BusLayout::records(port.seat, number).c_str(), &gerror)) {
        error = gerror != nullptr ? gerror->message : "unknown umockdev error";
        g_clear_error(&gerror);
        std::lock_guard<std::mutex> lock(mutex);
        port.current = nullptr;
        port.present = false;
    }
}

// Gone from sysfs, so that enumeration no longer finds it; what is still open on the old
// node fails with ENODEV, and its claim went with it.
void UsbEmulator::unplug(Port& port) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        port.current = nullptr;
        port.present = false;
        port.holder = nullptr;
    }
    umockdev_testbed_remove_device(testbed, ("/sys" + port.seat.interfacePath()).c_str());
    umockdev_testbed_remove_device(testbed, ("/sys" + port.seat.sysfsPath).c_str());
}

void UsbEmulator::removeDrive(const Seat& seat) {
    umockdev_testbed_remove_device(testbed, ("/sys" + seat.genericPath()).c_str());
    const std::vector<std::string> chain = seat.deviceChain();
    for (auto device = chain.rbegin(); device != chain.rend(); ++device) {
        umockdev_testbed_remove_device(testbed, ("/sys" + *device).c_str());
    }
}

UsbEmulator::Counts UsbEmulator::counts(size_t seat) const {
    std::lock_guard<std::mutex> lock(mutex);
    return ports.at(seat)->counts;
}

void UsbEmulator::hostGone() {
    std::lock_guard<std::mutex> lock(mutex);
    for (std::unique_ptr<Port>& port : ports) {
        if (port->peer != nullptr) {
            port->peer->hostGone();
        }
        if (port->drive != nullptr) {
            port->drive->hostGone();
        }
    }
}

int UsbEmulator::onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* port) {
    Port* device = static_cast<Port*>(port);
    device->emulator->handle(*device, handler, client);
    return TRUE;
}

void UsbEmulator::onOpened(UMockdevIoctlBase* handler, UMockdevIoctlClient* /*client*/,
                           void* port) {
    Port* device = static_cast<Port*>(port);
    std::lock_guard<std::mutex> lock(device->emulator->mutex);
    if (handler == device->current && device->peer != nullptr) {
        device->peer->deviceOpened();
    } else if (handler == device->current) {
        device->drive->deviceOpened();
    }
}

// A program that dies in mid-transfer leaves URBs behind; they must never reach the next.
void UsbEmulator::onClosed(UMockdevIoctlBase* /*handler*/, UMockdevIoctlClient* client,
                           void* port) {
    Port* device = static_cast<Port*>(port);
    std::lock_guard<std::mutex> lock(device->emulator->mutex);
    device->emulator->forget(*device, client);
}

// The URBs of a client that has gone are kept, a few bytes each, not released: releasing
// them finalized umockdev's object for that client late, and now and then the next
// program then read EOF on its own ioctl socket, as if a reused descriptor had been
// closed under it.
void UsbEmulator::forget(Port& port, UMockdevIoctlClient* client) {
    for (auto urb = port.urbs.begin(); urb != port.urbs.end();) {
        if (urb->client == client) {
            abandoned.push_back(*urb);
            urb = port.urbs.erase(urb);
        } else {
            ++urb;
        }
    }
    // Closing the device gives up its claim, as the kernel does.
    if (port.holder == client) {
        showHolder(port, nullptr);
    }
}

void UsbEmulator::handle(Port& port, UMockdevIoctlBase* handler, UMockdevIoctlClient* client) {
    std::lock_guard<std::mutex> lock(mutex);
    if (client == port.holder) {
        port.holderHeard = std::chrono::steady_clock::now();
    }
    // A node of a device that has left the bus, or is leaving it, serves nothing more.
    port.offBus = handler != port.current || port.peer->unplugged();
    switch (umockdev_ioctl_client_get_request(client)) {
    case USBDEVFS_SUBMITURB:
        submit(port, client);
        return;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
        reap(port, client);
        return;
    case USBDEVFS_DISCARDURB:
        discard(port, client);
        return;
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
        UMockdevIoctlData* mask =
            umockdev_ioctl_data_resolve(argument, 0, sizeof capabilities, nullptr);
        if (mask == nullptr) {
            complete(port, client, EFAULT);
            return;
        }
        memcpy(mask->data, &capabilities, sizeof capabilities);
        complete(port, client, 0);
        return;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
        claim(port, client, umockdev_ioctl_client_get_request(client) == USBDEVFS_CLAIMINTERFACE);
        return;
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESET:
        complete(port, client, 0);
        return;
    default:
        complete(port, client, ENOTTY);
        return;
    }
}

// A program that died holding the interface has let go of it, as the kernel releases the
// claim of a file that is closed: umockdev may tell of the client's end late, or not at all.
// Its sockets are looked at only once the holder has been quiet a while.
void UsbEmulator::letGoOfTheDead(Port& port) {
    const bool quiet = std::chrono::steady_clock::now() - port.holderHeard > quietBeforeLooking;
    if (port.holder != nullptr &&
        (!umockdev_ioctl_client_get_connected(port.holder) ||
         (quiet && !NodeClients::anyAlive(umockdev_ioctl_client_get_devnode(port.holder))))) {
        forget(port, port.holder);
    }
}

// The one interface, 0. As the kernel does, it refuses a claim while another opened device
// holds it, and a release without a claim; a claim again by the holder is fine.
void UsbEmulator::claim(Port& port, UMockdevIoctlClient* client, bool claiming) {
    UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
    UMockdevIoctlData* number = umockdev_ioctl_data_resolve(argument, 0, sizeof(unsigned), nullptr);
    unsigned interface = 0;
    if (number == nullptr) {
        complete(port, client, EFAULT);
        return;
    }
    memcpy(&interface, number->data, sizeof interface);
    letGoOfTheDead(port);
    if (port.offBus) {
        complete(port, client, ENODEV);
    } else if (interface != 0) {
        complete(port, client, ENOENT);
    } else if (claiming &&
               (port.seat.heldElsewhere || (port.holder != nullptr && port.holder != client))) {
        ++port.counts.refusedClaims;
        complete(port, client, EBUSY);
    } else if (claiming) {
        showHolder(port, client);
        ++port.counts.claims;
        complete(port, client, 0);
    } else if (port.holder == client) {
        showHolder(port, nullptr);
        ++port.counts.releases;
        complete(port, client, 0);
    } else {
        complete(port, client, EINVAL);
    }
}

// The kernel binds its usbfs driver to an interface a program claimed, which sysfs shows
// as the interface's `driver` link: how another program can tell that it is held.
void UsbEmulator::showHolder(Port& port, UMockdevIoctlClient* holder) {
    if ((port.holder == nullptr) == (holder == nullptr)) {
        port.holder = holder;
        return;
    }
    port.holder = holder;
    port.holderHeard = std::chrono::steady_clock::now();
    const std::string link = root + "/sys" + port.seat.interfacePath() + "/driver";
    if (holder != nullptr) {
        symlink(port.seat.driverLink("usbfs").c_str(), link.c_str());
    } else {
        unlink(link.c_str());
    }
}

void UsbEmulator::complete(Port& port, UMockdevIoctlClient* client, int errorNumber) {
    if (errorNumber == 0 && port.offBus) {
        errorNumber = ENODEV;
    }
    umockdev_ioctl_client_complete(client, errorNumber == 0 ? 0 : -1, errorNumber);
}

void UsbEmulator::drop(Urb& urb) {
    g_object_unref(urb.urb);
    g_object_unref(urb.client);
}

void UsbEmulator::submit(Port& port, UMockdevIoctlClient* client) {
    if (port.offBus) {
        complete(port, client, ENODEV);
        return;
    }
    UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
    UMockdevIoctlData* urb =
        umockdev_ioctl_data_resolve(argument, 0, sizeof(usbdevfs_urb), nullptr);
    if (urb == nullptr) {
        complete(port, client, EFAULT);
        return;
    }
    const usbdevfs_urb& fields = fieldsOf(urb);
    const bool in = fields.endpoint == endpointIn;
    const bool controlTransfer = fields.type == USBDEVFS_URB_TYPE_CONTROL && fields.endpoint == 0 &&
                                 fields.buffer_length >= static_cast<int>(setupLength);
    const bool bulkTransfer = fields.type == USBDEVFS_URB_TYPE_BULK &&
                              (in || fields.endpoint == endpointOut) && fields.buffer_length >= 0;
    if (!controlTransfer && !bulkTransfer) {
        complete(port, client, EINVAL);
        return;
    }
    UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
        urb, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(fields.buffer_length), nullptr);
    if (buffer == nullptr) {
        complete(port, client, EFAULT);
        return;
    }
    // Held, so that no later client can be given this client's address while it has URBs.
    g_object_ref(client);
    g_object_ref(urb);
    if (controlTransfer) {
        control(port, urb, buffer);
        port.urbs.push_back({client, urb, buffer, false, true});
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    if (port.holder != client) {
        ++port.counts.unclaimedTransfers;
    }
    port.urbs.push_back({client, urb, buffer, in, false});
    ++(in ? port.counts.inTransfers : port.counts.outTransfers);
    if (in) {
        port.peer->inTransferStarted();
    } else {
        port.peer->received(Bytes(buffer->data, buffer->data + fields.buffer_length));
        // The bytes are in, even if that packet unplugs the device.
        fieldsOf(urb).status = 0;
        fieldsOf(urb).actual_length = fields.buffer_length;
        port.urbs.back().finished = true;
    }
    umockdev_ioctl_client_complete(client, 0, 0);
}

// A control transfer on endpoint 0, which needs no claim: the descriptors are answered, a
// request without data (such as the vendor request some old models want after opening) is
// accepted, and any other request stalls, as a device does with a request it does not know.
void UsbEmulator::control(const Port& port, UMockdevIoctlData* urb, UMockdevIoctlData* buffer) {
    usbdevfs_urb& fields = fieldsOf(urb);
    const uint8_t* setup = buffer->data;
    const size_t wanted = std::min<size_t>(setup[6] | setup[7] << 8,
                                           static_cast<size_t>(fields.buffer_length) - setupLength);
    const std::optional<Bytes> descriptor =
        setup[0] == standardIn && setup[1] == getDescriptor
            ? BusLayout::descriptor(port.seat, setup[3], setup[2])
            : std::nullopt;
    fields.actual_length = 0;
    fields.status = descriptor || ((setup[0] & standardIn) == 0 && wanted == 0) ? 0 : -EPIPE;
    if (descriptor) {
        const size_t length = std::min(wanted, descriptor->size());
        memcpy(buffer->data + setupLength, descriptor->data(), length);
        fields.actual_length = static_cast<int>(length);
    }
}

// Gives an IN URB the device's answer if it has one; true when the URB can be reaped.
bool UsbEmulator::settle(Port& port, Urb& urb) {
    if (urb.finished) {
        return true;
    }
    usbdevfs_urb& fields = fieldsOf(urb.urb);
    if (port.offBus) {
        fields.status = -ESHUTDOWN;
        fields.actual_length = 0;
        return urb.finished = true;
    }
    std::optional<Bytes> answer = port.peer->nextAnswer(static_cast<size_t>(fields.buffer_length));
    if (!answer) {
        return false;
    }
    memcpy(urb.buffer->data, answer->data(), answer->size());
    fields.status = 0;
    fields.actual_length = static_cast<int>(answer->size());
    return urb.finished = true;
}

void UsbEmulator::reap(Port& port, UMockdevIoctlClient* client) {
    for (auto urb = port.urbs.begin(); urb != port.urbs.end(); ++urb) {
        if (urb->client != client || !settle(port, *urb)) {
            continue;
        }
        UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
        UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(argument, 0, sizeof(void*), nullptr);
        if (slot == nullptr || !umockdev_ioctl_data_set_ptr(slot, 0, urb->urb)) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
        // Completing copies the URB and its buffer back into the client.
        umockdev_ioctl_client_complete(client, 0, 0);
        drop(*urb);
        port.urbs.erase(urb);
        return;
    }
    umockdev_ioctl_client_complete(client, -1, port.offBus ? ENODEV : EAGAIN);
}

// libusb discards a URB when its transfer times out, then reaps it as cancelled.
void UsbEmulator::discard(Port& port, UMockdevIoctlClient* client) {
    const unsigned long address = rawArgument(client);
    for (Urb& urb : port.urbs) {
        if (urb.client != client || urb.urb->client_addr != address || urb.finished) {
            continue;
        }
        fieldsOf(urb.urb).status = -ENOENT;
        fieldsOf(urb.urb).actual_length = 0;
        urb.finished = true;
        if (urb.in) {
            port.peer->inTransferAbandoned();
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    umockdev_ioctl_client_complete(client, -1, port.offBus ? ENODEV : EINVAL);
}

int UsbEmulator::onScsiIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* port) {
    Port* device = static_cast<Port*>(port);
    device->emulator->handleScsi(*device, handler, client);
    return TRUE;
}

// What a host asks of a SCSI generic node: the driver's version, as programs check that a node
// is one, and commands; nothing else is served.
void UsbEmulator::handleScsi(Port& port, UMockdevIoctlBase* handler, UMockdevIoctlClient* client) {
    std::lock_guard<std::mutex> lock(mutex);
    port.offBus = handler != port.current || port.drive->unplugged();
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    if (port.offBus) {
        complete(port, client, ENODEV);
    } else if (request == SG_IO) {
        complete(port, client, SgIoRequest::serve(client, port.drive));
    } else if (request == SG_GET_VERSION_NUM) {
        UMockdevIoctlData* version = umockdev_ioctl_data_resolve(
            umockdev_ioctl_client_get_arg(client), 0, sizeof(int), nullptr);
        if (version != nullptr) {
            memcpy(version->data, &genericVersion, sizeof genericVersion);
        }
        complete(port, client, version != nullptr ? 0 : EFAULT);
    } else {
        complete(port, client, ENOTTY);
    }
}
