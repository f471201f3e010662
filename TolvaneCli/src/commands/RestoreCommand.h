#pragma once

#include "BackupManifest.h"
#include "CalcContents.h"
#include "Commands.h"
#include "MemoryItems.h"

#include <string>
#include <vector>

// tolvane restore: puts a backup back onto a calculator, the one it came from or another: the
// backup checked whole before the calculator is reached, nothing changed when a file would be
// replaced without -w or the files can't fit, each file sent into its storage device and folder
// in one session, and the calculator listed again to see that every file is there at its size.
extern const CommandHelp restoreHelp;

class RestoreCommand final : public CommandTask {
public:
    std::optional<int> check(const CommandLine& line) override;
    int run(CommandContext& context) const override;

private:
    // What goes onto this calculator, and what can't.
    struct Plan {
        std::vector<StoredFile> sent;
        std::vector<StoredFile> replacing; // the calculator's files that some of them replace
        std::vector<MemoryItem> items;     // main memory's, from the backup's .g1m file
        std::vector<StoredItem> replacingItems;
        bool allTaken = true; // nothing of the backup left out
    };

    bool readItems();
    Plan planFor(CalcStorage* storage, const CalcContents& before) const;
    void planItems(CalcStorage* storage, const CalcContents& before, Plan* plan) const;
    bool sendItems(CalcStorage* storage, const std::vector<MemoryItem>& items,
                   const SendWay& way) const;
    bool refusesToReplace(const Plan& plan) const;
    bool fits(CalcStorage* storage, const Plan& plan) const;
    bool sendAll(CalcStorage* storage, const std::vector<StoredFile>& files, const SendWay& way,
                 std::vector<StoredFile>* done) const;
    bool arrived(CalcStorage* storage, const std::vector<StoredFile>& files,
                 const std::vector<MemoryItem>& sentItems) const;

    std::string folder;
    BackupManifest manifest;
    std::vector<MemoryItem> items; // of main memory's .g1m file, when the backup has one
    bool replace = false;
};
