#pragma once

#include <string>
#include <vector>

typedef struct sd_bus sd_bus;
typedef struct sd_bus_message sd_bus_message;

// The system's disk service, UDisks2, on the system bus: the few calls a drive calculator
// needs, each bounded by a timeout, none asking the user anything.
class DiskServiceClient {
public:
    enum class Result {
        Done,
        Absent,  // no system bus, or no disk service on it
        Refused, // the service is not authorized to do it for this user
        Unknown, // the service does not know the device (yet)
        Failed,  // anything else; `problem()` tells what
    };

    DiskServiceClient() = default;
    ~DiskServiceClient();

    DiskServiceClient(const DiskServiceClient&) = delete;
    DiskServiceClient& operator=(const DiskServiceClient&) = delete;

    Result connect();
    // The block object of the device `node` ("/dev/sdb1"); Unknown when the service does not
    // know it.
    Result resolve(const std::string& node, std::string* block);
    Result mountPoints(const std::string& block, std::vector<std::string>* points);
    Result isReadOnly(const std::string& block, bool* readOnly);
    // The drive object that the block device belongs to.
    Result driveOf(const std::string& block, std::string* drive);
    Result mount(const std::string& block, std::string* point);
    Result unmount(const std::string& block);
    Result powerOff(const std::string& drive);

    // The last failure in words, and the service's name for it.
    const std::string& problem() const { return lastProblem; }
    const std::string& problemName() const { return lastName; }

    static constexpr const char alreadyMounted[] = "org.freedesktop.UDisks2.Error.AlreadyMounted";
    static constexpr const char notMounted[] = "org.freedesktop.UDisks2.Error.NotMounted";

private:
    Result call(const std::string& path, const char* interface, const char* method,
                sd_bus_message** reply);
    Result property(const std::string& path, const char* interface, const char* name,
                    const char* type, sd_bus_message** reply);
    // `error` from sd-bus, `name` and `message` from the service, if it answered.
    Result failed(int error, const char* name, const char* message);

    sd_bus* bus = nullptr;
    std::string lastProblem;
    std::string lastName;
};
