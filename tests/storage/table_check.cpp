#include "table_check.h"

#include <fcntl.h>
#include <regex>
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
    if (r.status != 0)
        return v;
    size_t pos = 0;
    while (pos < r.out.size()) {
        const size_t nl = r.out.find('\n', pos);
        const std::string line = r.out.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = nl == std::string::npos ? r.out.size() : nl + 1;
        char type[64] = {};
        long long s = 0, n = 0;
        if (sscanf(line.c_str(), "%lld %lld %63s", &s, &n, type) == 3)
            v.push_back({s, n, type, "", ""});
    }
    return v;
}

part_write_fn fileWriter(const std::string &image, int *writes)
{
    return [image, writes](const char *, int64_t off, int64_t len, const void *buf) -> int64_t {
        const int fd = open(image.c_str(), O_WRONLY);
        if (fd < 0)
            return -errno;
        const ssize_t n = pwrite(fd, buf, static_cast<size_t>(len), off);
        close(fd);
        if (writes)
            ++*writes;
        return n;
    };
}

part_read_fn fileReader(const std::string &image)
{
    return [image](const char *, int64_t off, int64_t len, void *buf) -> int64_t {
        const int fd = open(image.c_str(), O_RDONLY);
        if (fd < 0)
            return -errno;
        const ssize_t n = pread(fd, buf, static_cast<size_t>(len), off);
        close(fd);
        return n;
    };
}
