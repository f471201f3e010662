#include "CasioDataPart.h"

#include "AsciiConverter.h"

#include <cstring>

namespace {

constexpr int numberOffset = 4;

} // namespace

int CasioDataPart::partsFor(long long size) {
    return static_cast<int>((size + maxBytes - 1) / maxBytes);
}

bool CasioDataPart::build(const CasioPart& part, Buffer* output) {
    const int length = headerSize + part.bytes.getSize();
    if (length > output->getSize()) {
        return true;
    }
    unsigned char* data = output->getData();
    AsciiConverter::numberToAscii(part.count, data, 4);
    AsciiConverter::numberToAscii(part.number, data + numberOffset, 4);
    if (part.bytes.getSize() > 0) {
        memcpy(data + headerSize, part.bytes.getData(), part.bytes.getSize());
    }
    output->setSize(length);
    return false;
}

bool CasioDataPart::read(Buffer* data, CasioPart* part) {
    if (data->getSize() < headerSize) {
        part->bytes = Buffer(nullptr, 0);
        return true;
    }
    unsigned char* bytes = data->getData();
    AsciiConverter::asciiToNumber(bytes, &part->count, 4);
    AsciiConverter::asciiToNumber(bytes + numberOffset, &part->number, 4);
    part->bytes = Buffer(bytes + headerSize, data->getSize() - headerSize);
    return false;
}
