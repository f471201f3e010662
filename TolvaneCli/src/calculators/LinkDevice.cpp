#include "LinkDevice.h"

#include "Interruption.h"
#include "Log.h"

#include <ctime>

namespace {

constexpr timespec retryPause = {1, 0};
// A calculator just plugged in may refuse to open for a moment, until udev has given its node
// the permissions of its rule and the last program to hold it has let go: so long it is tried
// again before it counts as one that can't be opened.
constexpr timespec unopenedPause = {0, 200 * 1000 * 1000};
constexpr int unopenedTries = 10;

bool isAbsent(CalcChoice choice) {
    return choice == CalcChoice::NoneAttached || choice == CalcChoice::NotAttached;
}

} // namespace

CalcChoice LinkDevice::open(CalcDescription* calculator) {
    close();
    int tries = 0;
    for (;;) {
        CalcChoice choice = CalcList::choose(chosen, calculator);
        if (choice == CalcChoice::Found) {
            choice = calculator->kind == CalcKind::Drive ? CalcChoice::IsDrive
                     : calculator->busy                  ? CalcChoice::Busy
                                                         : CalcChoice::Opened;
        }
        if (choice == CalcChoice::Opened) {
            link.emplace(calculator->address);
            choice = link->openDevice() ? CalcChoice::Opened : link->lastChoice();
        }
        if (choice == CalcChoice::Opened) {
            // Found once, it is waited for again only after it went away, which is said.
            waitingSaid = true;
            return choice;
        }
        const bool settling = (choice == CalcChoice::Unopened || choice == CalcChoice::Busy) &&
                              ++tries < unopenedTries;
        if (!waits || (!isAbsent(choice) && !settling) || Interruption::happened()) {
            return choice;
        }
        if (isAbsent(choice) && !waitingSaid) {
            Log::warning("Waiting for a calculator");
            waitingSaid = true;
        }
        // A signal cuts the pause short.
        nanosleep(settling ? &unopenedPause : &retryPause, nullptr);
    }
}

void LinkDevice::close() {
    if (link) {
        link->close(false);
        link.reset();
    }
}
