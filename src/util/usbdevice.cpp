#include "util/usbdevice.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "util/debugmode.h"
#include "util/paths.h"

namespace {

const size_t kPathMax = 4096;   // 4095 characters and the terminator
const size_t kLineMax = 256;

bool isRegularFile(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// First line of a small sysfs text file, without its line end.
bool readFirstLine(const std::string &path, char *buf, int size)
{
    if (!buf || size < 1)
        return false;
    buf[0] = '\0';
    FILE *f = std::fopen(path.c_str(), "re");
    if (!f) {
        std::fprintf(stderr, "usbdevice: cannot open file for reading: %s\n", path.c_str());
        return false;
    }
    char line[kLineMax + 1];
    const bool ok = std::fgets(line, sizeof(line), f) != nullptr;
    std::fclose(f);
    if (!ok)
        return false;
    line[std::strcspn(line, "\r\n")] = '\0';
    std::snprintf(buf, size_t(size), "%s", line);
    return true;
}

std::string realPath(const std::string &path)
{
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved))
        return std::string();
    return resolved;
}

// Walks from `dir` towards the root until a directory with a "product" file
// is found. The top is "/" or, under a simulation root, the root itself.
int find_product_file(std::string dir, char *product, int productSize, char *pid, char *vid,
                      int idSize)
{
    const std::string top = imgsmith::simRoot().empty() ? std::string("/") : imgsmith::simRoot();
    for (;;) {
        if (dir.size() >= kPathMax)
            return -1;
        const std::string productPath = dir + "/product";
        if (isRegularFile(productPath) && readFirstLine(productPath, product, productSize)) {
            const std::string pidPath = dir + "/idProduct";
            const std::string vidPath = dir + "/idVendor";
            if (isRegularFile(pidPath))
                readFirstLine(pidPath, pid, idSize);
            if (isRegularFile(vidPath))
                readFirstLine(vidPath, vid, idSize);
            if (debugMode()) {
                std::fprintf(stderr, "read usbdeivce product from path: %s\n", productPath.c_str());
                std::fprintf(stderr, "usbdeivce pid path: %s\n", pidPath.c_str());
                std::fprintf(stderr, "usbdeivce vid path: %s\n", vidPath.c_str());
            }
            return 0;
        }
        if (dir == top || dir == "/")
            return -2;
        const std::string parent = realPath(dir + "/..");
        if (parent.empty()) {
            std::fprintf(stderr, "usbdevice: cannot check real path: %s\n", dir.c_str());
            return -1;
        }
        dir = parent;
    }
}

} // namespace

int get_usbdevice_product(const char *devicePath, char *product, int productSize, char *pid,
                          char *vid, int idSize)
{
    if (!devicePath || !product || productSize < 1 || !pid || !vid || idSize < 1)
        return -1;
    product[0] = pid[0] = vid[0] = '\0';

    const std::string node = imgsmith::sysPath(devicePath);
    struct stat st;
    if (::stat(node.c_str(), &st) != 0) {
        std::fprintf(stderr, "usbdevice: cannot check device info: %s\n", devicePath);
        return -1;
    }
    // A real block node leads through its device numbers; in a simulated
    // board the node is a plain file and its class link names it instead.
    std::string linkDir;
    if (S_ISBLK(st.st_mode)) {
        char buf[64];
        std::snprintf(buf, sizeof(buf), "/sys/dev/block/%u:%u", major(st.st_rdev), minor(st.st_rdev));
        linkDir = imgsmith::sysPath(buf);
    } else {
        const char *slash = std::strrchr(devicePath, '/');
        linkDir = imgsmith::sysPath(std::string("/sys/class/block/") + (slash ? slash + 1 : devicePath));
    }
    char link[kPathMax];
    const ssize_t n = ::readlink(linkDir.c_str(), link, sizeof(link) - 1);
    if (n < 0) {
        std::fprintf(stderr, "usbdevice: cannot read this path: %s\n", linkDir.c_str());
        return -1;
    }
    link[n] = '\0';
    // The link text is relative to the directory holding the link.
    const std::string base = linkDir.substr(0, linkDir.rfind('/'));
    const std::string target = link[0] == '/' ? imgsmith::sysPath(link) : base + "/" + link;
    const std::string dir = realPath(target);
    if (dir.empty()) {
        std::fprintf(stderr, "usbdevice: cannot read the real path: %s\n", target.c_str());
        return -1;
    }
    return find_product_file(dir, product, productSize, pid, vid, idSize);
}
