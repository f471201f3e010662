#include "CalcPath.h"

#include "CasioCommandHeader.h"

namespace {

bool isPlainName(const std::string& part) {
    return !part.empty() && part != "." && part != ".." &&
           part.size() <= static_cast<size_t>(CasioCommandHeader::maxFieldLength);
}

} // namespace

bool CalcPath::parse(const std::string& text, CalcPath* path, std::string* problem) {
    const size_t slash = text.find('/');
    path->folder = slash == std::string::npos ? "" : text.substr(0, slash);
    path->name = slash == std::string::npos ? text : text.substr(slash + 1);
    // The calculator has folders one level deep, in the root of a storage.
    if (path->name.find('/') != std::string::npos || !isPlainName(path->name) ||
        (slash != std::string::npos && !isPlainName(path->folder))) {
        *problem = "'" + text + "' is no calculator file: FILE or FOLDER/FILE, each part " +
                   "1 to 255 bytes";
        return false;
    }
    return true;
}
