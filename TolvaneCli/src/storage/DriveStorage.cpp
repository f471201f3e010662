#include "DriveStorage.h"

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

bool DriveStorage::has(Capability /*capability*/) const {
    return false;
}

std::string DriveStorage::lacking(Capability capability) const {
    const std::string address = calculator.address;
    switch (capability) {
    case Capability::SdCard:
        return address + " connects as a USB drive, which has no SD card: use fls0 (the default)";
    case Capability::Optimize:
        return address + " connects as a USB drive, whose file system needs no optimizing";
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

bool DriveStorage::list(const std::string& /*device*/, const FileListener& listener,
                        std::string* why) {
    std::vector<DriveFile> listed;
    if (files->list(&listed, why)) {
        return false;
    }
    for (const DriveFile& file : listed) {
        listener({file.name, file.size});
    }
    return true;
}

bool DriveStorage::freeSpace(const std::string& /*device*/, uint64_t* bytes, std::string* why) {
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

Outcome DriveStorage::fetch(const std::string& /*device*/, const CalcPath& path, FileSink* sink,
                            std::string* why) {
    std::string where;
    uint64_t size = 0;
    if (files->find(path.text(), &where, &size)) {
        *why = "the calculator has no such file";
        return Outcome::Failed;
    }
    sink->announced(size);
    const auto take = [sink](const unsigned char* bytes, size_t count) {
        return !sink->take(bytes, count);
    };
    return outcomeOf(files->copyOut(path.text(), take, why));
}

Outcome DriveStorage::send(const std::string& /*device*/, const FileToSend& file,
                           const SendWay& way, const SendProgress& progress, std::string* why) {
    return outcomeOf(
        files->send({file.path, file.size, way.folder, file.name, way.replace}, progress, why));
}

Outcome DriveStorage::remove(const std::string& /*device*/, const CalcPath& path,
                             std::string* why) {
    return files->remove(path.text(), why) ? Outcome::Failed : Outcome::Done;
}

Outcome DriveStorage::optimize(const std::string& /*device*/, std::string* why) {
    *why = lacking(Capability::Optimize);
    return Outcome::Failed;
}

bool DriveStorage::finish(bool /*interrupted*/) {
    return !files || !mount.finish(files->changed(), keepMounted);
}
