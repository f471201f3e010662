#pragma once

#include "CalcFinder.h"
#include "CasioDriveScreenSource.h"
#include "Link.h"
#include "ScreenFeed.h"

#include <optional>

// The screen of the calculator chosen, whatever its kind, for `tolvane screen`: the pictures
// a link calculator sends on its link device in its projector mode, or those a drive
// calculator offers to its vendor SCSI commands in its ScreenRecv or Projector mode.
class CalcScreen {
public:
    CalcScreen() = default;
    CalcScreen(const CalcScreen&) = delete;
    CalcScreen& operator=(const CalcScreen&) = delete;

    // Reaches the calculator's screen: false, after saying why and what to do, when it can't.
    bool open(const CalcDescription& calculator);
    ScreenFeed& feed() { return *screen; }

private:
    std::optional<Link> link;
    CasioDriveScreenSource drive;
    std::optional<ScreenFeed> screen;
};
