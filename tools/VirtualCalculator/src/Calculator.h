#pragma once

#include "Faults.h"
#include "PacketReader.h"
#include "Report.h"
#include "Storage.h"
#include "UsbPeer.h"

#include <optional>
#include <string>

// The calculator's side of the link protocol, strict about everything the host sends: it
// acknowledges connect requests, judges file requests against its storage, takes the parts
// in order, stores a file once its last part has arrived, and reports each rule the host
// breaks as a violation. Faults make it misbehave on purpose at chosen packets.
class Calculator : public UsbPeer {
public:
    Calculator(const Storage& storage, Report& report, std::optional<long long> capacity,
               FaultPlan faults);

    void deviceOpened() override;
    void received(const Bytes& bytes) override;
    void inTransferStarted() override;
    std::optional<Bytes> nextAnswer(size_t maxLength) override;
    void inTransferAbandoned() override;
    bool unplugged() const override { return gone; }
    void hostGone() override;

private:
    enum class Phase { Idle, Connected, Disconnected };

    struct Upload {
        std::string device;
        std::string folder;
        std::string file;
        std::string path;
        unsigned mode = 0;
        unsigned long size = 0;
        unsigned long partCount = 0;
        unsigned long nextPart = 1;
        Bytes data;
    };

    // The packet handled last, so that a copy the host sends again after a lost or
    // spoiled answer gets that answer again instead of being taken twice.
    struct LastPacket {
        Bytes raw;
        bool processed = false;
        std::optional<Bytes> answer; // what the calculator itself answered
        bool answerSpoiled = false;  // the host never got that answer intact
    };

    void endSession();
    void onFrame(const Frame& frame);
    bool isCopyOfLast(const Bytes& raw) const;
    void handle(const Packet& packet, const Bytes& raw);
    std::optional<Bytes> process(const Packet& packet);
    std::optional<Bytes> connect(const Packet& packet);
    std::optional<Bytes> fileRequest(const Packet& packet);
    std::optional<Upload> parseRequest(const Bytes& data, std::string& problem) const;
    Bytes judge(Upload offered);
    std::optional<Bytes> filePart(const Packet& packet);
    std::string checkPart(const Bytes& data) const;
    void storeUpload();
    std::optional<Bytes> disconnect(const Packet& packet);

    // Reports the violation; the host gets a plain refusal.
    Bytes refuse(const std::string& violation);
    void owe(Bytes answer, bool genuine);

    const Storage& storage;
    Report& report;
    std::optional<long long> capacity;
    FaultPlan faults;

    // One session per opening of the device: a script may run several programs in turn.
    bool sessionStarted = false;
    PacketReader reader;
    Phase phase = Phase::Idle;
    std::optional<Upload> upload;
    std::string lastStored;
    LastPacket last;

    std::optional<Bytes> owed; // answer bytes the host has yet to read
    bool owedGenuine = false;
    bool hostGaveUp = false;  // an IN transfer timed out while an answer was owed
    long silentTransfers = 0; // IN transfers still to leave unanswered; -1: all of them
    bool gone = false;
};
