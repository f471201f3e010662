#pragma once

#include "Buffer.h"
#include "CasioFileSender.h"
#include "FileProtocol.h"
#include "Socket.h"

// Offers a file to the calculator and sends it in acknowledged parts of 256 bytes,
// over a protocol connection that is already open. All operations return true on failure.
class FileUploader {
public:
    static constexpr int partSize = CasioFileSender::partSize;
    static constexpr int maxFileSize = CasioFileSender::maxFileSize;

    static bool sendFileRequest(const char* foldername, int dataSize, const char* filename,
                                const char* devicename, unsigned char mode, Socket* socket);
    static bool sendFilePart(Buffer* data, Socket* socket, int partId, int partCount, int partSize);
    static bool uploadFile(Socket* socket, const char* foldername, const char* filename,
                           const char* devicename, unsigned char mode);

private:
    // Offers and sends a file image already in memory.
    static bool sendFile(Socket* socket, Buffer* fileData, const char* foldername,
                         const char* filename, const char* devicename, unsigned char mode);
};
