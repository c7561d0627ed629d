// UFS query requests over the BSG node: request encoding, the SG_IO
// transport, descriptor and attribute access.
#include "storage/ufs.h"

#include "util/log2file.h"
#include "util/paths.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <linux/bsg.h>
#include <scsi/sg.h>
#include <string>
#include <sys/ioctl.h>

static_assert(sizeof(sg_io_v4) == 160, "sg_io_v4 layout");

namespace {

class sg_io_transport : public ufs_transport
{
public:
    int submit(int fd, sg_io_v4 *io) override { return ioctl(fd, SG_IO, io); }
};

sg_io_transport g_sg_io;
ufs_transport *g_transport = nullptr;   // nullptr: the real SG_IO

void put_be16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void put_be32(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

uint32_t get_be32(const uint8_t *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

const char *const k_response_texts[16] = {
    "Success",
    "Reserved1",
    "Reserved2",
    "Reserved3",
    "Reserved4",
    "Reserved5",
    "Parameter not readable",
    "Parameter not written",
    "Parameter already written",
    "Invalid LENGTH",
    "Invalid value",
    "Invalid SELECTOR",
    "Invalid INDEX",
    "Invalid IDN",
    "Invalid OPCODE",
    "General failure",
};

const char *const k_desc_names[11] = {
    "Device", "Config", "Unit", "RFU0", "Interconnect", "String",
    "RFU1", "Geometry", "Power", "Health", "IDN10",
};

} // namespace

ufs_transport *ufs_set_transport(ufs_transport *transport)
{
    ufs_transport *previous = g_transport;
    g_transport = transport;
    return previous;
}

void print_error(const char *format, ...)
{
    char text[512];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    fprintf(stderr, "Err: %s\n", text);
    fflush(stderr);
    log2file("ufs: Err: %s\n", text);
}

const char *ufs_query_response_text(uint8_t code)
{
    if (code == 0)
        return k_response_texts[0];
    if (code < 0xF0)
        return "Unknown response";
    return k_response_texts[code & 0x0F];
}

const char *ufs_desc_name(uint8_t idn)
{
    return idn < sizeof k_desc_names / sizeof k_desc_names[0] ? k_desc_names[idn] : "Unknown";
}

bool ufs_desc_length_accepted(uint8_t idn, int length)
{
    switch (idn) {
    case UFS_DESC_DEVICE:
        return length == 0x40 || length == 0x59;
    case UFS_DESC_CONFIG:
        return length == 0x90 || length == 0xE6;
    case UFS_DESC_UNIT:
        return length == 0x23 || length == 0x2D;
    case UFS_DESC_INTERCONNECT:
        return length == 0x06;
    case UFS_DESC_GEOMETRY:
        return length == 0x48 || length == 0x57;
    case UFS_DESC_POWER:
        return length == 0x62;
    case UFS_DESC_HEALTH:
        return length == 0x25 || length == 0x2D;
    case 10:
        return length == 0x12;
    default:
        return true;   // IDNs 3, 5, 6 and above 10 carry no fixed length
    }
}

int bsg_find_device(char *path, size_t path_size, int *host)
{
    const std::string dir = imgsmith::sysPath("/dev/bsg");
    DIR *d = opendir(dir.c_str());
    if (!d) {
        print_error("Directory cannot be opened!");
        return -ENODEV;
    }
    int ret = -ENODEV;
    while (struct dirent *e = readdir(d)) {
        const char *tag = strstr(e->d_name, "ufs-bsg");
        if (!tag)
            continue;
        const int n = snprintf(path, path_size, "%s/%s", "/dev/bsg", e->d_name);
        if (n < 0 || static_cast<size_t>(n) >= path_size)
            continue;
        *host = static_cast<int>(strtol(tag + strlen("ufs-bsg"), nullptr, 10));
        ret = 0;
        break;
    }
    closedir(d);
    return ret;
}

int send_bsg_scsi_trs(int fd, ufs_bsg_request *request, ufs_bsg_reply *reply,
                      uint32_t request_len, uint32_t reply_len,
                      uint32_t data_len, void *data, bool write)
{
    if (!request || !reply) {
        print_error("%s: wrong parameters", __func__);
        return -EINVAL;
    }
    if (data_len && !data) {
        print_error("%s: data_buf is NULL", __func__);
        return -EINVAL;
    }

    sg_io_v4 io;
    memset(&io, 0, sizeof io);
    io.guard = 'Q';
    io.protocol = BSG_PROTOCOL_SCSI;
    io.subprotocol = BSG_SUB_PROTOCOL_SCSI_TRANSPORT;
    io.request_len = request_len;
    io.request = reinterpret_cast<uintptr_t>(request);
    io.max_response_len = reply_len;
    io.response = reinterpret_cast<uintptr_t>(reply);
    if (write) {
        io.dout_xfer_len = data_len;
        io.dout_xferp = reinterpret_cast<uintptr_t>(data);
    } else {
        io.din_xfer_len = data_len;
        io.din_xferp = reinterpret_cast<uintptr_t>(data);
    }

    ufs_transport *t = g_transport ? g_transport : &g_sg_io;
    int ret;
    do {
        ret = t->submit(fd, &io);
    } while (ret < 0 && (errno == EINTR || errno == EAGAIN));
    if (ret < 0)
        return -errno;
    if (io.info) {
        print_error("Command fail with status %x ", io.info);
        return -EINVAL;
    }
    return ret;
}

int bsg_query_rq(int fd, ufs_bsg_request *request, ufs_bsg_reply *reply,
                 uint8_t function, uint8_t opcode, uint8_t idn, uint8_t index,
                 uint8_t selector, uint16_t write_len, uint16_t read_len,
                 uint32_t value, uint8_t *data)
{
    const uint16_t len = write_len ? write_len : read_len;
    memset(request, 0, sizeof *request);
    memset(reply, 0, sizeof *reply);
    request->msgcode = UFS_QUERY_MSGCODE;
    uint8_t *u = request->upiu;
    u[0] = UFS_QUERY_MSGCODE;
    u[5] = function;
    put_be16(u + 10, len);
    u[12] = opcode;
    u[13] = idn;
    u[14] = index;
    u[15] = selector;
    put_be16(u + 18, len);
    put_be32(u + 20, value);

    const int ret = send_bsg_scsi_trs(fd, request, reply, sizeof *request, sizeof *reply,
                                      len, data, write_len != 0);
    if (ret) {
        print_error("%s: query failed, status %d idn: %d, i: %d, s: %d",
                    "bsg_query_rq", ret, idn, index, selector);
        return -1;
    }
    const uint8_t response = reply->upiu[6];
    if (response) {
        print_error("%s, for idn 0x%02x", ufs_query_response_text(response), idn);
        return -1;
    }
    return 0;
}

int bsg_read_desc(int fd, ufs_bsg_request *request, ufs_bsg_reply *reply,
                  uint8_t idn, uint8_t index, uint16_t length, uint8_t *buffer)
{
    // A short answer must not leave stale bytes that look like descriptor data.
    memset(buffer, 0, length);
    if (bsg_query_rq(fd, request, reply, UFS_QUERY_FUNC_STD_READ, UFS_QUERY_OP_READ_DESC,
                     idn, index, 0, 0, length, 0, buffer))
        return -1;
    if (!ufs_desc_length_accepted(idn, buffer[0])) {
        print_error("Unofficial %s desc size, len = 0x%x", ufs_desc_name(idn), buffer[0]);
        return -ENOENT;
    }
    return 0;
}

int bsg_write_desc(int fd, ufs_bsg_request *request, ufs_bsg_reply *reply,
                   uint8_t idn, uint8_t index, uint16_t length, const uint8_t *buffer)
{
    // The transport takes a non-const pointer for both directions; data-out
    // is only read.
    return bsg_query_rq(fd, request, reply, UFS_QUERY_FUNC_STD_WRITE, UFS_QUERY_OP_WRITE_DESC,
                        idn, index, 0, length, 0, 0, const_cast<uint8_t *>(buffer));
}

int bsg_read_attr(int fd, ufs_bsg_request *request, ufs_bsg_reply *reply,
                  uint8_t idn, uint8_t index, uint8_t selector, uint32_t *value)
{
    if (idn > UFS_ATTR_IDN_MAX) {
        print_error("%s: illegal attribute idn 0x%02x", __func__, idn);
        return -1;
    }
    if (bsg_query_rq(fd, request, reply, UFS_QUERY_FUNC_STD_READ, UFS_QUERY_OP_READ_ATTR,
                     idn, index, selector, 0, 0, 0, nullptr))
        return -1;
    *value = get_be32(reply->upiu + 20);
    return 0;
}

int bsg_write_attr(int fd, ufs_bsg_request *request, ufs_bsg_reply *reply,
                   uint8_t idn, uint8_t index, uint8_t selector, uint32_t value)
{
    if (idn > UFS_ATTR_IDN_MAX) {
        print_error("%s: illegal attribute idn 0x%02x", __func__, idn);
        return -1;
    }
    return bsg_query_rq(fd, request, reply, UFS_QUERY_FUNC_STD_WRITE, UFS_QUERY_OP_WRITE_ATTR,
                        idn, index, selector, 0, 0, value, nullptr);
}

int ufs_read_attr(ufs_hba *hba, uint8_t idn, uint32_t *value)
{
    ufs_bsg_request request;
    ufs_bsg_reply reply;
    return bsg_read_attr(hba->fd, &request, &reply, idn, 0, 0, value);
}

int ufs_write_attr(ufs_hba *hba, uint8_t idn, uint32_t value)
{
    ufs_bsg_request request;
    ufs_bsg_reply reply;
    return bsg_write_attr(hba->fd, &request, &reply, idn, 0, 0, value);
}
