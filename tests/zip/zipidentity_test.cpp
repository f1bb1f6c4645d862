// Archives of fixed inputs keep their exact bytes: the hashes below were taken from the writer before
// it learnt the 64-bit records, so any change to what is written below the format's limits shows here.
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

#include "testsupport.h"
#include "zip/zipwriter.h"

namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;

constexpr std::time_t kFixedTime = 1600000000;  // 2020-09-13 12:26:40 UTC

void setTime(const fs::path& p, std::time_t t) {
    struct timespec times[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0) << p;
}

std::string sha256(const fs::path& p) {
    const auto r = testsupport::runCommand("sha256sum " + testsupport::shellQuote(p.string()));
    return r.exitCode == 0 ? r.output.substr(0, 64) : "sha256sum failed: " + r.output;
}

// Text, random bytes, an empty file and nested folders with a non-ASCII name, all with fixed times.
void makeInputs(const fs::path& root) {
    std::string text;
    for (int i = 0; text.size() < 200000; ++i)
        text += "Line " + std::to_string(i % 977) + " of the fixed input, with words that repeat often.\n";
    testsupport::writeFile(root / "text.txt", text);
    testsupport::writeBytes(root / "random.bin", testsupport::randomBytes(70000, 7));
    testsupport::writeFile(root / "empty", "");
    testsupport::writeFile(root / "sub/deeper/\xC3\xBC" "ber.txt", "small file in a nested folder\n");
    std::vector<uint8_t> mixed = testsupport::randomBytes(40000, 11);
    mixed.insert(mixed.end(), text.begin(), text.begin() + 60000);
    testsupport::writeBytes(root / "sub/mixed.dat", mixed);
    for (const char* p : {"text.txt", "random.bin", "empty", "sub/deeper/\xC3\xBC" "ber.txt", "sub/mixed.dat",
                          "sub/deeper", "sub"})
        setTime(root / p, kFixedTime);
}

struct Packer {
    explicit Packer(const std::string& archive) {
        w.SetZipName(archive);
        w.AddDirEntriesOnRecurse = true;
        w.Recurse = true;
        w.SetStorePaths(true);
        w.SetRelativePaths(true);
    }
    void pack(const fs::path& folder, int level, TZipAction action) {
        w.SetPackLevel(level);
        w.ZipAction = action;
        w.SetRootDir(folder.string());
        w.FilesList = {folder.string() + "/*.*"};
        w.Zip();
    }
    TZipWriter w;
};

TEST(ZipIdentity, FreshArchivesAtEachLevelKeepTheirBytes) {
    testsupport::ScopedEnv tz("TZ", "UTC");
    tzset();
    TempDir dir;
    makeInputs(dir / "data");
    const struct {
        int level;
        const char* sha;
    } cases[] = {
        {0, "cf258e96bdb19458438d55b4d91af4dcdabe47be37ddae3b5e91e8b1f1c2f4b0"},
        {1, "77e83889cf30b3ea5c22b3d1780d96c670bacaf9b4f82e80eeb10c37404bf5fb"},
        {6, "70eec63cfbea988fdbc3e8de85101c5f47cfd9dcdb272beadcf05a6c48212bde"},
        {9, "e2a3907f423245dd11eb1cdca9359cdf8aa926983b483a9131d9c7f3da200ce5"},
    };
    for (const auto& c : cases) {
        const fs::path archive = dir / ("level" + std::to_string(c.level) + ".zip");
        Packer p(archive.string());
        p.pack(dir / "data", c.level, TZipAction::zaReplace);
        EXPECT_EQ(sha256(archive), c.sha) << "level " << c.level;
    }
}

TEST(ZipIdentity, UpdatedAndDeletedArchivesKeepTheirBytes) {
    testsupport::ScopedEnv tz("TZ", "UTC");
    tzset();
    TempDir dir;
    makeInputs(dir / "data");
    const fs::path archive = dir / "out.zip";
    Packer p(archive.string());
    p.pack(dir / "data", 6, TZipAction::zaReplace);
    // A newer file replaces its entry; the others are carried over as they are.
    testsupport::writeFile(dir / "data/sub/mixed.dat", "changed content\n");
    setTime(dir / "data/sub/mixed.dat", kFixedTime + 100);
    setTime(dir / "data/sub", kFixedTime);
    p.pack(dir / "data", 6, TZipAction::zaUpdate);
    EXPECT_EQ(sha256(archive), "e4e7521046edb0eab4f8f9f23e962d3b12cb9f41c744639462d334aa01f546e2") << "update";
    p.w.FilesList = {"random.bin"};
    p.w.SetRootDir((dir / "data").string());
    EXPECT_EQ(p.w.DeleteEntries(), 1);
    EXPECT_EQ(sha256(archive), "acb59c7c8c68f61a3ab0217dd8d730dcd4e5faa0192b1f86dfdcadb8f263f544") << "delete";
}

}  // namespace
