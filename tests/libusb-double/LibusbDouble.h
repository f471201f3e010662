#pragma once

// A scripted stand-in for the few libusb-1.0 functions the library calls, and for the clock
// the library measures waiting with. Test executables link it instead of libusb-1.0; each
// test scripts the bus, the open result and every bulk transfer, and afterwards reads back
// what crossed the wire. Time is virtual: it passes only when a transfer takes time (a
// timeout costs the full timeout, a step may say how long it takes) or a test advances it.
// Everything here belongs to the calling thread: each thread scripts a bus of its own.

#include <cstdint>
#include <functional>
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
void setOpenResult(int result);
void setClaimResult(int result);
void setKernelDriverActive(bool active);

// Unscripted OUT transfers take every byte; unscripted IN transfers time out empty.
void queueOut(OutStep step);
void queueIn(InStep step);
void setResponder(Responder responder);

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
