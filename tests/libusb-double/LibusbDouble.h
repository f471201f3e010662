#pragma once

// A scripted stand-in for the few libusb-1.0 functions the library calls, and for the clock
// the library measures waiting with. Test executables link it instead of libusb-1.0; each
// test scripts the bus, the open result and every bulk transfer, and afterwards reads back
// what crossed the wire. Time is virtual: it passes only when a transfer takes time (a
// timeout costs the full timeout, a step may say how long it takes) or a test advances it.
// Everything here belongs to the calling thread: each thread scripts a bus of its own.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace LibusbDouble {

using Bytes = std::vector<uint8_t>;

constexpr int moveAll = -1;

struct OutStep {
    int bytesMoved = moveAll; // how many of the offered bytes the device takes
    int result = 0;
    int delayMs = 0; // besides the full timeout that a timed-out transfer costs
};

struct InStep {
    Bytes bytes;
    int result = 0;
    int delayMs = 0;
};

struct Transfer {
    unsigned char endpoint;
    int offered;
    Bytes moved;
    int result;
    unsigned int timeout;
};

// A device, where it sits on the bus, and what the kernel shows of it in sysfs.
struct PlacedDevice {
    uint16_t idProduct = 0;
    std::vector<uint8_t> ports = {}; // from the root hub down; none for a root hub
    std::optional<std::string> serial = std::nullopt;
    // Another program holds interface 0: sysfs shows usbfs bound to it, and a claim fails
    // with LIBUSB_ERROR_BUSY.
    bool busy = false;
    uint8_t bus = 1;
    uint16_t idVendor = 0x07CF;
    std::optional<std::string> product = std::nullopt;
};

// Called after every OUT transfer with the bytes that moved; typically queues answers.
using Responder = std::function<void(const Bytes& sent)>;

void reset();
// Forgets the recorded transfers, keeping the bus and its open handles.
void clearTransfers();
// Forgets the transfer steps still scripted, and the responder.
void clearScript();

void setInitResult(int result);
void setDeviceListResult(int negativeError);
void addDevice(uint16_t idVendor, uint16_t idProduct, int descriptorResult = 0);
// A device at a place of its own; addDevice puts device K at port K+1 of bus 1.
void addDeviceAt(PlacedDevice device);
// The index of the device that sysfs names `address` ("1-4.2"), or -1.
int deviceNamed(const std::string& address);
const PlacedDevice& placedDevice(int device);
void setOpenResult(int result);
void setClaimResult(int result);
void setKernelDriverActive(bool active);

// Unscripted OUT transfers take every byte; unscripted IN transfers time out empty.
void queueOut(OutStep step);
void queueIn(InStep step);
void setResponder(Responder responder);
// Called with true as each bulk transfer enters the double and with false as it leaves (null:
// nothing), so that a test can tell the library's work from the double's, which stands for the
// USB stack and allocates.
using TransferHook = void (*)(bool entering);
void setTransferHook(TransferHook hook);

// Virtual milliseconds since the last reset.
long long now();
void advanceClock(long long milliseconds);

const std::vector<Transfer>& transfers();
Bytes bytesSent(); // every OUT byte that moved, in order
int inTransferCount();
int outTransferCount();

int initCount();
int exitCount();
int freeListCount();
int openedDevice(); // index of the last device opened, -1 if none
int openCount();
int closeCount();
int openHandleCount(); // handles opened and not yet closed
int claimCount();      // successful claims of interface 0
int releaseCount();
int detachCount();
int closedWhileClaimed();         // handles closed with their interface still claimed
int deviceReferences(int device); // references beyond the bus's own
// A freed device or closed handle was used, or a transfer went through an unclaimed interface.
bool misuseSeen();

} // namespace LibusbDouble
