#include "TolvaneVersion.h"

#include <cstdio>

void TolvaneVersion::printVersion() {
    printf("libtolvane [%s] V%d.%d.%d\n", releaseDate, versionMajor, versionMinor, versionPatch);
}
