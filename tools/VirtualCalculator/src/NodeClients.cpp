#include "NodeClients.h"

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

bool NodeClients::anyAlive(const char* devnode) {
    DIR* descriptors = opendir("/proc/self/fd");
    if (descriptors == nullptr) {
        return true; // nothing seen is nothing known: the client is kept
    }
    bool alive = false;
    while (const dirent* entry = readdir(descriptors)) {
        const int descriptor = atoi(entry->d_name);
        if (entry->d_name[0] != '.' && descriptor != dirfd(descriptors) &&
            isClientOf(descriptor, devnode) && peerAlive(descriptor)) {
            alive = true;
            break;
        }
    }
    closedir(descriptors);
    return alive;
}

// An accepted socket bears the name of the socket it was accepted on, which ends in the
// node's path; the listening socket itself bears it too, and is left out.
bool NodeClients::isClientOf(int descriptor, const char* devnode) {
    struct stat status {};
    sockaddr_un address{};
    socklen_t length = sizeof address;
    int listening = 0;
    socklen_t size = sizeof listening;
    if (fstat(descriptor, &status) != 0 || !S_ISSOCK(status.st_mode) ||
        getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        address.sun_family != AF_UNIX ||
        getsockopt(descriptor, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 || listening) {
        return false;
    }
    const size_t pathLength = strnlen(address.sun_path, sizeof address.sun_path);
    const size_t nodeLength = strlen(devnode);
    return pathLength >= nodeLength &&
           memcmp(address.sun_path + pathLength - nodeLength, devnode, nodeLength) == 0;
}

bool NodeClients::peerAlive(int descriptor) {
    pollfd watch{descriptor, POLLRDHUP, 0};
    return poll(&watch, 1, 0) == 0 || (watch.revents & (POLLRDHUP | POLLHUP)) == 0;
}
