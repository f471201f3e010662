#pragma once

#include "CalcFinder.h"
#include "CalcStorage.h"
#include "DriveFiles.h"
#include "DriveMount.h"

#include <optional>

// A drive calculator's files, on its file system mounted by `open`: it has one storage, fls0,
// which needs no optimizing. Of its main memory it shows a copy, the files of its @MainMem
// folder, whose layout is not documented: `-d main` lists and fetches those, and changes
// nothing. `finish` leaves the drive as the calculator needs it (see
// DriveMount): ejected after a change, unless kept mounted.
class DriveStorage final : public CalcStorage {
public:
    DriveStorage(const CalcDescription& calculator, bool keepMounted)
        : calculator(calculator), keepMounted(keepMounted) {}

    bool has(Capability capability) const override;
    std::string lacking(Capability capability) const override;
    bool open() override;

    bool storageDevices(std::vector<std::string>* devices, std::string* why) override;
    bool list(const std::string& device, const FileListener& listener, std::string* why) override;
    bool freeSpace(const std::string& device, uint64_t* bytes, std::string* why) override;
    bool describe(std::vector<std::pair<std::string, std::string>>* fields,
                  std::string* why) override;
    Outcome fetch(const std::string& device, const CalcPath& path, FileSink* sink,
                  std::string* why) override;
    Outcome send(const std::string& device, const FileToSend& file, const SendWay& way,
                 const SendProgress& progress, std::string* why) override;
    bool mayWrite(const std::string& device, const std::string& folder, std::string* why) override;
    Outcome remove(const std::string& device, const CalcPath& path, std::string* why) override;
    Outcome optimize(const std::string& device, std::string* why) override;
    Outcome fetchMainMemory(FileSink* sink, std::string* why) override;
    bool finish(bool interrupted) override;

private:
    // An operation the drive can't do on main memory: Failed, with the one message for it.
    Outcome mainMemoryUnchanged(std::string* why) const;

    const CalcDescription calculator;
    const bool keepMounted;
    DriveMount mount;
    std::optional<DriveFiles> files; // once mounted
};
