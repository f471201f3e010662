#pragma once

#include "LocalTarget.h"

#include <cstdio>

// A file being written from what the calculator sends, at a target examined beforehand. A
// staged file is written under a short temporary name beside the file it becomes and renamed
// into place only once complete, so that a failed or interrupted download leaves nothing
// behind and a file being replaced stays whole until then; whatever is not committed is
// removed. A direct target (a device, a FIFO) is simply written.
class OutputFile {
public:
    explicit OutputFile(LocalTarget target) : target(std::move(target)) {}
    ~OutputFile() { discard(); }

    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // False after reporting why the file can't be opened for writing.
    bool create();
    FILE* stream() { return file; }
    // Puts the complete file in place (never over a file that appeared meanwhile unless the
    // target replaces one). False after reporting why not; the temporary file is gone either
    // way.
    bool commit();
    // Puts the complete staged file in place under a name nothing has: `stem` + `extension`
    // or, when that is taken, `stem` + "-2" + `extension`, "-3", ..., never replacing a file,
    // even one that appears meanwhile. False after reporting why not; `placed` is the name.
    bool commitFresh(const std::string& stem, const std::string& extension, std::string* placed);
    void discard();

private:
    bool finishWriting();
    bool createStaged();
    bool createDirect();
    bool keepAttributes(int descriptor);
    bool fail(const std::string& what);

    LocalTarget target;
    std::string temporary;
    FILE* file = nullptr;
};
