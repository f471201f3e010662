#include "CalcPath.h"

#include "CasioCommandHeader.h"
#include "Log.h"
#include "PrintableText.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <strings.h>

namespace {

constexpr const char hexDigits[] = "0123456789ABCDEF";
// A calculator's names and groups are short; what travels in a command's field is at most
// 255 bytes.
constexpr size_t longestItemField = 255;

bool isControl(char character) {
    const auto byte = static_cast<unsigned char>(character);
    return byte < 0x20 || byte == 0x7F;
}

// The bytes of an item's field that its path writes as %XX.
bool isEscaped(unsigned char byte) {
    return byte < 0x20 || byte >= 0x7F || byte == '%' || byte == '/' || byte == '#';
}

std::string escaped(const std::string& field) {
    std::string text;
    for (const char character : field) {
        const auto byte = static_cast<unsigned char>(character);
        if (isEscaped(byte)) {
            text += {'%', hexDigits[byte >> 4], hexDigits[byte & 0x0F]};
        } else {
            text += character;
        }
    }
    return text;
}

int hexValue(char digit) {
    const char* found = digit != '\0' ? strchr(hexDigits, toupper(digit)) : nullptr;
    return found != nullptr ? static_cast<int>(found - hexDigits) : -1;
}

// The field a part of an item's path writes; false when a % is not followed by two hex
// digits, or the field is empty or too long.
bool unescaped(const std::string& part, std::string* field) {
    field->clear();
    for (size_t at = 0; at < part.size(); ++at) {
        if (part[at] != '%') {
            *field += part[at];
            continue;
        }
        const int high = at + 2 < part.size() + 0 ? hexValue(part[at + 1]) : -1;
        const int low = high >= 0 ? hexValue(part[at + 2]) : -1;
        if (low < 0) {
            return false;
        }
        *field += static_cast<char>(high * 16 + low);
        at += 2;
    }
    return !field->empty() && field->size() <= longestItemField;
}

std::vector<std::string> partsOf(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t slash = text.find('/'); slash != std::string::npos; slash = text.find('/', start)) {
        parts.push_back(text.substr(start, slash - start));
        start = slash + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

// The type a last part ends with (#TT), taken off it; -1 when it has none, -2 when it is not
// two hex digits.
int typeOf(std::string* last) {
    const size_t mark = last->rfind('#');
    if (mark == std::string::npos) {
        return -1;
    }
    const std::string digits = last->substr(mark + 1);
    last->resize(mark);
    const int high = digits.size() == 2 ? hexValue(digits[0]) : -1;
    const int low = high >= 0 ? hexValue(digits[1]) : -1;
    return low < 0 ? -2 : high * 16 + low;
}

} // namespace

bool CalcPath::isPlainName(const std::string& part) {
    return !part.empty() && part != "." && part != ".." &&
           part.size() <= static_cast<size_t>(CasioCommandHeader::maxFieldLength) &&
           part.find('/') == std::string::npos && std::none_of(part.begin(), part.end(), isControl);
}

bool CalcPath::parse(const std::string& text, CalcPath* path, std::string* problem) {
    const size_t slash = text.find('/');
    path->folder = slash == std::string::npos ? "" : text.substr(0, slash);
    path->name = slash == std::string::npos ? text : text.substr(slash + 1);
    // The calculator has folders one level deep, in the root of a storage.
    if (!isPlainName(path->name) || (slash != std::string::npos && !isPlainName(path->folder))) {
        *problem = "'" + text + "' is no calculator file: FILE or FOLDER/FILE, each part " +
                   "1 to 255 bytes without control characters";
        return false;
    }
    return true;
}

bool CalcPath::parseAll(const std::vector<std::string>& texts, const std::string& device,
                        std::vector<CalcPath>* paths) {
    for (const std::string& text : texts) {
        CalcPath path;
        std::string problem;
        if (device == mainMemory ? !parseItem(text, &path, &problem)
                                 : !parse(text, &path, &problem)) {
            Log::error(problem.c_str());
            return false;
        }
        paths->push_back(path);
    }
    return true;
}

std::string CalcPath::printable(std::string name) {
    name.resize(
        static_cast<size_t>(PrintableText::clean(name.data(), static_cast<int>(name.size()))));
    return name;
}

bool CalcPath::parseItem(const std::string& text, CalcPath* path, std::string* problem) {
    std::vector<std::string> parts = partsOf(text);
    const int type = parts.size() <= 3 ? typeOf(&parts.back()) : -2;
    path->item = true;
    path->type = type;
    const bool named = type != -2 && parts.size() <= 3 && unescaped(parts.back(), &path->name) &&
                       (parts.size() < 2 || unescaped(parts[0], &path->folder)) &&
                       (parts.size() < 3 || unescaped(parts[1], &path->directory));
    if (!named) {
        *problem = "'" + text + "' is no item of main memory: NAME, GROUP/NAME or " +
                   "GROUP/DIRECTORY/NAME, as list -d main shows them";
    }
    return named;
}

std::string CalcPath::itemText(const std::string& group, const std::string& directory,
                               const std::string& name, int type, Detail detail) {
    std::string text = escaped(group) + "/";
    if (detail != Detail::GroupAndName) {
        text += escaped(directory) + "/";
    }
    text += escaped(name);
    if (detail == Detail::DirectoryAndType && type >= 0) {
        text += {'#', hexDigits[(type >> 4) & 0x0F], hexDigits[type & 0x0F]};
    }
    return text;
}

std::string CalcPath::text() const {
    if (!item) {
        return folder.empty() ? name : folder + "/" + name;
    }
    if (folder.empty()) {
        return escaped(name);
    }
    const Detail detail = type >= 0            ? Detail::DirectoryAndType
                          : !directory.empty() ? Detail::Directory
                                               : Detail::GroupAndName;
    return itemText(folder, directory, name, type, detail);
}

bool CalcPath::namesItem(const std::string& itemGroup, const std::string& itemDirectory,
                         const std::string& itemName, int itemType) const {
    return name == itemName && (folder.empty() || folder == itemGroup) &&
           (directory.empty() || directory == itemDirectory) && (type < 0 || type == itemType);
}

std::string CalcPath::localName() const {
    if (!item) {
        return name;
    }
    const std::string file = escaped(name);
    const size_t dot = file.rfind('.');
    const std::string extension = dot == std::string::npos ? "" : file.substr(dot);
    const bool container = extension.size() == 5 && strncasecmp(extension.c_str(), ".g", 2) == 0 &&
                           (tolower(extension[4]) == 'm' || tolower(extension[4]) == 'r');
    return container ? file : file + ".g1m";
}
