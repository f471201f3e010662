#include "SystemBus.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <glib.h>
#include <glib/gstdio.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr const char socketName[] = "system_bus_socket";
constexpr const char configurationName[] = "bus.conf";
constexpr const char daemonLogName[] = "dbus-daemon.log";

// No <type> and no service folders: nothing is ever activated on this bus.
constexpr const char configurationFormat[] =
    "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
    "<busconfig>\n"
    "  <listen>unix:path=%s/%s</listen>\n"
    "  <auth>EXTERNAL</auth>\n"
    "  <policy context=\"default\">\n"
    "    <allow user=\"*\"/>\n"
    "    <allow own=\"*\"/>\n"
    "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
    "    <allow receive_sender=\"*\"/>\n"
    "  </policy>\n"
    "</busconfig>\n";

// In the daemon between fork and exec: a bus left behind would outlive every test. Its
// complaints (it cannot raise its file limit as root in a container) go to a file.
void prepareDaemon(gpointer logPath) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    FILE* log = fopen(static_cast<const char*>(logPath), "w");
    if (log != nullptr) {
        dup2(fileno(log), STDERR_FILENO);
    }
}

// The first line the daemon prints: its address. Empty when it ends first.
std::string readLine(int descriptor) {
    std::string line;
    char character = 0;
    while (true) {
        const ssize_t got = read(descriptor, &character, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0 || character == '\n') {
            return got <= 0 ? "" : line;
        }
        line += character;
    }
}

} // namespace

SystemBus::SystemBus() {
    gchar* made = g_dir_make_tmp("VirtualCalculator-bus-XXXXXX", nullptr);
    folder = made != nullptr ? made : "";
    g_free(made);
    const std::string configuration = folder + "/" + configurationName;
    if (folder.empty() || !writeConfiguration(configuration)) {
        error = "can't write the configuration of a private system bus";
        return;
    }
    if (!start(configuration)) {
        error =
            "can't start dbus-daemon (Debian: dbus-daemon); see " + folder + "/" + daemonLogName;
    }
}

SystemBus::~SystemBus() {
    if (daemon > 0) {
        kill(daemon, SIGTERM);
        waitpid(daemon, nullptr, 0);
    }
    if (!folder.empty() && error.empty()) {
        for (const char* name : {socketName, configurationName, daemonLogName}) {
            g_remove((folder + "/" + name).c_str());
        }
        g_rmdir(folder.c_str());
    }
}

std::string SystemBus::deadAddress() const {
    return "unix:path=" + folder + "/no-bus-listens-here";
}

bool SystemBus::writeConfiguration(const std::string& path) {
    FILE* file = fopen(path.c_str(), "w");
    if (file == nullptr) {
        return false;
    }
    const bool written = fprintf(file, configurationFormat, folder.c_str(), socketName) > 0;
    return fclose(file) == 0 && written;
}

bool SystemBus::start(const std::string& configuration) {
    const std::string configOption = "--config-file=" + configuration;
    const std::string log = folder + "/" + daemonLogName;
    gchar* argv[] = {const_cast<gchar*>("dbus-daemon"), const_cast<gchar*>(configOption.c_str()),
                     const_cast<gchar*>("--print-address"), const_cast<gchar*>("--nofork"),
                     nullptr};
    const GSpawnFlags flags =
        static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD);
    GPid pid = 0;
    int output = -1;
    if (!g_spawn_async_with_pipes(nullptr, argv, nullptr, flags, prepareDaemon,
                                  const_cast<char*>(log.c_str()), &pid, nullptr, &output, nullptr,
                                  nullptr)) {
        return false;
    }
    daemon = pid;
    busAddress = readLine(output);
    close(output);
    return !busAddress.empty();
}
