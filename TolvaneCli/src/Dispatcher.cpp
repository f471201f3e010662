#include "Dispatcher.h"

#include "CalcList.h"
#include "CalcScreen.h"
#include "DriveStorage.h"
#include "Interruption.h"
#include "LinkStorage.h"
#include "Log.h"
#include "StandardOutput.h"
#include "TransferProgress.h"
#include "Usage.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <sys/stat.h>
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

// The calculator's files, as its kind holds them.
std::unique_ptr<CalcStorage> storageOf(const CalcDescription& calculator, const CommandLine& line) {
    if (calculator.kind == CalcKind::Drive) {
        return std::make_unique<DriveStorage>(calculator, line.has("no-eject"));
    }
    return std::make_unique<LinkStorage>(calculator);
}

// The command on one calculator's files; the exit status, before any signal is accounted for.
int runOnStorage(const CommandLine& line, const CommandTask& task,
                 const CalcDescription& calculator, const std::string& folder) {
    const std::unique_ptr<CalcStorage> storage = storageOf(calculator, line);
    if (line.value("storage", "fls0") == "crd0" && !storage->has(Capability::SdCard)) {
        Log::error(storage->lacking(Capability::SdCard).c_str());
        return exitFailed;
    }
    CommandContext context(line, calculator, folder);
    context.provide(storage.get());
    int status = task.run(context);
    if (context.storageReached() && !storage->finish(Interruption::happened()) &&
        status == exitDone) {
        status = exitFailed;
    }
    return status;
}

// The command on the link device of the calculator chosen.
int runOnDevice(const CommandLine& line, const CommandTask& task, const std::string& chosen) {
    LinkDevice device(chosen, task.waitsForCalculator());
    CalcDescription calculator{};
    const CalcChoice choice = device.open(&calculator);
    if (choice != CalcChoice::Opened) {
        return Interruption::happened() ? exitFailed : refuseChoice(choice, chosen, calculator);
    }
    CommandContext context(line, calculator);
    context.provide(&device);
    const int status = task.run(context);
    device.close();
    return status;
}

// The command on the screen of the calculator chosen, as its kind shows it.
int runOnScreen(const CommandLine& line, const CommandTask& task,
                const CalcDescription& calculator) {
    CalcScreen screen;
    if (!screen.open(calculator)) {
        return exitFailed;
    }
    CommandContext context(line, calculator);
    context.provide(&screen.feed());
    return task.run(context);
}

int runOnChosen(const Command& command, const CommandLine& line, const CommandTask& task,
                const std::string& chosen) {
    if (command.needs == Needs::Device) {
        return runOnDevice(line, task, chosen);
    }
    CalcDescription calculator{};
    const CalcChoice choice = CalcList::choose(chosen, &calculator);
    if (choice != CalcChoice::Found) {
        return refuseChoice(choice, chosen, calculator);
    }
    return command.needs == Needs::Screen ? runOnScreen(line, task, calculator)
                                          : runOnStorage(line, task, calculator, "");
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

// A folder of the calculator's own under `base`, named after its address, made when `made`;
// empty, after saying why, when it can't be.
std::string folderOf(const std::string& base, const CalcDescription& calculator, bool made) {
    const std::string folder = base + "/" + calculator.address;
    if (made && mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
        Log::error((folder + ": can't make the folder (" + strerror(errno) + ")").c_str());
        return "";
    }
    return folder;
}

// The command on every attached calculator at once, link and drive alike, each in its own
// thread; every line it prints starts with the calculator's address.
int runOnAll(const Command& command, const CommandLine& line, const CommandTask& task) {
    const std::vector<CalcDescription> calcs = CalcList::attached();
    if (calcs.empty()) {
        Log::error("No calculator found: plug them in and put them in their USB receive mode");
        return exitFailed;
    }
    const std::string base = line.value("output", ".");
    std::vector<int> statuses(calcs.size(), exitFailed);
    std::vector<std::thread> threads;
    TransferProgress::combine(static_cast<int>(calcs.size()));
    for (size_t i = 0; i < calcs.size(); ++i) {
        threads.emplace_back([&, i] {
            const std::string address = calcs[i].address;
            const std::string messagePrefix = address + ": ";
            Log::setThreadPrefix(messagePrefix.c_str());
            StandardOutput::setThreadPrefix(address + "\t");
            const bool ownFolder = command.ownFolder != OwnFolder::None;
            const std::string folder =
                ownFolder ? folderOf(base, calcs[i], command.ownFolder == OwnFolder::Made) : "";
            if (!ownFolder || !folder.empty()) {
                statuses[i] = runOnStorage(line, task, calcs[i], folder);
            }
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

int Dispatcher::run(const Command& command, const CommandLine& line, const CalcTarget& target) {
    Interruption::install();
    const std::unique_ptr<CommandTask> task = command.task();
    if (const std::optional<int> status = task->check(line)) {
        return *status == exitUsage ? Usage::remind(command) : *status;
    }
    int status = exitFailed;
    if (!task->needsCalculator() && (target.all || !line.value("calculator").empty())) {
        return Usage::reject(std::string(command.name) +
                                 " works on local files here: -c and --all are not for it",
                             &command);
    }
    if (command.needs == Needs::Nothing || !task->needsCalculator()) {
        const CalcDescription none{};
        CommandContext context(line, none);
        status = task->run(context);
    } else {
        status = target.all ? runOnAll(command, line, *task)
                            : runOnChosen(command, line, *task, target.chosen);
    }
    return endedBy(command, *task, status);
}
