#pragma once

#include "Wire.h"

#include <chrono>
#include <deque>
#include <functional>
#include <optional>

// The answers the host has yet to read, oldest first, each handed out in IN transfers of
// its own and never before the calculator would have it ready. The calculator works
// through the packets one at a time: it starts on a packet when it arrives or, when the
// packet came while the answer before it was still unread (pipelined), once that answer
// has been read. Its answer is ready a turnaround later: the busy one when the packet was
// already waiting, the idle one otherwise.
class AnswerQueue {
public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    struct Turnarounds {
        Clock::duration idle{0};
        Clock::duration busy{0};
    };

    // What an answer answers: a file part the calculator took, one it did not take, or
    // any other packet.
    enum class Subject { TakenPart, UntakenPart, Other };

    struct Piece {
        Bytes bytes;
        bool endsAnswer = false; // the last bytes of an answer: it has been read
        bool genuine = false;    // of an answer not spoiled on purpose
    };

    AnswerQueue(Turnarounds turnarounds, Now now);

    // The answer to a packet that has just arrived; `work` is time it takes beyond the
    // turnaround (a slow optimize).
    void push(Bytes answer, Subject subject, bool genuine,
              Clock::duration work = Clock::duration::zero());
    void clear() { answers.clear(); }
    bool empty() const { return answers.empty(); }
    // Every unread answer is to a file part.
    bool onlyParts() const;
    bool holdsUntakenPart() const;

    // At most `maxLength` bytes of the oldest answer once it is ready; nothing before.
    std::optional<Piece> next(size_t maxLength);

private:
    struct Answer {
        Bytes bytes;
        Subject subject;
        bool genuine;
        Clock::time_point arrival;
        Clock::duration delay; // turnaround and work
        Clock::time_point ready;
    };

    Turnarounds turnarounds;
    Now now;
    std::deque<Answer> answers;
};
