#include "app/folderlistfile.h"
#include "app/installlayout.h"

#include "faultyfilesystem.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

using testsupport::ScopedEnv;
using testsupport::TempDir;
using Lines = std::vector<std::string>;

namespace {

TEST(FolderListFile, ReadsEveryLineBreakConvention) {
    struct Case {
        const char* name;
        std::string text;
        Lines lines;
    };
    const std::vector<Case> cases = {
        {"CR LF", "/a/\r\n/b c/\r\n", {"/a/", "/b c/"}},
        {"lone CR", "/a/\r/b c/\r", {"/a/", "/b c/"}},
        {"lone LF", "/a/\n/b c/\n", {"/a/", "/b c/"}},
        {"mixed", "/a/\r\n/b/\r/c/\n/d/", {"/a/", "/b/", "/c/", "/d/"}},
        {"LF CR is two breaks", "/a/\n\r/b/", {"/a/", "", "/b/"}},
        {"an empty line in the middle is an item", "/a/\r\n\r\n/b/\r\n", {"/a/", "", "/b/"}},
        {"no break at the end", "/a/", {"/a/"}},
        {"a lone break is one empty item", "\r\n", {""}},
        {"the empty file is the empty list", "", {}},
        {"a zero byte ends the text", std::string("/a/\r\n/b/\0/c/\r\n", 14), {"/a/", "/b/"}},
        {"blanks and non-ASCII bytes are kept", " /Fotos \xc3\xa4/ \r\n/x\xff/\r\n", {" /Fotos \xc3\xa4/ ", "/x\xff/"}},
    };
    for (const Case& c : cases) EXPECT_EQ(folderlist::SplitLines(c.text), c.lines) << c.name;

    const std::string longLine(10000, 'x');
    EXPECT_EQ(folderlist::SplitLines(longLine + "\r\n"), Lines{longLine}) << "long lines are not cut";
}

TEST(FolderListFile, WritesEachItemWithCrLfAndReadsItBack) {
    TempDir dir;
    const std::string path = (dir / "data.mvo").string();
    const Lines lines = {"/home/anna/Documents/", "", "/srv/a b/"};
    folderlist::Save(path, lines);
    EXPECT_EQ(testsupport::readFile(path), "/home/anna/Documents/\r\n\r\n/srv/a b/\r\n");
    EXPECT_EQ(folderlist::Load(path), lines);

    folderlist::Save(path, {});
    EXPECT_EQ(std::filesystem::file_size(path), 0u) << "an empty list is a zero-byte file";
    EXPECT_EQ(folderlist::Load(path), Lines{});
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "no temporary file is left";
}

TEST(FolderListFile, FailuresNameTheFile) {
    TempDir dir;
    const std::string missing = (dir / "data.mvo").string();
    try {
        folderlist::Load(missing);
        FAIL() << "a missing file must not load";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file " + missing + ".");
    }
    EXPECT_THROW(folderlist::Load(dir.path().string()), std::runtime_error) << "a folder is no list file";

    const std::string blocked = (dir / "plain-file" / "data.mvo").string();
    testsupport::writeFile(dir / "plain-file", "not a folder");
    try {
        folderlist::Save(blocked, {"/a/"});
        FAIL() << "a file under a plain file cannot be written";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + blocked + ".");
    }

    const std::string readOnly = (dir / "locked.mvo").string();
    testsupport::writeFile(readOnly, "/keep/\r\n");
    ::chmod(readOnly.c_str(), 0444);
    if (::geteuid() != 0) {
        EXPECT_THROW(folderlist::Save(readOnly, {"/new/"}), std::runtime_error);
        EXPECT_EQ(testsupport::readFile(readOnly), "/keep/\r\n") << "a read-only list stays as it is";
    }
}

TEST(FolderListFile, ADiskFaultLeavesTheOldListWhole) {
    TempDir dir;
    const std::string path = (dir / "data.mvo").string();
    testsupport::writeFile(path, "/old/\r\n");
    testsupport::FaultyFileSystem faulty;
    platform::ScopedFileSystem installed(faulty);

    faulty.writeBudget = 3;  // a short write, then a full disk
    EXPECT_THROW(folderlist::Save(path, {"/new/", "/newer/"}), std::runtime_error);
    EXPECT_EQ(testsupport::readFile(path), "/old/\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "no temporary file is left";
    faulty.writeBudget.reset();

    faulty.readErrorAfter[path] = 2;
    EXPECT_THROW(folderlist::Load(path), std::runtime_error) << "half a list is not loaded as the list";
    faulty.readErrorAfter.clear();
    faulty.openErrors[path] = EACCES;
    EXPECT_THROW(folderlist::Load(path), std::runtime_error);
}

TEST(FolderListFile, LiesBesideTheProgramOrInThePerUserFolder) {
    TempDir dir;
    ScopedEnv config("XDG_CONFIG_HOME", (dir / "config").string());
    const std::string perUser = (dir / "config" / "marvane" / "folvio" / "data.mvo").string();
    EXPECT_EQ(folderlist::FilePath(dir.slashed()), dir.slashed() + "data.mvo");
    EXPECT_EQ(folderlist::FilePath(dir.path().string()), dir.slashed() + "data.mvo");
    EXPECT_EQ(folderlist::FilePath((dir / "not-there").string() + "/"), perUser);
    EXPECT_EQ(folderlist::FilePath(""), perUser);

    folderlist::Save(perUser, {"/a/"});  // the per-user folder is made on first save
    EXPECT_EQ(folderlist::Load(perUser), Lines{"/a/"});

    {
        ScopedEnv program("MARVANE_PROGRAM_DIR", dir.path().string());
        EXPECT_EQ(folderlist::ProgramDir(), dir.slashed());
    }
    ScopedEnv program("MARVANE_PROGRAM_DIR", std::nullopt);
    const std::string real = folderlist::ProgramDir();
    EXPECT_EQ(real, std::filesystem::canonical("/proc/self/exe").parent_path().string() + "/");
}

// An installation: <prefix>/bin holds the program, <prefix>/share its desktop entry and documents.
TEST(FolderListFile, AnInstalledProgramKeepsTheListPerUserEvenWhereItCouldWriteBesideItself) {
    TempDir dir;
    ScopedEnv config("XDG_CONFIG_HOME", (dir / "config").string());
    const std::string perUser = (dir / "config" / "marvane" / "folvio" / "data.mvo").string();
    struct Case {
        const char* layout;
        std::vector<std::string> files;  // below dir/prefix
        bool installed;
    };
    const std::vector<Case> cases = {
        {"installed", {"share/applications/org.marvane.Folvio.desktop", "share/doc/folvio/README.md"}, true},
        {"unpacked: no desktop entry", {"bin/README.md"}, false},
        {"another program's entry", {"share/applications/org.marvane.Other.desktop"}, false},
        {"the entry's name a folder", {"share/applications/org.marvane.Folvio.desktop/x"}, false},
    };
    for (const Case& c : cases) {
        const std::filesystem::path prefix = dir / c.layout;
        std::filesystem::create_directories(prefix / "bin");
        for (const std::string& file : c.files) testsupport::writeFile(prefix / file, "x");
        const std::string bin = (prefix / "bin").string() + "/";
        ASSERT_EQ(::access(bin.c_str(), W_OK), 0) << "the bin folder is writable, as it is to root";
        EXPECT_EQ(installlayout::IsInstalled(bin), c.installed) << c.layout;
        EXPECT_EQ(folderlist::FilePath(bin), c.installed ? perUser : bin + "data.mvo") << c.layout;
        EXPECT_EQ(installlayout::DataDir(bin), c.installed ? (prefix / "share").string() + "/" : "") << c.layout;
        EXPECT_EQ(installlayout::DocFile(bin, "README.md"), c.installed ? (prefix / "share/doc/folvio/README.md").string() : "")
            << c.layout;
    }
}

}  // namespace
