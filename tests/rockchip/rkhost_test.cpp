// File-system helpers around package unpacking and the raw device access
// functions, on regular files and directories.
#include "storage/rkimage.h"
#include "storage/rkparm.h"
#include "support/simroot.h"
#include "util/paths.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

TEST(RkHost, CreateDirMakesOnlyTheParents)
{
    TempDir d;
    EXPECT_EQ(create_dir(d.file("a/b/c/file.img").c_str()), 0);
    struct stat st;
    ASSERT_EQ(stat(d.file("a/b/c").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0755u & ~[] { mode_t m = umask(0); umask(m); return m; }());
    EXPECT_NE(stat(d.file("a/b/c/file.img").c_str(), &st), 0);
    EXPECT_EQ(create_dir(d.file("a/b/c/other.img").c_str()), 0);   // existing parents are fine
    writeFile(d.file("plain"), "x");
    EXPECT_EQ(create_dir(d.file("plain/sub/f").c_str()), -1);
}

TEST(RkHost, RemoveDirectoryDoesNotFollowLinks)
{
    TempDir d;
    run("mkdir -p " + shq(d.file("victim")) + " " + shq(d.file("tree/a/b")));
    writeFile(d.file("victim/keep"), "precious");
    writeFile(d.file("tree/a/b/f"), "1");
    writeFile(d.file("tree/top"), "2");
    ASSERT_EQ(symlink(d.file("victim").c_str(), d.file("tree/a/link").c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent", d.file("tree/dangling").c_str()), 0);
    EXPECT_EQ(remove_directory(d.file("tree").c_str()), 0);
    struct stat st;
    EXPECT_NE(lstat(d.file("tree").c_str(), &st), 0);
    EXPECT_EQ(readFile(d.file("victim/keep")), "precious");
    EXPECT_NE(remove_directory(d.file("tree").c_str()), 0);
}

TEST(RkHost, GlobalMmcOnRegularFile)
{
    TempDir d;
    const std::string dev = d.file("mmc");
    makeSparseFile(dev, 1 << 20);
    EXPECT_EQ(global_mmc_open(d.file("missing").c_str()), -ENOENT);
    EXPECT_EQ(global_mmc_read(d.file("missing").c_str(), 0, 16, nullptr), -ENOENT);

    const int fd = global_mmc_open(dev.c_str());
    ASSERT_GE(fd, 0);
    const std::vector<uint8_t> data = patternBytes(4096, 5);
    EXPECT_EQ(global_mmc_write(fd, dev.c_str(), 0x88000, data.size(), data.data()), 4096);
    EXPECT_EQ(global_mmc_write(fd, dev.c_str(), -512, data.size(), data.data()), -1);
    EXPECT_EQ(global_mmc_release(fd), 0);
    EXPECT_EQ(readBytes(dev, 0x88000, data.size()), data);

    std::vector<uint8_t> back(4096);
    EXPECT_EQ(global_mmc_read(dev.c_str(), 0x88000, back.size(), back.data()), 4096);
    EXPECT_EQ(back, data);
    // Reading past the end returns what is there.
    EXPECT_EQ(global_mmc_read(dev.c_str(), (1 << 20) - 100, back.size(), back.data()), 100);
    EXPECT_EQ(global_mmc_release(0), 0);
}

TEST(RkHost, AvailableSpaceAgreesWithStat)
{
    SimRoot d;
    const int64_t mb = get_available_disksize_mb();
    // stat -f reports the same statfs fields: available blocks and block size.
    const CmdResult r = run("stat -f -c '%a %S' " + shq(d.path()));
    ASSERT_EQ(r.status, 0);
    unsigned long long blocks = 0, bsize = 0;
    ASSERT_EQ(sscanf(r.out.c_str(), "%llu %llu", &blocks, &bsize), 2);
    const int64_t expect = static_cast<int64_t>((blocks * bsize) >> 20);
    // Other processes may use the file system meanwhile: allow a little drift.
    EXPECT_NEAR(static_cast<double>(mb), static_cast<double>(expect), 64.0);
    EXPECT_GE(mb, 0);
}

TEST(RkHost, FilestreamCrcReadsFromThePosition)
{
    TempDir d;
    writeFile(d.file("f"), "xx123456789");
    FILE *f = fopen(d.file("f").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fseek(f, 2, SEEK_SET), 0);
    EXPECT_EQ(filestream_crc(f, 9), 0x889A9615u);
    EXPECT_EQ(filestream_crc(f, 0), 0u);
    // A length past the end stops at the end.
    ASSERT_EQ(fseek(f, 2, SEEK_SET), 0);
    EXPECT_EQ(filestream_crc(f, 5000), 0x889A9615u);
    fclose(f);
}
