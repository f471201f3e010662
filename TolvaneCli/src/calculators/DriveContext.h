#pragma once

#include "CalcFinder.h"
#include "CommandLine.h"
#include "DriveFiles.h"
#include "DriveMount.h"

#include <optional>

// What a command is given on a calculator that connects as a USB drive: its command line, the
// calculator, and its files, the file system mounted when they are first asked for. The
// dispatcher leaves the drive as the calculator needs it afterwards (see DriveMount).
class DriveContext {
public:
    DriveContext(const CommandLine& line, const CalcDescription& calculator)
        : line(line), calculator(calculator) {}

    // The drive's files; null, after saying why and what to do, when it can't be mounted.
    DriveFiles* files();
    const DriveMount& mount() const { return drive; }
    // Ejects the drive after a change, or unmounts what was mounted for the command, unless
    // --no-eject. False after saying why not.
    bool finish();

    const CommandLine& line;
    const CalcDescription& calculator;

private:
    DriveMount drive;
    bool mountTried = false;
    std::optional<DriveFiles> tree;
};
