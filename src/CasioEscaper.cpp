#include "CasioEscaper.h"

namespace {

constexpr unsigned char escapeOffset = 0x20;
constexpr unsigned char lastEscapedControlByte = 0x1E;

bool needsEscape(unsigned char byte) {
    return byte <= lastEscapedControlByte || byte == CasioEscaper::escapeByte;
}

} // namespace

bool CasioEscaper::escapeBuffer(Buffer* input, Buffer* output) {
    const unsigned char* in = input->getData();
    unsigned char* out = output->getData();
    const int capacity = output->getSize();
    int writePos = 0;
    for (int readPos = 0; readPos < input->getSize(); ++readPos) {
        if (writePos >= capacity) {
            return true;
        }
        unsigned char byte = in[readPos];
        if (needsEscape(byte)) {
            out[writePos++] = escapeByte;
            if (writePos >= capacity) {
                return true;
            }
            byte = static_cast<unsigned char>(byte + escapeOffset);
        }
        out[writePos++] = byte;
    }
    output->setSize(writePos);
    return false;
}

bool CasioEscaper::restoreBuffer(Buffer* input, Buffer* output) {
    const unsigned char* in = input->getData();
    unsigned char* out = output->getData();
    const int capacity = output->getSize();
    int writePos = 0;
    for (int readPos = 0; readPos < input->getSize(); ++readPos) {
        unsigned char byte = in[readPos];
        if (byte == escapeByte) {
            // A lone escape byte at the end has nothing to restore.
            if (++readPos >= input->getSize()) {
                return true;
            }
            // A calculator sends 0x5C as 0x5C 0x5C; we send it as 0x5C 0x7C.
            byte = in[readPos] == escapeByte
                       ? escapeByte
                       : static_cast<unsigned char>(in[readPos] - escapeOffset);
        }
        if (writePos >= capacity) {
            return true;
        }
        out[writePos++] = byte;
    }
    output->setSize(writePos);
    return false;
}
