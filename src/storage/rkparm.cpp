// Parser of the Rockchip "parameter.txt" partition list into partinfo
// records: CMDLINE: ... mtdparts=<id>:<size>@<offset>(<name>[:bootable|:grow]),...
#include "storage/rkparm.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// Parameter partitions that hold loaders and kernels rather than file
// systems: they are copied byte for byte, never expanded as sparse images.
const char *const k_rawNames[] = {"uboot", "trust", "misc", "dtbo", "resource", "kernel"};

void set_name(partinfo *p, const char *name, size_t len)
{
    memset(p->name, 0, sizeof p->name);
    memcpy(p->name, name, len < sizeof p->name ? len : sizeof p->name);
}

std::string name_of(const partinfo &p)
{
    return std::string(p.name, strnlen(p.name, sizeof p.name));
}

// Reads one hexadecimal 32-bit number ("0x" optional). Returns false when
// there are no digits or the value does not fit 32 bits.
bool read_hex32(const char *&s, uint32_t *out)
{
    if (!isxdigit(static_cast<unsigned char>(*s)))
        return false;
    char *end = nullptr;
    errno = 0;
    const unsigned long long v = strtoull(s, &end, 16);
    if (errno != 0 || end == s || v > 0xFFFFFFFFull)
        return false;
    *out = static_cast<uint32_t>(v);
    s = end;
    return true;
}

bool has_suffix(const std::string &s, const char *suffix)
{
    const size_t n = strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// Fills image with dir/name.img, mapping A/B slot names to their one image
// in GPT mode; leaves it empty when that file does not exist. Returns false
// when the path does not fit the record.
bool set_image(partinfo *p, const char *dir, const std::string &name, int mode)
{
    std::string path = std::string(dir ? dir : "") + "/" + name + ".img";
    if (mode == RKPARM_MODE_GPT) {
        if (has_suffix(path, "_a.img"))
            path.replace(path.size() - 6, 6, ".img");
        else if (has_suffix(path, "_b.img"))
            path.replace(path.size() - 6, 6, ".img");
    }
    if (path.size() >= sizeof p->image)
        return false;
    if (access(path.c_str(), F_OK) != 0)
        path.clear();
    snprintf(p->image, sizeof p->image, "%s", path.c_str());
    return true;
}

// Prints the refusal as the parser always did and keeps its text for the
// caller's message.
void refuse(std::string *why, const char *format, ...) __attribute__((format(printf, 2, 3)));
void refuse(std::string *why, const char *format, ...)
{
    char text[256];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    printf("** Fail: %s **\n", text);
    if (why)
        *why = text;
}

// The IDB record (index 0) is not compared: parameter offsets never
// describe it, and the boot ROM's area lies below every partition anyway.
// A grow record (size 0) occupies nothing.
bool overlaps(const partinfo *parts, int count, const partinfo &np, std::string *why)
{
    for (int i = 1; i < count; i++) {
        const partinfo &o = parts[i];
        const bool newInOld = o.size > 0 && np.start >= o.start && np.start < o.start + o.size;
        const bool oldInNew = np.size > 0 && o.start >= np.start && o.start < np.start + np.size;
        if (newInOld || oldInNew) {
            refuse(why, "overlapped part %s (0x%lx < 0x%llx)", name_of(np).c_str(),
                   static_cast<unsigned long>(np.start), static_cast<unsigned long long>(o.start + o.size));
            return true;
        }
    }
    return false;
}

void skip_blanks(const char *&s)
{
    while (*s == ' ' || *s == '\t')
        s++;
}

} // namespace

void rkpart_init_idb(partinfo *part, const char *dir)
{
    memset(part, 0, sizeof *part);
    part->start = RK_IDB_START;
    part->size = RK_IDB_SECTORS;
    part->fs_type = RK_FSTYPE_IDB;
    set_name(part, "idbloader.img", strlen("idbloader.img"));
    snprintf(part->image, sizeof part->image, "%s/%s", dir ? dir : "", "idbloader.img");
}

int rkparm_part_parse(const char *text, partinfo *parts, const char *dir, int mode, const char *paramFile,
                      int capacity, std::string *why)
{
    const char *cmd = text ? strstr(text, "CMDLINE:") : nullptr;
    if (!cmd)
        return -EINVAL;
    // Only the CMDLINE line itself: a later line must not lend its ":" or
    // definitions to this one.
    const char *eol = strpbrk(cmd, "\r\n");
    const std::string line(cmd, eol ? static_cast<size_t>(eol - cmd) : strlen(cmd));
    if (capacity < 2) {
        refuse(why, "no room for the partition records");
        return -1;
    }

    rkpart_init_idb(&parts[0], dir);
    int n = 1;
    int64_t base = 0;
    if (mode != RKPARM_MODE_GPT) {
        partinfo *p = &parts[1];
        memset(p, 0, sizeof *p);
        p->start = RK_PARM_START;
        p->size = RK_PARM_SECTORS;
        p->fs_type = RK_FSTYPE_PARM;
        p->index = 1;
        set_name(p, "parameter.txt", strlen("parameter.txt"));
        if (paramFile && *paramFile)
            snprintf(p->image, sizeof p->image, "%s", paramFile);
        else
            snprintf(p->image, sizeof p->image, "%s/%s", dir ? dir : "", "parameter.txt");
        base = RK_PARM_START;
        n = 2;
    }

    const size_t mtd = line.find("mtdparts");
    const size_t colon = mtd == std::string::npos ? std::string::npos : line.find(':', mtd);
    if (colon == std::string::npos)
        return n;

    const char *s = line.c_str() + colon + 1;
    for (;;) {
        skip_blanks(s);
        if (*s == '\0')
            break;   // an empty list, or a trailing ","
        const char *def = s;
        uint32_t size = 0;
        uint32_t offset = 0;
        if (*s == '-') {
            s++;
        } else if (!read_hex32(s, &size)) {
            refuse(why, "invalid part size: %.40s", def);
            return -1;
        }
        if (*s != '@' || !read_hex32(++s, &offset) || *s != '(') {
            refuse(why, "invalid part definition: %.40s", def);
            return -1;
        }
        s++;
        const char *close = strchr(s, ')');
        if (!close)
            return n;   // an unterminated last definition ends the list
        std::string name(s, static_cast<size_t>(close - s));
        int bootable = 0;
        for (;;) {
            if (has_suffix(name, ":bootable")) {
                bootable = 1;
                name.resize(name.size() - strlen(":bootable"));
            } else if (has_suffix(name, ":grow")) {
                name.resize(name.size() - strlen(":grow"));
            } else {
                break;
            }
        }
        if (name.size() > sizeof parts[0].name)
            name.resize(sizeof parts[0].name);
        // The name becomes a file name below dir: keep it there.
        if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
            refuse(why, "invalid part name: %s", name.c_str());
            return -1;
        }
        if (n >= capacity) {
            refuse(why, "too many parts (more than %d)", capacity);
            return -1;
        }

        partinfo np;
        memset(&np, 0, sizeof np);
        np.start = static_cast<int64_t>(offset) + base;
        np.size = size;
        np.fs_type = RK_FSTYPE_PARAMETER_PART;
        np.index = n;
        np.bootable = bootable;
        set_name(&np, name.data(), name.size());
        for (const char *raw : k_rawNames)
            if (name == raw)
                np.fs_type = RK_FSTYPE_RAW;
        if (!set_image(&np, dir, name, mode)) {
            refuse(why, "image path too long for part %s", name.c_str());
            return -1;
        }
        if (overlaps(parts, n, np, why))
            return -1;
        parts[n++] = np;

        s = close + 1;
        if (*s != ',')
            break;
        s++;
    }
    return n;
}

int rkparm_uuid_parse(const char *text, partinfo *parts, int count)
{
    if (!text || count < 1)
        return 0;
    const std::string copy(text, strnlen(text, 4096));
    const size_t eq = copy.find('=');
    if (eq == std::string::npos || eq == 0)
        return 0;
    const std::string key = copy.substr(0, eq);
    std::string uuid = copy.substr(eq + 1, 36);
    const size_t stop = uuid.find_first_of(" \t\r\n");
    if (stop != std::string::npos)
        uuid.resize(stop);

    // An exact name wins over a prefix ("boot" must not go to "bootloader"
    // when a "boot" record exists further down).
    int hit = -1;
    for (int i = 0; i < count && hit < 0; i++)
        if (name_of(parts[i]) == key)
            hit = i;
    for (int i = 0; i < count && hit < 0; i++)
        if (name_of(parts[i]).compare(0, key.size(), key) == 0)
            hit = i;
    if (hit < 0)
        return 0;
    snprintf(parts[hit].uuid, sizeof parts[hit].uuid, "%s", uuid.c_str());
    printf("%s: %s\n", name_of(parts[hit]).c_str(), parts[hit].uuid);
    return 1;
}
