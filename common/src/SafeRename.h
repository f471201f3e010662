#pragma once

// Putting a finished file in place under its name: a local download, a file staged on a
// drive calculator.
class SafeRename {
public:
    // Renames `from` to `to` unless `to` exists (errno EEXIST then); -1 on failure, as
    // rename(2). Where the file system cannot promise that in one step, a second link (which
    // an existing name refuses) does as well; only without links does it look first.
    static int withoutReplacing(const char* from, const char* to);
};
