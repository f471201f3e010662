#pragma once

#include "AnswerQueue.h"
#include "CalculatorSettings.h"
#include "CalculatorTurn.h"
#include "CommandRouter.h"
#include "Faults.h"
#include "PacketReader.h"
#include "Report.h"
#include "Storage.h"
#include "Upload.h"
#include "UsbPeer.h"

#include <chrono>
#include <optional>
#include <string>

// The calculator's side of the link protocol, strict about everything the host sends: the
// session and its packets. Once the host has opened the link (05 00) it takes commands one
// after the other until the terminate, handing the commands to its CommandRouter and the data
// parts of an accepted upload to its Upload.
// For the commands that answer with packets of their own it becomes the active side after the
// host's role swap, and then accepts only acknowledgements, requests to send again, and the
// terminate. Each rule the host breaks is reported as a violation; faults make it misbehave on
// purpose. Answers wait in an AnswerQueue until the host reads them, as slowly as the
// turnarounds say.
class Calculator : public UsbPeer {
public:
    using Settings = CalculatorSettings;

    Calculator(const Storage& storage, Report& report, Settings settings, FaultPlan faults);

    void deviceOpened() override;
    void received(const Bytes& bytes) override;
    void inTransferStarted() override;
    std::optional<Bytes> nextAnswer(size_t maxLength) override;
    void inTransferAbandoned() override;
    bool unplugged() const override { return gone; }
    void hostGone() override;

private:
    enum class Phase { Idle, Connected, Terminated };

    // The packet handled last, so that a copy the host sends again after a lost or
    // spoiled answer gets that answer again instead of being taken twice.
    struct LastPacket {
        Bytes raw;
        bool processed = false;
        std::optional<Bytes> answer; // what the calculator itself answered
        bool answerSpoiled = false;  // the host never got that answer intact
        AnswerQueue::Subject subject = AnswerQueue::Subject::Other;
    };

    void endSession();
    void onFrame(const Frame& frame);
    bool isCopyOfLast(const Bytes& raw) const;
    bool answerUnread() const;
    bool partsMayComeAhead() const;
    bool isPipelinedPart(const Frame& frame) const;
    void takePipelined(const Frame& frame);
    void handle(const Packet& packet, const Bytes& raw);
    std::optional<Bytes> process(const Packet& packet);
    std::optional<Bytes> hostActive(const Packet& packet);
    std::optional<Bytes> duringTurn(const Packet& packet);

    std::optional<Bytes> check(const Packet& packet);
    std::optional<Bytes> resendLast();
    std::optional<Bytes> roleSwap();
    std::optional<Bytes> terminate(const Packet& packet);
    std::optional<Bytes> overwriteAnswer(const Packet& packet);

    std::optional<Bytes> command(const Packet& packet);
    // The command's answer; what else it leads to is taken on.
    Bytes follow(CommandOutcome outcome);

    std::optional<Bytes> filePart(const Packet& packet);
    void abandonUpload(const std::string& how);

    // The turn's packet now due, as it goes out (faults included); the role swap after
    // the last, which also ends the turn.
    Bytes sendCurrent();

    // Reports the violation; the host gets a plain refusal.
    Bytes refuse(const std::string& violation);
    void owe(Bytes answer, AnswerQueue::Subject subject, bool genuine);

    Report& report;
    Settings settings;
    FaultPlan faults;
    CommandRouter commands;

    // One session per opening of the device: a script may run several programs in turn.
    bool sessionStarted = false;
    PacketReader reader;
    Phase phase = Phase::Idle;
    std::optional<Upload> upload;
    std::optional<CalculatorTurn> turn; // accepted, or under way once started
    struct Flaw {
        std::string what;    // how the turn's current packet went out wrong; empty: it did not
        bool damage = false; // a wrong checksum, which the host must notice
    } flaw;
    std::string lastStored;
    LastPacket last;
    std::optional<Bytes> lastSentIntact; // for a host that asks for it again (15 01)
    std::optional<Bytes> flawedSend;     // the current packet as it goes out, when spoiled

    AnswerQueue answers;                  // what the host has yet to read
    AnswerQueue::Clock::duration work{0}; // beyond the turnaround, for the answer now made
    unsigned long partsTaken = 0;
    bool hostGaveUp = false;  // an IN transfer timed out while an answer was owed
    long silentTransfers = 0; // IN transfers still to leave unanswered; -1: all of them
    bool gone = false;
};
