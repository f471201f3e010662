#include "SocketTools.h"

bool SocketTools::sendBufferOrTimeout(Socket* socket, Buffer* buffer, int timeout) {
    int tryCount = 0;
    int writeSize = 0;
    while (writeSize < buffer->getSize()) {
        Buffer appendBuffer(buffer->getData() + writeSize, buffer->getSize() - writeSize);
        socket->sendBuffer(&appendBuffer);
        writeSize += appendBuffer.getSize();
        ++tryCount;
        const bool outOfTries = tryCount >= timeout || socket->shouldGiveUp();
        if (outOfTries && writeSize < buffer->getSize()) {
            return true;
        }
    }
    return false;
}

bool SocketTools::receiveBufferOrTimeout(Socket* socket, Buffer* buffer, int timeout, int minimum) {
    int readSize = 0;
    // The first try is made whatever the patience: an answer owed is read if it comes.
    for (int tryCount = 0; tryCount < timeout; ++tryCount) {
        if (tryCount > 0 && socket->shouldGiveUp()) {
            break;
        }
        Buffer appendBuffer(buffer->getData() + readSize, buffer->getSize() - readSize);
        socket->receiveBuffer(&appendBuffer);
        readSize += appendBuffer.getSize();
        if (readSize >= minimum) {
            break;
        }
    }
    buffer->setSize(readSize);
    return readSize < minimum;
}
