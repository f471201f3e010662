#include "CalcScreen.h"

#include "CalcList.h"
#include "DriveScreen.h"
#include "Log.h"

bool CalcScreen::open(const CalcDescription& calculator) {
    if (calculator.kind == CalcKind::Drive) {
        if (DriveScreen::open(calculator.address, &drive)) {
            return false;
        }
        screen.emplace(&drive);
        return true;
    }
    link.emplace(calculator.address);
    if (!link->openDevice()) {
        Log::error(CalcList::whatToDo(link->lastChoice(), calculator.address).c_str());
        return false;
    }
    screen.emplace(link->socket());
    return true;
}
