#include "CasioCommandHeader.h"

#include "AsciiConverter.h"
#include "Log.h"

#include <cstring>

namespace {

constexpr int modeOffset = 0;
constexpr int dataTypeOffset = 2;
constexpr int sizeOffset = 4;
constexpr int lengthsOffset = 12;

Buffer viewOf(const char* text) {
    // Views of names are only ever read.
    auto* bytes = reinterpret_cast<unsigned char*>(const_cast<char*>(text));
    return text == nullptr ? Buffer(nullptr, 0) : Buffer(bytes, static_cast<int>(strlen(text)));
}

int readNumber(unsigned char* digits, int count) {
    int number = 0;
    AsciiConverter::asciiToNumber(digits, &number, count);
    return number;
}

} // namespace

CasioStorageCommand CasioCommandHeader::naming(const char* folder, const char* name,
                                               const char* device) {
    CasioStorageCommand command = {modeAsk, 0x00, 0, {}};
    command.fields[folderField] = viewOf(folder);
    command.fields[nameField] = viewOf(name);
    command.fields[deviceField] = viewOf(device);
    return command;
}

bool CasioCommandHeader::build(const CasioStorageCommand& command, Buffer* output) {
    int length = headerSize;
    for (const Buffer& field : command.fields) {
        if (field.getSize() > maxFieldLength) {
            Log::error("Name too long for a command (255 bytes max) !");
            return true;
        }
        length += field.getSize();
    }
    if (length > output->getSize()) {
        Log::error("Command too big for its buffer !");
        return true;
    }
    unsigned char* data = output->getData();
    AsciiConverter::numberToAscii(command.overwriteMode, data + modeOffset, 2);
    AsciiConverter::numberToAscii(command.dataType, data + dataTypeOffset, 2);
    AsciiConverter::numberToAscii(static_cast<int>(command.size), data + sizeOffset, 8);
    unsigned char* position = data + headerSize;
    for (int i = 0; i < fieldCount; ++i) {
        const Buffer& field = command.fields[i];
        AsciiConverter::numberToAscii(field.getSize(), data + lengthsOffset + 2 * i, 2);
        if (field.getSize() > 0) {
            memcpy(position, field.getData(), field.getSize());
        }
        position += field.getSize();
    }
    output->setSize(length);
    return false;
}

bool CasioCommandHeader::read(Buffer* data, CasioStorageCommand* command) {
    if (data->getSize() < headerSize) {
        return true;
    }
    unsigned char* bytes = data->getData();
    command->overwriteMode = static_cast<unsigned char>(readNumber(bytes + modeOffset, 2));
    command->dataType = static_cast<unsigned char>(readNumber(bytes + dataTypeOffset, 2));
    command->size = static_cast<uint32_t>(readNumber(bytes + sizeOffset, 8));
    int position = headerSize;
    for (int i = 0; i < fieldCount; ++i) {
        // Two digits of the lenient decoder never exceed 0xFFF.
        const int length = readNumber(bytes + lengthsOffset + 2 * i, 2);
        if (length > data->getSize() - position) {
            return true;
        }
        command->fields[i] = Buffer(bytes + position, length);
        position += length;
    }
    return false;
}
