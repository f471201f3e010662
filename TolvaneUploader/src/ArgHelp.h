#pragma once

// The uploader's help text, printed whatever the log level.
class ArgHelp {
public:
    static void showHelp();
};
