#include "LinkStorage.h"

#include "CalcList.h"
#include "CasioDataPart.h"
#include "CasioFileSender.h"
#include "CasioProtocolTools.h"
#include "CasioStorage.h"
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
        listener({(folder.empty() ? "" : folder + "/") + textOf(entry.name), entry.size});
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

bool LinkStorage::list(const std::string& device, const FileListener& listener, std::string* why) {
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
    if (CasioStorage::freeSpace(socket, device.c_str(), &freeBytes, &refusal)) {
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

bool LinkStorage::attempt(const std::string& device, const FileToSend& file, const SendWay& way,
                          bool pipelined, Buffer* image, const SendProgress& progress,
                          int* refusal) {
    Socket* socket = link.socket();
    PartsProgress parts(progress, file.size);
    const CasioUpload upload = {way.folder.c_str(), file.name.c_str(), device.c_str(), image,
                                way.replace,        pipelined};
    return !CasioFileSender::sendFile(socket, upload, &parts, refusal);
}

// A pipelined transfer that the link breaks off is sent again, part by part, in a fresh
// session, replacing whatever it left on the calculator; so is every file after it.
Outcome LinkStorage::send(const std::string& device, const FileToSend& file, const SendWay& way,
                          const SendProgress& progress, std::string* why) {
    std::vector<unsigned char> bytes;
    if (!readWhole(file, &bytes, why)) {
        return Outcome::Failed;
    }
    if (session(why) == nullptr) {
        return Outcome::LinkLost;
    }
    Buffer image(bytes.data(), static_cast<int>(bytes.size()));
    int refusal = CasioStorage::notRefused;
    const bool pipelined = way.pipelined && pipelining;
    bool sent = attempt(device, file, way, pipelined, &image, progress, &refusal);
    if (!sent && refusal == CasioFileSender::pipelineBroken && !Interruption::happened() &&
        !link.socket()->deviceGone()) {
        Log::warning("The link does not take pipelined parts: sending again, part by part");
        pipelining = false;
        if (!link.restartSession()) {
            *why = "the link to the calculator was lost";
            return Outcome::LinkLost;
        }
        SendWay again = way;
        again.replace = true;
        sent = attempt(device, file, again, false, &image, progress, &refusal);
    }
    if (sent) {
        return Outcome::Done;
    }
    if (refusal == CasioProtocolTools::subtypeExists) {
        return Outcome::Exists;
    }
    return failure(refusal, CasioStorage::refusalReason(refusal), why);
}

Outcome LinkStorage::remove(const std::string& device, const CalcPath& path, std::string* why) {
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
