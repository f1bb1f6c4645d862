#include "platform/filesystem.h"

#include <filesystem>
#include <gtest/gtest.h>

#include "faultyfilesystem.h"
#include "testsupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ScopedEnv;
using testsupport::TempDir;

TEST(FileSystem, TemporaryFolderComesFromTmpdirWhenItIsAFolder) {
    TempDir dir;
    {
        ScopedEnv tmp("TMPDIR", dir.path().string());
        EXPECT_EQ(platform::TemporaryFolder(), dir.slashed());
    }
    {
        ScopedEnv tmp("TMPDIR", (dir / "missing").string());
        EXPECT_EQ(platform::TemporaryFolder(), "/tmp/");
    }
    ScopedEnv tmp("TMPDIR", std::nullopt);
    EXPECT_EQ(platform::TemporaryFolder(), "/tmp/");
}

TEST(FileSystem, TemporaryFilesAreNewEmptyAndCarryThePrefix) {
    TempDir dir;
    std::string a = platform::CreateTemporaryFile(dir.path().string(), "FVZ");
    std::string b = platform::CreateTemporaryFile(dir.slashed(), "FVZ");
    EXPECT_NE(a, b);
    for (const std::string& p : {a, b}) {
        EXPECT_EQ(fs::path(p).parent_path(), dir.path());
        EXPECT_EQ(fs::path(p).filename().string().rfind("FVZ", 0), 0u) << p;
        EXPECT_EQ(fs::file_size(p), 0u);
    }
    try {
        platform::CreateTemporaryFile((dir / "missing").string(), "FVZ");
        FAIL() << "no error";
    } catch (const platform::EFileError& e) {
        EXPECT_NE(std::string(e.what()).find("missing"), std::string::npos) << e.what();
        EXPECT_EQ(e.errorCode(), ENOENT);
    }
}

TEST(FileSystem, ExistenceDeleteAndRename) {
    TempDir dir;
    testsupport::writeFile(dir / "file", "x");
    fs::create_directory(dir / "folder");
    fs::create_symlink("file", dir / "link");
    EXPECT_TRUE(platform::FileExists((dir / "file").string()));
    EXPECT_TRUE(platform::FileExists((dir / "link").string()));  // links are followed
    EXPECT_FALSE(platform::FileExists((dir / "folder").string()));
    EXPECT_TRUE(platform::DirectoryExists((dir / "folder").string()));
    EXPECT_FALSE(platform::DirectoryExists(""));
    EXPECT_TRUE(platform::RenameFile((dir / "file").string(), (dir / "moved").string()));
    EXPECT_FALSE(platform::FileExists((dir / "link").string()));  // now dangling
    EXPECT_TRUE(platform::DeleteFile((dir / "moved").string()));
    EXPECT_FALSE(platform::DeleteFile((dir / "moved").string()));
}

TEST(FileSystem, ListingsLeaveOutDotEntries) {
    TempDir dir;
    testsupport::writeFile(dir / "a", "");
    testsupport::writeFile(dir / ".b", "");
    std::vector<std::string> names;
    ASSERT_EQ(platform::fileSystem().listDirectory(dir.path().string(), names), 0);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".b", "a"}));
    EXPECT_EQ(platform::fileSystem().listDirectory((dir / "missing").string(), names), -ENOENT);
}

TEST(FileSystem, LexicalPartsDropDotsAndEmptyParts) {
    using V = std::vector<std::string>;
    EXPECT_EQ(platform::LexicalParts("/a/./b/../c/"), (V{"a", "c"}));
    EXPECT_EQ(platform::LexicalParts("../../x//y"), (V{"x", "y"}));
    EXPECT_EQ(platform::LexicalParts("/"), V{});
    EXPECT_EQ(platform::LexicalParts("notes."), V{"notes."});
}

TEST(FileSystem, AScopedReplacementIsUsedAndThenRemoved) {
    TempDir dir;
    std::string path = (dir / "f").string();
    testsupport::writeFile(path, "x");
    testsupport::FaultyFileSystem faulty;
    faulty.openErrors[path] = EACCES;
    {
        platform::ScopedFileSystem use(faulty);
        EXPECT_EQ(platform::fileSystem().open(path, 0, 0), -EACCES);
    }
    int fd = platform::fileSystem().open(path, 0, 0);
    EXPECT_GE(fd, 0);
    platform::fileSystem().close(fd);
    EXPECT_EQ(faulty.opened, std::vector<std::string>{path});
}

}  // namespace
