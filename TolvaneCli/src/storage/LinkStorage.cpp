#include "LinkStorage.h"

#include "CalcList.h"
#include "CasioDataPart.h"
#include "CasioFileSender.h"
#include "CasioMainMemory.h"
#include "CasioProtocolTools.h"
#include "CasioStorage.h"
#include "G1mFile.h"
#include "Interruption.h"
#include "Log.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::string textOf(const Buffer& text) {
    return std::string(reinterpret_cast<const char*>(text.getData()), text.getSize());
}

// Why no further command can go to the calculator in this session, in words for a user; null
// while commands can still go.
const char* sessionEnded(Socket* socket) {
    if (socket->deviceGone()) {
        return "the calculator was unplugged";
    }
    if (socket->calcIsSilent()) {
        return "the calculator stopped answering";
    }
    if (!socket->sessionUsable()) {
        return "the session with the calculator broke off";
    }
    return nullptr;
}

class Lister final : public CasioFileLister {
public:
    explicit Lister(const FileListener& listener) : listener(listener) {}

    void fileListed(const CasioFileEntry& entry) override {
        const std::string folder = textOf(entry.folder);
        listener({(folder.empty() ? "" : folder + "/") + textOf(entry.name), entry.size, -1, ""});
    }

private:
    const FileListener& listener;
};

// The library's sink over ours; the library's sense of a boolean is true on failure.
class SinkOnLink final : public CasioFileSink {
public:
    explicit SinkOnLink(FileSink* sink) : sink(sink) {}

    void fileAnnounced(uint32_t size) override { sink->announced(size); }
    bool fileBytes(const Buffer& bytes) override {
        stopped = !sink->take(bytes.getData(), static_cast<size_t>(bytes.getSize()));
        return stopped;
    }

    bool stopped = false;

private:
    FileSink* sink;
};

class PartsProgress final : public CasioSendListener {
public:
    PartsProgress(const SendProgress& progress, uint64_t size) : progress(progress), size(size) {}

    void partsAcknowledged(int parts, int /*partCount*/) override {
        if (progress) {
            progress(std::min(size, static_cast<uint64_t>(parts) * CasioDataPart::maxBytes));
        }
    }

private:
    const SendProgress& progress;
    uint64_t size;
};

// The file's bytes, read whole; false, with `why`, when it cannot be. A file that is no longer
// the size it was checked at is not sent: the calculator would be told a size it does not get.
bool readWhole(const FileToSend& file, std::vector<unsigned char>* bytes, std::string* why) {
    const int descriptor = open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        *why = std::string("can't open it (") + strerror(errno) + ")";
        return false;
    }
    // One byte more than expected, to see a file that has grown.
    bytes->resize(file.size + 1);
    size_t count = 0;
    ssize_t got = 0;
    while (count < bytes->size() &&
           ((got = read(descriptor, bytes->data() + count, bytes->size() - count)) > 0 ||
            (got < 0 && errno == EINTR))) {
        count += got > 0 ? static_cast<size_t>(got) : 0;
    }
    const int readError = got < 0 ? errno : 0;
    close(descriptor);
    if (readError != 0) {
        *why = std::string("can't read it (") + strerror(readError) + ")";
        return false;
    }
    if (count != file.size) {
        *why = "it has changed since it was checked";
        return false;
    }
    bytes->resize(count);
    return true;
}

} // namespace

bool LinkStorage::open() {
    if (link.openSession()) {
        return true;
    }
    if (link.lastChoice() != CalcChoice::Opened) {
        Log::error(CalcList::whatToDo(link.lastChoice(), address).c_str());
    }
    return false;
}

// The session for the next operation: a fresh one after one ended early; null, with `why`,
// when none can be had.
Socket* LinkStorage::session(std::string* why) {
    Socket* socket = link.socket();
    if (socket != nullptr && socket->isTerminated() && !Interruption::happened() &&
        !link.restartSession()) {
        *why = "the link to the calculator was lost";
        return nullptr;
    }
    socket = link.socket();
    if (socket == nullptr) {
        *why = "the link to the calculator was lost";
        return nullptr;
    }
    if (const char* ended = sessionEnded(socket)) {
        *why = ended;
        return nullptr;
    }
    return socket;
}

// What a failed operation comes to: a stop asked for; the link lost, when the calculator is
// gone or silent, or when it did not refuse but the session can't go on; or else the
// calculator's refusal (`otherwise` when it sent none).
Outcome LinkStorage::failure(int refusal, const char* otherwise, std::string* why) {
    if (Interruption::happened()) {
        return Outcome::Interrupted;
    }
    Socket* socket = link.socket();
    const char* ended =
        socket != nullptr ? sessionEnded(socket) : "the link to the calculator was lost";
    const bool lost = socket == nullptr || socket->deviceGone() || socket->calcIsSilent();
    if (ended != nullptr && (lost || refusal == CasioStorage::notRefused)) {
        *why = ended;
        return Outcome::LinkLost;
    }
    *why = refusal != CasioStorage::notRefused ? CasioStorage::refusalReason(refusal) : otherwise;
    return Outcome::Failed;
}

// A calculator without an SD card refuses to tell crd0's free space, and the session goes on;
// no answer at all is the link lost, not a missing card.
bool LinkStorage::storageDevices(std::vector<std::string>* devices, std::string* why) {
    *devices = {"fls0"};
    Socket* socket = session(why);
    if (socket == nullptr) {
        return false;
    }
    uint32_t freeBytes = 0;
    int refusal = CasioStorage::notRefused;
    if (!CasioStorage::freeSpace(socket, "crd0", &freeBytes, &refusal)) {
        devices->push_back("crd0");
        return true;
    }
    const Outcome outcome = failure(refusal, "the calculator did not tell what it holds", why);
    return outcome == Outcome::Failed && refusal != CasioStorage::notRefused;
}

bool LinkStorage::list(const std::string& device, const FileListener& listener, std::string* why) {
    if (device == CalcPath::mainMemory) {
        return listItems(listener, why);
    }
    Socket* socket = session(why);
    if (socket == nullptr) {
        return false;
    }
    Lister lister(listener);
    int refusal = CasioStorage::notRefused;
    if (CasioStorage::listFiles(socket, device.c_str(), &lister, &refusal)) {
        failure(refusal, "the calculator did not list them", why);
        return false;
    }
    return true;
}

bool LinkStorage::freeSpace(const std::string& device, uint64_t* bytes, std::string* why) {
    Socket* socket = session(why);
    if (socket == nullptr) {
        return false;
    }
    uint32_t freeBytes = 0;
    int refusal = CasioStorage::notRefused;
    if (device == CalcPath::mainMemory
            ? CasioMainMemory::freeMemory(socket, &freeBytes, &refusal)
            : CasioStorage::freeSpace(socket, device.c_str(), &freeBytes, &refusal)) {
        failure(refusal, "the calculator did not tell it", why);
        return false;
    }
    *bytes = freeBytes;
    return true;
}

namespace {

std::string capacity(long kibibytes) {
    return kibibytes < 0 ? "unknown" : std::to_string(kibibytes) + " KiB";
}

} // namespace

bool LinkStorage::describe(std::vector<std::pair<std::string, std::string>>* fields,
                           std::string* why) {
    Socket* socket = session(why);
    CasioDeviceInfo info{};
    if (socket == nullptr) {
        return false;
    }
    if (CasioStorage::readDeviceInfo(socket, &info)) {
        failure(CasioStorage::notRefused, "the calculator did not tell it", why);
        return false;
    }
    *fields = {
        {"Hardware ID", info.hardwareId},   {"Processor", info.processor},
        {"OS version", info.osVersion},     {"Boot code version", info.bootVersion},
        {"Flash", capacity(info.flashKiB)}, {"RAM", capacity(info.ramKiB)},
        {"Protocol", info.protocolVersion}, {"Product ID", info.productId},
        {"User name", info.userName},
    };
    return true;
}

Outcome LinkStorage::fetch(const std::string& device, const CalcPath& path, FileSink* sink,
                           std::string* why) {
    if (device == CalcPath::mainMemory) {
        return fetchItem(path, sink, why);
    }
    Socket* socket = session(why);
    if (socket == nullptr) {
        return Outcome::LinkLost;
    }
    SinkOnLink onLink(sink);
    int refusal = CasioStorage::notRefused;
    if (!CasioStorage::fetchFile(socket, path.folder.c_str(), path.name.c_str(), device.c_str(),
                                 &onLink, &refusal)) {
        return Outcome::Done;
    }
    if (onLink.stopped) {
        return Interruption::happened() ? Outcome::Interrupted : Outcome::Stopped;
    }
    return failure(refusal, "it did not arrive whole", why);
}

// A pipelined transfer that the link breaks off is sent again, part by part, in a fresh
// session, replacing whatever it left on the calculator; so is everything after it.
Outcome LinkStorage::transfer(const SendWay& way, const Transfer& attempt, std::string* why) {
    Socket* socket = session(why);
    if (socket == nullptr) {
        return Outcome::LinkLost;
    }
    int refusal = CasioStorage::notRefused;
    bool sent = attempt(socket, way, way.pipelined && pipelining, &refusal);
    if (!sent && refusal == CasioFileSender::pipelineBroken && !Interruption::happened() &&
        !socket->deviceGone()) {
        Log::warning("The link does not take pipelined parts: sending again, part by part");
        pipelining = false;
        listed.reset();
        if (!link.restartSession()) {
            *why = "the link to the calculator was lost";
            return Outcome::LinkLost;
        }
        SendWay again = way;
        again.replace = true;
        sent = attempt(link.socket(), again, false, &refusal);
    }
    if (sent) {
        return Outcome::Done;
    }
    if (refusal == CasioProtocolTools::subtypeExists) {
        return Outcome::Exists;
    }
    return failure(refusal, CasioStorage::refusalReason(refusal), why);
}

Outcome LinkStorage::send(const std::string& device, const FileToSend& file, const SendWay& way,
                          const SendProgress& progress, std::string* why) {
    if (device == CalcPath::mainMemory) {
        return sendItem(file, way, progress, why);
    }
    std::vector<unsigned char> bytes;
    if (!readWhole(file, &bytes, why)) {
        return Outcome::Failed;
    }
    Buffer image(bytes.data(), static_cast<int>(bytes.size()));
    return transfer(
        way,
        [&](Socket* socket, const SendWay& how, bool pipelined, int* refusal) {
            PartsProgress parts(progress, file.size);
            const CasioUpload upload = {how.folder.c_str(), file.name.c_str(),
                                        device.c_str(),     &image,
                                        how.replace,        pipelined};
            return !CasioFileSender::sendFile(socket, upload, &parts, refusal);
        },
        why);
}

Outcome LinkStorage::remove(const std::string& device, const CalcPath& path, std::string* why) {
    if (device == CalcPath::mainMemory) {
        return removeItem(path, why);
    }
    Socket* socket = session(why);
    if (socket == nullptr) {
        return Outcome::LinkLost;
    }
    int refusal = CasioStorage::notRefused;
    if (!CasioStorage::deleteFile(socket, path.folder.c_str(), path.name.c_str(), device.c_str(),
                                  &refusal)) {
        return Outcome::Done;
    }
    return failure(refusal, CasioStorage::refusalReason(refusal), why);
}

Outcome LinkStorage::optimize(const std::string& device, std::string* why) {
    Socket* socket = session(why);
    if (socket == nullptr) {
        return Outcome::LinkLost;
    }
    int refusal = CasioStorage::notRefused;
    if (!CasioStorage::optimize(socket, device.c_str(), &refusal)) {
        return Outcome::Done;
    }
    return failure(refusal, CasioStorage::refusalReason(refusal), why);
}

const std::vector<MemoryItem>* LinkStorage::items(std::string* why) {
    Socket* socket = session(why);
    if (socket == nullptr) {
        return nullptr;
    }
    if (!listed) {
        MemoryItems::Collector collector;
        int refusal = CasioStorage::notRefused;
        if (CasioMainMemory::listItems(socket, &collector, &refusal)) {
            failure(refusal, "the calculator did not list them", why);
            return nullptr;
        }
        MemoryItems::namePaths(&collector.items);
        listed = collector.items;
    }
    return &*listed;
}

bool LinkStorage::listItems(const FileListener& listener, std::string* why) {
    const std::vector<MemoryItem>* all = items(why);
    for (size_t i = 0; all != nullptr && i < all->size(); ++i) {
        const MemoryItem& item = (*all)[i];
        listener({item.path, item.size, item.type, item.directory});
    }
    return all != nullptr;
}

// The work on the one item `path` names, in a session that can take it.
Outcome LinkStorage::withItem(const CalcPath& path, std::string* why,
                              const std::function<Outcome(Socket*, const MemoryItem&)>& work) {
    const std::vector<MemoryItem>* all = items(why);
    if (all == nullptr) {
        return Interruption::happened() ? Outcome::Interrupted : Outcome::LinkLost;
    }
    const MemoryItem* item = MemoryItems::find(*all, path, why);
    if (item == nullptr) {
        return Outcome::Failed;
    }
    // A copy: the listing may be read afresh meanwhile.
    const MemoryItem chosen = *item;
    Socket* socket = session(why);
    return socket == nullptr ? Outcome::LinkLost : work(socket, chosen);
}

Outcome LinkStorage::fetchItem(const CalcPath& path, FileSink* sink, std::string* why) {
    return withItem(path, why, [&](Socket* socket, const MemoryItem& item) {
        OneItemG1m g1m(sink);
        int refusal = CasioStorage::notRefused;
        if (!CasioMainMemory::fetchItem(socket, item.view(), &g1m, &refusal)) {
            return Outcome::Done;
        }
        if (!g1m.problem().empty()) {
            *why = g1m.problem();
            return Outcome::Failed;
        }
        if (socket->isTerminated()) {
            return Interruption::happened() ? Outcome::Interrupted : Outcome::Stopped;
        }
        return failure(refusal, "it did not arrive whole", why);
    });
}

Outcome LinkStorage::sendItem(const FileToSend& file, const SendWay& way,
                              const SendProgress& progress, std::string* why) {
    std::vector<unsigned char> data;
    if (!G1mFile::readData(file.path, *file.item, &data, why)) {
        return Outcome::Failed;
    }
    listed.reset();
    Buffer bytes(data.data(), static_cast<int>(data.size()));
    return transfer(
        way,
        [&](Socket* socket, const SendWay& how, bool pipelined, int* refusal) {
            PartsProgress parts(progress, file.size);
            const CasioItemUpload upload = {file.item->view(), &bytes, how.replace, pipelined};
            return !CasioMainMemory::sendItem(socket, upload, &parts, refusal);
        },
        why);
}

Outcome LinkStorage::removeItem(const CalcPath& path, std::string* why) {
    return withItem(path, why, [&](Socket* socket, const MemoryItem& item) {
        int refusal = CasioStorage::notRefused;
        listed.reset();
        if (!CasioMainMemory::deleteItem(socket, item.view(), &refusal)) {
            return Outcome::Done;
        }
        return failure(refusal, CasioStorage::refusalReason(refusal), why);
    });
}

// Every item at once where the calculator sends them so; item by item where it refuses that.
Outcome LinkStorage::fetchMainMemory(FileSink* sink, std::string* why) {
    Socket* socket = session(why);
    if (socket == nullptr) {
        return Outcome::LinkLost;
    }
    WholeG1m whole;
    int refusal = CasioStorage::notRefused;
    bool fetched = !CasioMainMemory::fetchEveryItem(socket, &whole, &refusal);
    if (!fetched && refusal != CasioStorage::notRefused && whole.count() == 0 &&
        socket->sessionUsable()) {
        Log::info("The calculator does not send every item at once: fetching them one by one");
        const std::vector<MemoryItem>* all = items(why);
        fetched = all != nullptr;
        for (size_t i = 0; fetched && i < all->size(); ++i) {
            fetched =
                !CasioMainMemory::fetchItem(link.socket(), (*all)[i].view(), &whole, &refusal);
        }
    }
    if (!whole.problem().empty()) {
        *why = whole.problem();
        return Outcome::Failed;
    }
    if (!fetched) {
        return failure(refusal, "it did not arrive whole", why);
    }
    return whole.writeInto(sink, why) ? Outcome::Done
           : why->empty()             ? Outcome::Stopped
                                      : Outcome::Failed;
}
