#pragma once

// The uploader's command line. The names point at the argument strings themselves
// (or at constant defaults); nothing is copied.
class ArgReader {
public:
    ArgReader() = default;

    // True when the line is rejected; the reason and the help text are printed then.
    // `-l` and `-q` change the log level as soon as they are read.
    bool readArg(int argc, char** argv);

    const char* getFileName() const;
    const char* getFolderName() const;
    const char* getDeviceName() const;
    bool getAllowOverwrite() const;

private:
    const char* fileName = nullptr;
    const char* folderName = nullptr;
    const char* deviceName = nullptr;
    bool allowOverwrite = false;
};
