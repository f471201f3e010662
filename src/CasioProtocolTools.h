#pragma once

#include "Buffer.h"
#include "CasioPacker.h"
#include "Socket.h"

// The packet exchanges of the link protocol. Every operation returns true on failure, and
// gives up early once the calculator has been silent too long (see LinkLimits).
class CasioProtocolTools {
public:
    static constexpr unsigned char typeCommand = 0x01;
    static constexpr unsigned char typeFileRequest = typeCommand;
    static constexpr unsigned char typeData = 0x02;
    static constexpr unsigned char typeFilePart = typeData;
    static constexpr unsigned char typeRoleSwap = 0x03;
    static constexpr unsigned char typeConnect = 0x05;
    static constexpr unsigned char typeAck = 0x06;
    static constexpr unsigned char typeRefusal = 0x15;
    static constexpr unsigned char typeDisconnect = 0x18;

    static constexpr unsigned char subtypeResend = 0x01;
    // Refusals and acknowledgements of storage commands.
    static constexpr unsigned char subtypeExists = 0x02;
    static constexpr unsigned char subtypeOverwriteRefused = 0x03;
    static constexpr unsigned char subtypeGenericError = 0x04;
    static constexpr unsigned char subtypeMemoryFull = 0x05;
    static constexpr unsigned char subtypeOverwriteYes = 0x01;
    static constexpr unsigned char subtypeWithInformation = 0x02;
    // Why a link is terminated.
    static constexpr unsigned char terminateNormal = 0x00;
    static constexpr unsigned char terminateUserAsked = 0x01;

    static constexpr int sendTries = 10;
    static constexpr int receiveTries = 10;
    static constexpr int connectTimeout = 100;
    // Requests to resend do not use up `timeout`, but a device that asks for ever
    // must not hold the exchange for ever either.
    static constexpr int maxResendRequests = 32;

    static bool isPacket(const CasioPacketInfo& packet, unsigned char type, unsigned char subtype);
    // The answer that says "done" to a packet: 06 00.
    static bool isPlainAck(const CasioPacketInfo& packet);

    static bool connectProtocol(Socket* socket, int maxRetry);
    static bool disconnectProtocol(Socket* socket, int maxRetry);
    // `result->extendedData` is the caller's area for the answer's data (a
    // CasioReceivedPacket's): its size is the room offered, and on success the data's length.
    static bool sendPacketAndGetAnswer(Socket* socket, Buffer* packet, int timeout,
                                       CasioPacketInfo* result);
    // True unless the answer is a plain acknowledgement.
    static bool sendPacketAndAck(Socket* socket, Buffer* packet, int timeout);
    static bool sendAck(Socket* socket, int timeout);
    // Packets without extended data: sent alone (nothing read back, `tries` transfers at
    // most), answered, or acknowledged.
    static bool sendBarePacket(Socket* socket, unsigned char type, unsigned char subtype,
                               int tries = sendTries);
    static bool exchangeBarePacket(Socket* socket, unsigned char type, unsigned char subtype,
                                   int timeout, CasioPacketInfo* result);
    static bool sendBarePacketAndAck(Socket* socket, unsigned char type, unsigned char subtype,
                                     int timeout);
    // Ends the link properly: the terminate packet, then its acknowledgement.
    static bool terminateProtocol(Socket* socket, unsigned char reason);
    // Receives one packet whole: its header, then as many bytes as the header announces, as
    // long as they keep coming. On return the size of `packet` is the count received. True
    // when nothing arrived.
    static bool receivePacket(Socket* socket, Buffer* packet);
};
