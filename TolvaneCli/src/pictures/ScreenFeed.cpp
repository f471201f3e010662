#include "ScreenFeed.h"

#include <cstring>

namespace {

// As much as a transfer may bring: a colour frame comes in three receives.
constexpr size_t receiveArea = 65536;

constexpr const char* screenModes = "choose ScreenRecv or Projector on the calculator when it "
                                    "asks for its connection mode (plug the cable in again to "
                                    "see it)";

// A drive calculator shows its disk in its USB Flash mode, where no picture ever comes.
std::string whyNoDrivePicture(const CasioDriveScreenSource& drive, const std::string& during) {
    if (drive.medium() == CasioDriveMedium::present) {
        return "No picture came" + during +
               ", and the calculator shows its disk as in its USB Flash mode: " + screenModes;
    }
    return "No picture came" + during + ": put the calculator in its ScreenRecv or Projector mode";
}

std::string whyDriveEnded(CasioDriveScreenEnd end) {
    switch (end) {
    case CasioDriveScreenEnd::notScreenMode:
        return std::string("The calculator takes no screen commands: it is in its USB Flash "
                           "mode; ") +
               screenModes;
    case CasioDriveScreenEnd::noAnswer:
        return "The calculator does not answer the screen's commands: check the cable";
    case CasioDriveScreenEnd::forbidden:
        return "The system does not let tolvane send the screen's commands: it lets the user "
               "at the machine once the sg module is loaded (sudo modprobe sg) and tolvane's "
               "udev rule is installed; or run as root";
    case CasioDriveScreenEnd::unreadable:
        return "The calculator's answers to the screen's commands are not understood: check "
               "the cable (or try another USB port)";
    default:
        return "The calculator can't be read any more";
    }
}

} // namespace

ScreenFeed::ScreenFeed(Socket* socket)
    : link(socket), source(&link), received(receiveArea),
      frameArea(CasioScreenReader::screenFrameArea),
      pictureArea(CasioScreenReader::screenPictureArea),
      reader(Buffer(frameArea.data(), static_cast<int>(frameArea.size())),
             Buffer(pictureArea.data(), static_cast<int>(pictureArea.size())), this, source) {}

ScreenFeed::ScreenFeed(CasioDriveScreenSource* drive)
    : link(nullptr), drive(drive), source(drive), received(receiveArea),
      frameArea(CasioScreenReader::screenFrameArea),
      pictureArea(CasioScreenReader::screenPictureArea),
      reader(Buffer(frameArea.data(), static_cast<int>(frameArea.size())),
             Buffer(pictureArea.data(), static_cast<int>(pictureArea.size())), this, source) {}

bool ScreenFeed::readOnce() {
    Buffer bytes(received.data(), static_cast<int>(received.size()));
    const bool failed = source->receive(&bytes) || reader.feed(bytes);
    if (failed) {
        const std::lock_guard<std::mutex> lock(mutex);
        unreadable = true;
    }
    return !failed;
}

bool ScreenFeed::ended() const {
    const std::lock_guard<std::mutex> lock(mutex);
    return unreadable;
}

void ScreenFeed::pictureReceived(const CasioScreenPicture& picture) {
    const size_t size = static_cast<size_t>(picture.width) * picture.height * 3;
    const std::lock_guard<std::mutex> lock(mutex);
    newest.width = picture.width;
    newest.height = picture.height;
    newest.rgb.assign(picture.rgb, picture.rgb + size);
    any = true;
}

bool ScreenFeed::latest(Picture* copy) const {
    const std::lock_guard<std::mutex> lock(mutex);
    if (any) {
        *copy = newest;
    }
    return any;
}

std::string ScreenFeed::whyNoPicture(int seconds) const {
    const CasioScreenCounts& seen = reader.counts();
    const std::string during = " in " + std::to_string(seconds) + " seconds";
    if (seen.otherKinds > 0 || seen.otherFormats > 0) {
        const std::string way = seen.otherFormats > 0
                                    ? std::string("pixel format ") + seen.otherFormat
                                    : std::string("frames of kind ") + seen.otherKind;
        return "The calculator sends its screen as " + way +
               ", which tolvane does not read: no picture came" + during;
    }
    if (seen.damaged > 0 || seen.impossible > 0) {
        return "Only damaged or unreadable pictures came" + during +
               ": check the cable (or try another USB port)";
    }
    if (drive != nullptr) {
        return whyNoDrivePicture(*drive, during);
    }
    return "No picture came" + during +
           ": put the calculator in its projector mode (Projector, ScreenRecv or "
           "ScreenR(XP) in its menu)";
}

std::string ScreenFeed::whyEnded() const {
    return whyDriveEnded(drive != nullptr ? drive->end() : CasioDriveScreenEnd::unplugged);
}
