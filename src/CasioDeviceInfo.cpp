#include "CasioDeviceInfo.h"

#include "PrintableText.h"

#include <cstring>

namespace {

struct Field {
    int offset;
    int length;
};

constexpr Field hardwareIdField = {0, 8};
constexpr Field processorField = {8, 16};
constexpr Field flashField = {32, 8};
constexpr Field ramField = {40, 8};
constexpr Field bootVersionField = {64, 16};
constexpr Field osVersionField = {96, 16};
constexpr Field protocolField = {128, 4};
constexpr Field productIdField = {132, 16};
constexpr Field userNameField = {148, 16};
constexpr Field longUserNameField = {148, 20};

bool isPadding(unsigned char byte) {
    return byte == 0xFF || byte == 0x00 || byte == ' ';
}

// Copies a text field into `text` (room for `field.length` + 1), without its padding, made
// printable.
void copyText(const unsigned char* block, Field field, char* text) {
    int length = field.length;
    while (length > 0 && isPadding(block[field.offset + length - 1])) {
        --length;
    }
    memcpy(text, block + field.offset, static_cast<size_t>(length));
    text[PrintableText::clean(text, length)] = '\0';
}

// Capacities are written in decimal digits, then padding.
long readKiB(const unsigned char* block, Field field) {
    long value = 0;
    int digits = 0;
    for (; digits < field.length; ++digits) {
        const unsigned char byte = block[field.offset + digits];
        if (byte < '0' || byte > '9') {
            break;
        }
        value = value * 10 + (byte - '0');
    }
    return digits == 0 ? -1 : value;
}

} // namespace

bool CasioDeviceInfo::read(Buffer* block, CasioDeviceInfo* info) {
    if (block->getSize() < blockSize) {
        return true;
    }
    const unsigned char* bytes = block->getData();
    copyText(bytes, hardwareIdField, info->hardwareId);
    copyText(bytes, processorField, info->processor);
    copyText(bytes, osVersionField, info->osVersion);
    copyText(bytes, bootVersionField, info->bootVersion);
    copyText(bytes, protocolField, info->protocolVersion);
    copyText(bytes, productIdField, info->productId);
    copyText(bytes, block->getSize() >= longBlockSize ? longUserNameField : userNameField,
             info->userName);
    info->flashKiB = readKiB(bytes, flashField);
    info->ramKiB = readKiB(bytes, ramField);
    return false;
}
