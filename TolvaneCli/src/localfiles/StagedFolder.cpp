#include "StagedFolder.h"

#include "LocalTarget.h"
#include "Log.h"
#include "SafeRename.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <vector>

namespace {

bool fail(const std::string& path, const std::string& what) {
    Log::error((path + ": " + what + " (" + strerror(errno) + ")").c_str());
    return false;
}

} // namespace

bool StagedFolder::create(const std::string& parent) {
    const std::string pattern = (parent.empty() ? "." : parent) + "/.tolvane-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) {
        return fail(parent.empty() ? "." : parent, "can't make a folder in it");
    }
    temporary = name.data();
    return true;
}

bool StagedFolder::makeFolder(const std::string& relative) {
    std::string path = temporary;
    size_t start = 0;
    while (start <= relative.size()) {
        const size_t slash = std::min(relative.find('/', start), relative.size());
        path += "/" + relative.substr(start, slash - start);
        if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
            return fail(path, "can't make the folder");
        }
        start = slash + 1;
    }
    return true;
}

// Made private while it was filled; it gets the permissions of any new folder as it is placed.
bool StagedFolder::place(const std::string& target) {
    if (chmod(temporary.c_str(), LocalTarget::usualFolderMode()) != 0) {
        return false;
    }
    if (SafeRename::withoutReplacing(temporary.c_str(), target.c_str()) != 0) {
        return false;
    }
    temporary.clear();
    return true;
}

bool StagedFolder::commit(const std::string& target) {
    return place(target) ||
           fail(target, errno == EEXIST ? "exists already" : "can't put it in place");
}

bool StagedFolder::commitFresh(const std::string& stem, std::string* placed) {
    for (int number = 1;; ++number) {
        *placed = stem + (number > 1 ? "-" + std::to_string(number) : "");
        if (place(*placed)) {
            return true;
        }
        if (errno != EEXIST) {
            return fail(*placed, "can't put it in place");
        }
    }
}

void StagedFolder::discard() {
    if (!temporary.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(temporary, ignored);
        temporary.clear();
    }
}
