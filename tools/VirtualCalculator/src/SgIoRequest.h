#pragma once

#include "ScsiDrive.h"

#include <umockdev.h>

// One SG_IO ioctl of a program on a drive's SCSI generic node: the command block, the data and
// the sense buffer of its sg_io_hdr are the program's memory, resolved, and written back with
// the header filled in as the kernel fills it when the ioctl completes.
class SgIoRequest {
public:
    // Has `drive` execute the command; the errno to complete the ioctl with, 0 when it went.
    static int serve(UMockdevIoctlClient* client, ScsiDrive* drive);
};
