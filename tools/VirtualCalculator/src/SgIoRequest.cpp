#include "SgIoRequest.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <scsi/sg.h>

namespace {

constexpr unsigned char driverSense = 0x08; // the kernel's DRIVER_SENSE: sense data came

// A pointer field of the client's sg_io_hdr, resolved; null for no bytes.
UMockdevIoctlData* resolved(UMockdevIoctlData* header, size_t field, size_t length) {
    return length == 0 ? nullptr : umockdev_ioctl_data_resolve(header, field, length, nullptr);
}

sg_io_hdr_t& headerOf(UMockdevIoctlData* header) {
    return *reinterpret_cast<sg_io_hdr_t*>(header->data);
}

} // namespace

int SgIoRequest::serve(UMockdevIoctlClient* client, ScsiDrive* drive) {
    UMockdevIoctlData* header = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client),
                                                            0, sizeof(sg_io_hdr_t), nullptr);
    if (header == nullptr || headerOf(header).interface_id != 'S') {
        return header == nullptr ? EFAULT : ENOSYS;
    }
    const sg_io_hdr_t fields = headerOf(header);
    const bool in = fields.dxfer_direction == SG_DXFER_FROM_DEV;
    const bool out = fields.dxfer_direction == SG_DXFER_TO_DEV;
    UMockdevIoctlData* block = resolved(header, offsetof(sg_io_hdr_t, cmdp), fields.cmd_len);
    UMockdevIoctlData* data =
        resolved(header, offsetof(sg_io_hdr_t, dxferp), in || out ? fields.dxfer_len : 0);
    UMockdevIoctlData* sense = resolved(header, offsetof(sg_io_hdr_t, sbp), fields.mx_sb_len);
    if (block == nullptr || ((in || out) && fields.dxfer_len > 0 && data == nullptr)) {
        return EFAULT;
    }
    ScsiDrive::Command command;
    command.block.assign(block->data, block->data + fields.cmd_len);
    command.direction = in    ? ScsiDrive::Direction::In
                        : out ? ScsiDrive::Direction::Out
                              : ScsiDrive::Direction::None;
    command.dataInLength = in ? fields.dxfer_len : 0;
    if (out && data != nullptr) {
        command.dataOut.assign(data->data, data->data + fields.dxfer_len);
    }
    const ScsiDrive::Answer answer = drive->execute(command);
    sg_io_hdr_t& result = headerOf(header);
    const size_t given = in ? std::min<size_t>(answer.dataIn.size(), fields.dxfer_len) : 0;
    if (given > 0) {
        memcpy(data->data, answer.dataIn.data(), given);
    }
    const size_t senseGiven =
        sense != nullptr ? std::min<size_t>(answer.sense.size(), fields.mx_sb_len) : 0;
    if (senseGiven > 0) {
        memcpy(sense->data, answer.sense.data(), senseGiven);
    }
    result.status = answer.status;
    result.masked_status = static_cast<unsigned char>(answer.status >> 1);
    result.host_status = 0;
    result.driver_status = answer.sense.empty() ? 0 : driverSense;
    result.sb_len_wr = static_cast<unsigned char>(senseGiven);
    result.resid = in ? static_cast<int>(fields.dxfer_len - given) : 0;
    result.duration = 1;
    result.info = answer.status == 0 ? SG_INFO_OK : SG_INFO_CHECK;
    return 0;
}
