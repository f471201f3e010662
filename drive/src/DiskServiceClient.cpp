#include "DiskServiceClient.h"

#include <cstring>
#include <systemd/sd-bus.h>

namespace {

constexpr const char service[] = "org.freedesktop.UDisks2";
constexpr const char managerPath[] = "/org/freedesktop/UDisks2/Manager";
constexpr const char managerInterface[] = "org.freedesktop.UDisks2.Manager";
constexpr const char blockInterface[] = "org.freedesktop.UDisks2.Block";
constexpr const char fileSystemInterface[] = "org.freedesktop.UDisks2.Filesystem";
constexpr const char driveInterface[] = "org.freedesktop.UDisks2.Drive";
// Long enough for a slow drive to mount or power off; a service that hangs ends the wait.
constexpr uint64_t callTimeoutUs = 25 * 1000 * 1000;

// What says that nobody serves the disk service, or that the user may not ask it.
constexpr const char* absentNames[] = {"org.freedesktop.DBus.Error.ServiceUnknown",
                                       "org.freedesktop.DBus.Error.NameHasNoOwner",
                                       "org.freedesktop.DBus.Error.Spawn.ServiceNotFound"};
constexpr const char* refusalNames[] = {"org.freedesktop.UDisks2.Error.NotAuthorized",
                                        "org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain",
                                        "org.freedesktop.UDisks2.Error.NotAuthorizedDismissed",
                                        "org.freedesktop.DBus.Error.AccessDenied"};

template <size_t N> bool isOneOf(const char* name, const char* const (&names)[N]) {
    for (const char* known : names) {
        if (name != nullptr && strcmp(name, known) == 0) {
            return true;
        }
    }
    return false;
}

using Result = DiskServiceClient::Result;

// A NUL-terminated byte string, as UDisks2 gives paths.
bool readBytes(sd_bus_message* reply, std::string* text) {
    const void* bytes = nullptr;
    size_t size = 0;
    if (sd_bus_message_read_array(reply, 'y', &bytes, &size) < 0) {
        return false;
    }
    text->assign(static_cast<const char*>(bytes), size);
    text->resize(strnlen(text->c_str(), text->size()));
    return true;
}

// The options every call takes: nothing may wait for a password dialog.
int appendOptions(sd_bus_message* message) {
    return sd_bus_message_append(message, "a{sv}", 1, "auth.no_user_interaction", "b", 1);
}

} // namespace

DiskServiceClient::~DiskServiceClient() {
    sd_bus_flush_close_unref(bus);
}

Result DiskServiceClient::connect() {
    const int error = sd_bus_open_system(&bus);
    if (error < 0) {
        bus = nullptr;
        lastProblem = std::string("no system bus (") + strerror(-error) + ")";
        return Result::Absent;
    }
    sd_bus_set_method_call_timeout(bus, callTimeoutUs);
    return Result::Done;
}

Result DiskServiceClient::failed(int error, const char* name, const char* message) {
    lastName = name != nullptr ? name : "";
    lastProblem = message != nullptr ? message : strerror(-error);
    if (error == -ETIMEDOUT) {
        lastProblem = "the disk service did not answer in time";
    }
    const bool absent = isOneOf(name, absentNames) || error == -ECONNREFUSED || error == -ENOENT ||
                        error == -ECONNRESET || error == -ENOTCONN;
    return absent ? Result::Absent : isOneOf(name, refusalNames) ? Result::Refused : Result::Failed;
}

Result DiskServiceClient::call(const std::string& path, const char* interface, const char* method,
                               sd_bus_message** reply) {
    sd_bus_message* message = nullptr;
    sd_bus_message* answer = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int result =
        sd_bus_message_new_method_call(bus, &message, service, path.c_str(), interface, method);
    result = result < 0 ? result : appendOptions(message);
    result = result < 0 ? result : sd_bus_call(bus, message, callTimeoutUs, &error, &answer);
    sd_bus_message_unref(message);
    const Result outcome = result < 0 ? failed(result, error.name, error.message) : Result::Done;
    sd_bus_error_free(&error);
    *reply = answer;
    return outcome;
}

Result DiskServiceClient::property(const std::string& path, const char* interface, const char* name,
                                   const char* type, sd_bus_message** reply) {
    sd_bus_message* answer = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int result =
        sd_bus_get_property(bus, service, path.c_str(), interface, name, &error, &answer, type);
    const Result outcome = result < 0 ? failed(result, error.name, error.message) : Result::Done;
    sd_bus_error_free(&error);
    *reply = answer;
    return outcome;
}

Result DiskServiceClient::resolve(const std::string& node, std::string* block) {
    sd_bus_message* message = nullptr;
    sd_bus_message* answer = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int result = sd_bus_message_new_method_call(bus, &message, service, managerPath,
                                                managerInterface, "ResolveDevice");
    result =
        result < 0 ? result : sd_bus_message_append(message, "a{sv}", 1, "path", "s", node.c_str());
    result = result < 0 ? result : appendOptions(message);
    result = result < 0 ? result : sd_bus_call(bus, message, callTimeoutUs, &error, &answer);
    sd_bus_message_unref(message);
    Result outcome = result < 0 ? failed(result, error.name, error.message) : Result::Done;
    sd_bus_error_free(&error);
    const char* path = nullptr;
    if (outcome == Result::Done && (sd_bus_message_enter_container(answer, 'a', "o") < 0 ||
                                    sd_bus_message_read(answer, "o", &path) <= 0)) {
        lastProblem = "the disk service does not know " + node;
        outcome = Result::Unknown;
    }
    *block = path != nullptr ? path : "";
    sd_bus_message_unref(answer);
    return outcome;
}

Result DiskServiceClient::mountPoints(const std::string& block, std::vector<std::string>* points) {
    sd_bus_message* reply = nullptr;
    Result outcome = property(block, fileSystemInterface, "MountPoints", "aay", &reply);
    sd_bus_message* answer = reply;
    points->clear();
    if (outcome == Result::Done && sd_bus_message_enter_container(answer, 'a', "ay") >= 0) {
        std::string point;
        while (!sd_bus_message_at_end(answer, false) && readBytes(answer, &point)) {
            points->push_back(point);
        }
    }
    sd_bus_message_unref(answer);
    return outcome;
}

Result DiskServiceClient::isReadOnly(const std::string& block, bool* readOnly) {
    sd_bus_message* reply = nullptr;
    const Result outcome = property(block, blockInterface, "ReadOnly", "b", &reply);
    int value = 0;
    if (outcome == Result::Done) {
        sd_bus_message_read(reply, "b", &value);
    }
    *readOnly = value != 0;
    sd_bus_message_unref(reply);
    return outcome;
}

Result DiskServiceClient::driveOf(const std::string& block, std::string* drive) {
    sd_bus_message* reply = nullptr;
    const Result outcome = property(block, blockInterface, "Drive", "o", &reply);
    const char* path = nullptr;
    if (outcome == Result::Done) {
        sd_bus_message_read(reply, "o", &path);
    }
    *drive = path != nullptr ? path : "";
    sd_bus_message_unref(reply);
    return outcome;
}

Result DiskServiceClient::mount(const std::string& block, std::string* point) {
    sd_bus_message* reply = nullptr;
    const Result outcome = call(block, fileSystemInterface, "Mount", &reply);
    const char* path = nullptr;
    if (outcome == Result::Done) {
        sd_bus_message_read(reply, "s", &path);
    }
    *point = path != nullptr ? path : "";
    sd_bus_message_unref(reply);
    return outcome;
}

Result DiskServiceClient::unmount(const std::string& block) {
    sd_bus_message* reply = nullptr;
    const Result outcome = call(block, fileSystemInterface, "Unmount", &reply);
    sd_bus_message_unref(reply);
    return outcome;
}

Result DiskServiceClient::powerOff(const std::string& drive) {
    sd_bus_message* reply = nullptr;
    const Result outcome = call(drive, driveInterface, "PowerOff", &reply);
    sd_bus_message_unref(reply);
    return outcome;
}
