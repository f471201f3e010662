#include "LibusbDouble.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <libusb.h>
#include <memory>

struct libusb_context {
    int unused;
};

struct libusb_device {
    int index;
    uint16_t idVendor;
    uint16_t idProduct;
    int descriptorResult;
    int references; // the bus holds one of them
    LibusbDouble::PlacedDevice place;
};

struct libusb_device_handle {
    libusb_device* device;
    bool closed;
    bool claimed;
};

namespace LibusbDouble {
namespace {

constexpr unsigned char directionIn = 0x80;

struct State {
    int initResult = 0;
    int deviceListResult = 0;
    int openResult = 0;
    int claimResult = 0;
    bool kernelDriverActive = false;
    std::deque<libusb_device> devices;
    std::vector<std::unique_ptr<libusb_device_handle>> handles;
    std::deque<OutStep> outSteps;
    std::deque<InStep> inSteps;
    Responder responder;
    TransferHook transferHook = [](bool) {};
    std::vector<Transfer> transfers;
    libusb_context context{};
    int initCount = 0;
    int exitCount = 0;
    int freeListCount = 0;
    int openedDevice = -1;
    int openCount = 0;
    int closeCount = 0;
    int claimCount = 0;
    int releaseCount = 0;
    int detachCount = 0;
    int closedWhileClaimed = 0;
    long long clockMs = 0;
    bool misuse = false;
};

// Each thread has a bus of its own, so that links can be driven from several threads at once.
State& state() {
    thread_local State instance;
    return instance;
}

void useDevice(libusb_device* device) {
    if (device == nullptr || device->references <= 0) {
        state().misuse = true;
    }
}

// A transfer takes its step's delay, and a timed-out one its whole timeout on top.
void spendTime(int result, int delayMs, unsigned int timeout) {
    state().clockMs += delayMs + (result == LIBUSB_ERROR_TIMEOUT ? timeout : 0);
}

int transferOut(unsigned char endpoint, unsigned char* data, int length, int* actualLength,
                unsigned int timeout) {
    OutStep step;
    if (!state().outSteps.empty()) {
        step = state().outSteps.front();
        state().outSteps.pop_front();
    }
    const int moved = step.bytesMoved == moveAll ? length : std::min(step.bytesMoved, length);
    *actualLength = moved;
    Bytes bytes(data, data + moved);
    state().transfers.push_back({endpoint, length, bytes, step.result, timeout});
    spendTime(step.result, step.delayMs, timeout);
    if (state().responder) {
        state().responder(bytes);
    }
    return step.result;
}

int transferIn(unsigned char endpoint, unsigned char* data, int length, int* actualLength,
               unsigned int timeout) {
    InStep step{{}, LIBUSB_ERROR_TIMEOUT, 0};
    if (!state().inSteps.empty()) {
        step = state().inSteps.front();
        state().inSteps.pop_front();
    }
    const int moved = std::min(static_cast<int>(step.bytes.size()), length);
    std::copy_n(step.bytes.begin(), moved, data);
    *actualLength = moved;
    state().transfers.push_back(
        {endpoint, length, Bytes(data, data + moved), step.result, timeout});
    spendTime(step.result, step.delayMs, timeout);
    return step.result;
}

} // namespace

void reset() {
    state() = State();
}

void clearTransfers() {
    state().transfers.clear();
}

void clearScript() {
    state().outSteps.clear();
    state().inSteps.clear();
    state().responder = nullptr;
}

void setInitResult(int result) {
    state().initResult = result;
}

void setDeviceListResult(int negativeError) {
    state().deviceListResult = negativeError;
}

void addDevice(uint16_t idVendor, uint16_t idProduct, int descriptorResult) {
    const int index = static_cast<int>(state().devices.size());
    PlacedDevice place{idProduct, {static_cast<uint8_t>(index + 1)}};
    place.idVendor = idVendor;
    state().devices.push_back({index, idVendor, idProduct, descriptorResult, 1, place});
}

void addDeviceAt(PlacedDevice device) {
    const int index = static_cast<int>(state().devices.size());
    state().devices.push_back({index, device.idVendor, device.idProduct, 0, 1, device});
}

int deviceNamed(const std::string& address) {
    for (const libusb_device& device : state().devices) {
        std::string name = std::to_string(device.place.bus);
        for (size_t i = 0; i < device.place.ports.size(); ++i) {
            name += (i == 0 ? "-" : ".") + std::to_string(device.place.ports[i]);
        }
        if (name == address) {
            return device.index;
        }
    }
    return -1;
}

const PlacedDevice& placedDevice(int device) {
    return state().devices.at(static_cast<size_t>(device)).place;
}

void setOpenResult(int result) {
    state().openResult = result;
}

void setClaimResult(int result) {
    state().claimResult = result;
}

void setKernelDriverActive(bool active) {
    state().kernelDriverActive = active;
}

void queueOut(OutStep step) {
    state().outSteps.push_back(step);
}

void queueIn(InStep step) {
    state().inSteps.push_back(std::move(step));
}

void setResponder(Responder responder) {
    state().responder = std::move(responder);
}

void setTransferHook(TransferHook hook) {
    state().transferHook = hook != nullptr ? hook : State().transferHook;
}

long long now() {
    return state().clockMs;
}

void advanceClock(long long milliseconds) {
    state().clockMs += milliseconds;
}

const std::vector<Transfer>& transfers() {
    return state().transfers;
}

Bytes bytesSent() {
    Bytes sent;
    for (const Transfer& transfer : state().transfers) {
        if ((transfer.endpoint & directionIn) == 0) {
            sent.insert(sent.end(), transfer.moved.begin(), transfer.moved.end());
        }
    }
    return sent;
}

int inTransferCount() {
    return static_cast<int>(std::count_if(
        state().transfers.begin(), state().transfers.end(),
        [](const Transfer& transfer) { return (transfer.endpoint & directionIn) != 0; }));
}

int outTransferCount() {
    return static_cast<int>(state().transfers.size()) - inTransferCount();
}

int initCount() {
    return state().initCount;
}
int exitCount() {
    return state().exitCount;
}
int freeListCount() {
    return state().freeListCount;
}
int openedDevice() {
    return state().openedDevice;
}
int openCount() {
    return state().openCount;
}
int closeCount() {
    return state().closeCount;
}

int openHandleCount() {
    return static_cast<int>(std::count_if(
        state().handles.begin(), state().handles.end(),
        [](const std::unique_ptr<libusb_device_handle>& handle) { return !handle->closed; }));
}

int claimCount() {
    return state().claimCount;
}
int releaseCount() {
    return state().releaseCount;
}
int detachCount() {
    return state().detachCount;
}
int closedWhileClaimed() {
    return state().closedWhileClaimed;
}

int deviceReferences(int device) {
    return state().devices.at(device).references - 1;
}

bool misuseSeen() {
    return state().misuse;
}

} // namespace LibusbDouble

using namespace LibusbDouble;

extern "C" {

int libusb_init(libusb_context** ctx) {
    ++state().initCount;
    if (state().initResult != 0) {
        return state().initResult;
    }
    *ctx = &state().context;
    return 0;
}

void libusb_exit(libusb_context* /*ctx*/) {
    ++state().exitCount;
}

ssize_t libusb_get_device_list(libusb_context* /*ctx*/, libusb_device*** list) {
    if (state().deviceListResult < 0) {
        return state().deviceListResult;
    }
    const size_t count = state().devices.size();
    libusb_device** devices = new libusb_device*[count + 1];
    for (size_t i = 0; i < count; ++i) {
        devices[i] = &state().devices[i];
        ++devices[i]->references;
    }
    devices[count] = nullptr;
    *list = devices;
    return static_cast<ssize_t>(count);
}

void libusb_free_device_list(libusb_device** list, int unref_devices) {
    ++state().freeListCount;
    if (list == nullptr) {
        return;
    }
    for (libusb_device** device = list; unref_devices && *device != nullptr; ++device) {
        libusb_unref_device(*device);
    }
    delete[] list;
}

libusb_device* libusb_ref_device(libusb_device* dev) {
    useDevice(dev);
    ++dev->references;
    return dev;
}

void libusb_unref_device(libusb_device* dev) {
    useDevice(dev);
    --dev->references;
}

int libusb_get_device_descriptor(libusb_device* dev, libusb_device_descriptor* desc) {
    useDevice(dev);
    if (dev->descriptorResult != 0) {
        return dev->descriptorResult;
    }
    std::memset(desc, 0, sizeof(*desc));
    desc->idVendor = dev->idVendor;
    desc->idProduct = dev->idProduct;
    return 0;
}

uint8_t libusb_get_bus_number(libusb_device* dev) {
    useDevice(dev);
    return dev->place.bus;
}

// Device K has the device number K+1.
uint8_t libusb_get_device_address(libusb_device* dev) {
    useDevice(dev);
    return static_cast<uint8_t>(dev->index + 1);
}

int libusb_get_port_numbers(libusb_device* dev, uint8_t* port_numbers, int port_numbers_len) {
    useDevice(dev);
    const int count = static_cast<int>(dev->place.ports.size());
    if (port_numbers_len <= 0 || count > port_numbers_len) {
        return port_numbers_len <= 0 ? LIBUSB_ERROR_INVALID_PARAM : LIBUSB_ERROR_OVERFLOW;
    }
    std::copy(dev->place.ports.begin(), dev->place.ports.end(), port_numbers);
    return count;
}

int libusb_open(libusb_device* dev, libusb_device_handle** dev_handle) {
    useDevice(dev);
    ++state().openCount;
    if (state().openResult != 0) {
        return state().openResult;
    }
    ++dev->references;
    state().handles.push_back(std::make_unique<libusb_device_handle>());
    state().handles.back()->device = dev;
    state().handles.back()->closed = false;
    state().handles.back()->claimed = false;
    state().openedDevice = dev->index;
    *dev_handle = state().handles.back().get();
    return 0;
}

void libusb_close(libusb_device_handle* dev_handle) {
    ++state().closeCount;
    if (dev_handle == nullptr || dev_handle->closed) {
        state().misuse = true;
        return;
    }
    dev_handle->closed = true;
    state().closedWhileClaimed += dev_handle->claimed ? 1 : 0;
    --dev_handle->device->references;
}

int libusb_kernel_driver_active(libusb_device_handle* /*dev_handle*/, int interface_number) {
    return interface_number == 0 && state().kernelDriverActive ? 1 : 0;
}

int libusb_detach_kernel_driver(libusb_device_handle* /*dev_handle*/, int interface_number) {
    if (interface_number != 0 || !state().kernelDriverActive) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    ++state().detachCount;
    state().kernelDriverActive = false;
    return 0;
}

int libusb_claim_interface(libusb_device_handle* dev_handle, int interface_number) {
    if (interface_number != 0) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    if (dev_handle->device->place.busy) {
        return LIBUSB_ERROR_BUSY;
    }
    // Linux refuses a claim while a kernel driver holds the interface.
    if (state().claimResult != 0 || state().kernelDriverActive) {
        return state().claimResult != 0 ? state().claimResult : LIBUSB_ERROR_BUSY;
    }
    ++state().claimCount;
    dev_handle->claimed = true;
    return 0;
}

int libusb_release_interface(libusb_device_handle* dev_handle, int interface_number) {
    if (interface_number != 0 || !dev_handle->claimed) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    ++state().releaseCount;
    dev_handle->claimed = false;
    return 0;
}

int libusb_bulk_transfer(libusb_device_handle* dev_handle, unsigned char endpoint,
                         unsigned char* data, int length, int* actual_length,
                         unsigned int timeout) {
    if (dev_handle == nullptr || dev_handle->closed) {
        state().misuse = true;
        return LIBUSB_ERROR_NO_DEVICE;
    }
    if (!dev_handle->claimed) {
        state().misuse = true;
    }
    state().transferHook(true);
    const int result = (endpoint & directionIn) != 0
                           ? transferIn(endpoint, data, length, actual_length, timeout)
                           : transferOut(endpoint, data, length, actual_length, timeout);
    state().transferHook(false);
    return result;
}

} // extern "C"
