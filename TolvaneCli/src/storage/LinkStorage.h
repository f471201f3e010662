#pragma once

#include "CalcFinder.h"
#include "CalcStorage.h"
#include "Link.h"

#include <functional>
#include <optional>
#include <vector>

// A link calculator's storage, through the library's storage commands, all in one session:
// opened by `open`, ended by `finish`. A session that ended early (the host took no more of a
// file) is opened afresh for the next operation; one the calculator can no longer follow fails
// every operation after with LinkLost. Main memory (device "main") is reached through the
// main-memory commands: its items are listed, fetched as .g1m files and sent from them.
class LinkStorage final : public CalcStorage {
public:
    explicit LinkStorage(const CalcDescription& calculator)
        : address(calculator.address), link(address) {}

    bool has(Capability /*capability*/) const override { return true; }
    std::string lacking(Capability /*capability*/) const override { return ""; }
    bool open() override;

    bool storageDevices(std::vector<std::string>* devices, std::string* why) override;
    bool list(const std::string& device, const FileListener& listener, std::string* why) override;
    bool freeSpace(const std::string& device, uint64_t* bytes, std::string* why) override;
    bool describe(std::vector<std::pair<std::string, std::string>>* fields,
                  std::string* why) override;
    Outcome fetch(const std::string& device, const CalcPath& path, FileSink* sink,
                  std::string* why) override;
    Outcome send(const std::string& device, const FileToSend& file, const SendWay& way,
                 const SendProgress& progress, std::string* why) override;
    bool mayWrite(const std::string& /*device*/, const std::string& /*folder*/,
                  std::string* /*why*/) override {
        return true;
    }
    Outcome remove(const std::string& device, const CalcPath& path, std::string* why) override;
    Outcome optimize(const std::string& device, std::string* why) override;
    Outcome fetchMainMemory(FileSink* sink, std::string* why) override;
    bool finish(bool interrupted) override { return link.close(interrupted); }

private:
    // Sends one file or item as asked (pipelined or not); true when it went.
    using Transfer =
        std::function<bool(Socket* socket, const SendWay& way, bool pipelined, int* refusal)>;

    Socket* session(std::string* why);
    Outcome failure(int refusal, const char* otherwise, std::string* why);
    Outcome transfer(const SendWay& way, const Transfer& attempt, std::string* why);
    // Main memory's items as listed, kept until main memory changes.
    const std::vector<MemoryItem>* items(std::string* why);
    Outcome withItem(const CalcPath& path, std::string* why,
                     const std::function<Outcome(Socket*, const MemoryItem&)>& work);
    bool listItems(const FileListener& listener, std::string* why);
    Outcome fetchItem(const CalcPath& path, FileSink* sink, std::string* why);
    Outcome sendItem(const FileToSend& file, const SendWay& way, const SendProgress& progress,
                     std::string* why);
    Outcome removeItem(const CalcPath& path, std::string* why);

    std::string address;
    Link link;
    // Cleared for good once the link broke off a pipelined transfer.
    bool pipelining = true;
    std::optional<std::vector<MemoryItem>> listed;
};
