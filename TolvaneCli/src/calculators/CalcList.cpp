#include "CalcList.h"

#include "DriveMount.h"
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

std::vector<CalcDescription> CalcList::linkCalculators() {
    std::vector<CalcDescription> links;
    for (const CalcDescription& calc : attached()) {
        if (calc.kind == CalcKind::Link) {
            links.push_back(calc);
        }
    }
    return links;
}

std::string CalcList::line(const CalcDescription& calc) {
    const std::string text = std::string(calc.address) + "\t" + CalcFinder::kindName(calc.kind) +
                             "\t" + calc.product + "\t" + calc.serial;
    if (calc.kind == CalcKind::Drive) {
        std::string point;
        return DriveMount::mountPointOf(calc.address, &point) ? text + "\tmounted\t" + point
                                                              : text + "\tunmounted";
    }
    return calc.busy ? text + "\tbusy" : text;
}

void CalcList::print(FILE* stream, const char* indent) {
    for (const CalcDescription& calc : attached()) {
        fprintf(stream, "%s%s\n", indent, line(calc).c_str());
    }
}
