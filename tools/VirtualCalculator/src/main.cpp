#include "Calculator.h"
#include "ChildProcess.h"
#include "DiskWorld.h"
#include "DriveMedium.h"
#include "G1mWire.h"
#include "MainMemory.h"
#include "Options.h"
#include "PngPicture.h"
#include "Projector.h"
#include "Report.h"
#include "ScsiDrive.h"
#include "Storage.h"
#include "StreamingCalculator.h"
#include "UsbEmulator.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <glib.h>
#include <iterator>
#include <memory>
#include <optional>

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

Calculator::Settings settingsOf(const Options& options) {
    Calculator::Settings settings;
    settings.capacity = options.capacity.value_or(CalculatorSettings::defaultCapacity);
    settings.longInfo = options.longInfo;
    settings.listFolders = options.listFolders;
    settings.optimizeDelay = std::chrono::milliseconds(options.optimizeDelayMs);
    settings.turnarounds = {std::chrono::milliseconds(options.idleTurnaroundMs),
                            std::chrono::milliseconds(options.busyTurnaroundMs)};
    settings.cannotPipeline = options.cannotPipeline;
    settings.keepsPartialFiles = options.keepPartial;
    settings.mainMemoryCapacity =
        options.mainMemoryCapacity.value_or(MainMemoryCommands::defaultCapacity);
    settings.noStorageMemory = options.noStorageMemory;
    settings.fileFlaws = {options.announcedSize ? std::optional<uint32_t>(
                                                      static_cast<uint32_t>(*options.announcedSize))
                                                : std::nullopt,
                          options.extraPart};
    return settings;
}

// What plays the calculators of one run, by seat, kept until the host has gone.
struct Bench {
    BusLayout layout;
    std::vector<std::unique_ptr<Report>> reports; // each calculator's, when there are several
    std::vector<std::unique_ptr<Storage>> storages;
    std::vector<std::unique_ptr<UsbPeer>> peers;  // null for a drive
    std::vector<std::unique_ptr<ScsiDrive>> scsi; // null for a link calculator
    std::vector<std::chrono::milliseconds> plugDelays;
    std::vector<DriveMedium> drives;

    template <typename Peer>
    static std::vector<Peer*> pointers(const std::vector<std::unique_ptr<Peer>>& owned) {
        std::vector<Peer*> pointers;
        for (const std::unique_ptr<Peer>& peer : owned) {
            pointers.push_back(peer.get());
        }
        return pointers;
    }
};

// The folder every calculator keeps its files below; empty, after saying so, when it cannot
// be made.
std::string storageBase(const Options& options, Report& report) {
    const std::string base = options.storage.empty() ? temporaryStorage() : options.storage;
    if (base.empty()) {
        report.failure("can't prepare the storage in ''");
    } else if (options.storage.empty()) {
        report.note("storage in " + base);
    }
    return base;
}

// The main memory, with the items of the .g1m files given; false, after saying why, when it
// cannot be made so.
bool fillMainMemory(const MainMemory& memory, const std::vector<std::string>& files,
                    Report& report) {
    if (!memory.prepare()) {
        report.failure("can't prepare the main memory in '" + memory.root() + "'");
        return false;
    }
    for (const std::string& file : files) {
        Bytes bytes;
        std::string problem = "it can't be read";
        const std::optional<std::vector<g1mwire::Item>> items =
            readWhole(file, bytes) ? g1mwire::read(bytes, problem) : std::nullopt;
        if (!items) {
            report.failure("can't fill the main memory from " + file + ": " + problem);
            return false;
        }
        for (const g1mwire::Item& item : *items) {
            if (!memory.store({item.type, item.directory, item.name, item.group}, item.data)) {
                report.failure("can't write " +
                               memory.pathOf({item.type, item.directory, item.name, item.group}));
                return false;
            }
        }
        report.note("main memory filled from " + file + ": " + std::to_string(items->size()) +
                    " items");
    }
    return true;
}

// Its main memory is --main-memory (DIR/ADDRESS with several calculators on the bus), or the
// folder @MainMem of its storage.
std::unique_ptr<UsbPeer> makeLinkCalculator(const Options& own, Report& report,
                                            const std::string& root, const std::string& address,
                                            Bench& bench) {
    bench.storages.push_back(std::make_unique<Storage>(root));
    if (!bench.storages.back()->prepare()) {
        report.failure("can't prepare the storage in '" + root + "'");
        return nullptr;
    }
    Calculator::Settings settings = settingsOf(own);
    settings.mainMemory = own.mainMemory.empty()         ? root + "/@MainMem"
                          : bench.layout.severalPlaces() ? own.mainMemory + "/" + address
                                                         : own.mainMemory;
    if (!fillMainMemory(MainMemory(settings.mainMemory), own.mainMemoryFrom, report)) {
        return nullptr;
    }
    return std::make_unique<Calculator>(*bench.storages.back(), report, settings,
                                        FaultPlan(own.faults));
}

// A drive's folder as the command will see it: absolute and without links, since it is the
// mount point the disk service answers.
void makeDrive(const Seat& seat, const Options& own, Report& report, const std::string& root,
               Bench& bench) {
    std::error_code error;
    std::filesystem::create_directories(root, error);
    const std::filesystem::path folder = std::filesystem::canonical(root, error);
    if (error) {
        report.failure("can't prepare the drive's folder '" + root + "'");
    }
    DriveMedium drive;
    drive.seat = seat;
    drive.root = folder.string();
    drive.report = &report;
    drive.capacity = own.capacity.value_or(CalculatorSettings::defaultCapacity);
    drive.readOnly = own.readOnly;
    drive.refuseMount = own.refuseMount;
    drive.refuseEject = own.refuseEject;
    drive.knownFrom = std::chrono::steady_clock::now() + std::chrono::milliseconds(own.knownLateMs);
    drive.mountPoint = own.mounted ? drive.root : "";
    bench.drives.push_back(drive);
}

// A calculator that only talks, as an add-in that prints.
std::unique_ptr<UsbPeer> makeStreamer(const Options& own, Report& report) {
    Bytes stream;
    if (!readWhole(own.stream, stream)) {
        report.failure("can't read the stream " + own.stream);
        return nullptr;
    }
    return std::make_unique<StreamingCalculator>(std::move(stream), own.chunk.value_or(64), report,
                                                 own.streamPlan);
}

// A calculator in its projector mode, sending pictures of its screen.
std::unique_ptr<Projector> makeProjector(const Options& own, Report& report) {
    const std::optional<screenwire::Picture> picture = projectorPicture(own.projectorPlan, report);
    if (!picture) {
        return nullptr;
    }
    return std::make_unique<Projector>(own.projectorPlan, *picture, own.chunk.value_or(0), report);
}

// A drive: in its ScreenRecv or Projector mode with --projector, else in its USB Flash mode
// with the files of its folder.
void makeDriveCalculator(const Seat& seat, const Options& own, Report& report,
                         const std::function<std::string()>& root, Bench& bench) {
    bench.peers.push_back(nullptr);
    if (!own.projector) {
        const std::string folder = root();
        if (!folder.empty()) {
            makeDrive(seat, own, report, folder, bench);
        }
        bench.scsi.push_back(std::make_unique<ScsiDrive>(nullptr, report));
        return;
    }
    Options drawing = own;
    drawing.projectorPlan.ownClock = true;
    std::unique_ptr<Projector> projector = makeProjector(drawing, report);
    bench.scsi.push_back(projector ? std::make_unique<ScsiDrive>(std::move(projector), report)
                                   : nullptr);
}

// One calculator per seat, each with its own options, and its own storage below the base,
// which is made when a calculator first needs it; the lone calculator of old keeps its
// storage in the base itself.
void seatCalculators(const Options& options, Report& report, Bench& bench) {
    std::optional<std::string> base;
    const bool several = bench.layout.seats().size() > 1;
    for (Seat& seat : bench.layout.seats()) {
        const Options own = forCalculator(options, seat.address);
        bench.reports.push_back(several ? std::make_unique<Report>(report, seat.address) : nullptr);
        Report& its = several ? *bench.reports.back() : report;
        bench.plugDelays.push_back(std::chrono::milliseconds(own.plugAfterMs));
        const auto root = [&]() {
            base = base ? base : storageBase(options, report);
            return base->empty()                  ? std::string()
                   : bench.layout.severalPlaces() ? *base + "/" + seat.address
                                                  : *base;
        };
        if (seat.kind == Seat::Kind::Drive) {
            makeDriveCalculator(seat, own, its, root, bench);
            continue;
        }
        bench.scsi.push_back(nullptr);
        if (own.projector) {
            bench.peers.push_back(makeProjector(own, its));
            continue;
        }
        if (!own.stream.empty()) {
            bench.peers.push_back(makeStreamer(own, its));
            continue;
        }
        const std::string folder = root();
        if (folder.empty()) {
            return;
        }
        bench.peers.push_back(makeLinkCalculator(own, its, folder, seat.address, bench));
    }
}

// What the kernel shows of each calculator, as its options ask.
void dressSeats(const Options& options, BusLayout& layout) {
    for (Seat& seat : layout.seats()) {
        const Options own = forCalculator(options, seat.address);
        seat.wholeDisk = own.wholeDisk;
        seat.serial = own.serial.value_or(seat.serial);
        seat.heldElsewhere = own.heldElsewhere;
        seat.monochrome = own.monochrome;
        seat.screen = seat.kind == Seat::Kind::Drive && own.projector;
    }
}

// The calculators that the options ask for, none for an empty bus; `report` tells what
// could not be made.
void makeCalculators(const Options& options, Report& report, Bench& bench) {
    if (options.noDevice) {
        bench.layout.seats().clear();
        return;
    }
    seatCalculators(options, report, bench);
}

// Of each link calculator: what the host did with it, when asked, and the transfers it made
// without a claim, which are a violation.
void reportUse(const Options& options, const UsbEmulator& emulator, Report& report,
               const Bench& bench) {
    unsigned long outTransfers = 0;
    unsigned long inTransfers = 0;
    for (size_t seat = 0; seat < bench.peers.size(); ++seat) {
        if (bench.peers[seat] == nullptr) {
            continue;
        }
        Report& its =
            seat < bench.reports.size() && bench.reports[seat] ? *bench.reports[seat] : report;
        const UsbEmulator::Counts counts = emulator.counts(seat);
        outTransfers += counts.outTransfers;
        inTransfers += counts.inTransfers;
        if (options.countTransfers) {
            its.note("the host made " + std::to_string(counts.outTransfers) + " OUT and " +
                     std::to_string(counts.inTransfers) + " IN transfers");
            its.note("the host claimed the interface " + std::to_string(counts.claims) +
                     " times and released it " + std::to_string(counts.releases) + " times");
        }
        if (counts.refusedClaims > 0) {
            its.note("a claim of the interface while another program held it was refused " +
                     std::to_string(counts.refusedClaims) + " times");
        }
        if (counts.unclaimedTransfers > 0) {
            its.violation(std::to_string(counts.unclaimedTransfers) +
                          " bulk transfers through an interface the host had not claimed");
        }
    }
    // A host of several at once: the sum, for a benchmark of all of them.
    if (options.countTransfers && !bench.reports.empty()) {
        report.note("the host made " + std::to_string(outTransfers) + " OUT and " +
                    std::to_string(inTransfers) + " IN transfers to all calculators");
    }
}

int run(const Options& options) {
    Report report(options.report);
    if (!report.opened()) {
        fprintf(stderr, "VirtualCalculator: can't write the report %s\n", options.report.c_str());
        return exitOwnFailure;
    }
    Bench bench;
    bench.layout = layoutOf(options);
    dressSeats(options, bench.layout);
    makeCalculators(options, report, bench);
    if (report.failures() > 0) {
        return exitOwnFailure;
    }
    UsbEmulator emulator(bench.layout, Bench::pointers(bench.peers), Bench::pointers(bench.scsi),
                         bench.plugDelays);
    if (!emulator.setUpError().empty()) {
        report.failure("can't set up the USB testbed: " + emulator.setUpError());
        return exitOwnFailure;
    }

    DiskWorld disks(options, bench.drives, emulator, report);
    if (report.failures() > 0) {
        return exitOwnFailure;
    }

    std::string error;
    const int status = runChild(options.command,
                                childEnvironment(emulator.rootDirectory(), options.command[0],
                                                 disks.preload(), disks.variables()),
                                error);
    if (status < 0) {
        report.failure("can't start " + options.command[0] + ": " + error);
        return exitOwnFailure;
    }
    emulator.hostGone();
    reportUse(options, emulator, report, bench);
    disks.reportUse();
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
