#pragma once

#include "Report.h"
#include "UsbPeer.h"

// A calculator that only talks, as when an add-in prints: from the moment the device is
// opened, the bytes of a file go out on the IN endpoint in transfers of at most `chunk`
// bytes each; then it falls silent. The host is expected to send nothing.
class StreamingCalculator : public UsbPeer {
public:
    StreamingCalculator(Bytes stream, size_t chunk, Report& report);

    // The stream goes out once, whoever opens the device.
    void deviceOpened() override {}
    void received(const Bytes& bytes) override;
    void inTransferStarted() override {}
    std::optional<Bytes> nextAnswer(size_t maxLength) override;
    void inTransferAbandoned() override {}
    bool unplugged() const override { return false; }
    void hostGone() override;

private:
    Bytes stream;
    size_t chunk;
    size_t sent = 0;
    Report& report;
};
