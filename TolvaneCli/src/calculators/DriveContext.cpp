#include "DriveContext.h"

DriveFiles* DriveContext::files() {
    if (!mountTried) {
        mountTried = true;
        if (drive.open(calculator.address)) {
            tree.emplace(drive.folder(), drive.readOnly());
        }
    }
    return tree ? &*tree : nullptr;
}

bool DriveContext::finish() {
    return !tree || drive.finish(tree->changed(), line.has("no-eject"));
}
