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
    return true;
}

bool CalcContents::holds(const std::string& device) const {
    return std::find(devices.begin(), devices.end(), device) != devices.end();
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
