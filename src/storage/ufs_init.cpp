// One UFS provisioning run: read what the device holds, write the wanted
// configuration only when it differs, set boot LU and reference clock,
// rescan the SCSI host so that the new LUs appear.
#include "storage/ufs.h"

#include "util/log2file.h"
#include "util/paths.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

const int k_lu_count = 4;
const int k_boot_lu = 1;           // boot LU A
const uint32_t k_ref_clk_26mhz = 1;

// The UFS layer reports on standard output and standard error; the install
// log gets the same line so that a board without a console keeps it.
void say(FILE *stream, const char *format, ...) __attribute__((format(printf, 2, 3)));
void say(FILE *stream, const char *format, ...)
{
    char text[512];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    fputs(text, stream);
    fflush(stream);
    log2file("ufs: %s", text);
}

int read_descriptor(ufs_hba *hba, uint8_t idn, uint8_t *buf)
{
    ufs_bsg_request request;
    ufs_bsg_reply reply;
    return bsg_read_desc(hba->fd, &request, &reply, idn, 0, UFS_DESC_READ_SIZE, buf);
}

int read_device_state(ufs_hba *hba)
{
    int ret = ufs_read_attr(hba, UFS_ATTR_BOOT_LUN_EN, &hba->boot_lun_en);
    if (ret) {
        say(stderr, "read bBootLunEn fail. ret = %d\n", ret);
        return ret;
    }
    ret = ufs_read_attr(hba, UFS_ATTR_REF_CLK_FREQ, &hba->ref_clk_freq);
    if (ret) {
        say(stderr, "read bRefClkFreq fail. ret = %d\n", ret);
        return ret;
    }

    uint8_t buf[UFS_DESC_READ_SIZE];
    ret = read_descriptor(hba, UFS_DESC_DEVICE, buf);
    if (ret)
        return ret;
    int len = buf[0];
    if (len > UFS_DEV_DESC_KEEP) {
        fprintf(stderr, "Warn: Insufficient desc size %d\n", len);
        len = UFS_DEV_DESC_KEEP;
    }
    memcpy(hba->dev_desc, buf, len);
    hba->dev_desc_len = len;
    return 0;
}

bool already_provisioned(const ufs_hba *hba)
{
    return hba->boot_lun_en == k_boot_lu && hba->dev_desc[UFS_DEV_bNumberLU] == k_lu_count
        && hba->dev_desc[UFS_DEV_bBootEnable] != 0;
}

int read_layout(ufs_hba *hba)
{
    uint8_t buf[UFS_DESC_READ_SIZE];
    int ret = read_descriptor(hba, UFS_DESC_GEOMETRY, buf);
    if (ret)
        return ret;
    int len = buf[0];
    if (len > UFS_GEO_DESC_KEEP) {
        fprintf(stderr, "Err: Insufficient desc size %d\n", len);
        len = UFS_GEO_DESC_KEEP;
    }
    memcpy(hba->geo_desc, buf, len);
    hba->geo_desc_len = len;

    ret = read_descriptor(hba, UFS_DESC_CONFIG, buf);
    if (ret)
        return ret;
    len = buf[0];
    hba->conf_desc_len = len;
    if (len > UFS_CONF_DESC_SIZE) {
        fprintf(stderr, "Warn: Insufficient desc size %d\n", len);
        return 0;
    }
    if (len == UFS_CONF_DESC_SIZE) {
        hba->conf_header_len = UFS_CONF_HEADER_SIZE;
        hba->conf_unit_len = UFS_CONF_UNIT_SIZE;
    } else {
        hba->conf_header_len = hba->dev_desc[UFS_DEV_bUD0BaseOffset];
        hba->conf_unit_len = hba->dev_desc[UFS_DEV_bUDConfigPLength];
    }
    // A layout that does not add up would shift every field on writing back.
    if (ufs_conf_spread(buf, len, hba->conf_header_len, hba->conf_unit_len, &hba->conf_desc)) {
        print_error("configuration layout %d + 8 x %d does not match %d bytes",
                    hba->conf_header_len, hba->conf_unit_len, len);
        return -1;
    }
    return 0;
}

int check_unlocked(ufs_hba *hba)
{
    uint32_t lock = 0;
    if (ufs_read_attr(hba, UFS_ATTR_CONF_DESC_LOCK, &lock))
        return -1;
    if (lock) {
        print_error("configuration descriptor is locked (bConfigDescrLock = %u)", lock);
        return -1;
    }
    return 0;
}

int write_configuration(ufs_hba *hba)
{
    ufs_layout_plan plan;
    if (ufs_plan_layout(hba->geo_desc, hba->geo_desc_len, &plan))
        return -1;
    ufs_build_wanted_conf(&hba->conf_desc, &plan, &hba->conf_wanted);
    if (!ufs_conf_differs(&hba->conf_wanted, &hba->conf_desc, hba->conf_header_len,
                          hba->conf_unit_len))
        return 0;
    log2file("ufs: writing configuration: AU %u sectors, boot %u, small %u, data %u AUs\n",
             plan.au, plan.n_boot, plan.n_small, plan.n_data);
    return ufs_write_conf_desc(hba, &hba->conf_wanted);
}

int set_boot_attributes(ufs_hba *hba)
{
    int ret;
    if (hba->boot_lun_en == 0) {
        ret = ufs_write_attr(hba, UFS_ATTR_BOOT_LUN_EN, k_boot_lu);
        if (ret) {
            say(stderr, "ufs: set bBootLunEn fail. ret = %d\n", ret);
            return ret;
        }
    }
    if (hba->ref_clk_freq != k_ref_clk_26mhz) {
        ret = ufs_write_attr(hba, UFS_ATTR_REF_CLK_FREQ, k_ref_clk_26mhz);
        if (ret) {
            say(stderr, "ufs: set bRefClkFreq fail. ret = %d\n", ret);
            return ret;
        }
    }
    return 0;
}

int rescan_host(int host)
{
    char name[64];
    snprintf(name, sizeof name, "/sys/class/scsi_host/host%d/scan", host);
    const std::string path = imgsmith::sysPath(name);
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        print_error("Failed to open %s, %d", name, errno);
        return -1;
    }
    static const char k_scan_all[] = "0 - -\n";   // every channel, target and LUN
    int ret = 0;
    if (write(fd, k_scan_all, sizeof k_scan_all - 1) != ssize_t(sizeof k_scan_all - 1)) {
        print_error("Failed to write %s, %d", name, errno);
        ret = -1;
    }
    if (close(fd) && ret == 0) {
        print_error("Failed to write %s, %d", name, errno);
        ret = -1;
    }
    return ret;
}

// Everything after opening the node; the caller closes it.
int provision(ufs_hba *hba, int force)
{
    int ret = read_device_state(hba);
    if (ret)
        return ret;
    if (already_provisioned(hba) && !force) {
        say(stdout, "UFS device stat: %d LUs, boot LU-%d\n", k_lu_count, k_boot_lu);
        return 0;
    }
    // Nothing is written before the device has been read completely and
    // shown to be unlocked.
    ret = read_layout(hba);
    if (ret)
        return ret;
    if (check_unlocked(hba))
        return -1;
    ret = write_configuration(hba);
    if (ret)
        return ret;
    ret = set_boot_attributes(hba);
    if (ret)
        return ret;
    ret = rescan_host(hba->host);
    say(stdout, "UFS initialized: %d LUs, boot LU-%d\n", k_lu_count, k_boot_lu);
    return ret;
}

} // namespace

int ufs_init(int force)
{
    ufs_hba hba;
    memset(&hba, 0, sizeof hba);
    hba.fd = -1;
    int ret = bsg_find_device(hba.path, sizeof hba.path, &hba.host);
    if (ret)
        return ret;
    const std::string node = imgsmith::sysPath(hba.path);
    if (access(node.c_str(), F_OK)) {
        ret = -errno;
        say(stderr, "cannot access device (%s).\n", hba.path);
        return ret;
    }
    hba.fd = open(node.c_str(), O_RDWR | O_CLOEXEC);
    if (hba.fd < 0) {
        say(stderr, "cannot open device (%s), errno=%d\n", hba.path, errno);
        return -1;
    }
    ret = provision(&hba, force);
    if (close(hba.fd) && ret == 0) {
        print_error("closing %s failed, errno=%d", hba.path, errno);
        ret = -1;
    }
    return ret;
}
