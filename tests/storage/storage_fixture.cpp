#include "storage_fixture.h"

using namespace testsupport;

void StorageTest::SetUp()
{
    // Four slots of 64 KiB: the tests' chunks.
    BUFFER_SIZE = 4 * 64 * 1024;
    gui_setup_progress_report_function(
        "test",
        [this](bool erasing, const std::string &img, const std::string &pt, int pct, int count, int index) {
            m_progress.push_back({erasing, img, pt, pct, count, index});
        },
        [this](const std::string &, const std::string &, int64_t done, int64_t total, double ms) {
            m_speed.push_back({done, total, ms});
        });
}

void StorageTest::TearDown()
{
    for (FILE *f : m_files)
        fclose(f);
}

std::string StorageTest::linkDevice(const std::string &dev)
{
    const std::string name = dev.substr(dev.rfind('/') + 1);
    m_root.link("dev/" + name, dev);
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
