#pragma once

#include "CalcFinder.h"
#include "CalcStorage.h"
#include "Link.h"

#include <vector>

// A link calculator's storage, through the library's storage commands, all in one session:
// opened by `open`, ended by `finish`. A session that ended early (the host took no more of a
// file) is opened afresh for the next operation; one the calculator can no longer follow fails
// every operation after with LinkLost.
class LinkStorage final : public CalcStorage {
public:
    explicit LinkStorage(const CalcDescription& calculator)
        : address(calculator.address), link(address) {}

    bool has(Capability /*capability*/) const override { return true; }
    std::string lacking(Capability /*capability*/) const override { return ""; }
    bool open() override;

    bool list(const std::string& device, const FileListener& listener, std::string* why) override;
    bool freeSpace(const std::string& device, uint64_t* bytes, std::string* why) override;
    bool describe(std::vector<std::pair<std::string, std::string>>* fields,
                  std::string* why) override;
    Outcome fetch(const std::string& device, const CalcPath& path, FileSink* sink,
                  std::string* why) override;
    Outcome send(const std::string& device, const FileToSend& file, const SendWay& way,
                 const SendProgress& progress, std::string* why) override;
    Outcome remove(const std::string& device, const CalcPath& path, std::string* why) override;
    Outcome optimize(const std::string& device, std::string* why) override;
    bool finish(bool interrupted) override { return link.close(interrupted); }

private:
    Socket* session(std::string* why);
    Outcome failure(int refusal, const char* otherwise, std::string* why);
    bool attempt(const std::string& device, const FileToSend& file, const SendWay& way,
                 bool pipelined, Buffer* image, const SendProgress& progress, int* refusal);

    std::string address;
    Link link;
    // Cleared for good once the link broke off a pipelined transfer.
    bool pipelining = true;
};
