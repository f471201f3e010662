#include "G1mWire.h"

namespace g1mwire {

namespace {

constexpr size_t headerBytes = 32;
constexpr size_t groupBytes = 20;
constexpr size_t itemBytes = 24;
const std::string mark = "USBPower";
const Bytes fixedBytes = {0x00, 0x10, 0x00, 0x10, 0x00};

void putText(Bytes& bytes, const std::string& text, size_t width) {
    for (size_t i = 0; i < width; ++i) {
        bytes.push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
    }
}

void putNumber(Bytes& bytes, uint32_t value, int width) {
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<uint8_t>(value >> shift));
    }
}

uint32_t numberAt(const Bytes& bytes, size_t offset, int width) {
    uint32_t value = 0;
    for (int i = 0; i < width; ++i) {
        value = value << 8 | bytes[offset + static_cast<size_t>(i)];
    }
    return value;
}

std::string textAt(const Bytes& bytes, size_t offset, size_t width) {
    std::string text(bytes.begin() + static_cast<long>(offset),
                     bytes.begin() + static_cast<long>(offset + width));
    return text.substr(0, text.find('\0'));
}

} // namespace

Bytes file(const std::vector<Item>& items, const Header& header) {
    Bytes body;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i == 0 || items[i].group != items[i - 1].group) {
            size_t end = i;
            while (end < items.size() && items[end].group == items[i].group) {
                ++end;
            }
            putText(body, items[i].group, 16);
            putNumber(body, static_cast<uint32_t>(end - i), 4);
        }
        putText(body, items[i].directory, 8);
        putText(body, items[i].name, 8);
        body.push_back(items[i].type);
        putNumber(body, static_cast<uint32_t>(items[i].data.size()), 4);
        body.insert(body.end(), 3, 0);
        body.insert(body.end(), items[i].data.begin(), items[i].data.end());
    }
    const uint32_t size = header.size.value_or(static_cast<uint32_t>(headerBytes + body.size()));
    Bytes bytes;
    putText(bytes, mark, mark.size());
    bytes.push_back(header.type);
    bytes.insert(bytes.end(), fixedBytes.begin(), fixedBytes.end());
    bytes.push_back(static_cast<uint8_t>((size & 0xFF) + 0x41));
    bytes.push_back(0x01);
    putNumber(bytes, size, 4);
    bytes.push_back(static_cast<uint8_t>((size & 0xFF) + 0xB8));
    bytes.insert(bytes.end(), 9, 0);
    putNumber(bytes, header.count.value_or(static_cast<uint16_t>(items.size())), 2);
    for (uint8_t& byte : bytes) {
        byte ^= 0xFF;
    }
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

std::optional<std::vector<Item>> read(const Bytes& file, std::string& problem) {
    if (file.size() < headerBytes) {
        problem = "shorter than the 32-byte header";
        return std::nullopt;
    }
    Bytes header(file.begin(), file.begin() + headerBytes);
    for (uint8_t& byte : header) {
        byte ^= 0xFF;
    }
    const uint32_t size = numberAt(header, 0x10, 4);
    const uint8_t type = header[8];
    if (textAt(header, 0, 8) != mark || (type != 0x31 && type != 0x62 && type != 0x75) ||
        !std::equal(fixedBytes.begin(), fixedBytes.end(), header.begin() + 9) || header[0x0F] > 1) {
        problem = "not a .g1m file (its inverted header does not read)";
        return std::nullopt;
    }
    if (header[0x0E] != uint8_t((size & 0xFF) + 0x41) ||
        header[0x14] != uint8_t((size & 0xFF) + 0xB8) || size != file.size()) {
        problem = "its size field and control bytes do not match its " +
                  std::to_string(file.size()) + " bytes";
        return std::nullopt;
    }
    const uint32_t count = numberAt(header, 0x1E, 2);
    std::vector<Item> items;
    size_t at = headerBytes;
    while (items.size() < count) {
        if (at + groupBytes > file.size()) {
            problem = "it ends before its " + std::to_string(count) + " items";
            return std::nullopt;
        }
        const std::string group = textAt(file, at, 16);
        const uint32_t inGroup = numberAt(file, at + 16, 4);
        at += groupBytes;
        if (inGroup > count - items.size()) {
            problem = "a group holds more items than the file counts";
            return std::nullopt;
        }
        for (uint32_t i = 0; i < inGroup; ++i) {
            const uint32_t length = at + itemBytes <= file.size() ? numberAt(file, at + 17, 4) : 0;
            if (at + itemBytes > file.size() || length > file.size() - at - itemBytes) {
                problem = "item " + std::to_string(items.size() + 1) + " runs past the end";
                return std::nullopt;
            }
            Item item{file[at + 16], textAt(file, at, 8), textAt(file, at + 8, 8), group,
                      Bytes(file.begin() + static_cast<long>(at + itemBytes),
                            file.begin() + static_cast<long>(at + itemBytes + length))};
            items.push_back(std::move(item));
            at += itemBytes + length;
        }
    }
    if (at != file.size()) {
        problem = std::to_string(file.size() - at) + " bytes after its last item";
        return std::nullopt;
    }
    return items;
}

} // namespace g1mwire
