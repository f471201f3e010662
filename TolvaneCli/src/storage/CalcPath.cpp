#include "CalcPath.h"

#include "CasioCommandHeader.h"
#include "Log.h"
#include "PrintableText.h"

#include <algorithm>

namespace {

bool isControl(char character) {
    const auto byte = static_cast<unsigned char>(character);
    return byte < 0x20 || byte == 0x7F;
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

bool CalcPath::parseAll(const std::vector<std::string>& texts, std::vector<CalcPath>* paths) {
    for (const std::string& text : texts) {
        CalcPath path;
        std::string problem;
        if (!parse(text, &path, &problem)) {
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
