#include "CalcContents.h"

#include "Log.h"

#include <algorithm>
#include <cctype>

bool CalcContents::read(CalcStorage* storage) {
    std::string why;
    caseSensitive = storage->has(Capability::CaseSensitiveNames);
    if (!storage->storageDevices(&devices, &why)) {
        Log::error(("Can't tell the calculator's storage devices: " + why).c_str());
        return false;
    }
    for (const std::string& device : devices) {
        const auto take = [this, &device](const CalcFile& file) {
            files.push_back({device, file.name, file.size, ""});
        };
        if (!storage->list(device, take, &why)) {
            Log::error(("Can't list the files of " + device + ": " + why).c_str());
            return false;
        }
    }
    for (size_t i = 0; i < files.size(); ++i) {
        byKey.emplace(keyOf(files[i]), i);
    }
    return !storage->has(Capability::MainMemory) || readItems(storage);
}

// Each by its every field, whatever of them the listing needed to tell it apart.
bool CalcContents::readItems(CalcStorage* storage) {
    std::string why;
    const auto take = [this](const CalcFile& listed) {
        CalcPath path;
        std::string problem;
        CalcPath::parseItem(listed.name, &path, &problem);
        items.push_back({CalcPath::itemText(path.folder, listed.directory, path.name, listed.type,
                                            CalcPath::Detail::DirectoryAndType),
                         listed.size});
    };
    if (!storage->list(CalcPath::mainMemory, take, &why)) {
        Log::error(("Can't list the items of main memory: " + why).c_str());
        return false;
    }
    holdsItems = true;
    return true;
}

const StoredItem* CalcContents::find(const StoredItem& item) const {
    for (const StoredItem& held : items) {
        if (held.path == item.path) {
            return &held;
        }
    }
    return nullptr;
}

bool CalcContents::holds(const std::string& device) const {
    return device == CalcPath::mainMemory
               ? holdsItems
               : std::find(devices.begin(), devices.end(), device) != devices.end();
}

const StoredFile* CalcContents::find(const StoredFile& file) const {
    const auto found = byKey.find(keyOf(file));
    return found == byKey.end() ? nullptr : &files[found->second];
}

std::string CalcContents::keyOf(const StoredFile& file) const {
    std::string name = file.name;
    if (!caseSensitive) {
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    }
    return file.device + "/" + name;
}
