#pragma once

// The programs that have a device node open, as this process sees them: umockdev gives
// each opening of an emulated node a socket of its own, accepted on the node's listening
// socket. When umockdev waits on a client, it does not read that socket and so does not
// learn that the program at its other end has died; the socket itself shows it.
class NodeClients {
public:
    // Whether any program still has DEVNODE (such as /dev/bus/usb/001/003) open.
    static bool anyAlive(const char* devnode);

private:
    static bool isClientOf(int descriptor, const char* devnode);
    static bool peerAlive(int descriptor);
};
