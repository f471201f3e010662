#include "Storage.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr const char* flash = "fls0";
constexpr const char* devices[] = {"fls0", "crd0"};

// Plain files and plain directories directly in `directory`, each sorted by name.
void entriesOf(const fs::path& directory, std::vector<std::string>& files,
               std::vector<std::string>& folders) {
    std::error_code error;
    for (fs::directory_iterator entry(directory, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code statusError;
        const fs::file_status status = entry->symlink_status(statusError);
        const std::string name = entry->path().filename().string();
        if (fs::is_regular_file(status)) {
            files.push_back(name);
        } else if (fs::is_directory(status)) {
            folders.push_back(name);
        }
    }
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
}

} // namespace

bool Storage::prepare() const {
    std::error_code error;
    fs::create_directories(fs::path(rootDirectory) / flash, error);
    return !error;
}

bool Storage::isDevice(const std::string& device) {
    return std::find(std::begin(devices), std::end(devices), device) != std::end(devices);
}

bool Storage::hasDevice(const std::string& device) const {
    return isDevice(device) &&
           lookup((fs::path(rootDirectory) / device).string()) == Entry::Directory;
}

bool Storage::isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

std::string Storage::pathOf(const std::string& device, const std::string& folder,
                            const std::string& file) const {
    fs::path path = fs::path(rootDirectory) / device;
    if (!folder.empty()) {
        path /= folder;
    }
    return (path / file).string();
}

Storage::Entry Storage::lookup(const std::string& path) const {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (!fs::exists(status)) {
        return Entry::Missing;
    }
    if (fs::is_regular_file(status)) {
        return Entry::File;
    }
    return fs::is_directory(status) ? Entry::Directory : Entry::Other;
}

long long Storage::sizeOf(const std::string& path) const {
    std::error_code error;
    const auto size = fs::file_size(path, error);
    return error ? 0 : static_cast<long long>(size);
}

long long Storage::used(const std::string& device) const {
    long long total = 0;
    std::error_code error;
    for (fs::recursive_directory_iterator entry(fs::path(rootDirectory) / device, error), end;
         !error && entry != end; entry.increment(error)) {
        std::error_code entryError;
        if (entry->is_regular_file(entryError)) {
            total += static_cast<long long>(entry->file_size(entryError));
        }
    }
    return total;
}

std::vector<Storage::Listed> Storage::list(const std::string& device) const {
    const fs::path top = fs::path(rootDirectory) / device;
    std::vector<std::string> files, folders;
    entriesOf(top, files, folders);
    std::vector<Listed> listed;
    for (const std::string& file : files) {
        listed.push_back({"", file, sizeOf((top / file).string())});
    }
    for (const std::string& folder : folders) {
        listed.push_back({folder, "", 0});
        std::vector<std::string> inner, deeper;
        entriesOf(top / folder, inner, deeper);
        for (const std::string& file : inner) {
            listed.push_back({folder, file, sizeOf((top / folder / file).string())});
        }
    }
    return listed;
}

bool Storage::store(const std::string& path, const Bytes& bytes) const {
    const fs::path target(path);
    std::error_code error;
    fs::create_directories(target.parent_path(), error);
    const fs::path temporary = target.parent_path() / ("." + target.filename().string() + ".part");
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        file.close();
        if (!file) {
            fs::remove(temporary, error);
            return false;
        }
    }
    fs::rename(temporary, target, error);
    return !error;
}

std::optional<Bytes> Storage::read(const std::string& path) const {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    Bytes bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) {
        return std::nullopt;
    }
    return bytes;
}

bool Storage::remove(const std::string& path) const {
    std::error_code error;
    return fs::remove(path, error) && !error;
}
