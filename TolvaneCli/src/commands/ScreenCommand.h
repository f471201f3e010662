#pragma once

#include "Commands.h"
#include "LocalTarget.h"
#include "ScreenFeed.h"

#include <string>

// tolvane screen: what a calculator in its projector mode shows. The next picture it sends as
// a PNG file (at a path examined beforehand, on standard output, or under a fresh name), or,
// with --stream, live YUV4MPEG2 video on standard output at a steady rate, each frame the
// latest picture. The calculator is sent nothing but the answer to its check: it is in no
// session.
extern const CommandHelp screenHelp;

class ScreenCommand final : public CommandTask {
public:
    std::optional<int> check(const CommandLine& line) override;
    int run(CommandContext& context) const override;
    // A signal ends a stream as it should; a picture not yet written, it cuts short.
    bool signalFinishes() const override { return streaming; }

private:
    enum class Destination {
        FreshName,      // screen-YYYYMMDD-HHMMSS.png (or -2, -3, ...) in `folder`
        File,           // `target`
        StandardOutput, // -o -
    };

    bool plan(const CommandLine& line);
    int savePicture(ScreenFeed& feed) const;
    int writePicture(const ScreenFeed::Picture& picture) const;
    int stream(ScreenFeed& feed) const;
    int playVideo(ScreenFeed& feed) const;

    bool streaming = false;
    int scale = 1;
    Destination destination = Destination::FreshName;
    LocalTarget target;
    std::string folder; // empty: the current one
};
