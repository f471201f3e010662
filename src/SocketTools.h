#pragma once

#include "Buffer.h"
#include "Socket.h"

// Whole-buffer transfers bounded by a count of tries (each try is one bulk transfer), and by
// the socket's patience: once the calculator has been silent too long, or the exchange has
// lasted too long, no further try is made.
class SocketTools {
public:
    // Sends every byte of `buffer`, each try continuing after the bytes already sent; true when
    // bytes are left over. The first try is always made.
    static bool sendBufferOrTimeout(Socket* socket, Buffer* buffer, int timeout);
    // Receives until `minimum` bytes arrived; on return the size of `buffer` is the total
    // received. True when fewer than `minimum` arrived. The first try is always made.
    static bool receiveBufferOrTimeout(Socket* socket, Buffer* buffer, int timeout, int minimum);
};
