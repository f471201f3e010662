#include "ArgHelp.h"

#include <cstdio>

void ArgHelp::showHelp() {
    puts("Available arguments: ");
    puts("-f FILENAME (REQUIRED)");
    puts("-F FOLDERNAME (default to root)");
    puts("-d DEVICENAME (internal flash: fls0 DEFAULT, external sd: crd0)");
    puts("-w (allow overwrite, disabled by default)");
    puts("-l (log level, 0 to 3, default to 2)");
    puts("-q (quiet, disabled by default)");
}
