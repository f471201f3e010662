#pragma once

#include "CasioScreenSource.h"
#include "Socket.h"

// A link calculator's screen: its bulk stream, one receive (a transfer's timeout at most) at a
// time, and the check's answer sent back over the same socket.
class SocketScreenSource final : public CasioScreenSource {
public:
    explicit SocketScreenSource(Socket* socket) : socket(socket) {}

    bool receive(Buffer* bytes) override;
    bool answer(Buffer* bytes) override;

private:
    Socket* socket;
};
