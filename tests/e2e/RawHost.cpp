// A host that sends exactly the bytes it is told to, so that tests can put on the wire
// what no correct program would, and watch the device's side of each transfer.
//
// usage: RawHost STEP...
//   out:HEX      one bulk OUT transfer to endpoint 0x01
//   in:N         one bulk IN transfer from endpoint 0x82, offering N bytes
//   in-pending:N the same, but once the device holds the transfer, "in pending" is printed
//                first, so that a script can act on a host that is waiting
//   timeout:MS   timeout of the transfers that follow (default 2000)
//   find:S       close the device and libusb, then, as a host waiting for a calculator
//                does, make a fresh libusb context and look for the device again, every
//                100 ms for up to S seconds; as the first step, the device is not opened
//                before it
// One line per transfer on standard output: "out N" with the count sent, "in HEX" with the
// bytes received, or "out error NAME" / "in error NAME" with libusb's error name; "found"
// or "not found" for find.
// Exit status 0 when every step ran, 2 without a device, 3 for a bad step.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <libusb.h>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint16_t vendorId = 0x07CF;
constexpr uint16_t productId = 0x6101;
constexpr unsigned char endpointOut = 0x01;
constexpr unsigned char endpointIn = 0x82;

bool parseHex(const std::string& text, std::vector<unsigned char>& bytes) {
    if (text.size() % 2 != 0 ||
        text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return false;
    }
    for (size_t i = 0; i < text.size(); i += 2) {
        bytes.push_back(static_cast<unsigned char>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return true;
}

void transferOut(libusb_device_handle* handle, std::vector<unsigned char>& bytes,
                 unsigned timeout) {
    int sent = 0;
    const int result = libusb_bulk_transfer(handle, endpointOut, bytes.data(),
                                            static_cast<int>(bytes.size()), &sent, timeout);
    if (result != 0) {
        printf("out error %s\n", libusb_error_name(result));
    } else {
        printf("out %d\n", sent);
    }
}

void printIn(int result, const std::vector<unsigned char>& bytes, int received) {
    if (result != 0) {
        printf("in error %s\n", libusb_error_name(result));
        return;
    }
    printf("in ");
    for (int i = 0; i < received; ++i) {
        printf("%02X", bytes[static_cast<size_t>(i)]);
    }
    printf("\n");
}

void transferIn(libusb_device_handle* handle, int capacity, unsigned timeout) {
    std::vector<unsigned char> bytes(static_cast<size_t>(capacity));
    int received = 0;
    const int result =
        libusb_bulk_transfer(handle, endpointIn, bytes.data(), capacity, &received, timeout);
    printIn(result, bytes, received);
}

void LIBUSB_CALL markCompleted(libusb_transfer* transfer) {
    *static_cast<int*>(transfer->user_data) = 1;
}

int resultOf(const libusb_transfer& transfer) {
    switch (transfer.status) {
    case LIBUSB_TRANSFER_COMPLETED:
        return 0;
    case LIBUSB_TRANSFER_TIMED_OUT:
        return LIBUSB_ERROR_TIMEOUT;
    case LIBUSB_TRANSFER_NO_DEVICE:
        return LIBUSB_ERROR_NO_DEVICE;
    default:
        return LIBUSB_ERROR_IO;
    }
}

// Submitting returns once the device has the transfer; only then is it announced.
void transferInAnnounced(libusb_context* context, libusb_device_handle* handle, int capacity,
                         unsigned timeout) {
    std::vector<unsigned char> bytes(static_cast<size_t>(capacity));
    libusb_transfer* transfer = libusb_alloc_transfer(0);
    int completed = 0;
    libusb_fill_bulk_transfer(transfer, handle, endpointIn, bytes.data(), capacity, markCompleted,
                              &completed, timeout);
    int result = libusb_submit_transfer(transfer);
    if (result == 0) {
        printf("in pending\n");
        fflush(stdout);
        while (completed == 0) {
            libusb_handle_events_completed(context, &completed);
        }
        result = resultOf(*transfer);
    }
    printIn(result, bytes, transfer->actual_length);
    libusb_free_transfer(transfer);
}

struct Device {
    libusb_context* context = nullptr;
    libusb_device_handle* handle = nullptr;
};

void close(Device& device) {
    if (device.handle != nullptr) {
        libusb_release_interface(device.handle, 0);
        libusb_close(device.handle);
        device.handle = nullptr;
    }
    if (device.context != nullptr) {
        libusb_exit(device.context);
        device.context = nullptr;
    }
}

// A fresh context each time, so that devices plugged in since are enumerated.
bool open(Device& device) {
    if (libusb_init(&device.context) != 0) {
        device.context = nullptr;
        return false;
    }
    device.handle = libusb_open_device_with_vid_pid(device.context, vendorId, productId);
    if (device.handle == nullptr || libusb_claim_interface(device.handle, 0) != 0) {
        close(device);
        return false;
    }
    return true;
}

bool find(Device& device, double seconds) {
    close(device);
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    while (!open(device)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

// False for a step that is not understood.
bool runStep(Device& device, const std::string& step, unsigned& timeout) {
    libusb_device_handle* handle = device.handle;
    const size_t colon = step.find(':');
    const std::string verb = step.substr(0, colon);
    const std::string value = colon == std::string::npos ? "" : step.substr(colon + 1);
    const bool transfer =
        verb == "out" || ((verb == "in" || verb == "in-pending") && !value.empty());
    if (verb == "find" && !value.empty()) {
        printf(find(device, atof(value.c_str())) ? "found\n" : "not found\n");
    } else if (verb == "timeout" && !value.empty()) {
        timeout = static_cast<unsigned>(atoi(value.c_str()));
    } else if (transfer && handle == nullptr) {
        printf("no device open\n");
    } else if (verb == "out") {
        std::vector<unsigned char> bytes;
        if (!parseHex(value, bytes)) {
            return false;
        }
        transferOut(handle, bytes, timeout);
    } else if (verb == "in-pending") {
        transferInAnnounced(device.context, handle, atoi(value.c_str()), timeout);
    } else if (transfer) {
        transferIn(handle, atoi(value.c_str()), timeout);
    } else {
        return false;
    }
    fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Device device;
    const bool findFirst = argc > 1 && std::string(argv[1]).rfind("find:", 0) == 0;
    if (!findFirst && !open(device)) {
        printf("no device\n");
        return 2;
    }
    unsigned timeout = 2000;
    int status = 0;
    for (int i = 1; i < argc && status == 0; ++i) {
        if (!runStep(device, argv[i], timeout)) {
            fprintf(stderr, "RawHost: bad step %s\n", argv[i]);
            status = 3;
        }
    }
    close(device);
    return status;
}
