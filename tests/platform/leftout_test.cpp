#include "platform/leftout.h"

#include "faultyfilesystem.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <climits>

namespace fs = std::filesystem;

TEST(LeftOutReason, SaysWhatThePathIsInsteadOfAFile) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir / "file.txt", "x");
    fs::create_directory(dir / "folder");
    fs::create_directory_symlink(dir / "folder", dir / "link to folder");
    fs::create_symlink("nowhere", dir / "dangling");
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    std::string tooLong = dir.path().string();
    while (tooLong.size() <= PATH_MAX) tooLong += "/" + std::string(200, 'x');
    const std::vector<std::pair<std::string, std::string>> cases = {
        {(dir / "gone.txt").string(), "it is gone"},
        {(dir / "file.txt/below").string(), "it is gone"},
        {tooLong, "its path is too long"},
        {(dir / "link to folder").string(), "it is a link to a folder, which is not followed"},
        {(dir / "dangling").string(), "it is a link that leads nowhere"},
        {(dir / "pipe").string(), "it is a named pipe"},
        {"/dev/null", "it is a device"},
        {(dir / "folder").string(), "it is a folder"},
        {(dir / "file.txt").string(), "it cannot be opened for reading"},
    };
    for (const auto& [path, reason] : cases) EXPECT_EQ(platform::LeftOutReason(path), reason) << path.substr(0, 80);
}

TEST(LeftOutReason, AFolderThatCannotBeListedCannotBeRead) {
    testsupport::TempDir dir;
    fs::create_directory(dir / "closed");
    testsupport::FaultyFileSystem faulty;
    faulty.listErrors[(dir / "closed").string()] = EACCES;
    platform::ScopedFileSystem use(faulty);
    EXPECT_EQ(platform::LeftOutReason((dir / "closed").string()), "it cannot be read");
}
