// Files of 4 GiB and more (sparse where their bytes do not matter, noise where they must not
// compress), each packed into a destination of its own and checked by readers no one here wrote.
// Gigabytes of disk and minutes of CPU: run with the label "big" (ctest -L big), not by default.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <zlib.h>

#include "testsupport.h"
#include "zip/zipdirectory.h"
#include "zip/zipwriter.h"

namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;

constexpr uint64_t kGiB = 1ull << 30;

uint64_t freeBytes(const fs::path& p) {
    struct statvfs s {};
    return statvfs(p.c_str(), &s) == 0 ? uint64_t(s.f_bavail) * s.f_frsize : 0;
}

void makeSparse(const fs::path& p, uint64_t size) {
    testsupport::writeFile(p, "");
    fs::resize_file(p, size);
}

// Bytes no compressor shrinks, from a fast generator, a mebibyte at a time.
void makeNoise(const fs::path& p, uint64_t size) {
    std::ofstream out(p, std::ios::binary);
    std::vector<uint64_t> block(1 << 17);
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (uint64_t done = 0; done < size;) {
        for (uint64_t& v : block) {
            x ^= x << 13, x ^= x >> 7, x ^= x << 17;
            v = x;
        }
        const uint64_t n = std::min<uint64_t>(size - done, block.size() * 8);
        out.write(reinterpret_cast<const char*>(block.data()), std::streamsize(n));
        done += n;
    }
}

uint32_t crcOf(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::vector<char> buffer(1 << 20);
    uLong crc = crc32(0, nullptr, 0);
    while (in.read(buffer.data(), std::streamsize(buffer.size())) || in.gcount() > 0)
        crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.data()), uInt(in.gcount()));
    return uint32_t(crc);
}

struct Case {
    const char* name;
    uint64_t size;
    bool noise;
    int level;
    const char* password;
    uint64_t reserveFrom = kZip64ReserveFrom;
};

void packAndCheck(const Case& c) {
    SCOPED_TRACE(c.name);
    TempDir dir("folvio-zip64big-");
    const uint64_t need = c.size * (c.level == 0 || c.noise ? 2 : 1) + kGiB;
    if (freeBytes(dir.path()) < (c.noise ? need : need - c.size)) GTEST_SKIP() << "not enough room in " << dir.path();
    const fs::path file = dir / "data/image.bin";
    fs::create_directories(file.parent_path());
    if (c.noise) makeNoise(file, c.size);
    else makeSparse(file, c.size);

    const fs::path archive = dir / "out.zip";
    TZipWriter w;
    w.SetZipName(archive.string());
    w.SetPackLevel(c.level);
    w.Password = c.password;
    w.Zip64ReserveFrom = c.reserveFrom;
    std::vector<int> filePercent, totalPercent;
    uint64_t endSize = 0, endCompressed = 0, endArchive = 0;
    w.OnFilePercentDone = [&](TZipReader*, int p) { filePercent.push_back(p); };
    w.OnTotalPercentDone = [&](TZipReader*, int p) { totalPercent.push_back(p); };
    w.OnEndZip = [&](TZipReader*, const std::string&, uint64_t size, uint64_t compressed, uint64_t at) {
        endSize = size, endCompressed = compressed, endArchive = at;
    };
    w.FilesList = {file.string()};
    ASSERT_EQ(w.Zip(), 1);

    // The progress runs from the start to 100 in order (once more from the start when the entry
    // is packed again with its block); the end event has the whole sizes.
    ASSERT_FALSE(filePercent.empty());
    EXPECT_LE(filePercent.front(), 1);
    EXPECT_EQ(filePercent.back(), 100);
    auto fallsBack = [](const std::vector<int>& v) {
        int times = 0;
        for (size_t i = 1; i < v.size(); ++i) times += v[i] < v[i - 1];
        return times;
    };
    const int passes = c.reserveFrom > c.size ? 2 : 1;
    EXPECT_EQ(fallsBack(filePercent), passes - 1);
    EXPECT_EQ(fallsBack(totalPercent), passes - 1);
    EXPECT_EQ(totalPercent.back(), 100);
    EXPECT_EQ(endSize, c.size);

    TBufferedFileStream in(archive.string(), TFileMode::fmOpenRead);
    TSortedZip entries(TZipSortMode::ByNone);
    TEndCentral end;
    ReadZipDirectory(in, true, entries, end);
    ASSERT_EQ(entries.Count(), 1u);
    const TZipHeaderInfo& e = *entries.Items(0);
    EXPECT_EQ(e.uncompressed_size, c.size);
    EXPECT_EQ(e.compressed_size, endCompressed);
    EXPECT_LE(endArchive, fs::file_size(archive));
    EXPECT_EQ(e.crc32, crcOf(file));
    EXPECT_EQ(e.version_needed, 45);

    const std::string a = testsupport::shellQuote(archive.string());
    const std::string pw = testsupport::shellQuote(c.password);
    auto unzip = testsupport::runCommand(std::string("unzip -tqq") + (*c.password ? " -P " + pw : "") + " " + a);
    EXPECT_EQ(unzip.exitCode, 0) << unzip.output;
    auto seven = testsupport::runCommand(std::string("7zz t -bd") + (*c.password ? " -p" + pw : "") + " " + a);
    EXPECT_EQ(seven.exitCode, 0) << seven.output;
    EXPECT_EQ(seven.output.find("Warning"), std::string::npos) << seven.output;
    auto bsdtar = testsupport::runCommand("bsdtar -tvf " + a);
    EXPECT_EQ(bsdtar.exitCode, 0) << bsdtar.output;
    EXPECT_NE(bsdtar.output.find(std::to_string(c.size)), std::string::npos) << bsdtar.output;
    if (!*c.password) {  // Python decrypts in Python: far too slow for gigabytes
        auto python = testsupport::runCommand(
            "/usr/bin/python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); "
            "assert z.testzip() is None; print(z.infolist()[0].file_size)\" " + a);
        EXPECT_EQ(python.exitCode, 0) << python.output;
        EXPECT_EQ(python.output, std::to_string(c.size) + "\n");
    }
}

class Big : public ::testing::TestWithParam<Case> {};

TEST_P(Big, PackedAndReadBack) { packAndCheck(GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Zip64, Big,
    ::testing::Values(Case{"FiveGiBSparseLevel9", 5 * kGiB, false, 9, ""},
                      Case{"FiveGiBSparseLevel0", 5 * kGiB, false, 0, ""},
                      Case{"FFFFFFFFSparseLevel9", 0xFFFFFFFFull, false, 9, ""},
                      Case{"FFFFFFFFSparseLevel0", 0xFFFFFFFFull, false, 0, ""},
                      Case{"FFFFFFFESparseLevel9", 0xFFFFFFFEull, false, 9, ""},
                      Case{"FFFFFFFESparseLevel0", 0xFFFFFFFEull, false, 0, ""},
                      Case{"FFFFFFFESparseEncryptedLevel0", 0xFFFFFFFEull, false, 0, "secret"},
                      Case{"FFFFFFF0NoiseLevel0", 0xFFFFFFF0ull, true, 0, ""},
                      Case{"FFFFFFF0NoiseLevel9", 0xFFFFFFF0ull, true, 9, ""},
                      // No block reserved: the entry is packed again with it once its data pass 4 GiB.
                      Case{"FFFFFFF0NoiseLevel6NothingReserved", 0xFFFFFFF0ull, true, 6, "", UINT64_MAX}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
