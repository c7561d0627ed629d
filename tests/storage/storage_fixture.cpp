#include "storage_fixture.h"
#include "util/paths.h"

#include <algorithm>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

void StorageTest::SetUp()
{
    mmc_reset_state_for_test();
    // Four slots of 64 KiB: the tests' chunks.
    BUFFER_SIZE = 4 * 64 * 1024;
    setenv("IMGSMITH_ROOT", m_dir.path().c_str(), 1);
    imgsmith::resetSimRootCache();
    mkdir(file("tmp").c_str(), 0755);
    mkdir(file("dev").c_str(), 0755);
    gui_setup_progress_report_function(
        "test",
        [this](bool erasing, const std::string &img, const std::string &pt, int pct, int count, int index) {
            m_progress.push_back({erasing, img, pt, pct, count, index});
        },
        [this](const std::string &img, const std::string &pt, int64_t done, int64_t total, double ms) {
            m_speed.push_back({img, pt, done, total, ms});
        });
}

void StorageTest::TearDown()
{
    for (FILE *f : m_files)
        fclose(f);
    mmc_reset_state_for_test();
    unsetenv("IMGSMITH_ROOT");
    imgsmith::resetSimRootCache();
}

std::string StorageTest::log() const
{
    return readFile(file("tmp/imgsmith-gui.log"));
}

std::string StorageTest::linkDevice(const std::string &dev)
{
    const std::string name = dev.substr(dev.rfind('/') + 1);
    const std::string link = file("dev/" + name);
    unlink(link.c_str());
    EXPECT_EQ(symlink(dev.c_str(), link.c_str()), 0);
    return "/dev/" + name;
}

FILE *StorageTest::openRead(const std::string &path)
{
    FILE *f = fopen(path.c_str(), "rb");
    EXPECT_NE(f, nullptr) << path;
    if (f)
        m_files.push_back(f);
    return f;
}

std::string StorageTest::makeTarget(const std::string &name, uint64_t size)
{
    makeSparseFile(file(name), size);
    return file(name);
}

std::string StorageTest::put(const std::string &name, const std::vector<uint8_t> &data)
{
    writeFile(file(name), std::string(data.begin(), data.end()));
    return file(name);
}

std::string StorageTest::put(const std::string &name, const std::string &data)
{
    writeFile(file(name), data);
    return file(name);
}

FileSizeLimit::FileSizeLimit(rlim_t limit)
{
    getrlimit(RLIMIT_FSIZE, &m_old);
    m_oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit r = m_old;
    r.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &r);
}

FileSizeLimit::~FileSizeLimit()
{
    setrlimit(RLIMIT_FSIZE, &m_old);
    signal(SIGXFSZ, m_oldHandler);
}

std::vector<int> percents(const std::vector<ProgressCall> &calls)
{
    std::vector<int> v;
    for (const ProgressCall &c : calls)
        v.push_back(c.percent);
    return v;
}

int64_t fileSize(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? int64_t(st.st_size) : -1;
}

bool allZero(const std::string &path, uint64_t offset, uint64_t len)
{
    const std::vector<uint8_t> b = readBytes(path, offset, len);
    return b.size() == len && std::all_of(b.begin(), b.end(), [](uint8_t c) { return c == 0; });
}

bool cmpEqual(const std::string &a, const std::string &b, int64_t n, int64_t bOff, int64_t aOff)
{
    const CmdResult r = run("cmp -n " + std::to_string(n) + " -i " + std::to_string(aOff) + ":" +
                            std::to_string(bOff) + " " + shq(a) + " " + shq(b));
    if (r.status != 0)
        ADD_FAILURE() << "cmp: " << r.out << r.err;
    return r.status == 0;
}
