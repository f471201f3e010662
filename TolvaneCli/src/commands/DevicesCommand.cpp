#include "DevicesCommand.h"

#include "CalcList.h"
#include "StandardOutput.h"

const CommandHelp devicesHelp = {
    "list the calculators attached",
    "Prints one line per calculator attached, tab-separated: its address (the USB\n"
    "port it is in, for -c), its kind (link, or drive for the models that connect as\n"
    "a USB drive), its product and serial strings where it has them, and 'busy' when\n"
    "another program holds it; of a drive, 'mounted' and where, or 'unmounted'. No\n"
    "session is opened with any of them.",
    {}};

int DevicesCommand::run(CommandContext& /*context*/) const {
    for (const CalcDescription& calc : CalcList::attached()) {
        StandardOutput::printLine(CalcList::line(calc));
    }
    return StandardOutput::finish() ? exitDone : exitFailed;
}
