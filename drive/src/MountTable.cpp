#include "MountTable.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <sys/sysmacros.h>
#include <vector>

namespace {

constexpr const char mountInfoPath[] = "/proc/self/mountinfo";

// mountinfo escapes spaces, tabs, newlines and backslashes as three octal digits.
std::string unescaped(const std::string& text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            plain += static_cast<char>(strtol(text.substr(i + 1, 3).c_str(), nullptr, 8));
            i += 3;
        } else {
            plain += text[i];
        }
    }
    return plain;
}

bool listsReadOnly(const std::string& options) {
    std::stringstream list(options);
    std::string option;
    while (std::getline(list, option, ',')) {
        if (option == "ro") {
            return true;
        }
    }
    return false;
}

// One line: ID PARENT MAJOR:MINOR ROOT POINT OPTIONS [OPTIONAL...] - TYPE SOURCE SUPEROPTIONS.
struct Line {
    std::string numbers;
    std::string root;
    std::string point;
    std::string options;
    std::string superOptions;
};

bool parse(const std::string& text, Line* line) {
    std::stringstream fields(text);
    std::string id;
    std::string parent;
    fields >> id >> parent >> line->numbers >> line->root >> line->point >> line->options;
    std::string field;
    while (fields >> field && field != "-") {
    }
    std::string type;
    std::string source;
    fields >> type >> source >> line->superOptions;
    return !fields.fail();
}

std::string readLine(FILE* file, bool* more) {
    std::string text;
    int character = 0;
    while ((character = fgetc(file)) != EOF && character != '\n') {
        text += static_cast<char>(character);
    }
    *more = character != EOF;
    return text;
}

} // namespace

bool MountTable::find(dev_t number, const std::string& point, Mount* mount) {
    FILE* file = fopen(mountInfoPath, "re");
    if (file == nullptr) {
        return true;
    }
    const std::string numbers = std::to_string(major(number)) + ":" + std::to_string(minor(number));
    bool found = false;
    for (bool more = true; more && !found;) {
        Line line;
        if (!parse(readLine(file, &more), &line) || line.numbers != numbers || line.root != "/") {
            continue;
        }
        const std::string where = unescaped(line.point);
        if (point.empty() || where == point) {
            mount->point = where;
            mount->readOnly = listsReadOnly(line.options) || listsReadOnly(line.superOptions);
            found = true;
        }
    }
    fclose(file);
    return !found;
}
