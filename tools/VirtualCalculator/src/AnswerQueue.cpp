#include "AnswerQueue.h"

#include <algorithm>

AnswerQueue::AnswerQueue(Turnarounds turnarounds, Now now)
    : turnarounds(turnarounds), now(std::move(now)) {}

void AnswerQueue::push(Bytes answer, Subject subject, bool genuine, Clock::duration work) {
    const Clock::time_point arrival = now();
    const bool waiting = !answers.empty();
    Answer queued{std::move(answer),
                  subject,
                  genuine,
                  arrival,
                  (waiting ? turnarounds.busy : turnarounds.idle) + work,
                  {}};
    // A packet that has to wait is started on only once the answer before it is read:
    // next() sets its time then.
    queued.ready = arrival + queued.delay;
    answers.push_back(std::move(queued));
}

bool AnswerQueue::onlyParts() const {
    return std::all_of(answers.begin(), answers.end(),
                       [](const Answer& answer) { return answer.subject != Subject::Other; });
}

bool AnswerQueue::holdsUntakenPart() const {
    return std::any_of(answers.begin(), answers.end(),
                       [](const Answer& answer) { return answer.subject == Subject::UntakenPart; });
}

std::optional<AnswerQueue::Piece> AnswerQueue::next(size_t maxLength) {
    if (answers.empty()) {
        return std::nullopt;
    }
    const Clock::time_point time = now();
    Answer& oldest = answers.front();
    if (time < oldest.ready) {
        return std::nullopt;
    }
    const auto length = static_cast<long>(std::min(maxLength, oldest.bytes.size()));
    Piece piece{Bytes(oldest.bytes.begin(), oldest.bytes.begin() + length), false, oldest.genuine};
    oldest.bytes.erase(oldest.bytes.begin(), oldest.bytes.begin() + length);
    if (oldest.bytes.empty()) {
        piece.endsAnswer = true;
        answers.pop_front();
        if (!answers.empty()) {
            Answer& following = answers.front();
            following.ready = std::max(following.arrival, time) + following.delay;
        }
    }
    return piece;
}
