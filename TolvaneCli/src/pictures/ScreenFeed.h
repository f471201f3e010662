#pragma once

#include "CasioDriveScreenSource.h"
#include "CasioScreenReader.h"
#include "SocketScreenSource.h"

#include <mutex>
#include <string>
#include <vector>

// The pictures a calculator in its projector mode sends, read one receive at a time from a link
// calculator's socket or a drive calculator's vendor commands (in its ScreenRecv or Projector
// mode), the latest kept whole so that another thread can take a copy of it while the next one
// is read. Nothing is sent but the answer to the calculator's check.
class ScreenFeed final : public CasioScreenListener {
public:
    // A picture of its own, which no later one overwrites.
    struct Picture {
        int width = 0;
        int height = 0;
        std::vector<unsigned char> rgb;

        CasioScreenPicture view() const { return {width, height, rgb.data()}; }
    };

    explicit ScreenFeed(Socket* socket);
    // Opened already (DriveScreen::open).
    explicit ScreenFeed(CasioDriveScreenSource* drive);

    // One receive (a transfer's timeout at most), every picture it completes taken. False, and
    // from then on `ended`, when the calculator can no longer be read or its check answered.
    bool readOnce();
    bool ended() const;
    // A copy of the latest picture; false when none has come yet.
    bool latest(Picture* copy) const;
    // Why no picture came, in words for a user, from what came instead. Once reading stopped.
    std::string whyNoPicture(int seconds) const;
    // Why reading ended, in words for a user; once `ended`.
    std::string whyEnded() const;

    void pictureReceived(const CasioScreenPicture& picture) override;

private:
    SocketScreenSource link;
    CasioDriveScreenSource* drive = nullptr;
    CasioScreenSource* source;
    std::vector<unsigned char> received; // of one receive
    std::vector<unsigned char> frameArea;
    std::vector<unsigned char> pictureArea;
    CasioScreenReader reader;

    mutable std::mutex mutex; // over what follows
    Picture newest;
    bool any = false;
    bool unreadable = false;
};
