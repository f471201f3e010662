#pragma once

#include "BackupManifest.h"
#include "CalcContents.h"
#include "Commands.h"

#include <string>

class StagedFolder;
class TransferProgress;

// tolvane backup: every file of every storage device the calculator holds, its main memory's
// items as one .g1m file, what info tells and a manifest of them (see BackupManifest), in one
// session, into a folder that appears only once everything has arrived whole.
extern const CommandHelp backupHelp;

class BackupCommand final : public CommandTask {
public:
    std::optional<int> check(const CommandLine& line) override;
    int run(CommandContext& context) const override;

private:
    // Where a backup goes: `target` exactly, or else a fresh name in `parent`.
    struct Destination {
        std::string parent;
        std::string target;
    };

    Destination destinationOf(const CommandContext& context) const;
    bool fill(CalcStorage* storage, const CalcDescription& calculator, StagedFolder& staged) const;
    bool fetchAll(CalcStorage* storage, const CalcContents& contents, StagedFolder& staged,
                  BackupManifest* manifest) const;
    bool fetchOne(CalcStorage* storage, const StoredFile& file, StagedFolder& staged,
                  TransferProgress& progress, int partsBefore, std::string* digest) const;
    bool fetchMainMemory(CalcStorage* storage, const CalcContents& contents, StagedFolder& staged,
                         TransferProgress& progress, int partsBefore,
                         BackupManifest* manifest) const;
    bool itemsAsListed(const std::string& path, const CalcContents& contents,
                       std::vector<StoredItem>* items) const;

    std::string output; // -o
    bool intoFolder = true;
};
