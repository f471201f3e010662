#include "Storage.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr const char* devices[] = {"fls0", "crd0"};

} // namespace

bool Storage::prepare() const {
    for (const char* device : devices) {
        std::error_code error;
        fs::create_directories(fs::path(rootDirectory) / device, error);
        if (error) {
            return false;
        }
    }
    return true;
}

bool Storage::isDevice(const std::string& device) {
    for (const char* known : devices) {
        if (device == known) {
            return true;
        }
    }
    return false;
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
