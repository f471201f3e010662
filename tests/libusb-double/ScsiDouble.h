#pragma once

#include <utility>
#include <vector>

// A scripted stand-in for the SCSI generic interface: each command gets the next scripted answer
// (once they run out, `idle`), on the libusb double's clock; every command is recorded.
namespace ScsiDouble {

using Bytes = std::vector<unsigned char>;

struct Answer {
    Answer(Bytes data = {}, int status = 0, Bytes sense = {}, int error = 0, int hostStatus = 0,
           int driverStatus = 0, long long takesMs = 0)
        : data(std::move(data)), sense(std::move(sense)), status(status), error(error),
          hostStatus(hostStatus), driverStatus(driverStatus), takesMs(takesMs) {}

    Bytes data, sense;                           // what comes in, cut to the room; the sense data
    int status, error, hostStatus, driverStatus; // error: errno of the call
    long long takesMs;
};

struct Sent {
    Bytes block, dataOut;
    int room; // for data in
    long long atMs;
};

// `openError`: open fails with it; 0: it opens.
void reset(Answer idle = {}, int openError = 0);
void script(const std::vector<Answer>& answers);
const std::vector<Sent>& sent();
// A poll's answer offering `available` bytes, with that activity status.
Bytes offer(int available, int activity = 0);

} // namespace ScsiDouble
