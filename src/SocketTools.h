#pragma once

#include "Buffer.h"
#include "Socket.h"

// Whole-buffer transfers bounded by a count of tries (each try is one bulk transfer).
class SocketTools {
public:
    // Sends every byte of `buffer`, continuing partial sends; true when tries run out.
    static bool sendBufferOrTimeout(Socket* socket, Buffer* buffer, int timeout);
    // Receives until `minimum` bytes arrived; on return the size of `buffer` is the
    // total received. True when fewer than `minimum` arrived within the tries.
    static bool receiveBufferOrTimeout(Socket* socket, Buffer* buffer, int timeout, int minimum);
};
