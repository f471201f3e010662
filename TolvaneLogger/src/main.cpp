#include "Buffer.h"
#include "CalcConnector.h"
#include "Log.h"
#include "Socket.h"
#include "TolvaneVersion.h"
#include "UsbContext.h"

#include <cstdio>

namespace {

constexpr int receiveAreaSize = 0x40;

} // namespace

// Copies every byte the calculator sends to standard output until a receive fails.
int main(int /*argc*/, char** /*argv*/) {
    printf("Tolvane Logger [%s] V%d.%d.%d by Marovel\n", TolvaneVersion::releaseDate,
           TolvaneVersion::versionMajor, TolvaneVersion::versionMinor,
           TolvaneVersion::versionPatch);
    TolvaneVersion::printVersion();
    Log::setLoglevel(LOGLEVEL_DEBUG);

    UsbContext context;
    if (context.initUsbContext()) {
        Log::error("Can't init the USB context !");
        return 1;
    }

    Socket calcSocket;
    if (calcSocket.setDeviceHandle(CalcConnector::connect(&context))) {
        Log::error("Can't connect to the calc !");
        return 1;
    }

    unsigned char bufferData[receiveAreaSize];
    Buffer buffer(bufferData, receiveAreaSize);
    for (;;) {
        buffer.setSize(receiveAreaSize);
        if (calcSocket.receiveBuffer(&buffer) != SOCKET_OK) {
            Log::error("Failed to receive the log !");
            return 1;
        }
        for (int i = 0; i < buffer.getSize(); ++i) {
            putchar(bufferData[i]);
        }
        // What arrived must survive a Ctrl-C even when stdout is a file or a pipe.
        fflush(stdout);
    }
}
