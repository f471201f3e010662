#pragma once

#include <string>
#include <vector>

// A file on the calculator as a user names it: FILE in the storage's root, or FOLDER/FILE.
class CalcPath {
public:
    // False, with `problem` saying why, when `text` names no such file.
    static bool parse(const std::string& text, CalcPath* path, std::string* problem);
    // Every text parsed; false after reporting the first that names no file.
    static bool parseAll(const std::vector<std::string>& texts, std::vector<CalcPath>* paths);
    // Whether `part` can be one part of a name: a folder or a file name of 1 to 255 bytes,
    // not "." or "..", without '/' or control characters.
    static bool isPlainName(const std::string& part);

    // A name from the calculator as it can be shown on a terminal and in a line of its own.
    static std::string printable(std::string name);

    // FILE, or FOLDER/FILE.
    std::string text() const { return folder.empty() ? name : folder + "/" + name; }

    std::string folder;
    std::string name;
};
