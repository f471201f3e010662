#include "CasioChecksum.h"

unsigned char CasioChecksum::compute(Buffer* bufferToCompute) {
    unsigned char value = 0;
    const unsigned char* data = bufferToCompute->getData();
    for (int i = 1; i < bufferToCompute->getSize(); ++i) {
        value = static_cast<unsigned char>(value + data[i]);
    }
    return static_cast<unsigned char>(0 - value);
}
