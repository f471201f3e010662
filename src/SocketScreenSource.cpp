#include "SocketScreenSource.h"

#include "CasioProtocolTools.h"
#include "SocketTools.h"

// Silence for a whole transfer is no error: a still screen may send nothing.
bool SocketScreenSource::receive(Buffer* bytes) {
    return socket->listen(bytes) != SOCKET_OK;
}

bool SocketScreenSource::answer(Buffer* bytes) {
    return SocketTools::sendBufferOrTimeout(socket, bytes, CasioProtocolTools::sendTries);
}
