#include "Options.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr long long largestChunk = 1 << 20;

std::optional<long long> parseNonNegative(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 18) {
        return std::nullopt;
    }
    return strtoll(text.c_str(), nullptr, 10);
}

ParsedOptions invalid(std::string error) {
    ParsedOptions parsed;
    parsed.outcome = ParsedOptions::Invalid;
    parsed.error = std::move(error);
    return parsed;
}

// Sets the option's value; false when the value is not acceptable.
bool applyValue(Options& options, const std::string& option, const std::string& value) {
    if (option == "--main-memory-from") {
        options.mainMemoryFrom.push_back(value);
        return !value.empty();
    }
    if (option == "--storage" || option == "--report" || option == "--stream" ||
        option == "--main-memory") {
        std::string& target = option == "--storage"       ? options.storage
                              : option == "--report"      ? options.report
                              : option == "--main-memory" ? options.mainMemory
                                                          : options.stream;
        target = value;
        return !value.empty();
    }
    if (option == "--serial") {
        options.serial = value;
        return value.find_first_of(std::string(1, '\0') + "\n") == std::string::npos;
    }
    if (option == "--capacity" || option == "--main-memory-capacity") {
        std::optional<long long>& capacity =
            option == "--capacity" ? options.capacity : options.mainMemoryCapacity;
        capacity = parseNonNegative(value);
        return capacity.has_value();
    }
    if (option == "--optimize-delay" || option == "--announce-size" ||
        option == "--idle-turnaround" || option == "--busy-turnaround" ||
        option == "--known-late") {
        const std::optional<long long> number = parseNonNegative(value);
        if (option == "--announce-size") {
            options.announcedSize = number;
        } else {
            long long& milliseconds = option == "--optimize-delay"    ? options.optimizeDelayMs
                                      : option == "--idle-turnaround" ? options.idleTurnaroundMs
                                      : option == "--known-late"      ? options.knownLateMs
                                                                      : options.busyTurnaroundMs;
            milliseconds = number.value_or(0);
        }
        return number && *number <= 0xFFFFFFFFLL;
    }
    if (option == "--stream-plan") {
        std::optional<std::vector<StreamStep>> plan = parseStreamPlan(value);
        options.streamPlan = plan ? *plan : std::vector<StreamStep>{};
        return plan.has_value();
    }
    if (option == "--plug-after") {
        const std::optional<std::vector<StreamStep>> pause = parseStreamPlan("pause:" + value);
        options.plugAfterMs = pause ? pause->front().duration.count() : 0;
        return pause.has_value();
    }
    if (option == "--chunk") {
        const std::optional<long long> chunk = parseNonNegative(value);
        options.chunk = chunk ? static_cast<size_t>(*chunk) : 0;
        return chunk && *chunk >= 1 && *chunk <= largestChunk;
    }
    if (isProjectorOption(option)) {
        options.projector = options.projector || option == "--projector";
        options.projectorOptionsGiven = true;
        return applyProjectorOption(options.projectorPlan, option, value);
    }
    std::optional<Fault> fault = parseFault(option, value);
    if (fault) {
        options.faults.push_back(std::move(*fault));
    }
    return fault.has_value();
}

bool takesBusValue(const std::string& option) {
    return option == "--calculators" || option == "--drives";
}

// How many calculators of a kind; false when that is not a count the bus can hold.
bool applyBusValue(Options& options, const std::string& option, const std::string& value) {
    const std::optional<long long> count = parseNonNegative(value);
    if (!count || *count < 1 || *count > BusLayout::mostCalculators) {
        return false;
    }
    if (option == "--calculators") {
        options.calculators = static_cast<int>(*count);
    } else {
        options.drives = static_cast<int>(*count);
    }
    return true;
}

// What one calculator may have of its own, after --at.
bool isScopable(const std::string& option) {
    return option == "--capacity" || option == "--optimize-delay" || option == "--announce-size" ||
           option == "--idle-turnaround" || option == "--busy-turnaround" ||
           option == "--long-info" || option == "--list-folders" || option == "--extra-part" ||
           option == "--cannot-pipeline" || option == "--keep-partial" ||
           option == "--whole-disk" || option == "--serial" || option == "--held" ||
           option == "--monochrome" || option == "--mounted" || option == "--read-only" ||
           option == "--refuse-mount" || option == "--refuse-eject" || option == "--known-late" ||
           option == "--stream" || option == "--chunk" || option == "--stream-plan" ||
           option == "--plug-after" || option == "--main-memory-from" ||
           option == "--main-memory-capacity" || option == "--no-storage-memory" ||
           isFaultOption(option) || isProjectorOption(option) || option == "--check";
}

bool takesValue(const std::string& option) {
    return option == "--storage" || option == "--capacity" || option == "--report" ||
           option == "--stream" || option == "--chunk" || option == "--optimize-delay" ||
           option == "--announce-size" || option == "--stream-plan" || option == "--plug-after" ||
           option == "--idle-turnaround" || option == "--busy-turnaround" || option == "--serial" ||
           option == "--known-late" || option == "--main-memory" ||
           option == "--main-memory-from" || option == "--main-memory-capacity" ||
           isFaultOption(option) || isProjectorOption(option);
}

// Options without a value; false for any other.
bool applyFlag(Options& options, const std::string& option) {
    if (option == "--check") {
        options.projectorPlan.check = true;
        options.projectorOptionsGiven = true;
        return true;
    }
    bool Options::*const flag = option == "--count-transfers"     ? &Options::countTransfers
                                : option == "--no-device"         ? &Options::noDevice
                                : option == "--long-info"         ? &Options::longInfo
                                : option == "--list-folders"      ? &Options::listFolders
                                : option == "--extra-part"        ? &Options::extraPart
                                : option == "--cannot-pipeline"   ? &Options::cannotPipeline
                                : option == "--keep-partial"      ? &Options::keepPartial
                                : option == "--whole-disk"        ? &Options::wholeDisk
                                : option == "--held"              ? &Options::heldElsewhere
                                : option == "--monochrome"        ? &Options::monochrome
                                : option == "--mounted"           ? &Options::mounted
                                : option == "--read-only"         ? &Options::readOnly
                                : option == "--refuse-mount"      ? &Options::refuseMount
                                : option == "--refuse-eject"      ? &Options::refuseEject
                                : option == "--no-disk-service"   ? &Options::noDiskService
                                : option == "--no-system-bus"     ? &Options::noSystemBus
                                : option == "--no-storage-memory" ? &Options::noStorageMemory
                                                                  : nullptr;
    if (flag != nullptr) {
        options.*flag = true;
    }
    return flag != nullptr;
}

// The talking calculators only talk: they have no storage to fill and no packets to spoil.
std::string conflicts(const Options& options) {
    const bool storageCalculator =
        !options.storage.empty() || options.capacity || !options.faults.empty() ||
        options.longInfo || options.listFolders || options.optimizeDelayMs > 0 ||
        options.extraPart || options.announcedSize || options.idleTurnaroundMs > 0 ||
        options.busyTurnaroundMs > 0 || options.cannotPipeline || options.keepPartial ||
        !options.mainMemory.empty() || !options.mainMemoryFrom.empty() ||
        options.mainMemoryCapacity || options.noStorageMemory;
    if (!options.stream.empty() && storageCalculator) {
        return "--stream goes with none of the storage calculator's options or faults";
    }
    if (options.projector && (storageCalculator || !options.stream.empty())) {
        return "--projector goes with none of the storage calculator's options or faults, "
               "nor with --stream";
    }
    if (!options.projector && options.projectorOptionsGiven) {
        return "--picture, --frame-rate, --frames, --check, --stray, --damage, --cut and "
               "--unplug-after need --projector";
    }
    if (options.stream.empty() && !options.streamPlan.empty()) {
        return "--stream-plan needs --stream";
    }
    if ((options.calculators || options.drives > 0) && options.noDevice) {
        return "--calculators and --drives do not go with --no-device";
    }
    if (options.noDiskService && options.noSystemBus) {
        return "--no-disk-service and --no-system-bus do not go together";
    }
    if (options.calculators.value_or(0) + options.drives > BusLayout::mostCalculators) {
        return "at most " + std::to_string(BusLayout::mostCalculators) + " calculators";
    }
    return "";
}

bool seated(const BusLayout& layout, const std::string& address) {
    return std::any_of(layout.seats().begin(), layout.seats().end(),
                       [&](const Seat& seat) { return seat.address == address; });
}

// An option for one calculator is checked at once, on a copy, and kept as given.
std::string scope(Options& options, const std::string& address, const std::string& option,
                  const std::string* value) {
    if (!isScopable(option)) {
        return option + " applies to every calculator: give it before --at";
    }
    Options trial = options;
    if (value != nullptr ? !applyValue(trial, option, *value) : !applyFlag(trial, option)) {
        return "bad value for " + option + ": '" + (value != nullptr ? *value : "") + "'";
    }
    options.scoped.push_back({address, option, value != nullptr ? *value : ""});
    return "";
}

std::string unseated(const Options& options) {
    const BusLayout layout = layoutOf(options);
    for (const Options::Scoped& scoped : options.scoped) {
        if (!seated(layout, scoped.address)) {
            return "--at " + scoped.address + ": no calculator there";
        }
    }
    return "";
}

// Each calculator's own options must go together too; a drive only holds files.
std::string seatConflicts(const Options& options) {
    const BusLayout layout = layoutOf(options);
    for (const Seat& seat : layout.seats()) {
        Options own = forCalculator(options, seat.address);
        if (seat.kind == Seat::Kind::Drive && (!own.stream.empty() || own.plugAfterMs > 0)) {
            return seat.address + ": a drive calculator takes neither --stream nor --plug-after";
        }
        // The storage is the bus's; a drive in its screen mode just has no files there.
        if (seat.kind == Seat::Kind::Drive && own.projector) {
            own.storage.clear();
        }
        const std::string conflict = conflicts(own);
        if (!conflict.empty()) {
            return seat.address + ": " + conflict;
        }
    }
    return "";
}

} // namespace

ParsedOptions parseOptions(int argc, char** argv) {
    ParsedOptions parsed;
    Options& options = parsed.options;
    Options trialFlags;  // tells flags from the rest without setting them
    std::string address; // after --at: the calculator the options are for
    int i = 1;
    for (; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--") {
            ++i;
            break;
        }
        if (option == "--help" || option == "-h") {
            parsed.outcome = ParsedOptions::Help;
            return parsed;
        }
        if (option == "--drive") {
            options.drives = 1;
            continue;
        }
        const bool flag = applyFlag(trialFlags, option);
        if (!flag && !takesValue(option) && !takesBusValue(option) && option != "--at") {
            return invalid("unknown option " + option);
        }
        if (!flag && i + 1 >= argc) {
            return invalid(option + " needs a value");
        }
        const std::string value = flag ? "" : argv[++i];
        if (option == "--at") {
            address = value;
            continue;
        }
        if (!address.empty()) {
            const std::string problem = scope(options, address, option, flag ? nullptr : &value);
            if (!problem.empty()) {
                return invalid(problem);
            }
            continue;
        }
        if (flag) {
            applyFlag(options, option);
        } else if (takesBusValue(option) ? !applyBusValue(options, option, value)
                                         : !applyValue(options, option, value)) {
            return invalid("bad value for " + option + ": '" + value + "'");
        }
    }
    options.command.assign(argv + i, argv + argc);
    if (options.command.empty()) {
        return invalid("no command to run: give it after --");
    }
    std::string conflict = conflicts(options);
    if (conflict.empty()) {
        conflict = unseated(options);
    }
    if (conflict.empty()) {
        conflict = seatConflicts(options);
    }
    if (!conflict.empty()) {
        return invalid(conflict);
    }
    return parsed;
}

BusLayout layoutOf(const Options& options) {
    if (!options.calculators && options.drives == 0) {
        return BusLayout::lone();
    }
    return BusLayout::behindHubs(options.calculators.value_or(0), options.drives);
}

Options forCalculator(const Options& options, const std::string& address) {
    Options own = options;
    own.scoped.clear();
    for (const Options::Scoped& scoped : options.scoped) {
        if (scoped.address == address && !applyFlag(own, scoped.option)) {
            applyValue(own, scoped.option, scoped.value);
        }
    }
    return own;
}

void printUsage() {
    fputs("usage: VirtualCalculator [OPTIONS] -- COMMAND [ARGUMENTS...]\n"
          "\n"
          "Runs COMMAND with a virtual Casio calculator (USB 07cf:6101) attached: the program\n"
          "and its real libusb-1.0 see a device on the bus, emulated with umockdev. The\n"
          "calculator keeps its storage in a directory on the PC, plays the storage commands\n"
          "(device information, upload, download, listing, free space, delete, optimize) and\n"
          "the main-memory commands (an item sent, fetched, fetched all, deleted, listed, the\n"
          "free main memory), and checks every byte the host sends. COMMAND keeps its own standard "
          "output and error;\n"
          "VirtualCalculator writes only to standard error (or to the report file). With\n"
          "--projector it plays a calculator in its projector mode instead.\n"
          "\n"
          "Calculator:\n"
          "  --storage DIR        the calculator's storage: DIR/fls0 (flash, created if\n"
          "                       missing) and DIR/crd0 (SD card, there only if that directory\n"
          "                       exists), files in a device's root or one folder deep\n"
          "                       (default: a new temporary directory, named on standard error\n"
          "                       and kept afterwards)\n"
          "  --capacity BYTES     room on each storage device (default 16777216): bounds uploads\n"
          "                       (15/05 memory full) and sets the free space and the flash\n"
          "                       capacity in the device information\n"
          "  --main-memory DIR    the calculator's main memory: one file per item,\n"
          "                       DIR/GROUP/DIRECTORY/NAME.TT (TT the type in hex; bytes other\n"
          "                       than letters, digits, space and -_@~+=,!#&()[]{} written %XX,\n"
          "                       an empty name %), created if missing (default: the folder\n"
          "                       @MainMem of the storage)\n"
          "  --main-memory-from FILE.g1m\n"
          "                       start with the items of this .g1m file in main memory\n"
          "                       (repeatable; an item of the same names is replaced)\n"
          "  --main-memory-capacity BYTES\n"
          "                       room for items (default 65536): bounds item uploads (15/05)\n"
          "                       and sets the free main memory\n"
          "  --no-storage-memory  a model without storage memory (fx-9750GII family): the\n"
          "                       storage commands 44, 45, 46, 4B, 4D and 51 are refused\n"
          "                       with 15/04; main memory works as ever\n"
          "  --long-info          answer the device information with the 188-byte block (user\n"
          "                       name and organisation of 20 bytes) instead of 164 bytes\n"
          "  --list-folders       listings also send an entry with an empty name per folder\n"
          "  --optimize-delay MS  answer the optimize command only after MS milliseconds\n"
          "  --idle-turnaround MS\n"
          "                       the calculator's time to answer a packet that came after\n"
          "                       its previous answer was read (default 0; a real one takes\n"
          "                       about 30 ms for a file part)\n"
          "  --busy-turnaround MS\n"
          "                       its time to answer a file part that came pipelined, before\n"
          "                       the answer to the part before was read, counted from that\n"
          "                       read (default 0; a real one: about 3 ms)\n"
          "  --cannot-pipeline    a link that cannot take pipelined parts: such a part is\n"
          "                       answered 15/01 (send it again) and not taken\n"
          "  --keep-partial       an upload cut short (terminated, or left by the host) leaves\n"
          "                       the parts taken so far stored as the file, where a\n"
          "                       well-behaved calculator stores nothing\n"
          "  --report FILE        write notes and violations there instead of standard error\n"
          "  --stream FILE        a calculator that only talks: once opened, it sends FILE's\n"
          "                       bytes on the IN endpoint, then falls silent\n"
          "  --chunk N            at most N bytes per IN transfer (with --stream: default 64;\n"
          "                       with --projector: as many as the host's buffer takes)\n"
          "  --stream-plan STEPS  with --stream, a script of comma-separated steps: N (send the\n"
          "                       next N bytes), pause:S (silent S seconds), unplug:S (leave\n"
          "                       the bus, come back after S seconds as a freshly plugged\n"
          "                       device); the rest of the stream follows the last step\n"
          "  --plug-after S       an empty bus for the first S seconds, then the calculator\n"
          "                       is plugged in\n"
          "  --no-device          attach no calculator at all\n"
          "\n"
          "A calculator in its projector mode, which sends pictures of its screen unasked:\n"
          "  --projector KIND[:FORMAT]\n"
          "                       frames of kind TYP01 (monochrome, 128 x 64), TYPZ1 or TYPZ2\n"
          "                       (colour) in pixel format 1RC2 (default), 1RC3 or 1RM2;\n"
          "                       with --drive, a drive in its ScreenRecv or Projector mode:\n"
          "                       the frames in vendor SCSI commands (C0 poll, C1 read, C2\n"
          "                       write) on its SCSI generic node /dev/sg1, no medium\n"
          "  --picture FILE       the picture shown, a PNG file (TYP01: 128 x 64; colour: any\n"
          "                       size); default: a test pattern of the screen's size\n"
          "  --frame-rate FPS     frames a second (default 10; fractions allowed)\n"
          "  --frames N           fall silent after N frames (0: send no picture at all)\n"
          "  --check              first repeat the check (16 CAL00D0) at the frame rate\n"
          "                       until the host answers it (06 0200100D)\n"
          "  --stray K[:N]        N stray bytes (default 16) before frame K (from 1)\n"
          "  --damage K           frame K with a wrong checksum\n"
          "  --cut K[:N]          only the first N bytes of frame K (default: half of it)\n"
          "  --unplug-after K     leave the bus for good once K frames are out\n"
          "  --count-transfers    note at the end how many bulk transfers the host made, and\n"
          "                       how often it claimed and released the interface\n"
          "  -h, --help           show this text\n"
          "\n"
          "Several calculators on one bus:\n"
          "  --calculators N      N link calculators (1-32) behind an emulated hub, at the\n"
          "                       port paths 1-4.1, 1-4.2, ... (a hub's port 7 leads to the\n"
          "                       next hub: 1-4.7.1, ...), each with a serial of its own;\n"
          "                       each keeps its storage in DIR/ADDRESS (fls0, crd0 below\n"
          "                       it; its main memory in --main-memory's DIR/ADDRESS), and\n"
          "                       the report names it on its lines\n"
          "  --drives M           M drive calculators (USB 07cf:6102, mass storage with a\n"
          "                       FAT disk sdb, sdc, ...) after the link ones; each has the\n"
          "                       folder DIR/ADDRESS. Without --calculators, the only ones\n"
          "  --drive              the same as --drives 1\n"
          "  --whole-disk         a drive's file system covers its whole disk (sdb) instead\n"
          "                       of a partition (sdb1)\n"
          "  --monochrome         a drive of the newest monochrome kind: 07cf:6103, FAT12\n"
          "  --serial TEXT        the calculators' serial string (default VC0000000001 for\n"
          "                       the first, and so on); empty: the device has none\n"
          "  --held               another program holds the calculator all along: sysfs\n"
          "                       shows usbfs bound to its interface, claims fail (EBUSY)\n"
          "  --at ADDRESS         the options after it, up to the next --at, are for the\n"
          "                       calculator at ADDRESS alone, on top of those for all:\n"
          "                       faults, --capacity, --long-info, --list-folders,\n"
          "                       --main-memory-from, --main-memory-capacity,\n"
          "                       --no-storage-memory,\n"
          "                       --optimize-delay, the turnarounds, --cannot-pipeline,\n"
          "                       --keep-partial, --extra-part, --announce-size,\n"
          "                       --whole-disk, --monochrome, --serial, --held, the drive\n"
          "                       options below but the last two, and for a link\n"
          "                       calculator that talks or comes late --stream, --chunk,\n"
          "                       --stream-plan and --plug-after; --projector and its\n"
          "                       options\n"
          "\n"
          "Drive calculators and the disk service. The command gets a system bus of its own\n"
          "(DBUS_SYSTEM_BUS_ADDRESS) with a stand-in for UDisks2: its Mount answers the\n"
          "drive's folder DIR/ADDRESS as the mount point, and mounts nothing; PowerOff takes\n"
          "the drive off the bus. The testbed's /proc/self/mountinfo shows the mounts, and\n"
          "a drive's free space is its --capacity less the bytes in its folder.\n"
          "  --mounted            the drive is mounted already, at its folder\n"
          "  --read-only          it is mounted read-only: `ro' in mountinfo, ReadOnly on\n"
          "                       its block device, and its folders made unwritable\n"
          "  --refuse-mount       the service is not authorized to mount it\n"
          "                       (NotAuthorizedCanObtain), as for a remote session\n"
          "  --refuse-eject       nor to unmount it or power it off\n"
          "  --known-late MS      the service learns of the drive MS ms after it appears\n"
          "                       (until then ResolveDevice finds no object for it)\n"
          "  --no-disk-service    a system bus on which no disk service runs\n"
          "  --no-system-bus      no system bus at all\n"
          "\n"
          "Faults at a packet the host sends, WHERE = connect, request (command 45),\n"
          "command:CC (command CC, hex), part:K (upload part K, from 1) or terminate:\n"
          "  --resend WHERE         answer with a refusal 15/01 (send it again); the copy\n"
          "                         sent again is answered normally\n"
          "  --silent WHERE[:N]     leave the next N IN transfers unanswered (they time out),\n"
          "                         then answer; N absent or 0: never answer again\n"
          "  --unplug WHERE         vanish when it arrives: later transfers fail with ENODEV\n"
          "  --refuse WHERE[:SUB]   answer with the refusal 15/SUB (hex, default 00)\n"
          "  --corrupt WHERE        answer with a wrong checksum\n"
          "  --short WHERE:N        answer with the first N (1-5) bytes of the answer\n"
          "  --answer WHERE:HEX     answer with these raw bytes\n"
          "Faults at a packet the calculator sends in its turn, WHERE = header (of a file it\n"
          "sends), download:K (data part K of that file, from 1) or entry:K (listing entry K):\n"
          "  --corrupt WHERE        send it once with a wrong checksum; 15/01 gets it intact\n"
          "  --silent WHERE[:N]     hold it back for N IN transfers (as above)\n"
          "  --unplug WHERE         vanish instead of sending it\n"
          "  --misnumber download:K send part K once numbered K+1, as if out of order\n"
          "  --extra-part           after the last part of a file sent, one part more than\n"
          "                         the header announced\n"
          "  --announce-size BYTES  the header of a file sent announces BYTES, whatever the\n"
          "                         file's size\n"
          "Each fault strikes once, at the first packet of its place, in the order given (a\n"
          "packet the calculator sends again is one of its place too: --corrupt download:2\n"
          "given six times damages part 2 six times); --extra-part and --announce-size\n"
          "strike the first file sent.\n"
          "\n"
          "Exit status: COMMAND's own status when the host kept to the protocol, 128+N when\n"
          "signal N ended it; 90 when the host broke the protocol (each violation is one\n"
          "line starting with \"VirtualCalculator: violation: \"); 91 when VirtualCalculator\n"
          "itself failed (bad usage, no testbed, COMMAND not started, storage not written).\n",
          stderr);
}
