#include "support/simroot.h"

#include "storage/mmc.h"
#include "util/paths.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testsupport {

SimRoot::SimRoot(const std::string &subdir)
    : m_root(subdir.empty() ? m_dir.path() : m_dir.file(subdir))
{
    for (const char *d : {"tmp", "dev", "mnt/sdcard"})
        fs::create_directories(file(d));
    setEnv("IMGSMITH_ROOT", m_root);
    mmc_reset_state_for_test();
}

SimRoot::~SimRoot()
{
    mmc_reset_state_for_test();
    for (auto it = m_savedEnv.rbegin(); it != m_savedEnv.rend(); ++it) {
        if (it->second)
            setenv(it->first.c_str(), it->second->c_str(), 1);
        else
            unsetenv(it->first.c_str());
    }
    imgsmith::resetSimRootCache();
}

void SimRoot::remember(const std::string &name)
{
    for (const auto &s : m_savedEnv)
        if (s.first == name)
            return;
    const char *old = getenv(name.c_str());
    m_savedEnv.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
}

void SimRoot::setEnv(const std::string &name, const std::string &value)
{
    remember(name);
    setenv(name.c_str(), value.c_str(), 1);
    if (name == "IMGSMITH_ROOT")
        imgsmith::resetSimRootCache();
}

void SimRoot::unsetEnv(const std::string &name)
{
    remember(name);
    unsetenv(name.c_str());
}

void SimRoot::prependPath(const std::string &dir)
{
    const char *path = getenv("PATH");
    setEnv("PATH", dir + ":" + (path ? path : "/usr/bin:/bin") + ":/usr/sbin:/sbin");
}

std::string SimRoot::put(const std::string &rel, const std::string &content) const
{
    const fs::path p = fs::path(m_root) / rel;
    fs::create_directories(p.parent_path());
    writeFile(p.string(), content);
    return p.string();
}

std::string SimRoot::put(const std::string &rel, const std::vector<uint8_t> &bytes) const
{
    return put(rel, std::string(bytes.begin(), bytes.end()));
}

std::vector<uint8_t> SimRoot::putPattern(const std::string &rel, size_t size, uint32_t seed) const
{
    std::vector<uint8_t> b = patternBytes(size, seed);
    put(rel, b);
    return b;
}

std::string SimRoot::mkdir(const std::string &rel) const
{
    fs::create_directories(file(rel));
    return file(rel);
}

void SimRoot::link(const std::string &rel, const std::string &target) const
{
    const fs::path p = fs::path(m_root) / rel;
    fs::create_directories(p.parent_path());
    fs::remove(p);
    fs::create_symlink(target, p);
}

std::string SimRoot::blockDevice(const std::string &name, uint64_t bytes, const std::string &parent) const
{
    const std::string dev = "devices/" + parent + "/" + name;
    put("sys/" + dev + "/size", std::to_string(bytes / 512) + "\n");
    put("sys/" + dev + "/removable", "0\n");
    put("sys/" + dev + "/ro", "0\n");
    link("sys/block/" + name, "../" + dev);
    link("sys/class/block/" + name, "../../" + dev);
    makeSparseFile(file("dev/" + name), bytes);
    std::string parts = readFile(file("proc/partitions"));
    if (parts.empty())
        parts = "major minor  #blocks  name\n\n";
    put("proc/partitions", parts + " 179 0 " + std::to_string(bytes / 1024) + " " + name + "\n");
    return file("dev/" + name);
}

void SimRoot::mount(const std::string &dev, const std::string &dir, const std::string &type,
                    const std::string &opts) const
{
    mkdir(dir.substr(dir.find_first_not_of('/')));
    put("proc/mounts", readFile(file("proc/mounts")) + dev + " " + dir + " " + type + " " + opts + " 0 0\n");
}

void SimRoot::setKernel(const std::string &release) const
{
    put("proc/sys/kernel/osrelease", release + "\n");
}

std::string SimRoot::imageSet(const std::string &name, const std::map<std::string, std::string> &files) const
{
    const std::string dir = mkdir("mnt/sdcard/" + name);
    for (const auto &f : files)
        put("mnt/sdcard/" + name + "/" + f.first, f.second);
    return dir;
}

std::string SimRoot::makeBoard(const std::string &options) const
{
    const CmdResult r = run("bash " + shq(sourcePath("scripts/make-sim-board.sh")) + " " + options + " " + shq(m_root));
    return r.status == 0 ? std::string() : "make-sim-board.sh: " + r.err;
}

void SimRoot::mountStandIns(const std::string &dir)
{
    fs::create_directories(dir + "/state");
    writeExecutable(dir + "/mount", "#!/bin/sh\n"
                                    "[ \"$#\" -eq 2 ] && [ -f \"$1\" ] && cd \"$2\" || exit 32\n"
                                    "debugfs -R 'rdump / .' \"$1\" >/dev/null 2>&1 || exit 32\n"
                                    "printf '%s' \"$1\" > \"$STANDIN_STATE/image\"\n"
                                    "printf '%s' \"$2\" > \"$STANDIN_STATE/dir\"\n");
    writeExecutable(dir + "/umount", "#!/bin/sh\n"
                                     "[ -f \"$STANDIN_STATE/dir\" ] && [ \"$1\" = \"$(cat \"$STANDIN_STATE/dir\")\" ] || exit 32\n"
                                     "mkfs.ext4 -q -F -d \"$1\" \"$(cat \"$STANDIN_STATE/image\")\" || exit 32\n"
                                     "find \"$1\" -mindepth 1 -delete\n"
                                     "rm -f \"$STANDIN_STATE/image\" \"$STANDIN_STATE/dir\"\n");
    writeExecutable(dir + "/mountpoint", "#!/bin/sh\n"
                                         "[ \"$1\" = -q ] && shift\n"
                                         "[ -f \"$STANDIN_STATE/dir\" ] && [ \"$1\" = \"$(cat \"$STANDIN_STATE/dir\")\" ]\n");
    setEnv("STANDIN_STATE", dir + "/state");
    prependPath(dir);
}

std::string SimRoot::log() const
{
    return readFile(file("tmp/imgsmith-gui.log"));
}

} // namespace testsupport
