#include "ScsiGeneric.h"

#include <cerrno>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

int directionOf(ScsiCommand::Direction direction) {
    switch (direction) {
    case ScsiCommand::in:
        return SG_DXFER_FROM_DEV;
    case ScsiCommand::out:
        return SG_DXFER_TO_DEV;
    case ScsiCommand::none:
        break;
    }
    return SG_DXFER_NONE;
}

} // namespace

int ScsiGeneric::open(const char* node) {
    return ::open(node, O_RDWR | O_CLOEXEC);
}

void ScsiGeneric::close(int descriptor) {
    if (descriptor >= 0) {
        ::close(descriptor);
    }
}

bool ScsiGeneric::execute(int descriptor, ScsiCommand* command, unsigned timeoutMs) {
    sg_io_hdr_t header{};
    header.interface_id = 'S';
    header.dxfer_direction = directionOf(command->direction);
    header.cmd_len = static_cast<unsigned char>(command->blockSize);
    header.cmdp = const_cast<unsigned char*>(command->block);
    header.dxfer_len = static_cast<unsigned>(command->dataSize);
    header.dxferp = command->dataSize > 0 ? command->data : nullptr;
    header.mx_sb_len = static_cast<unsigned char>(command->senseCapacity);
    header.sbp = command->sense;
    header.timeout = timeoutMs;
    command->moved = command->status = command->hostStatus = command->driverStatus = 0;
    command->senseSize = 0;
    if (ioctl(descriptor, SG_IO, &header) < 0) {
        command->error = errno;
        return true;
    }
    command->error = 0;
    const int resid = header.resid < 0                   ? 0
                      : header.resid < command->dataSize ? header.resid
                                                         : command->dataSize;
    command->moved = command->dataSize - resid;
    command->status = header.status;
    command->hostStatus = header.host_status;
    command->driverStatus = header.driver_status;
    command->senseSize = header.sb_len_wr;
    return false;
}
