#pragma once

#include <utility>
#include <vector>

// A scripted stand-in for the SCSI generic interface: the device answers each command with the
// next scripted answer (once they run out, with `idle`), on the double's clock.
namespace ScsiDouble {

using Bytes = std::vector<unsigned char>;

struct Answer {
    Answer(Bytes data = {}, int status = 0, Bytes sense = {}, int error = 0, int hostStatus = 0,
           int driverStatus = 0, long long takesMs = 0)
        : data(std::move(data)), status(status), sense(std::move(sense)), error(error),
          hostStatus(hostStatus), driverStatus(driverStatus), takesMs(takesMs) {}

    Bytes data; // what comes in (cut to the room); nothing for a command out
    int status;
    Bytes sense;
    int error; // errno of the call
    int hostStatus;
    int driverStatus;
    long long takesMs;
};

struct Sent {
    Bytes block;
    Bytes dataOut;
    int room = 0; // for data in
    long long atMs = 0;
};

void reset(Answer idle = {});
void script(const std::vector<Answer>& answers);
void refuseOpen(int error); // open fails with `error` (0: it opens)
const std::vector<Sent>& sent();
// The poll's answer offering `available` bytes, with that activity status.
Bytes offer(int available, int activity = 0);

} // namespace ScsiDouble
