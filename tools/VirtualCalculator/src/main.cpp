#include "Calculator.h"
#include "ChildProcess.h"
#include "Options.h"
#include "PngPicture.h"
#include "Projector.h"
#include "Report.h"
#include "Storage.h"
#include "StreamingCalculator.h"
#include "UsbEmulator.h"

#include <cstdio>
#include <exception>
#include <fstream>
#include <glib.h>
#include <iterator>
#include <memory>

namespace {

constexpr int exitViolation = 90;
constexpr int exitOwnFailure = 91;

// Our standard output belongs to the command; GLib's messages (umockdev's included) go to
// standard error like everything else of ours.
GLogWriterOutput writeToStandardError(GLogLevelFlags level, const GLogField* fields,
                                      gsize fieldCount, gpointer /*data*/) {
    const char* domain = nullptr;
    for (gsize i = 0; i < fieldCount; ++i) {
        if (g_strcmp0(fields[i].key, "GLIB_DOMAIN") == 0) {
            domain = static_cast<const char*>(fields[i].value);
        }
    }
    if (g_log_writer_default_would_drop(level, domain)) {
        return G_LOG_WRITER_HANDLED;
    }
    gchar* line = g_log_writer_format_fields(level, fields, fieldCount, FALSE);
    fprintf(stderr, "%s\n", line);
    g_free(line);
    return G_LOG_WRITER_HANDLED;
}

bool readWhole(const std::string& path, Bytes& bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

std::string temporaryStorage() {
    gchar* directory = g_dir_make_tmp("VirtualCalculator-XXXXXX", nullptr);
    const std::string path = directory != nullptr ? directory : "";
    g_free(directory);
    return path;
}

// The picture a projector shows: the PNG file given, or the test pattern. Nothing, after
// telling `report`, when the file cannot be read or does not fit the frames.
std::optional<screenwire::Picture> projectorPicture(const ProjectorPlan& plan, Report& report) {
    if (plan.picture.empty()) {
        return screenwire::testPattern(plan.kind);
    }
    std::string error;
    std::optional<screenwire::Picture> picture = readPngPicture(plan.picture, 4096, error);
    const bool monochrome = plan.kind == screenwire::Kind::Typ01;
    if (picture && monochrome &&
        (picture->width != screenwire::monochromeWidth ||
         picture->height != screenwire::monochromeHeight)) {
        error = "a TYP01 picture must be 128 x 64";
    } else if (picture && plan.kind == screenwire::Kind::Typz1 &&
               screenwire::pixelBytes(plan.format, *picture).size() > 0xFFFFFF) {
        error = "too many bytes for a TYPZ1 frame";
    } else if (picture) {
        return picture;
    }
    report.failure("can't show the picture " + plan.picture + ": " + error);
    return std::nullopt;
}

// The calculator that the options ask for; null for an empty bus, and also when it cannot
// be made, which `report` then tells.
std::unique_ptr<UsbPeer> makeCalculator(const Options& options, Report& report,
                                        std::unique_ptr<Storage>& storage) {
    if (options.noDevice) {
        return nullptr;
    }
    if (options.projector) {
        const std::optional<screenwire::Picture> picture =
            projectorPicture(options.projectorPlan, report);
        if (!picture) {
            return nullptr;
        }
        return std::make_unique<Projector>(options.projectorPlan, *picture,
                                           options.chunk.value_or(0), report);
    }
    if (!options.stream.empty()) {
        Bytes stream;
        if (!readWhole(options.stream, stream)) {
            report.failure("can't read the stream " + options.stream);
            return nullptr;
        }
        return std::make_unique<StreamingCalculator>(std::move(stream), options.chunk.value_or(64),
                                                     report, options.streamPlan);
    }
    const std::string root = options.storage.empty() ? temporaryStorage() : options.storage;
    storage = std::make_unique<Storage>(root);
    if (root.empty() || !storage->prepare()) {
        report.failure("can't prepare the storage in '" + root + "'");
        return nullptr;
    }
    if (options.storage.empty()) {
        report.note("storage in " + root);
    }
    Calculator::Settings settings;
    settings.capacity = options.capacity.value_or(Calculator::defaultCapacity);
    settings.longInfo = options.longInfo;
    settings.listFolders = options.listFolders;
    settings.optimizeDelay = std::chrono::milliseconds(options.optimizeDelayMs);
    settings.turnarounds = {std::chrono::milliseconds(options.idleTurnaroundMs),
                            std::chrono::milliseconds(options.busyTurnaroundMs)};
    settings.cannotPipeline = options.cannotPipeline;
    settings.keepsPartialFiles = options.keepPartial;
    settings.fileFlaws = {options.announcedSize ? std::optional<uint32_t>(
                                                      static_cast<uint32_t>(*options.announcedSize))
                                                : std::nullopt,
                          options.extraPart};
    return std::make_unique<Calculator>(*storage, report, settings, FaultPlan(options.faults));
}

int run(const Options& options) {
    Report report(options.report);
    if (!report.opened()) {
        fprintf(stderr, "VirtualCalculator: can't write the report %s\n", options.report.c_str());
        return exitOwnFailure;
    }
    std::unique_ptr<Storage> storage;
    const std::unique_ptr<UsbPeer> calculator = makeCalculator(options, report, storage);
    if (report.failures() > 0) {
        return exitOwnFailure;
    }
    UsbEmulator emulator(calculator.get(), std::chrono::milliseconds(options.plugAfterMs));
    if (!emulator.setUpError().empty()) {
        report.failure("can't set up the USB testbed: " + emulator.setUpError());
        return exitOwnFailure;
    }

    std::string error;
    const int status = runChild(
        options.command, childEnvironment(emulator.rootDirectory(), options.command[0]), error);
    if (status < 0) {
        report.failure("can't start " + options.command[0] + ": " + error);
        return exitOwnFailure;
    }
    emulator.hostGone();
    if (options.countTransfers) {
        report.note("the host made " + std::to_string(emulator.outTransferCount()) + " OUT and " +
                    std::to_string(emulator.inTransferCount()) + " IN transfers");
        report.note("the host claimed the interface " + std::to_string(emulator.claimCount()) +
                    " times and released it " + std::to_string(emulator.releaseCount()) + " times");
    }
    if (emulator.unclaimedTransferCount() > 0) {
        report.violation(std::to_string(emulator.unclaimedTransferCount()) +
                         " bulk transfers through an interface the host had not claimed");
    }
    if (report.failures() > 0) {
        return exitOwnFailure;
    }
    return report.violations() > 0 ? exitViolation : status;
}

} // namespace

int main(int argc, char** argv) {
    g_log_set_writer_func(writeToStandardError, nullptr, nullptr);
    const ParsedOptions parsed = parseOptions(argc, argv);
    switch (parsed.outcome) {
    case ParsedOptions::Help:
        printUsage();
        return 0;
    case ParsedOptions::Invalid:
        fprintf(stderr, "VirtualCalculator: %s\nTry 'VirtualCalculator --help'.\n",
                parsed.error.c_str());
        return exitOwnFailure;
    case ParsedOptions::Run:
        break;
    }
    try {
        return run(parsed.options);
    } catch (const std::exception& exception) {
        fprintf(stderr, "VirtualCalculator: error: %s\n", exception.what());
        return exitOwnFailure;
    }
}
