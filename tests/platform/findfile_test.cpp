#include "platform/findfile.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

#include "faultyfilesystem.h"
#include "testsupport.h"

namespace {

namespace fs = std::filesystem;
using namespace platform;

TEST(FindFile, EntriesMapToWindowsAttributes) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir / "plain.txt", "12345");
    testsupport::writeFile(dir / "readonly.txt", "");
    fs::permissions(dir / "readonly.txt", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    testsupport::writeFile(dir / ".hidden", "");
    fs::create_directory(dir / "folder");
    fs::create_directory(dir / ".cache");
    fs::permissions(dir / ".cache", fs::perms::owner_write, fs::perm_options::remove);
    fs::create_symlink("plain.txt", dir / "filelink");
    fs::create_symlink("folder", dir / "folderlink");
    fs::create_symlink("nowhere", dir / "dangling");
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0644), 0);

    struct Case {
        const char* name;
        uint32_t attributes;
        FileKind kind;
        bool isLink;
        uint64_t size;
    } cases[] = {
        {"plain.txt", faArchive, FileKind::Regular, false, 5},
        {"readonly.txt", faArchive | faReadOnly, FileKind::Regular, false, 0},
        {".hidden", faArchive | faHidden, FileKind::Regular, false, 0},
        {"folder", faDirectory, FileKind::Directory, false, 0},
        {".cache", faDirectory | faHidden | faReadOnly, FileKind::Directory, false, 0},
        {"filelink", faArchive, FileKind::Regular, true, 5},
        {"folderlink", 0, FileKind::Directory, true, 0},  // not a folder of the tree
        {"dangling", 0, FileKind::Symlink, true, 0},
        {"pipe", 0, FileKind::Fifo, false, 0},
    };
    for (const Case& c : cases) {
        FindRecord rec;
        ASSERT_TRUE(FindFile((dir / c.name).string(), rec)) << c.name;
        EXPECT_EQ(rec.name, c.name);
        EXPECT_EQ(rec.attributes, c.attributes) << c.name;
        EXPECT_EQ(rec.kind, c.kind) << c.name;
        EXPECT_EQ(rec.isLink, c.isLink) << c.name;
        EXPECT_EQ(rec.size, c.size) << c.name;
    }
    FindRecord rec;
    EXPECT_FALSE(FindFile((dir / "missing").string(), rec));
}

TEST(FindFile, ListingsReturnEveryEntryOnceThenStayExhausted) {
    testsupport::TempDir dir;
    for (const char* name : {"b", "a", "c"}) testsupport::writeFile(dir / name, name);
    DirectoryListing listing(dir.path().string());
    std::vector<std::string> seen;
    FindRecord rec;
    for (int r = listing.First(rec); r == 0; r = listing.Next(rec)) seen.push_back(rec.name);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_NE(listing.Next(rec), 0);
    EXPECT_NE(listing.Next(rec), 0);
}

TEST(FindFile, ListedEntriesThatCannotBeExaminedAreReturnedNotDropped) {
    testsupport::TempDir dir;
    for (const char* name : {"gone", "locked", "long", ".hidden", "plain"}) testsupport::writeFile(dir / name, "x");
    testsupport::FaultyFileSystem faulty;
    faulty.statErrors[(dir / "gone").string()] = ENOENT;  // vanished since the listing was read
    faulty.statErrors[(dir / "locked").string()] = EACCES;
    faulty.statErrors[(dir / "long").string()] = ENAMETOOLONG;
    faulty.statErrors[(dir / ".hidden").string()] = EACCES;
    ScopedFileSystem use(faulty);
    DirectoryListing listing(dir.path().string());
    std::map<std::string, std::pair<FileKind, uint32_t>> seen;
    FindRecord rec;
    for (int r = listing.First(rec); r == 0; r = listing.Next(rec)) seen[rec.name] = {rec.kind, rec.attributes};
    EXPECT_EQ(seen, (std::map<std::string, std::pair<FileKind, uint32_t>>{
                        {".hidden", {FileKind::Other, faHidden}},
                        {"locked", {FileKind::Other, 0}},
                        {"long", {FileKind::Other, 0}},
                        {"plain", {FileKind::Regular, faArchive}},
                    }));
}

TEST(FindFile, AFolderThatCannotBeListedIsExhaustedFromTheStart) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir / "sub/a", "");
    testsupport::FaultyFileSystem faulty;
    faulty.listErrors[(dir / "sub").string()] = EACCES;
    ScopedFileSystem use(faulty);
    DirectoryListing listing((dir / "sub").string());
    FindRecord rec;
    EXPECT_NE(listing.First(rec), 0);
    EXPECT_EQ(listing.error(), -EACCES);
}

}  // namespace
