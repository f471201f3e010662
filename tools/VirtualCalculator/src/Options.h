#pragma once

#include "Faults.h"
#include "ProjectorPlan.h"
#include "StreamingCalculator.h"

#include <optional>
#include <string>
#include <vector>

struct Options {
    std::string storage;               // empty: a fresh temporary directory
    std::optional<long long> capacity; // bytes per storage device; none: unlimited
    std::string report;                // empty: standard error
    std::string stream;                // non-empty: play a talking calculator
    std::optional<size_t> chunk;       // bytes per IN transfer at most; none: the default
    std::vector<StreamStep> streamPlan;
    long long plugAfterMs = 0;
    bool noDevice = false;
    bool countTransfers = false;
    bool longInfo = false;
    bool listFolders = false;
    long long optimizeDelayMs = 0;
    long long idleTurnaroundMs = 0;
    long long busyTurnaroundMs = 0;
    bool cannotPipeline = false;
    bool keepPartial = false;
    bool extraPart = false;
    std::optional<long long> announcedSize;
    std::vector<Fault> faults;
    bool projector = false; // play a calculator in its projector mode
    ProjectorPlan projectorPlan;
    bool projectorOptionsGiven = false;
    std::vector<std::string> command;
};

struct ParsedOptions {
    enum Outcome { Run, Help, Invalid } outcome = Run;
    Options options;
    std::string error;
};

ParsedOptions parseOptions(int argc, char** argv);
void printUsage();
