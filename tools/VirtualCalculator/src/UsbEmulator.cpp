#include "UsbEmulator.h"

// The request macros only work as case labels with these two first.
#include <linux/ioctl.h>
#include <linux/types.h>

#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <umockdev.h>

namespace {

constexpr const char* sysfsPath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1";
constexpr int firstDeviceNumber = 2;
constexpr guint followInterval = 10; // ms between looks at whether the device is on the bus

std::string deviceNode(int number) {
    char node[32];
    snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", number);
    return node;
}

// A device as umockdev-record writes it. libusb enumerates from these sysfs attributes
// and reads the descriptors (device, one configuration, one vendor-specific interface,
// bulk endpoints 0x01 and 0x82 of 64 bytes) from the `descriptors` file. A device plugged
// in again gets the next device number, as on a real bus.
std::string deviceDescription(int number) {
    char text[1024];
    snprintf(text, sizeof text,
             "P: /devices/pci0000:00/0000:00:14.0/usb1/1-1\n"
             "N: bus/usb/001/%03d\n"
             "E: SUBSYSTEM=usb\n"
             "E: DEVTYPE=usb_device\n"
             "E: BUSNUM=001\n"
             "E: DEVNUM=%03d\n"
             "E: DEVNAME=/dev/bus/usb/001/%03d\n"
             "E: PRODUCT=7cf/6101/100\n"
             "A: busnum=1\\n\n"
             "A: devnum=%d\\n\n"
             "A: speed=12\\n\n"
             "A: bConfigurationValue=1\\n\n"
             "A: idVendor=07cf\\n\n"
             "A: idProduct=6101\\n\n"
             "H: descriptors=1201000200000040cf07016100010102030109022000010100803209040000"
             "02ff0000000705010240000007058202400000\n",
             number, number, number, number);
    return text;
}

constexpr unsigned capabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                  USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                  USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

constexpr unsigned char endpointOut = 0x01;
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

UsbEmulator::UsbEmulator(UsbPeer* peer, std::chrono::milliseconds plugDelay)
    : peer(peer), plugAt(std::chrono::steady_clock::now() + plugDelay) {
    testbed = umockdev_testbed_new();
    if (peer == nullptr) {
        return;
    }
    if (plugDelay.count() == 0) {
        plug();
    }
    follower = g_timeout_add(followInterval, onFollow, this);
}

UsbEmulator::~UsbEmulator() {
    if (follower != 0) {
        g_source_remove(follower);
    }
    for (Plugging& plugging : pluggings) {
        umockdev_testbed_detach_ioctl(testbed, plugging.node.c_str(), nullptr);
        g_object_unref(plugging.handler);
    }
    for (Urb& urb : urbs) {
        drop(urb);
    }
    g_object_unref(testbed);
}

int UsbEmulator::onFollow(void* self) {
    static_cast<UsbEmulator*>(self)->followPeer();
    return G_SOURCE_CONTINUE;
}

// On the main loop: the device joins or leaves the bus as the peer and the plug-in time
// say. umockdev is called without the lock, which its worker thread may be waiting for.
void UsbEmulator::followPeer() {
    bool wanted = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        wanted = std::chrono::steady_clock::now() >= plugAt && !peer->unplugged();
    }
    if (wanted && !present) {
        plug();
    } else if (!wanted && present) {
        unplug();
    }
}

void UsbEmulator::plug() {
    const int number = firstDeviceNumber + static_cast<int>(pluggings.size());
    Plugging plugging{umockdev_ioctl_base_new(), deviceNode(number)};
    g_signal_connect(plugging.handler, "handle-ioctl", G_CALLBACK(onIoctl), this);
    g_signal_connect(plugging.handler, "client-connected", G_CALLBACK(onOpened), this);
    g_signal_connect(plugging.handler, "client-vanished", G_CALLBACK(onClosed), this);
    pluggings.push_back(plugging);
    GError* gerror = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed, plugging.node.c_str(), plugging.handler, &gerror) ||
        !umockdev_testbed_add_from_string(testbed, deviceDescription(number).c_str(), &gerror)) {
        error = gerror != nullptr ? gerror->message : "unknown umockdev error";
        g_clear_error(&gerror);
        return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    current = plugging.handler;
    present = true;
}

// Gone from sysfs, so that enumeration no longer finds it; what is still open on the old
// node fails with ENODEV.
void UsbEmulator::unplug() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        current = nullptr;
        present = false;
    }
    umockdev_testbed_remove_device(testbed, sysfsPath);
}

std::string UsbEmulator::rootDirectory() const {
    gchar* root = umockdev_testbed_get_root_dir(testbed);
    std::string directory = root;
    g_free(root);
    return directory;
}

void UsbEmulator::hostGone() {
    std::lock_guard<std::mutex> lock(mutex);
    if (peer != nullptr) {
        peer->hostGone();
    }
}

int UsbEmulator::onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self) {
    static_cast<UsbEmulator*>(self)->handle(handler, client);
    return TRUE;
}

void UsbEmulator::onOpened(UMockdevIoctlBase* handler, UMockdevIoctlClient* /*client*/,
                           void* self) {
    UsbEmulator* emulator = static_cast<UsbEmulator*>(self);
    std::lock_guard<std::mutex> lock(emulator->mutex);
    if (handler == emulator->current) {
        emulator->peer->deviceOpened();
    }
}

// A program that dies in mid-transfer leaves URBs behind; they must never reach the next.
void UsbEmulator::onClosed(UMockdevIoctlBase* /*handler*/, UMockdevIoctlClient* client,
                           void* self) {
    UsbEmulator* emulator = static_cast<UsbEmulator*>(self);
    std::lock_guard<std::mutex> lock(emulator->mutex);
    emulator->forget(client);
}

// The URBs of a client that has gone are kept, a few bytes each, not released: releasing
// them finalized umockdev's object for that client late, and now and then the next
// program then read EOF on its own ioctl socket, as if a reused descriptor had been
// closed under it.
void UsbEmulator::forget(UMockdevIoctlClient* client) {
    for (auto urb = urbs.begin(); urb != urbs.end();) {
        if (urb->client == client) {
            abandoned.push_back(*urb);
            urb = urbs.erase(urb);
        } else {
            ++urb;
        }
    }
    // Closing the device gives up its claim, as the kernel does.
    claimants.erase(std::remove(claimants.begin(), claimants.end(), client), claimants.end());
}

void UsbEmulator::handle(UMockdevIoctlBase* handler, UMockdevIoctlClient* client) {
    std::lock_guard<std::mutex> lock(mutex);
    // A node of a device that has left the bus, or is leaving it, serves nothing more.
    offBus = handler != current || peer->unplugged();
    switch (umockdev_ioctl_client_get_request(client)) {
    case USBDEVFS_SUBMITURB:
        submit(client);
        return;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
        reap(client);
        return;
    case USBDEVFS_DISCARDURB:
        discard(client);
        return;
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
        UMockdevIoctlData* mask =
            umockdev_ioctl_data_resolve(argument, 0, sizeof capabilities, nullptr);
        if (mask == nullptr) {
            complete(client, EFAULT);
            return;
        }
        memcpy(mask->data, &capabilities, sizeof capabilities);
        complete(client, 0);
        return;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
        claim(client, umockdev_ioctl_client_get_request(client) == USBDEVFS_CLAIMINTERFACE);
        return;
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESET:
        complete(client, 0);
        return;
    default:
        complete(client, ENOTTY);
        return;
    }
}

// The one interface, 0; the kernel refuses a second claimant and a release without a claim.
void UsbEmulator::claim(UMockdevIoctlClient* client, bool claiming) {
    UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
    UMockdevIoctlData* number = umockdev_ioctl_data_resolve(argument, 0, sizeof(unsigned), nullptr);
    unsigned interface = 0;
    if (number == nullptr) {
        complete(client, EFAULT);
        return;
    }
    memcpy(&interface, number->data, sizeof interface);
    const auto holder = std::find(claimants.begin(), claimants.end(), client);
    const bool held = holder != claimants.end();
    if (offBus) {
        complete(client, ENODEV);
    } else if (interface != 0) {
        complete(client, ENOENT);
    } else if (claiming) {
        if (!held) {
            claimants.push_back(client);
        }
        ++claims;
        complete(client, 0);
    } else if (held) {
        claimants.erase(holder);
        ++releases;
        complete(client, 0);
    } else {
        complete(client, EINVAL);
    }
}

void UsbEmulator::complete(UMockdevIoctlClient* client, int errorNumber) {
    if (errorNumber == 0 && offBus) {
        errorNumber = ENODEV;
    }
    umockdev_ioctl_client_complete(client, errorNumber == 0 ? 0 : -1, errorNumber);
}

void UsbEmulator::drop(Urb& urb) {
    g_object_unref(urb.urb);
    g_object_unref(urb.client);
}

void UsbEmulator::submit(UMockdevIoctlClient* client) {
    if (offBus) {
        complete(client, ENODEV);
        return;
    }
    UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
    UMockdevIoctlData* urb =
        umockdev_ioctl_data_resolve(argument, 0, sizeof(usbdevfs_urb), nullptr);
    if (urb == nullptr) {
        complete(client, EFAULT);
        return;
    }
    const usbdevfs_urb& fields = fieldsOf(urb);
    const bool in = fields.endpoint == endpointIn;
    if (fields.type != USBDEVFS_URB_TYPE_BULK || (!in && fields.endpoint != endpointOut) ||
        fields.buffer_length < 0) {
        complete(client, EINVAL);
        return;
    }
    UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
        urb, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(fields.buffer_length), nullptr);
    if (buffer == nullptr) {
        complete(client, EFAULT);
        return;
    }
    if (std::find(claimants.begin(), claimants.end(), client) == claimants.end()) {
        ++unclaimedTransfers;
    }
    // Held, so that no later client can be given this client's address while it has URBs.
    g_object_ref(client);
    g_object_ref(urb);
    urbs.push_back({client, urb, buffer, in, false});
    ++(in ? inTransfers : outTransfers);
    if (in) {
        peer->inTransferStarted();
    } else {
        peer->received(Bytes(buffer->data, buffer->data + fields.buffer_length));
        // The bytes are in, even if that packet unplugs the device.
        fieldsOf(urb).status = 0;
        fieldsOf(urb).actual_length = fields.buffer_length;
        urbs.back().finished = true;
    }
    umockdev_ioctl_client_complete(client, 0, 0);
}

// Gives an IN URB the device's answer if it has one; true when the URB can be reaped.
bool UsbEmulator::settle(Urb& urb) {
    if (urb.finished) {
        return true;
    }
    usbdevfs_urb& fields = fieldsOf(urb.urb);
    if (offBus) {
        fields.status = -ESHUTDOWN;
        fields.actual_length = 0;
        return urb.finished = true;
    }
    std::optional<Bytes> answer = peer->nextAnswer(static_cast<size_t>(fields.buffer_length));
    if (!answer) {
        return false;
    }
    memcpy(urb.buffer->data, answer->data(), answer->size());
    fields.status = 0;
    fields.actual_length = static_cast<int>(answer->size());
    return urb.finished = true;
}

void UsbEmulator::reap(UMockdevIoctlClient* client) {
    for (auto urb = urbs.begin(); urb != urbs.end(); ++urb) {
        if (urb->client != client || !settle(*urb)) {
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
        urbs.erase(urb);
        return;
    }
    umockdev_ioctl_client_complete(client, -1, offBus ? ENODEV : EAGAIN);
}

// libusb discards a URB when its transfer times out, then reaps it as cancelled.
void UsbEmulator::discard(UMockdevIoctlClient* client) {
    const unsigned long address = rawArgument(client);
    for (Urb& urb : urbs) {
        if (urb.client != client || urb.urb->client_addr != address || urb.finished) {
            continue;
        }
        fieldsOf(urb.urb).status = -ENOENT;
        fieldsOf(urb.urb).actual_length = 0;
        urb.finished = true;
        if (urb.in) {
            peer->inTransferAbandoned();
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    umockdev_ioctl_client_complete(client, -1, offBus ? ENODEV : EINVAL);
}
