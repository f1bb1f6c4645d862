#include <filesystem>
#include <gtest/gtest.h>

#include "testsupport.h"
#include "zipcheck.h"
#include "zip/zipwriter.h"

namespace {

namespace fs = std::filesystem;

// The tree packed as the backup application packs a folder, stored and at compressing levels
// (1 greedy, 6 and 9 lazy, 10 the maximum level), and read back by other programs.
class Interop : public ::testing::TestWithParam<int> {};

TEST_P(Interop, AwkwardTreeIsReadBackByOtherReaders) {
    testsupport::TempDir dir;
    fs::path root = dir / "Data Folder";
    auto leftOut = testsupport::makeAwkwardTree(root);
    TZipWriter w;
    w.SetZipName((dir / "backup.zip").string());
    w.ZipAction = TZipAction::zaReplace;
    w.AddDirEntriesOnRecurse = true;
    w.Recurse = true;
    w.SetStorePaths(true);
    w.SetRelativePaths(true);
    w.SetRootDir(root.string());
    w.SetPackLevel(GetParam());
    w.FilesList = {root.string() + "/*.*"};
    std::vector<std::string> skipped;
    w.OnSkippingFile = [&](TZipReader*, TSkipReason, const std::string& name, int, bool&) {
        skipped.push_back(fs::path(name).lexically_relative(root).string());
    };
    int count = w.Zip();
    std::sort(skipped.begin(), skipped.end());
    EXPECT_EQ(skipped, leftOut);
    EXPECT_EQ(size_t(count), testsupport::expectedEntries(root).size());
    testsupport::checkArchiveWithReaders(dir / "backup.zip", root, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Levels, Interop, ::testing::Values(0, 1, 6, 9, 10));

}  // namespace
