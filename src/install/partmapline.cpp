#include "install/partmapline.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct type_row
{
    const char *name;
    uint32_t code;
};

const type_row k_type_table[] = {
    {"2nd", PARTMAP_TYPE_2ND},   {"boot", PARTMAP_TYPE_BOOT},   {"raw", PARTMAP_TYPE_RAW},
    {"fat", PARTMAP_TYPE_FAT},   {"ext4", PARTMAP_TYPE_EXT4},   {"ubi", PARTMAP_TYPE_UBI},
    {"ubifs", PARTMAP_TYPE_UBIFS}, {"emmc", PARTMAP_TYPE_EMMC}, {"idb", PARTMAP_TYPE_IDB},
    {"parm", PARTMAP_TYPE_PARM},
};

// The field widths equal PARTMAP_FIELD_LEN - 1 so sscanf cannot overrun.
static_assert(PARTMAP_FIELD_LEN == 4096, "scan widths below assume 4096-byte fields");
const char k_scan_pattern[] =
    "%4095[^=]=%4095[^,],%4095[^:]:%4095[^:]:%4095[^:]:%4095[^,],%4095[^:]:%4095[^;]";

void trim_line_end(char *field)
{
    size_t n = strlen(field);
    while (n > 0 && (field[n - 1] == '\n' || field[n - 1] == '\r'))
        field[--n] = '\0';
}

int parse_hex(const char *text, uint64_t *value)
{
    const char *p = text;
    while (*p == ' ' || *p == '\t')
        ++p;
    if (*p == '-' || *p == '+' || *p == '\0')
        return -1;
    errno = 0;
    char *end = nullptr;
    unsigned long long v = strtoull(p, &end, 16);
    if (errno != 0 || end == p)
        return -1;
    while (*end == ' ' || *end == '\t')
        ++end;
    if (*end != '\0')
        return -1;
    *value = v;
    return 0;
}

} // namespace

uint32_t partmap_type_code(const char *typeName)
{
    if (!typeName)
        return 0;
    for (const type_row &row : k_type_table) {
        if (strcmp(row.name, typeName) == 0)
            return row.code;
    }
    return 0;
}

int partmap_parse_line(const char *line, partmap_line *out)
{
    memset(out, 0, sizeof(*out));
    int n = sscanf(line, k_scan_pattern, out->field1, out->field2, out->field3, out->name,
                   out->type, out->start, out->size, out->file);
    if (n < 0)
        n = 0;
    out->fields = n;
    trim_line_end(out->name);
    trim_line_end(out->file);
    if (n < 7)
        return n;
    if (parse_hex(out->start, &out->startBytes) != 0 || parse_hex(out->size, &out->sizeBytes) != 0)
        return -1;
    return n;
}
