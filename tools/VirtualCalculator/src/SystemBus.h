#pragma once

#include <string>

// A system bus of the command's own: a dbus-daemon whose policy allows everything, listening
// in a fresh folder, so that a disk service stand-in can serve on it and the command reaches
// it through DBUS_SYSTEM_BUS_ADDRESS. The machine's own system bus is never touched, and the
// bus activates nothing: a name nobody owns is unknown, as on a machine without the service.
class SystemBus {
public:
    // Starts the daemon; `setUpError()` says why not.
    SystemBus();
    // Stops the daemon and removes its folder.
    ~SystemBus();

    SystemBus(const SystemBus&) = delete;
    SystemBus& operator=(const SystemBus&) = delete;

    const std::string& setUpError() const { return error; }
    // For DBUS_SYSTEM_BUS_ADDRESS.
    const std::string& address() const { return busAddress; }
    // An address where no bus listens, for a machine without a system bus.
    std::string deadAddress() const;

private:
    bool writeConfiguration(const std::string& path);
    bool start(const std::string& configuration);

    std::string folder;
    std::string busAddress;
    std::string error;
    int daemon = 0; // its process id
};
