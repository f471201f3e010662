#pragma once

#include "AnswerQueue.h"
#include "CalculatorTurn.h"
#include "MainMemoryCommands.h"

#include <chrono>
#include <string>

// How a virtual calculator behaves: its model, its memories, and the ways it is slow or
// limited on purpose.
struct CalculatorSettings {
    // Room on each storage device unless told otherwise: above the largest file the
    // protocol can carry (65535 parts of 256 bytes), so that it bounds no single upload.
    static constexpr long long defaultCapacity = 16LL * 1024 * 1024;

    long long capacity = defaultCapacity; // bytes per storage device
    bool longInfo = false;                // the 188-byte information block
    bool listFolders = false;             // listings also show each folder, nameless
    std::chrono::milliseconds optimizeDelay{0};
    CalculatorTurn::FileFlaws fileFlaws; // for the first file sent
    AnswerQueue::Turnarounds turnarounds;
    bool cannotPipeline = false;    // a link that breaks on a part sent before an answer is read
    bool keepsPartialFiles = false; // an upload cut short leaves the parts taken as the file
    std::string mainMemory;         // the items' directory; empty: STORAGE/@MainMem
    long long mainMemoryCapacity = MainMemoryCommands::defaultCapacity;
    bool noStorageMemory = false; // a model whose only memory is main memory
    AnswerQueue::Now now = AnswerQueue::Clock::now;
};
