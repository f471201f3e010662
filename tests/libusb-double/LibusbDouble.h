#pragma once

// A scripted stand-in for the few libusb-1.0 functions the library calls. Test
// executables link it instead of libusb-1.0; each test scripts the bus, the open
// result and every bulk transfer, and afterwards reads back what crossed the wire.

#include <cstdint>
#include <functional>
#include <vector>

namespace LibusbDouble {

using Bytes = std::vector<uint8_t>;

constexpr int moveAll = -1;

struct OutStep {
    int bytesMoved = moveAll; // how many of the offered bytes the device takes
    int result = 0;
};

struct InStep {
    Bytes bytes;
    int result = 0;
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
