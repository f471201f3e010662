#include "DriveStorage.h"

#include <strings.h>

namespace {

Outcome outcomeOf(DriveFiles::Outcome outcome) {
    switch (outcome) {
    case DriveFiles::Outcome::Done:
        return Outcome::Done;
    case DriveFiles::Outcome::Exists:
        return Outcome::Exists;
    case DriveFiles::Outcome::Stopped:
        return Outcome::Stopped;
    case DriveFiles::Outcome::Interrupted:
        return Outcome::Interrupted;
    default:
        return Outcome::Failed;
    }
}

} // namespace

namespace {

// Where the drive shows its copy of main memory.
const std::string mainMemoryFolder = "@MainMem/";

bool isInMainMemory(const std::string& name) {
    return strncasecmp(name.c_str(), mainMemoryFolder.c_str(), mainMemoryFolder.size()) == 0;
}

// A file of the copy of main memory, named as an item of one part.
std::string itemPathOf(const std::string& file) {
    CalcPath path;
    path.item = true;
    path.name = file.substr(mainMemoryFolder.size());
    return path.text();
}

} // namespace

bool DriveStorage::has(Capability /*capability*/) const {
    return false;
}

Outcome DriveStorage::mainMemoryUnchanged(std::string* why) const {
    *why = lacking(Capability::MainMemory);
    return Outcome::Failed;
}

std::string DriveStorage::lacking(Capability capability) const {
    const std::string address = calculator.address;
    switch (capability) {
    case Capability::SdCard:
        return address + " connects as a USB drive, which has no SD card: use fls0 (the default)";
    case Capability::Optimize:
        return address + " connects as a USB drive, whose file system needs no optimizing";
    case Capability::CaseSensitiveNames:
        return address +
               " connects as a USB drive, whose file system finds names whatever their case";
    case Capability::MainMemory:
        return address + " connects as a USB drive, whose main memory tolvane only reads, as the "
                         "files of its @MainMem folder: their layout is not documented";
    }
    return "";
}

bool DriveStorage::open() {
    if (mount.open(calculator.address)) {
        return false;
    }
    files.emplace(mount.folder(), mount.readOnly());
    return true;
}

bool DriveStorage::storageDevices(std::vector<std::string>* devices, std::string* /*why*/) {
    *devices = {"fls0"};
    return true;
}

bool DriveStorage::list(const std::string& device, const FileListener& listener, std::string* why) {
    std::vector<DriveFile> listed;
    if (files->list(&listed, why)) {
        return false;
    }
    const bool items = device == CalcPath::mainMemory;
    for (const DriveFile& file : listed) {
        if (!items) {
            listener({file.name, file.size, -1, ""});
        } else if (isInMainMemory(file.name)) {
            listener({itemPathOf(file.name), file.size, -1, ""});
        }
    }
    return true;
}

bool DriveStorage::freeSpace(const std::string& device, uint64_t* bytes, std::string* why) {
    if (device == CalcPath::mainMemory) {
        mainMemoryUnchanged(why);
        return false;
    }
    DriveSpace space;
    if (files->space(&space, why)) {
        return false;
    }
    *bytes = space.free;
    return true;
}

// The labels a drive can fill, and only those.
bool DriveStorage::describe(std::vector<std::pair<std::string, std::string>>* fields,
                            std::string* why) {
    DriveSpace space;
    if (files->space(&space, why)) {
        return false;
    }
    const DriveDevice& device = mount.device();
    const auto add = [fields](const char* label, const std::string& value) {
        if (!value.empty()) {
            fields->emplace_back(label, value);
        }
    };
    add("Product", calculator.product);
    add("Serial", calculator.serial);
    add("File system", device.version.empty() ? device.type : device.type + " " + device.version);
    add("Volume label", device.label);
    add("Flash", std::to_string(space.total / 1024) + " KiB");
    return true;
}

Outcome DriveStorage::fetch(const std::string& device, const CalcPath& path, FileSink* sink,
                            std::string* why) {
    const bool item = device == CalcPath::mainMemory;
    const std::string name = item ? mainMemoryFolder + path.name : path.text();
    std::string where;
    uint64_t size = 0;
    if ((item && !path.folder.empty()) || files->find(name, &where, &size)) {
        *why = item ? "main memory holds no such item" : "the calculator has no such file";
        return Outcome::Failed;
    }
    sink->announced(size);
    const auto take = [sink](const unsigned char* bytes, size_t count) {
        return !sink->take(bytes, count);
    };
    return outcomeOf(files->copyOut(name, take, why));
}

Outcome DriveStorage::send(const std::string& device, const FileToSend& file, const SendWay& way,
                           const SendProgress& progress, std::string* why) {
    if (device == CalcPath::mainMemory) {
        return mainMemoryUnchanged(why);
    }
    return outcomeOf(
        files->send({file.path, file.size, way.folder, file.name, way.replace}, progress, why));
}

bool DriveStorage::mayWrite(const std::string& /*device*/, const std::string& folder,
                            std::string* why) {
    return files->mayChange(folder, why);
}

Outcome DriveStorage::remove(const std::string& device, const CalcPath& path, std::string* why) {
    if (device == CalcPath::mainMemory) {
        return mainMemoryUnchanged(why);
    }
    return files->remove(path.text(), why) ? Outcome::Failed : Outcome::Done;
}

Outcome DriveStorage::optimize(const std::string& /*device*/, std::string* why) {
    *why = lacking(Capability::Optimize);
    return Outcome::Failed;
}

Outcome DriveStorage::fetchMainMemory(FileSink* /*sink*/, std::string* why) {
    return mainMemoryUnchanged(why);
}

bool DriveStorage::finish(bool /*interrupted*/) {
    return !files || !mount.finish(files->changed(), keepMounted);
}
