// The built-in IDB loaders as the build embeds them: every byte of each
// supplied file, its exact length, and nothing for SoCs without a file.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "storage/idbloader_builtin.h"

namespace {

std::vector<unsigned char> fileBytes(const std::string &name)
{
    std::ifstream in(std::string(TEST_IDB_DIR) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

void expectEmbedded(const char *cpu, const char *file, const unsigned char *array, uint32_t arrayLen)
{
    std::vector<unsigned char> want = fileBytes(file);
    ASSERT_FALSE(want.empty());
    EXPECT_EQ(arrayLen, want.size()) << cpu;
    uint32_t len = 12345;
    const unsigned char *data = idbloader_builtin_find(cpu, &len);
    ASSERT_NE(data, nullptr) << cpu;
    EXPECT_EQ(data, array);
    ASSERT_EQ(len, want.size()) << cpu;
    EXPECT_EQ(std::vector<unsigned char>(data, data + len), want) << cpu;
    EXPECT_EQ(idbloader_builtin_length(cpu), want.size());
}

} // namespace

TEST(IdbloaderBuiltin, EmbedsSuppliedFilesByteForByteAndNothingForOtherNames)
{
    expectEmbedded("RK3328", "rk3328_idbloader.img", rk3328_idbloader_img, rk3328_idbloader_img_len);
    expectEmbedded("RK3588", "rk3588_idbloader.img", rk3588_idbloader_img, rk3588_idbloader_img_len);
    // Exactly the 512 KiB limit is still accepted.
    expectEmbedded("RK3528", "rk3528_idbloader.img", rk3528_idbloader_img, rk3528_idbloader_img_len);
    EXPECT_EQ(rk3528_idbloader_img_len, 524288u);

    // Case is ignored; SoCs without a file, near-miss names and null give nothing.
    EXPECT_EQ(idbloader_builtin_length("Rk3588"), 200003u);
    for (const char *cpu : {"RK3399", "rk3568", "RK3576", "RK3566", "RK358", "RK35888", " RK3588", "", "S5P6818",
                            static_cast<const char *>(nullptr)}) {
        uint32_t len = 7;
        EXPECT_EQ(idbloader_builtin_find(cpu, &len), nullptr) << '"' << cpu << '"';
        EXPECT_EQ(len, 0u) << cpu;
        EXPECT_EQ(idbloader_builtin_length(cpu), 0u) << cpu;
    }
    EXPECT_EQ(rk3399_idbloader_img_len, 0u);
    EXPECT_NE(idbloader_builtin_find("RK3328", nullptr), nullptr);
}
