// The library keeps every packet and scratch area on the stack; a heap allocation that
// creeps into the codec, the screen reader or the main-memory commands shows up here as a
// count above zero.
#include "AsciiConverter.h"
#include "Buffer.h"
#include "CalcConnector.h"
#include "CasioMainMemory.h"
#include "CasioPacker.h"
#include "CasioScreenReader.h"
#include "LibusbDouble.h"
#include "Log.h"
#include "ScreenWire.h"
#include "UsbContext.h"
#include "Wire.h"
#include "Y4mWriter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <random>
#include <vector>

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void noteAllocation() {
    if (counting.load(std::memory_order_relaxed)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
}

// Keeps the compiler from proving an allocation unused and dropping it.
void keep(void* pointer) {
    asm volatile("" : : "g"(pointer) : "memory");
}

// Counts from construction until stop().
class AllocationCount {
public:
    AllocationCount() {
        allocations = 0;
        counting = true;
    }
    ~AllocationCount() { counting = false; }
    long stop() {
        counting = false;
        return allocations.load();
    }
};

// The double stands for the USB stack, and what it allocates is not the library's.
void pauseCountingInTransfers(bool entering) {
    static bool wasCounting = false;
    if (entering) {
        wasCounting = counting.exchange(false);
    } else {
        counting = wasCounting;
    }
}

using Packets = std::vector<std::vector<uint8_t>>;

// Acknowledges every command and part; in its turn, sends `turn` and hands the role back.
struct ScriptedTurn {
    ScriptedTurn() {
        LibusbDouble::setResponder([this](const LibusbDouble::Bytes& sent) {
            const bool turnGoesOn =
                sent[0] == wire::typeRoleSwap || sent == wire::acknowledgement();
            LibusbDouble::queueIn({!turnGoesOn           ? wire::acknowledgement()
                                   : next < turn->size() ? (*turn)[next++]
                                                         : wire::frame(wire::typeRoleSwap, 0)});
        });
    }
    const Packets* turn = nullptr;
    size_t next = 0;
};

// Items of these sizes as the calculator describes them (code 2E) or sends them (25, parts).
Packets itemsTurn(uint8_t code, const std::vector<uint32_t>& sizes) {
    Packets turn;
    for (uint32_t size : sizes) {
        turn.push_back(wire::frameAsCalculator(
            wire::typeCommand, code, wire::itemData({0, 1, size, "system", "GAME", "PROGRAM"})));
        for (uint32_t at = 0; code == wire::commandItem && at < size; at += 256) {
            turn.push_back(wire::frameAsCalculator(
                wire::typeData, code,
                wire::partData((size + 255) / 256, at / 256 + 1,
                               std::vector<uint8_t>(std::min(256u, size - at), 0x5C))));
        }
    }
    return turn;
}

struct ItemCounter : CasioItemLister, CasioItemSink {
    void itemListed(const CasioMemoryItem&) override { ++items; }
    bool itemAnnounced(const CasioMemoryItem&) override { return false; }
    bool itemBytes(const Buffer& bytes) override { return (received += bytes.getSize()) < 0; }
    bool itemComplete() override { return ++items < 0; }
    int items = 0;
    long received = 0;
};

} // namespace

// The linker routes this program's calls (the library's included) here with --wrap.
extern "C" {
void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void* __real_realloc(void* pointer, size_t size);
void* __real_aligned_alloc(size_t alignment, size_t size);
int __real_posix_memalign(void** pointer, size_t alignment, size_t size);

void* __wrap_malloc(size_t size) {
    noteAllocation();
    return __real_malloc(size);
}
void* __wrap_calloc(size_t count, size_t size) {
    noteAllocation();
    return __real_calloc(count, size);
}
void* __wrap_realloc(void* pointer, size_t size) {
    noteAllocation();
    return __real_realloc(pointer, size);
}
void* __wrap_aligned_alloc(size_t alignment, size_t size) {
    noteAllocation();
    return __real_aligned_alloc(alignment, size);
}
int __wrap_posix_memalign(void** pointer, size_t alignment, size_t size) {
    noteAllocation();
    return __real_posix_memalign(pointer, alignment, size);
}
}

void* operator new(std::size_t size) {
    noteAllocation();
    if (void* block = __real_malloc(size == 0 ? 1 : size)) {
        return block;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    noteAllocation();
    const std::size_t align = static_cast<std::size_t>(alignment);
    const std::size_t rounded = (size + align - 1) / align * align;
    if (void* block = __real_aligned_alloc(align, rounded == 0 ? align : rounded)) {
        return block;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return operator new(size, alignment);
}
namespace {

// Out of line, so that the compiler never sees operator new's memory handed to free().
[[gnu::noinline]] void releaseBlock(void* block) noexcept {
    free(block);
}

} // namespace

void operator delete(void* block) noexcept {
    releaseBlock(block);
}
void operator delete[](void* block) noexcept {
    releaseBlock(block);
}
void operator delete(void* block, std::size_t) noexcept {
    releaseBlock(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    releaseBlock(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
    releaseBlock(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
    releaseBlock(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
    releaseBlock(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
    releaseBlock(block);
}

namespace {

constexpr unsigned char typeFilePart = 0x02;
constexpr unsigned char typeAck = 0x06;
constexpr unsigned char subtypeFile = 0x45;
constexpr int partHeaderSize = 8;
constexpr int partSize = 256;

// A zero count here would be worthless if the hooks were not in the path at all.
TEST(AllocationCount, SeesOperatorNewAndTheMallocFamily) {
    AllocationCount count;
    int* number = new int(7);
    keep(number);
    delete number;
    std::vector<unsigned char> bytes(100);
    keep(bytes.data());
    void* block = malloc(16);
    keep(block);
    block = realloc(block, 4096);
    keep(block);
    free(block);
    void* zeroed = calloc(4, 4);
    keep(zeroed);
    free(zeroed);
    EXPECT_EQ(count.stop(), 5);
}

// Every part size from 1 to 256 bytes, contents random or all escaped (zeros), and the
// acknowledgement packed and read back beside each part.
TEST(CodecAllocation, PacksAndUnpacksThousandsOfPartsWithoutTheHeap) {
    constexpr int partCount = 2048;
    std::vector<unsigned char> randomContent(partSize * 16);
    std::mt19937 generator(2016);
    std::uniform_int_distribution<int> byte(0, 255);
    for (unsigned char& value : randomContent) {
        value = static_cast<unsigned char>(byte(generator));
    }
    const std::vector<unsigned char> zeros(partSize, 0);

    unsigned char partData[partHeaderSize + partSize];
    unsigned char packetData[CasioPacker::maxSentExtendedDataSize];
    unsigned char restoredData[CasioPacker::maxReceivedExtendedDataSize];
    int failedParts = 0;
    long counted = 0;
    {
        AllocationCount count;
        for (int partId = 0; partId < partCount; ++partId) {
            const int contentSize = 1 + partId % partSize;
            const unsigned char* content =
                partId % 2 == 0 ? zeros.data()
                                : randomContent.data() + (partId * 37) % (15 * partSize);
            AsciiConverter::numberToAscii(partCount, partData, 4);
            AsciiConverter::numberToAscii(partId + 1, partData + 4, 4);
            memcpy(partData + partHeaderSize, content, contentSize);
            const int dataSize = partHeaderSize + contentSize;

            Buffer part(partData, dataSize);
            Buffer packet(packetData, sizeof packetData);
            Buffer restored(restoredData, sizeof restoredData);
            CasioPacketInfo answer{0, 0, &restored};
            const bool partFailed =
                CasioPacker::pack({typeFilePart, subtypeFile, &part}, &packet) ||
                CasioPacker::unpack(&answer, &packet) || answer.type != typeFilePart ||
                answer.subtype != subtypeFile || restored.getSize() != dataSize ||
                memcmp(restoredData, partData, dataSize) != 0;

            Buffer noData(nullptr, 0);
            Buffer ack(packetData, sizeof packetData);
            CasioPacketInfo ackInfo{0, 0, &noData};
            const bool ackFailed = CasioPacker::pack({typeAck, 0x00, &noData}, &ack) ||
                                   CasioPacker::unpack(&ackInfo, &ack) || ackInfo.type != typeAck;
            if (partFailed || ackFailed) {
                ++failedParts;
            }
        }
        counted = count.stop();
    }
    EXPECT_EQ(failedParts, 0);
    EXPECT_EQ(counted, 0);
}

// Each picture read goes out as a frame of video, as a live stream of the screen does.
struct VideoOfTheScreen : CasioScreenListener {
    explicit VideoOfTheScreen(FILE* output) : video(output, 384, 216, 2, 30) {}
    void pictureReceived(const CasioScreenPicture& picture) override {
        written += video.writeFrame(picture) ? 1 : 0;
    }
    Y4mWriter video;
    int written = 0;
};

// The reader keeps the frame under way and the picture in the areas it is lent, the video
// writer its one frame: after the first, hundreds of frames of every kind, with stray bytes and
// a damaged frame among them, cost the heap nothing.
TEST(ScreenAllocation, ReadsAndWritesHundredsOfFramesWithoutTheHeap) {
    using namespace screenwire;
    const Picture colour = testPattern(Kind::Typz1);
    std::vector<uint8_t> damaged = frame(Kind::Typz2, Format::Rc2, colour);
    damaged[100] ^= 0xFF;
    std::vector<uint8_t> round = {0x0B, 'T', 'Y', 'P', 0x16, 'C'};
    for (const std::vector<uint8_t>& part :
         {frame(Kind::Typ01, Format::Monochrome, testPattern(Kind::Typ01)), damaged,
          frame(Kind::Typz1, Format::Rc2, colour), frame(Kind::Typz2, Format::Rc3, colour),
          frame(Kind::Typz2, Format::Rm2, colour)}) {
        round.insert(round.end(), part.begin(), part.end());
    }
    std::vector<unsigned char> frameArea(CasioScreenReader::screenFrameArea);
    std::vector<unsigned char> pictureArea(CasioScreenReader::screenPictureArea);
    FILE* nowhere = fopen("/dev/null", "w");
    VideoOfTheScreen video(nowhere);
    CasioScreenReader reader(Buffer(frameArea.data(), CasioScreenReader::screenFrameArea),
                             Buffer(pictureArea.data(), CasioScreenReader::screenPictureArea),
                             &video, nullptr);
    const Buffer bytes(round.data(), static_cast<int>(round.size()));
    reader.feed(bytes);
    AllocationCount count;
    for (int again = 0; again < 100; ++again) {
        reader.feed(bytes);
    }
    EXPECT_EQ(count.stop(), 0);
    fclose(nowhere);
    EXPECT_EQ(video.written, 4 * 101);
    EXPECT_EQ(reader.counts().damaged, 101u);
}

// Every main-memory command, in one session over the double once the link is open.
TEST(MainMemoryAllocation, ItemsGoBothWaysWithoutTheHeap) {
    LibusbDouble::reset();
    LibusbDouble::addDevice(CalcConnector::calcVendorId, CalcConnector::calcProductId);
    UsbContext context;
    context.initUsbContext();
    Socket socket;
    ASSERT_FALSE(socket.setDeviceHandle(CalcConnector::connect(&context)));
    Log::setLoglevel(-1);
    const Packets turns[] = {itemsTurn(0x2E, {4, 8}),
                             itemsTurn(0x2C, {9}),
                             itemsTurn(0x25, {300}),
                             itemsTurn(0x25, {300, 0, 2048}),
                             {}};
    std::vector<unsigned char> program(1001, 0x5C);
    Buffer data(program.data(), static_cast<int>(program.size()));
    const CasioMemoryItem item = CasioMainMemory::naming(1, "system", "GAME", "PROGRAM");
    ItemCounter counter;
    ScriptedTurn calculator;
    uint32_t freeBytes = 0;
    const std::function<bool()> commands[] = {
        [&] { return CasioMainMemory::listItems(&socket, &counter); },
        [&] { return CasioMainMemory::freeMemory(&socket, &freeBytes); },
        [&] { return CasioMainMemory::fetchItem(&socket, item, &counter); },
        [&] { return CasioMainMemory::fetchEveryItem(&socket, &counter); },
        [&] {
            return CasioMainMemory::sendItem(&socket, {item, &data, true, false}, nullptr) ||
                   CasioMainMemory::sendItem(&socket, {item, &data, true, true}, nullptr) ||
                   CasioMainMemory::deleteItem(&socket, item);
        },
    };
    bool failed = false;
    LibusbDouble::setTransferHook(pauseCountingInTransfers);
    AllocationCount count;
    for (size_t i = 0; i < 5; ++i) {
        calculator.turn = &turns[i];
        calculator.next = 0;
        failed |= commands[i]();
    }
    const long counted = count.stop();
    LibusbDouble::setTransferHook(nullptr);
    EXPECT_EQ(counted, 0);
    EXPECT_FALSE(failed);
    EXPECT_EQ(freeBytes, 9u);
    EXPECT_EQ(counter.items, 2 + 1 + 3);
    EXPECT_EQ(counter.received, 300 + 300 + 2048);
}

} // namespace
