#pragma once

#include "CalcList.h"
#include "Link.h"

#include <optional>
#include <string>

// The link device of the calculator a command reads from (log, screen), opened for it by the
// dispatcher. For a command that reads on until a signal, a calculator that is absent is
// waited for, saying so once, and so is one that went away; one that is there but cannot be
// opened (no permission, another program holds it, a drive) is never waited for.
class LinkDevice {
public:
    LinkDevice(std::string chosen, bool waits) : chosen(std::move(chosen)), waits(waits) {}

    // Opened, or why not, said by the caller (CalcList::whatToDo); `calculator` is the one
    // chosen, when there is one. A signal ends a wait with NoneAttached.
    CalcChoice open(CalcDescription* calculator);
    // The open device's socket; null while it is closed.
    Socket* socket() { return link ? link->socket() : nullptr; }
    void close();
    // The calculator as the user chose it.
    const std::string& chosenBy() const { return chosen; }

private:
    std::string chosen;
    bool waits;
    bool waitingSaid = false;
    std::optional<Link> link;
};
