#pragma once

#include <cstdio>
#include <string>

// A local file written under a temporary name beside its target, and renamed into place
// only once it is complete, so that a failed or interrupted download leaves nothing
// behind. Whatever is not committed is removed.
class StagedFile {
public:
    explicit StagedFile(std::string target) : target(std::move(target)) {}
    ~StagedFile() { discard(); }

    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // False after reporting why the temporary file cannot be made.
    bool create();
    FILE* stream() { return file; }
    // Puts the complete file in place, replacing an existing one only when `replace`.
    // False after reporting why not; the temporary file is gone either way.
    bool commit(bool replace);
    void discard();

private:
    bool fail(const std::string& what);

    std::string target;
    std::string temporary;
    FILE* file = nullptr;
};
