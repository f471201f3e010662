#pragma once

#include "BusLayout.h"
#include "Faults.h"
#include "ProjectorPlan.h"
#include "StreamingCalculator.h"

#include <optional>
#include <string>
#include <vector>

struct Options {
    std::string storage;                     // empty: a fresh temporary directory
    std::string mainMemory;                  // empty: STORAGE/@MainMem
    std::vector<std::string> mainMemoryFrom; // .g1m files the main memory starts with
    std::optional<long long> mainMemoryCapacity;
    bool noStorageMemory = false;      // a model without storage memory (fx-9750GII family)
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
    std::optional<int> calculators;    // link calculators behind hubs; none: the lone one of old
    int drives = 0;                    // drive calculators behind the same hubs
    bool wholeDisk = false;            // a drive's file system covers its whole disk
    std::optional<std::string> serial; // the serial string; empty: none at all
    bool heldElsewhere = false;        // another program holds the calculator all along
    bool monochrome = false;           // a drive of the newest monochrome kind (07cf:6103)
    // A drive and the disk service: mounted from the start, mounted read-only, the service
    // not authorized to mount it, nor to unmount it or power it off.
    bool mounted = false;
    bool readOnly = false;
    bool refuseMount = false;
    bool refuseEject = false;
    long long knownLateMs = 0;  // the disk service learns of a drive this long after it appears
    bool noDiskService = false; // a system bus without the disk service
    bool noSystemBus = false;   // no system bus at all

    // An option given after `--at ADDRESS`: for that calculator alone.
    struct Scoped {
        std::string address;
        std::string option;
        std::string value; // empty for an option without a value
    };
    std::vector<Scoped> scoped;
};

struct ParsedOptions {
    enum Outcome { Run, Help, Invalid } outcome = Run;
    Options options;
    std::string error;
};

ParsedOptions parseOptions(int argc, char** argv);
// Where the calculators the options ask for sit on the bus.
BusLayout layoutOf(const Options& options);
// The options of the calculator at `address`: those for all, then its own on top.
Options forCalculator(const Options& options, const std::string& address);
void printUsage();
