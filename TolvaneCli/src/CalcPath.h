#pragma once

#include <string>

// A file on the calculator as a user names it: FILE in the storage's root, or FOLDER/FILE.
class CalcPath {
public:
    // False, with `problem` saying why, when `text` names no such file.
    static bool parse(const std::string& text, CalcPath* path, std::string* problem);

    std::string folder;
    std::string name;
};
