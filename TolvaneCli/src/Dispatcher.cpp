#include "Dispatcher.h"

#include "CalcList.h"
#include "Interruption.h"
#include "Log.h"
#include "StandardOutput.h"
#include "TransferProgress.h"
#include "Usage.h"

#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace {

// The exit status of a command that a signal ended, or of one that ended on its own.
int endedBy(const Command& command, const CommandTask& task, int status) {
    if (!Interruption::happened()) {
        return status;
    }
    if (command.onSignal == OnSignal::Finish ||
        (command.onSignal == OnSignal::TaskSays && task.signalFinishes())) {
        return exitDone;
    }
    Log::error("Interrupted");
    return 128 + Interruption::signalNumber();
}

// The command on a calculator that connects as a USB drive, on its files; the exit status.
int runOnDrive(const CommandLine& line, const CommandTask& task,
               const CalcDescription& calculator) {
    if (line.value("storage", "fls0") != "fls0") {
        Log::error((std::string(calculator.address) +
                    " connects as a USB drive, which has no SD card: use fls0 (the default)")
                       .c_str());
        return exitFailed;
    }
    DriveContext context(line, calculator);
    const int status = task.runOnDrive(context);
    return context.finish() ? status : exitFailed;
}

// The command on one calculator, in a session opened for it; the exit status, before any
// signal is accounted for.
int runOn(const Command& command, const CommandLine& line, const CommandTask& task,
          const std::string& chosen, const std::string& address) {
    Link link(chosen);
    if (command.needs == Needs::Session && !link.openSession()) {
        return link.lastChoice() == CalcChoice::IsDrive ? runOnDrive(line, task, link.calculator())
                                                        : Dispatcher::cannotOpen(link);
    }
    CommandContext context(line, link, address);
    int status = task.run(context);
    if (!link.close(Interruption::happened()) && status == exitDone) {
        status = exitFailed;
    }
    return status;
}

// One line that says how it went on every calculator.
void summarize(const std::vector<CalcDescription>& calcs, const std::vector<int>& statuses) {
    std::string failed;
    for (size_t i = 0; i < calcs.size(); ++i) {
        if (statuses[i] != exitDone) {
            failed += std::string(failed.empty() ? "" : ", ") + calcs[i].address;
        }
    }
    const std::string count = std::to_string(calcs.size());
    if (!failed.empty()) {
        Log::error(("Done on " + count + " calculators; failed on " + failed).c_str());
    } else if (Log::getLoglevel() >= LOGLEVEL_WARNING) {
        // Not a warning, but shown like one: the outcome of a run on a whole class set.
        fprintf(stderr, "[INFO]: Done on all %s calculators\n", count.c_str());
    }
}

// The command on every attached link calculator at once, each in its own session and thread;
// every line it prints starts with the calculator's address.
int runOnAll(const Command& command, const CommandLine& line, const CommandTask& task) {
    const std::vector<CalcDescription> calcs = CalcList::linkCalculators();
    if (calcs.empty()) {
        Log::error("No calculator found: plug them in and put them in their USB receive mode");
        return exitFailed;
    }
    std::vector<int> statuses(calcs.size(), exitFailed);
    std::vector<std::thread> threads;
    TransferProgress::combine(static_cast<int>(calcs.size()));
    for (size_t i = 0; i < calcs.size(); ++i) {
        threads.emplace_back([&, i] {
            const std::string address = calcs[i].address;
            const std::string messagePrefix = address + ": ";
            Log::setThreadPrefix(messagePrefix.c_str());
            StandardOutput::setThreadPrefix(address + "\t");
            statuses[i] = runOn(command, line, task, address, address);
            Log::setThreadPrefix(nullptr);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    TransferProgress::endCombined();
    summarize(calcs, statuses);
    for (const int status : statuses) {
        if (status != exitDone) {
            return exitFailed;
        }
    }
    return exitDone;
}

} // namespace

// A choice that names no single calculator is the user's to make.
int Dispatcher::cannotOpen(const Link& link) {
    const CalcChoice choice = link.lastChoice();
    if (choice == CalcChoice::IsDrive) {
        return notForDrives(link.calculator());
    }
    if (choice != CalcChoice::SeveralAttached && choice != CalcChoice::Ambiguous) {
        return exitFailed;
    }
    CalcList::print(stderr, "  ");
    return exitUsage;
}

int Dispatcher::run(const Command& command, const CommandLine& line, const CalcTarget& target) {
    Interruption::install();
    const std::unique_ptr<CommandTask> task = command.task();
    if (const std::optional<int> status = task->check(line)) {
        return *status == exitUsage ? Usage::remind(command) : *status;
    }
    const int status = target.all ? runOnAll(command, line, *task)
                                  : runOn(command, line, *task, target.chosen, "");
    return endedBy(command, *task, status);
}
