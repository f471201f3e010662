#pragma once

#include "CalcPath.h"
#include "Commands.h"
#include "LocalTarget.h"

#include <cstdio>
#include <functional>
#include <vector>

// tolvane get: copies files from the calculator, each put in place whole or not at all; a
// local file is never replaced without -w. Every target is examined before the calculator is
// asked anything.
extern const CommandHelp getHelp;

class GetCommand final : public CommandTask {
public:
    std::optional<int> check(const CommandLine& line) override;
    int run(CommandContext& context) const override;
    int runOnDrive(DriveContext& context) const override;

private:
    struct Download {
        std::string shown; // the name as the user gave it
        CalcPath source;
        bool toStandardOutput = false;
        LocalTarget target;
    };

    bool plan(const CommandLine& line);
    // The downloads whose targets can be written; false when any cannot.
    static bool examine(std::vector<Download>* downloads, bool replace);
    std::vector<Download> intoFolderOf(const std::string& address) const;
    // Puts in the download's place what `copy` writes to the stream it is given, whole or not
    // at all.
    static bool deliver(const Download& download, const std::function<bool(FILE*)>& copy);
    bool fetch(Socket* socket, const std::string& storage, const Download& download) const;
    static bool copyFromDrive(const DriveFiles& files, const Download& download);

    std::vector<Download> downloads;
    bool someRefused = false;
    bool replace = false;
    std::string folderForAll; // with --all: where each calculator's folder goes
};
