#pragma once

#include "ScreenWire.h"

#include <map>
#include <optional>
#include <set>
#include <string>

// What a calculator in its projector mode is to send, and what it does wrong on purpose.
// Frames are numbered from 1 in the order they start, spoiled ones included.
struct ProjectorPlan {
    screenwire::Kind kind = screenwire::Kind::Typz1;
    screenwire::Format format = screenwire::Format::Rc2;
    std::string picture; // a PNG file; empty: the test pattern of the kind
    double framesPerSecond = 10;
    std::optional<unsigned long> frames;         // how many before it falls silent; none: no end
    bool check = false;                          // repeat the check until the host answers it
    std::map<unsigned long, size_t> strayBefore; // frame number: stray bytes sent before it
    std::set<unsigned long> damaged;             // frames sent with a wrong checksum
    std::map<unsigned long, size_t> cut;         // frame number: the bytes of it that go out
    unsigned long unplugAfter = 0;               // leave the bus after this many frames; 0: never
    // Frames fall due on the calculator's own clock, as a drive's screen mode draws them: one
    // whose time passed while the host had not taken the one before is lost. Otherwise a frame
    // is due a frame time after the one before began.
    bool ownClock = false;
};

// Options that set a projector plan and take a value.
bool isProjectorOption(const std::string& option);
// Applies one of them; false when the value is not acceptable.
bool applyProjectorOption(ProjectorPlan& plan, const std::string& option, const std::string& value);

// How many stray bytes go out before a frame when the option does not say.
constexpr size_t defaultStrayBytes = 16;
// The bytes of a cut frame that go out when the option does not say: 0 stands for half.
constexpr size_t cutKeepsHalf = 0;
