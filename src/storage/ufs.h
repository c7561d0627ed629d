// UFS provisioning through the kernel's UFS BSG node.
//
// A factory-fresh UFS device has no logical-unit layout; ufs_init() writes
// the configuration descriptor (data LU, boot LUs A and B, a small enhanced
// LU, write booster), enables booting from LU A, sets the reference clock and
// rescans the SCSI host. Every device access is a UFS query request carried
// by SG_IO on "/dev/bsg/ufs-bsg<N>"; the SG_IO call itself sits behind a
// replaceable transport so that tests can answer queries with a device model.
#pragma once

#include <cstddef>
#include <cstdint>

struct sg_io_v4;

enum : uint8_t {
    UFS_QUERY_MSGCODE = 0x16,            // BSG message code and UPIU transaction type
    UFS_QUERY_FUNC_STD_READ = 0x01,
    UFS_QUERY_FUNC_STD_WRITE = 0x81,
    UFS_QUERY_OP_READ_DESC = 1,
    UFS_QUERY_OP_WRITE_DESC = 2,
    UFS_QUERY_OP_READ_ATTR = 3,
    UFS_QUERY_OP_WRITE_ATTR = 4,
};

enum : uint8_t {
    UFS_DESC_DEVICE = 0,
    UFS_DESC_CONFIG = 1,
    UFS_DESC_UNIT = 2,
    UFS_DESC_INTERCONNECT = 4,
    UFS_DESC_STRING = 5,
    UFS_DESC_GEOMETRY = 7,
    UFS_DESC_POWER = 8,
    UFS_DESC_HEALTH = 9,
};

enum : uint8_t {
    UFS_ATTR_BOOT_LUN_EN = 0x00,
    UFS_ATTR_REF_CLK_FREQ = 0x0A,
    UFS_ATTR_CONF_DESC_LOCK = 0x0B,
    UFS_ATTR_IDN_MAX = 0x39,             // highest attribute IDN a query may name
};

// Lengths in bytes.
enum : int {
    UFS_BSG_REQUEST_SIZE = 36,
    UFS_BSG_REPLY_SIZE = 40,
    UFS_DESC_READ_SIZE = 255,            // asked for on every descriptor read
    UFS_DEV_DESC_KEEP = 90,
    UFS_GEO_DESC_KEEP = 87,
    UFS_CONF_DESC_SIZE = 230,
    UFS_CONF_HEADER_SIZE = 22,
    UFS_CONF_UNIT_SIZE = 26,
    UFS_CONF_UNITS = 8,
    UFS_PATH_SIZE = 256,
};

// Device descriptor offsets.
enum : int {
    UFS_DEV_bNumberLU = 0x06,
    UFS_DEV_bBootEnable = 0x08,
    UFS_DEV_bUD0BaseOffset = 0x1A,
    UFS_DEV_bUDConfigPLength = 0x1B,
};

// Geometry descriptor offsets; multi-byte fields are big-endian.
enum : int {
    UFS_GEO_qTotalRawDeviceCapacity = 0x04,   // 8 bytes, 512-byte units
    UFS_GEO_dSegmentSize = 0x0D,              // 4 bytes, 512-byte units
    UFS_GEO_bAllocationUnitSize = 0x11,       // segments per allocation unit
    UFS_GEO_wEnhanced1CapAdjFac = 0x30,       // first byte is the integer part
    UFS_GEO_dWriteBoosterBufferMaxNAllocUnits = 0x4F,
};

// The query request the UFS BSG driver takes: BSG message code, then a
// 32-byte UPIU (12-byte header, 20 bytes of query fields). Offsets within
// upiu: 0 transaction type, 5 query function, 10-11 data segment length,
// 12 opcode, 13 IDN, 14 index, 15 selector, 18-19 length, 20-23 value.
struct ufs_bsg_request
{
    uint32_t msgcode;                    // host byte order
    uint8_t upiu[32];
} __attribute__((packed));
static_assert(sizeof(ufs_bsg_request) == UFS_BSG_REQUEST_SIZE, "ufs_bsg_request layout");

// The reply: upiu[6] is the query response code, upiu[20-23] the attribute
// value of a read (big-endian), upiu[18-19] the length of a descriptor read.
struct ufs_bsg_reply
{
    int32_t result;
    uint32_t reply_payload_rcv_len;
    uint8_t upiu[32];
} __attribute__((packed));
static_assert(sizeof(ufs_bsg_reply) == UFS_BSG_REPLY_SIZE, "ufs_bsg_reply layout");

// One unit entry of the 230-byte (JEDEC UFS 3.1) configuration descriptor.
struct ufs_conf_unit
{
    uint8_t bLUEnable;
    uint8_t bBootLunID;
    uint8_t bLUWriteProtect;
    uint8_t bMemoryType;
    uint8_t dNumAllocUnits[4];           // big-endian
    uint8_t bDataReliability;
    uint8_t bLogicalBlockSize;           // log2 of the block size in bytes
    uint8_t bProvisioningType;
    uint8_t wContextCapabilities[2];
    uint8_t rest[13];                    // HPB and write-booster fields, kept as read
} __attribute__((packed));
static_assert(sizeof(ufs_conf_unit) == UFS_CONF_UNIT_SIZE, "ufs_conf_unit layout");

struct ufs_conf_header
{
    uint8_t bLength;
    uint8_t bDescriptorIDN;
    uint8_t bConfDescContinue;
    uint8_t bBootEnable;
    uint8_t bDescrAccessEn;
    uint8_t bInitPowerMode;
    uint8_t bHighPriorityLUN;
    uint8_t bSecureRemovalType;
    uint8_t bInitActiveICCLevel;
    uint8_t wPeriodicRTCUpdate[2];
    uint8_t rest[5];                     // HPB and RPMB region fields, kept as read
    uint8_t bWriteBoosterBufferPreserveUserSpaceEn;
    uint8_t bWriteBoosterBufferType;
    uint8_t dNumSharedWriteBoosterBufferAllocUnits[4];  // big-endian
} __attribute__((packed));
static_assert(sizeof(ufs_conf_header) == UFS_CONF_HEADER_SIZE, "ufs_conf_header layout");

// The layout used internally whatever the device's own layout is.
struct ufs_configuration_descriptor
{
    ufs_conf_header header;
    ufs_conf_unit unit[UFS_CONF_UNITS];
} __attribute__((packed));
static_assert(sizeof(ufs_configuration_descriptor) == UFS_CONF_DESC_SIZE,
              "ufs_configuration_descriptor layout");

// One provisioning run; owned by ufs_init().
struct ufs_hba
{
    char path[UFS_PATH_SIZE];            // "/dev/bsg/ufs-bsg<N>" as the system names it
    int fd;
    int host;
    uint32_t boot_lun_en;
    uint32_t ref_clk_freq;
    int dev_desc_len;                    // lengths as the device reported them
    int geo_desc_len;
    int conf_desc_len;
    int conf_header_len;                 // bUD0BaseOffset
    int conf_unit_len;                   // bUDConfigPLength
    uint8_t dev_desc[UFS_DEV_DESC_KEEP];
    uint8_t geo_desc[UFS_GEO_DESC_KEEP];
    ufs_configuration_descriptor conf_desc;     // as read, spread to 230 bytes
    ufs_configuration_descriptor conf_wanted;
};

// The sizes of the wanted layout, in allocation units.
struct ufs_layout_plan
{
    uint32_t au;                         // allocation unit, 512-byte sectors
    uint32_t enh_factor;                 // integer part of wEnhanced1CapAdjFac
    uint32_t n_boot;                     // each of boot LUs A and B (4 MiB enhanced)
    uint32_t n_small;                    // the small enhanced LU (8 MiB enhanced)
    uint32_t n_data;                     // the data LU: everything else
    uint32_t wb_units;                   // dWriteBoosterBufferMaxNAllocUnits
};

// ---- transport ------------------------------------------------------------

// The seam under send_bsg_scsi_trs: submit() behaves like ioctl(fd, SG_IO, io)
// (0, or -1 with errno set) and fills the reply, data-in buffer and the
// output fields of io.
class ufs_transport
{
public:
    virtual ~ufs_transport() = default;
    virtual int submit(int fd, sg_io_v4 *io) = 0;
};

// Replaces the transport for the whole process; nullptr restores the real
// SG_IO. Returns the previous one (nullptr when it was the real one).
ufs_transport *ufs_set_transport(ufs_transport *transport);

// ---- functions ------------------------------------------------------------

// Provisions the UFS device once (or again when force is non-zero).
// 0 on success, else a negative value.
int ufs_init(int force);

// First "/dev/bsg" entry containing "ufs-bsg": path "/dev/bsg/<entry>" and
// the host number that follows "ufs-bsg". 0 or -ENODEV.
int bsg_find_device(char *path, size_t path_size, int *host);

// SG_IO with the query request and reply; data goes out when write is true,
// else comes in. ioctl result, or -EINVAL.
int send_bsg_scsi_trs(int fd, ufs_bsg_request *request, ufs_bsg_reply *reply,
                      uint32_t request_len, uint32_t reply_len,
                      uint32_t data_len, void *data, bool write);

// Fills and sends one query request and checks its response code. 0 or -1.
int bsg_query_rq(int fd, ufs_bsg_request *request, ufs_bsg_reply *reply,
                 uint8_t function, uint8_t opcode, uint8_t idn, uint8_t index,
                 uint8_t selector, uint16_t write_len, uint16_t read_len,
                 uint32_t value, uint8_t *data);

// Descriptor access. Reading asks for `length` bytes and checks the returned
// descriptor length (its first byte): 0, -1 or -ENOENT.
int bsg_read_desc(int fd, ufs_bsg_request *request, ufs_bsg_reply *reply,
                  uint8_t idn, uint8_t index, uint16_t length, uint8_t *buffer);
int bsg_write_desc(int fd, ufs_bsg_request *request, ufs_bsg_reply *reply,
                   uint8_t idn, uint8_t index, uint16_t length, const uint8_t *buffer);

// Attribute access; an IDN above UFS_ATTR_IDN_MAX is refused unsent. 0 or -1.
int bsg_read_attr(int fd, ufs_bsg_request *request, ufs_bsg_reply *reply,
                  uint8_t idn, uint8_t index, uint8_t selector, uint32_t *value);
int bsg_write_attr(int fd, ufs_bsg_request *request, ufs_bsg_reply *reply,
                   uint8_t idn, uint8_t index, uint8_t selector, uint32_t value);

int ufs_read_attr(ufs_hba *hba, uint8_t idn, uint32_t *value);
int ufs_write_attr(ufs_hba *hba, uint8_t idn, uint32_t value);

// Writes configuration descriptor index 0 in the device's own layout.
int ufs_write_conf_desc(ufs_hba *hba, const ufs_configuration_descriptor *conf);

// "Err: <text>\n" on standard error (and in the log file).
void print_error(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Text of a query response code ("Success", "Invalid IDN", ...).
const char *ufs_query_response_text(uint8_t code);
// Descriptor name by IDN ("Device", "Config", ...).
const char *ufs_desc_name(uint8_t idn);
// Whether a descriptor read may return this length for this IDN.
bool ufs_desc_length_accepted(uint8_t idn, int length);

// ---- configuration layout (byte buffers, no device) -----------------------

// Brings a device-layout configuration descriptor (`len` bytes: a header of
// header_len bytes and 8 unit entries of unit_len bytes) into the 230-byte
// layout, and back. -1 when the layout does not fit its length or the
// 230-byte slots.
int ufs_conf_spread(const uint8_t *dev, int len, int header_len, int unit_len,
                    ufs_configuration_descriptor *out);
int ufs_conf_pack(const ufs_configuration_descriptor *conf, int len, int header_len,
                  int unit_len, uint8_t *dev);

// Sizes the wanted layout from a geometry descriptor of geo_len bytes.
// -1 (with a message) when the geometry cannot hold it.
int ufs_plan_layout(const uint8_t *geo, int geo_len, ufs_layout_plan *plan);

// The wanted configuration: a copy of `current` with header and units 0-3 set.
void ufs_build_wanted_conf(const ufs_configuration_descriptor *current,
                           const ufs_layout_plan *plan, ufs_configuration_descriptor *wanted);

// Whether the provisioning fields of a and b differ. Only fields that the
// device layout holds (header_len / unit_len bytes) are compared.
bool ufs_conf_differs(const ufs_configuration_descriptor *a,
                      const ufs_configuration_descriptor *b, int header_len, int unit_len);
