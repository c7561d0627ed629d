#include "support/testsupport.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

TempDir::TempDir(const std::string &base)
{
    const char *env = std::getenv("TMPDIR");
    std::string tmpl = (!base.empty() ? base : std::string(env && *env ? env : "/tmp")) + "/imgsmith-test-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = buf.data();
}

TempDir::~TempDir()
{
    if (!m_path.empty())
        run("rm -rf " + shq(m_path));
}

std::string shq(const std::string &s)
{
    std::string r = "'";
    for (char c : s) {
        if (c == '\'')
            r += "'\\''";
        else
            r += c;
    }
    return r + "'";
}

CmdResult run(const std::string &cmdline)
{
    // One group, so that what the command's own lines redirect stays its
    // own; both outputs into files named after the process and a count.
    static std::atomic<unsigned> count{0};
    const std::string base = "/tmp/imgsmith-run-" + std::to_string(getpid()) + "-" + std::to_string(count++);
    const int st = std::system(("{\n" + cmdline + "\n} >" + base + ".out 2>" + base + ".err").c_str());
    CmdResult r;
    r.status = st != -1 && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.out = readFile(base + ".out");
    r.err = readFile(base + ".err");
    unlink((base + ".out").c_str());
    unlink((base + ".err").c_str());
    return r;
}

bool haveTool(const std::string &name)
{
    return run("command -v " + shq(name) + " >/dev/null 2>&1").status == 0;
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string &path, const std::string &data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

void writeFile(const std::string &path, const std::vector<uint8_t> &data)
{
    writeFile(path, std::string(data.begin(), data.end()));
}

void writeExecutable(const std::string &path, const std::string &text)
{
    writeFile(path, text);
    chmod(path.c_str(), 0755);
}

std::vector<uint8_t> readBytes(const std::string &path, uint64_t offset, size_t len)
{
    std::vector<uint8_t> v(len);
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        throw std::runtime_error("cannot open " + path);
    ssize_t n = pread(fd, v.data(), len, static_cast<off_t>(offset));
    close(fd);
    v.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return v;
}

void writeBytes(const std::string &path, uint64_t offset, const std::vector<uint8_t> &data)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot open " + path);
    ssize_t n = pwrite(fd, data.data(), data.size(), static_cast<off_t>(offset));
    close(fd);
    if (n != static_cast<ssize_t>(data.size()))
        throw std::runtime_error("short write to " + path);
}

void flipByte(const std::string &path, uint64_t offset)
{
    std::vector<uint8_t> b = readBytes(path, offset, 1);
    if (b.empty())
        throw std::runtime_error("no byte to change in " + path);
    b[0] ^= 0x40;
    writeBytes(path, offset, b);
}

void makeSparseFile(const std::string &path, uint64_t size)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0)
        throw std::runtime_error("cannot create " + path);
    close(fd);
}

std::vector<uint8_t> patternBytes(size_t len, uint32_t seed)
{
    std::vector<uint8_t> v(len);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < len; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        v[i] = static_cast<uint8_t>(x);
    }
    return v;
}

std::string sourcePath(const std::string &rel)
{
    return std::string(IMGSMITH_SOURCE_DIR) + "/" + rel;
}

std::string cmpAt(const std::string &a, int64_t aOff, const std::string &b, int64_t bOff, int64_t n)
{
    if (n < 0)
        n = fileSize(a) - aOff;
    const CmdResult r = run("cmp -n " + std::to_string(n) + " -i " + std::to_string(aOff) + ":" +
                            std::to_string(bOff) + " " + shq(a) + " " + shq(b));
    return r.status == 0 ? std::string() : "cmp: " + r.out + r.err;
}

bool holdsAt(const std::string &device, const std::string &file, int64_t offset)
{
    return cmpAt(file, 0, device, offset).empty();
}

bool zeroAt(const std::string &path, int64_t offset, int64_t length)
{
    return fileSize(path) >= offset + length && cmpAt(path, offset, "/dev/zero", 0, length).empty();
}

int64_t fileSize(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? int64_t(st.st_size) : -1;
}

std::string sfdiskJson(const std::string &device)
{
    return run("sfdisk --json " + shq(device) + " | tr -d ' \\n\\t'").out;
}

std::string sha256(const std::string &path)
{
    const std::string out = run("sha256sum " + shq(path)).out;
    return out.substr(0, out.find(' '));
}

CmdResult mkfsExt4(const std::string &image, int mib, const std::string &label,
                   const std::vector<std::pair<std::string, std::string>> &files)
{
    const std::string src = image + ".d";
    run("rm -rf " + shq(src) + " && mkdir -p " + shq(src));
    for (const auto &f : files) {
        run("mkdir -p \"$(dirname " + shq(src + "/" + f.first) + ")\"");
        writeFile(src + "/" + f.first, f.second);
    }
    CmdResult r = run("PATH=$PATH:/usr/sbin:/sbin mkfs.ext4 -q -F -L " + shq(label) + " -d " + shq(src) + " " +
                      shq(image) + " " + std::to_string(mib) + "M");
    run("rm -rf " + shq(src));
    return r;
}

std::string missingTool(std::initializer_list<const char *> tools)
{
    for (const char *t : tools)
        if (!haveTool(t))
            return t;
    return "";
}

std::string loopUnavailableReason()
{
    if (geteuid() != 0)
        return "loop devices need root";
    if (access("/dev/loop-control", F_OK) != 0)
        return "/dev/loop-control is missing";
    if (!haveTool("losetup"))
        return "losetup is not installed";
    return "";
}

LoopDevice::LoopDevice(const std::string &file, int sectorSize, bool partscan)
{
    std::string cmd = "losetup --find --show";
    if (sectorSize != 512)
        cmd += " --sector-size " + std::to_string(sectorSize);
    if (partscan)
        cmd += " --partscan";
    cmd += " " + shq(file);
    CmdResult r = run(cmd);
    if (r.status != 0) {
        m_error = r.err;
        return;
    }
    m_dev = r.out.substr(0, r.out.find_last_not_of("\n ") + 1);
}

LoopDevice::~LoopDevice()
{
    if (!m_dev.empty())
        run("losetup -d " + shq(m_dev));
}

} // namespace testsupport
