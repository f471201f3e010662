#include "CalcList.h"

#include "DriveMount.h"
#include "Log.h"
#include "UsbContext.h"

namespace {

class Collector final : public CalcListener {
public:
    void calcFound(const CalcDescription& calc) override { calcs.push_back(calc); }

    std::vector<CalcDescription> calcs;
};

} // namespace

std::vector<CalcDescription> CalcList::attached() {
    UsbContext context;
    Collector collector;
    if (!context.initUsbContext()) {
        CalcFinder::listCalcs(&context, &collector);
        context.deinitUsbContext();
    }
    return collector.calcs;
}

CalcChoice CalcList::choose(const std::string& chosen, CalcDescription* calculator) {
    UsbContext context;
    if (context.initUsbContext()) {
        Log::error("Can't init the USB context !");
        return CalcChoice::Unopened;
    }
    const CalcChoice choice = CalcChooser::find(&context, chosen.c_str(), calculator);
    context.deinitUsbContext();
    return choice;
}

std::string CalcList::whatToDo(CalcChoice choice, const std::string& chosen) {
    switch (choice) {
    case CalcChoice::NoneAttached:
        return "No calculator found: plug it in and put it in its USB receive mode";
    case CalcChoice::SeveralAttached:
        return "Several calculators are attached: choose one with -c ADDRESS (see tolvane "
               "devices), or use --all";
    case CalcChoice::NotAttached:
        return "No calculator " + chosen + " is attached: see tolvane devices";
    case CalcChoice::Ambiguous:
        return "Several calculators have the serial " + chosen + ": choose one by its address";
    case CalcChoice::Busy:
        return "The calculator is in use by another program: let it end, then try again";
    default:
        return "Can't open the calculator: see ACCESS RIGHTS in tolvane(1) to let you use it";
    }
}

std::string CalcList::line(const CalcDescription& calc) {
    const std::string text = std::string(calc.address) + "\t" + CalcFinder::kindName(calc.kind) +
                             "\t" + calc.product + "\t" + calc.serial;
    if (calc.kind == CalcKind::Drive) {
        std::string point;
        return DriveMount::mountPointOf(calc.address, &point) ? text + "\tunmounted"
                                                              : text + "\tmounted\t" + point;
    }
    return calc.busy ? text + "\tbusy" : text;
}

void CalcList::print(FILE* stream, const char* indent) {
    for (const CalcDescription& calc : attached()) {
        fprintf(stream, "%s%s\n", indent, line(calc).c_str());
    }
}
