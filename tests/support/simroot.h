// A simulated board's root: a fresh temporary directory that IMGSMITH_ROOT
// points at while the object lives, with makers for what the program reads
// there (block devices in sys/ and dev/, mounted media, image sets). Plain
// C++, so GoogleTest and QtTest programs alike can hold one per test.
#pragma once

#include "support/testsupport.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

class SimRoot
{
public:
    // The root is the temporary directory, or `subdir` inside it (to put
    // awkward text into the root path itself). tmp/, dev/ and mnt/sdcard/
    // exist from the start; the storage layer's state is reset.
    explicit SimRoot(const std::string &subdir = std::string());
    // Restores every variable changed through setEnv(), IMGSMITH_ROOT first.
    ~SimRoot();
    SimRoot(const SimRoot &) = delete;
    SimRoot &operator=(const SimRoot &) = delete;

    const std::string &path() const { return m_root; }
    std::string file(const std::string &rel) const { return m_root + "/" + rel; }

    // Writers below the root; they create missing directories and return
    // the full path.
    std::string put(const std::string &rel, const std::string &content) const;
    std::string put(const std::string &rel, const std::vector<uint8_t> &bytes) const;
    std::vector<uint8_t> putPattern(const std::string &rel, size_t size, uint32_t seed) const;
    std::string mkdir(const std::string &rel) const;
    void link(const std::string &rel, const std::string &target) const;

    // A block device the way the kernel shows it: dev/<name> a sparse file of
    // `bytes`, sys/devices/<parent>/<name>/size in sectors of 512 bytes
    // reached from sys/block and sys/class/block, a proc/partitions line.
    std::string blockDevice(const std::string &name, uint64_t bytes,
                            const std::string &parent = "platform/sim.mmc/block") const;
    // Adds a proc/mounts line and creates the mount point.
    void mount(const std::string &dev, const std::string &dir, const std::string &type = "vfat",
               const std::string &opts = "rw,relatime") const;
    void setKernel(const std::string &release) const;
    // mnt/sdcard/<name> holding `files` (name → contents); its full path.
    std::string imageSet(const std::string &name, const std::map<std::string, std::string> &files = {}) const;

    // A whole board made by scripts/make-sim-board.sh with `options`
    // ("--board allwinner --sets none"); "" on success, else its error text.
    std::string makeBoard(const std::string &options) const;

    // mount, umount and mountpoint stand-ins first in PATH, for an ext4 image
    // file where no loop device can be had: mount copies the image's files
    // into the directory with debugfs, umount writes the directory back with
    // mkfs.ext4 -d. `dir` holds the programs and their state.
    void mountStandIns(const std::string &dir);

    // Sets an environment variable until the root goes away.
    void setEnv(const std::string &name, const std::string &value);
    void unsetEnv(const std::string &name);
    // Puts a directory in front of PATH until the root goes away.
    void prependPath(const std::string &dir);
    // The program's log (<root>/tmp/imgsmith-gui.log).
    std::string log() const;

private:
    void remember(const std::string &name);

    TempDir m_dir;
    std::string m_root;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_savedEnv;
};

} // namespace testsupport
