#include "table_check.h"

#include <fcntl.h>
#include <regex>
#include <sstream>
#include <unistd.h>

using namespace testsupport;

static std::string field(const std::string &obj, const std::string &key)
{
    const std::regex re("\"" + key + "\":\\s*(\"([^\"]*)\"|([0-9]+))");
    std::smatch m;
    if (!std::regex_search(obj, m, re))
        return "";
    return m[2].matched ? m[2].str() : m[3].str();
}

std::vector<ToolPart> sfdiskParts(const std::string &image, std::string *label)
{
    std::vector<ToolPart> v;
    CmdResult r = run("sfdisk --json " + shq(image));
    if (r.status != 0)
        return v;
    if (label)
        *label = field(r.out, "label");
    const std::regex obj("\\{[^{}]*\"node\"[^{}]*\\}");
    for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), obj); it != std::sregex_iterator(); ++it) {
        const std::string o = it->str();
        ToolPart p;
        p.start = std::stoll(field(o, "start"));
        p.size = std::stoll(field(o, "size"));
        p.type = field(o, "type");
        p.name = field(o, "name");
        p.uuid = field(o, "uuid");
        v.push_back(p);
    }
    return v;
}

std::vector<ToolPart> partxParts(const std::string &image)
{
    std::vector<ToolPart> v;
    CmdResult r = run("partx -g -r -o START,SECTORS,TYPE " + shq(image));
    std::istringstream in(r.status == 0 ? r.out : "");
    ToolPart p;
    while (in >> p.start >> p.size >> p.type)
        v.push_back(p);
    return v;
}

// One pread/pwrite on a fresh descriptor, as a device callback would do.
static int64_t fileIo(const std::string &image, bool write, int64_t off, int64_t len, void *buf)
{
    const int fd = open(image.c_str(), write ? O_WRONLY : O_RDONLY);
    if (fd < 0)
        return -errno;
    const ssize_t n = write ? pwrite(fd, buf, size_t(len), off) : pread(fd, buf, size_t(len), off);
    close(fd);
    return n;
}

part_write_fn fileWriter(const std::string &image, int *writes)
{
    return [image, writes](const char *, int64_t off, int64_t len, const void *buf) -> int64_t {
        if (writes)
            ++*writes;
        return fileIo(image, true, off, len, const_cast<void *>(buf));
    };
}

part_read_fn fileReader(const std::string &image)
{
    return [image](const char *, int64_t off, int64_t len, void *buf) { return fileIo(image, false, off, len, buf); };
}
