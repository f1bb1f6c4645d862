// Archives with more entries than the classic records hold: a home-folder-like tree of 70,000 files
// packed, shrunk by a delete and freshened, by this writer and by 7-Zip, each checked by readers
// no one here wrote.
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "testsupport.h"
#include "zip/zipwriter.h"
#include "zipreaders.h"

namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;
using testsupport::expectReadersAccept;

// Tens of thousands of small files are made far faster in memory than on the disk.
const std::string kFastTemp = testsupport::fastTemp("folvio-zip64scale-");

constexpr size_t kFiles = 70000;
constexpr size_t kTopFolders = 70;  // 1,000 files each; every tenth holds a nested folder too
constexpr size_t kFolders = kTopFolders + kTopFolders / 10;

std::string fileName(size_t i) {
    // Every seventh name is not ASCII; names stay unique within their folder.
    std::string name = i % 7 == 0 ? "\xC3\xA4pfel-" : "file-";
    name.append(std::to_string(i)).append(".txt");
    return name;
}

// The tree: kTopFolders folders of 1,000 files, a tenth of each of every tenth folder one level
// deeper; every fifth file empty, the others a line naming themselves.
class Tree : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir(kFastTemp);
        for (size_t i = 0; i < kFiles; ++i) {
            const size_t folder = i / 1000;
            fs::path parent = root() / ("folder-" + std::to_string(folder));
            if (folder % 10 == 0 && i % 10 == 0) parent /= "nested";
            testsupport::writeFile(parent / fileName(i), i % 5 == 0 ? "" : "file " + std::to_string(i) + "\n");
        }
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static fs::path root() { return dir_->path() / "home"; }
    static fs::path place() { return dir_->path(); }

    struct Writer {
        explicit Writer(const fs::path& archive) {
            w.SetZipName(archive.string());
            w.AddDirEntriesOnRecurse = true;
            w.Recurse = true;
            w.SetStorePaths(true);
            w.SetRelativePaths(true);
            w.ZipAction = TZipAction::zaUpdate;
        }
        int pack(const fs::path& folder, int level, TZipAction action = TZipAction::zaUpdate) {
            w.ZipAction = action;
            w.SetPackLevel(level);
            w.SetRootDir(folder.string());
            w.FilesList = {folder.string() + "/*.*"};
            return w.Zip();
        }
        TZipWriter w;
    };

private:
    static TempDir* dir_;
};
TempDir* Tree::dir_ = nullptr;

TEST_F(Tree, SeventyThousandFilesAtLevel0And9) {
    for (int level : {0, 9}) {
        SCOPED_TRACE("level " + std::to_string(level));
        const fs::path archive = place() / ("all-" + std::to_string(level) + ".zip");
        Writer w(archive);
        EXPECT_EQ(size_t(w.pack(root(), level)), kFiles + kFolders);
        expectReadersAccept(archive, kFiles, kFolders, true, root());
        fs::remove(archive);
    }
}

// 6,000 entries deleted leave 64,077: the rewritten archive is classic again, also after 100
// files were freshened.
TEST_F(Tree, DeleteAndFreshenShrinkItBackToClassic) {
    const fs::path archive = place() / "shrunk.zip";
    Writer w(archive);
    EXPECT_EQ(size_t(w.pack(root(), 6)), kFiles + kFolders);
    w.w.FilesList.clear();
    for (size_t folder = 1; folder <= 6; ++folder) w.w.FilesList.push_back("folder-" + std::to_string(folder) + "/*.txt");
    EXPECT_EQ(w.w.DeleteEntries(), 6000);
    expectReadersAccept(archive, kFiles - 6000, kFolders, false, root());

    // The files of folder 20 get new contents and a later time; freshening takes 100 of them.
    const fs::path folder = root() / "folder-20";
    std::vector<fs::path> changed;
    for (size_t i = 20000; i < 20100; ++i) {
        const fs::path p = (i % 10 == 0 ? folder / "nested" : folder) / fileName(i);
        testsupport::writeFile(p, "changed " + std::to_string(i) + "\n");
        const fs::file_time_type later = fs::last_write_time(p) + std::chrono::hours(1);
        fs::last_write_time(p, later);
        changed.push_back(p);
    }
    int replaced = 0;
    w.w.OnUpdate = [&](TZipReader*, TUpdateAction a, int) { replaced += a == TUpdateAction::uaReplacing; };
    // Deleted files are not added back by a freshen.
    EXPECT_EQ(w.pack(root(), 6, TZipAction::zaFreshen), 100);
    EXPECT_EQ(replaced, 100);
    expectReadersAccept(archive, kFiles - 6000, kFolders, false, root());
}

// 7-Zip writes the 64-bit records for a tree of that many entries; the writer updates such an
// archive and deletes from it, writing the records only where the result needs them.
TEST_F(Tree, SevenZipArchiveIsUpdatedAndDeleted) {
    const fs::path archive = place() / "seven.zip";
    const auto made = testsupport::runCommand("cd " + testsupport::shellQuote(root().string()) + " && 7zz a -tzip -mx=1 -bd " +
                                              testsupport::shellQuote(archive.string()) + " . >/dev/null");
    ASSERT_EQ(made.exitCode, 0) << made.output;
    const fs::path extra = place() / "extra";
    testsupport::writeFile(extra / "late.txt", "late\n");
    Writer w(archive);
    EXPECT_EQ(w.pack(extra, 6), 1);
    testsupport::writeFile(root() / "late.txt", "late\n");  // where the readers compare it
    expectReadersAccept(archive, kFiles + 1, kFolders, true, root());
    w.w.FilesList = {"folder-3*/*.txt", "late.txt"};
    EXPECT_GT(w.w.DeleteEntries(), 10000);
    fs::remove(root() / "late.txt");
    expectReadersAccept(archive, kFiles - 11000, kFolders, false, root());
}

}  // namespace
