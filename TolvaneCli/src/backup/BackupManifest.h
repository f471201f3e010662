#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A file of a calculator's storage device, as a backup holds it or a calculator lists it.
struct StoredFile {
    std::string device; // fls0, crd0; main for the .g1m file of main memory's items
    std::string name;   // FILE or FOLDER/FILE
    uint64_t size = 0;
    std::string sha256; // in a backup: the digest of its bytes
    // DEVICE/FILE or DEVICE/FOLDER/FILE: where it lies in a backup, and how messages name it.
    std::string path() const { return device + "/" + name; }
};

// An item of main memory, as a backup's .g1m file holds it or a calculator lists it.
struct StoredItem {
    std::string path; // GROUP/DIRECTORY/NAME#TT: its every field (see CalcPath)
    uint64_t size = 0;
};

// What a backup holds, written in the file MANIFEST of its folder: one record a line, its kind
// first, its fields separated by tabs (no name on a calculator holds a tab), so that a person
// reads it and `cut` or `awk -F '\t'` take it apart:
//
//   tolvane-backup  1                                    what it is, and the format's version
//   calculator      ADDRESS  KIND  PRODUCT  SERIAL       as tolvane devices lists it
//   date            2025-03-14T10:15:02+0100             when the backup began
//   storage         fls0                                 a storage device it holds, then
//   file            fls0  SIZE  SHA-256  NAME            each of that device's files
//   storage         main                                 main memory, where the calculator
//   file            main  SIZE  SHA-256  main-memory.g1m has one: its items in one .g1m file,
//   item            main  SIZE  GROUP/DIRECTORY/NAME#TT  and each item of that file
//   end             FILES  BYTES                         the last line: the counts, for a check
//
// A storage device the calculator did not have (no SD card) has no storage line.
class BackupManifest {
public:
    static constexpr const char* fileName = "MANIFEST";
    // The file of main memory's items in a backup, on its device, main.
    static constexpr const char* mainMemoryFile = "main-memory.g1m";

    std::string text() const;
    // False, with `problem` naming the line, when `text` is no whole manifest this tolvane
    // reads; nothing it says is trusted before.
    static bool parse(const std::string& text, BackupManifest* manifest, std::string* problem);

    // The identity of the calculator, as tolvane devices shows it.
    std::string address;
    std::string kind;
    std::string product;
    std::string serial;
    std::string date;
    std::vector<std::string> devices; // in the order they were backed up
    std::vector<StoredFile> files;    // each device's in turn
    std::vector<StoredItem> items;    // main memory's, in its file

    uint64_t bytes() const;
};
