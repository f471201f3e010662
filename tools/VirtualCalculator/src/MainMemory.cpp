#include "MainMemory.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <tuple>

namespace fs = std::filesystem;

namespace {

constexpr const char* plainMarks = " -_@~+=,!#&()[]{}";
constexpr char escape = '%';

bool plain(char byte) {
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
           (byte >= '0' && byte <= '9') || (byte != '\0' && strchr(plainMarks, byte) != nullptr);
}

std::string encoded(const std::string& text) {
    if (text.empty()) {
        return std::string(1, escape);
    }
    std::string name;
    for (const char byte : text) {
        name += plain(byte) ? std::string(1, byte) : escape + wire::hexDump({uint8_t(byte)});
    }
    return name;
}

std::optional<std::string> decoded(const std::string& name) {
    if (name == std::string(1, escape)) {
        return "";
    }
    std::string text;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] != escape) {
            if (!plain(name[i])) {
                return std::nullopt;
            }
            text += name[i];
            continue;
        }
        const std::optional<unsigned> byte =
            wire::readHex(Bytes(name.begin(), name.end()), i + 1, 2);
        if (!byte) {
            return std::nullopt;
        }
        text += static_cast<char>(*byte);
        i += 2;
    }
    return text;
}

// NAME.TT as an item's name and type.
std::optional<MainMemory::Item> itemNamed(const std::string& file) {
    const size_t dot = file.rfind('.');
    if (dot == std::string::npos) {
        return std::nullopt;
    }
    const std::optional<unsigned> type = wire::readHex(Bytes(file.begin(), file.end()), dot + 1, 2);
    const std::optional<std::string> name = decoded(file.substr(0, dot));
    if (!type || !name || file.size() != dot + 3) {
        return std::nullopt;
    }
    MainMemory::Item item;
    item.type = static_cast<uint8_t>(*type);
    item.name = *name;
    return item;
}

std::vector<fs::directory_entry> entries(const fs::path& directory) {
    std::vector<fs::directory_entry> found;
    std::error_code error;
    for (fs::directory_iterator entry(directory, error), end; !error && entry != end;
         entry.increment(error)) {
        found.push_back(*entry);
    }
    return found;
}

// The directories in `directory` whose names decode, by name.
std::vector<std::pair<std::string, fs::path>> namedDirectories(const fs::path& directory) {
    std::vector<std::pair<std::string, fs::path>> named;
    for (const fs::directory_entry& entry : entries(directory)) {
        std::error_code error;
        const std::optional<std::string> name = decoded(entry.path().filename().string());
        if (name && fs::is_directory(entry.symlink_status(error))) {
            named.emplace_back(*name, entry.path());
        }
    }
    return named;
}

} // namespace

bool MainMemory::prepare() const {
    std::error_code error;
    fs::create_directories(rootDirectory, error);
    return !error;
}

std::string MainMemory::shown(const Item& item) {
    return encoded(item.group) + "/" + encoded(item.directory) + "/" + encoded(item.name) + "." +
           wire::hexDump({item.type});
}

std::string MainMemory::pathOf(const Item& item) const {
    return rootDirectory + "/" + shown(item);
}

bool MainMemory::has(const Item& item) const {
    return files.lookup(pathOf(item)) == Storage::Entry::File;
}

long long MainMemory::sizeOf(const Item& item) const {
    return files.sizeOf(pathOf(item));
}

long long MainMemory::used() const {
    long long total = 0;
    for (const Listed& listed : list()) {
        total += listed.size;
    }
    return total;
}

std::vector<MainMemory::Listed> MainMemory::list() const {
    std::vector<Listed> listed;
    for (const auto& [group, groupPath] : namedDirectories(rootDirectory)) {
        for (const auto& [directory, directoryPath] : namedDirectories(groupPath)) {
            for (const fs::directory_entry& file : entries(directoryPath)) {
                std::optional<Item> item = itemNamed(file.path().filename().string());
                if (item && files.lookup(file.path().string()) == Storage::Entry::File) {
                    item->group = group;
                    item->directory = directory;
                    listed.push_back({*item, files.sizeOf(file.path().string())});
                }
            }
        }
    }
    std::sort(listed.begin(), listed.end(), [](const Listed& one, const Listed& other) {
        const auto key = [](const Item& item) {
            return std::tie(item.group, item.directory, item.name, item.type);
        };
        return key(one.item) < key(other.item);
    });
    return listed;
}

std::optional<Bytes> MainMemory::read(const Item& item) const {
    return files.read(pathOf(item));
}

bool MainMemory::store(const Item& item, const Bytes& bytes) const {
    return files.store(pathOf(item), bytes);
}

bool MainMemory::remove(const Item& item) const {
    return files.remove(pathOf(item));
}
