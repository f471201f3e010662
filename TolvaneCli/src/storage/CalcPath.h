#pragma once

#include <string>
#include <vector>

// A file on the calculator as a user names it: FILE in the storage's root, or FOLDER/FILE. Or
// an item of its main memory (-d main): NAME, GROUP/NAME or GROUP/DIRECTORY/NAME, the last part
// followed by #TT for the item's type (two hex digits) where nothing else tells two items
// apart. In an item's path each byte that is no printable ASCII, and each '%', '/' and '#',
// is written %XX, so that every item has a path that prints safely and reads back as the
// item: a program is PROGRAM/NAME, a picture "PICTURE 3/PICT3".
class CalcPath {
public:
    // The storage device that is the calculator's main memory.
    static constexpr const char* mainMemory = "main";

    // False, with `problem` saying why, when `text` names no such file.
    static bool parse(const std::string& text, CalcPath* path, std::string* problem);
    // False, with `problem` saying why, when `text` names no item.
    static bool parseItem(const std::string& text, CalcPath* path, std::string* problem);
    // Every text parsed as a name on `device`; false after reporting the first that names
    // nothing there.
    static bool parseAll(const std::vector<std::string>& texts, const std::string& device,
                         std::vector<CalcPath>* paths);
    // Whether `part` can be one part of a name: a folder or a file name of 1 to 255 bytes,
    // not "." or "..", without '/' or control characters.
    static bool isPlainName(const std::string& part);
    // A name from the calculator as it can be shown on a terminal and in a line of its own.
    static std::string printable(std::string name);

    // How much of an item's fields its path gives: as little as tells it from the others.
    enum class Detail { GroupAndName, Directory, DirectoryAndType };
    static std::string itemText(const std::string& group, const std::string& directory,
                                const std::string& name, int type, Detail detail);

    // FILE, or FOLDER/FILE; an item's path with what it was given.
    std::string text() const;
    // The name of the local file it is fetched into: the file's name; an item's, as a .g1m
    // file (unless it is one already, as the files of a drive's copy of main memory are).
    std::string localName() const;
    // Whether this names the item of these fields: each field given must match.
    bool namesItem(const std::string& itemGroup, const std::string& itemDirectory,
                   const std::string& itemName, int itemType) const;

    std::string folder;    // the file's folder; an item's group (empty: any)
    std::string name;      // the file's or the item's name
    std::string directory; // an item's directory (empty: any)
    int type = -1;         // an item's type (-1: any)
    bool item = false;
};
