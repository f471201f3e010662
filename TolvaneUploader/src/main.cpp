#include "ArgReader.h"
#include "CalcConnector.h"
#include "CasioProtocolTools.h"
#include "FileProtocol.h"
#include "FileUploader.h"
#include "Log.h"
#include "Socket.h"
#include "TolvaneVersion.h"
#include "UsbContext.h"

#include <cstdio>

namespace {

constexpr int maxRetry = 5;

} // namespace

// Uploads the file named on the command line into the calculator's storage.
int main(int argc, char** argv) {
    // Each line goes out whole and at once, so that in a log shared with other programs
    // (the virtual calculator's notes) the lines stand in the order they were written.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    printf("Tolvane Uploader [%s] V%d.%d.%d by Marovel\n", TolvaneVersion::releaseDate,
           TolvaneVersion::versionMajor, TolvaneVersion::versionMinor,
           TolvaneVersion::versionPatch);
    TolvaneVersion::printVersion();
    Log::setLoglevel(LOGLEVEL_INFO);

    ArgReader argReader;
    if (argReader.readArg(argc, argv)) {
        return 1;
    }

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

    if (CasioProtocolTools::connectProtocol(&calcSocket, maxRetry)) {
        Log::error("Can't connect the protocol !");
        return 1;
    }

    const unsigned char mode = argReader.getAllowOverwrite() ? FileProtocol::modeOverwrite
                                                             : FileProtocol::modeRefuseExisting;
    const bool uploadFailed =
        FileUploader::uploadFile(&calcSocket, argReader.getFolderName(), argReader.getFileName(),
                                 argReader.getDeviceName(), mode);
    if (uploadFailed) {
        Log::error("Failed to upload the file !");
    }

    // The connection is closed whatever became of the upload.
    if (CasioProtocolTools::disconnectProtocol(&calcSocket, maxRetry)) {
        Log::error("Can't disconnect the protocol !");
        return 1;
    }
    // Scripts rely on the status: a file that did not arrive is a failure.
    return uploadFailed ? 1 : 0;
}
