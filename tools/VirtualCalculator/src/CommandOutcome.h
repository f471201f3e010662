#pragma once

#include "CalculatorTurn.h"
#include "Upload.h"
#include "Wire.h"

#include <chrono>
#include <optional>

// What a command the calculator took leads to, besides its answer: packets of its own to send
// once the host hands it the role, or data parts due from the host.
struct CommandOutcome {
    Bytes answer;
    std::optional<CalculatorTurn> turn;
    std::optional<Upload> upload;
    std::chrono::milliseconds work{0}; // beyond the turnaround, before the answer is ready
};

inline CommandOutcome answered(Bytes answer, std::optional<CalculatorTurn> turn = std::nullopt) {
    CommandOutcome outcome;
    outcome.answer = std::move(answer);
    outcome.turn = std::move(turn);
    return outcome;
}
