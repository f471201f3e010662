// A program outside the tree, built against an installed libtolvane.
#include "Buffer.h"
#include "CasioPacker.h"
#include "TolvaneVersion.h"
#include "UsbContext.h"

#include <cstdio>

int main() {
    TolvaneVersion::printVersion();

    // Only constructed: linking it proves that libusb-1.0 comes along with the library.
    UsbContext context;

    Buffer noData(nullptr, 0);
    unsigned char packetData[64];
    Buffer packet(packetData, sizeof packetData);
    if (CasioPacker::pack({0x06, 0x00, &noData}, &packet)) {
        puts("pack failed");
        return 1;
    }
    const unsigned char expected[] = {0x06, 0x30, 0x30, 0x30, 0x37, 0x30};
    bool same = packet.getSize() == static_cast<int>(sizeof expected);
    for (int i = 0; same && i < packet.getSize(); ++i) {
        same = packetData[i] == expected[i];
    }
    printf("acknowledgement:");
    for (int i = 0; i < packet.getSize(); ++i) {
        printf(" %02X", packetData[i]);
    }
    printf("\n");
    return same ? 0 : 1;
}
