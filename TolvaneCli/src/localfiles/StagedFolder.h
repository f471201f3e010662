#pragma once

#include <string>

// A folder of several files written as a whole: made under a hidden temporary name beside
// where it goes, filled, and renamed into place only once complete, never over anything, so
// that a folder cut short (a calculator unplugged, Ctrl-C, a full disk) never looks complete.
// Unless committed, it is removed with everything in it.
class StagedFolder {
public:
    StagedFolder() = default;
    ~StagedFolder() { discard(); }

    StagedFolder(const StagedFolder&) = delete;
    StagedFolder& operator=(const StagedFolder&) = delete;

    // Makes it in `parent`. False after reporting why not.
    bool create(const std::string& parent);
    const std::string& path() const { return temporary; }
    // Makes the folder `relative` inside it, and those above. False after reporting why not.
    bool makeFolder(const std::string& relative);
    // Puts it in place as `target`, which must not exist. False after reporting why not.
    bool commit(const std::string& target);
    // Puts it in place under a name nothing has: `stem` or, when that is taken, `stem` + "-2",
    // "-3", ... False after reporting why not; `placed` is the name.
    bool commitFresh(const std::string& stem, std::string* placed);
    void discard();

private:
    bool place(const std::string& target);

    std::string temporary;
};
