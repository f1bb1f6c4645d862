// The archive names: the plain name from the folder's last part, the dated name with its free number.
#include "backup/archivenames.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

namespace fs = std::filesystem;
using testsupport::writeFile;

namespace {

TEST(ArchiveNames, PlainNameIsTheLastPartInLowerCase) {
    struct Case {
        const char* name;
        std::string folder;
        std::string archive;
    };
    const std::vector<Case> cases = {
        {"with blanks", "/data/My Docs/", "my docs.zip"},
        {"no trailing slash drops the last character", "/data/Docs", "doc.zip"},
        {"one level", "/home/", "home.zip"},
        {"the root gets a visible name", "/", "root.zip"},
        {"the root written twice", "//", "root.zip"},
        {"non-ASCII letters lower-cased", "/srv/\xc3\x9c" "BUNG \xc3\x84RA/", "\xc3\xbc" "bung \xc3\xa4ra.zip"},
        {"bytes that are no UTF-8 kept", "/x/AB\xff/", "ab\xff.zip"},
        {"a relative name", "Docs/", "docs.zip"},
    };
    for (const Case& c : cases) EXPECT_EQ(PlainArchiveName(c.folder), c.archive) << c.name;
}

TEST(ArchiveNames, ZeroPadFillsToTheWidthAndNeverCuts) {
    EXPECT_EQ(ZeroPad(2, 2), "02");
    EXPECT_EQ(ZeroPad(10, 2), "10");
    EXPECT_EQ(ZeroPad(100, 2), "100");
    EXPECT_EQ(ZeroPad(7, 0), "7");
}

TEST(ArchiveNames, DatedNameTakesTheFirstFreeNumber) {
    testsupport::TempDir dir;
    const std::string dest = dir.slashed();
    const std::string folder = "/data/Docs/";
    const std::string day = "2005_03_17";
    EXPECT_EQ(DatedArchiveName(folder, dest, day), "2005_03_17_docs.zip");

    writeFile(dir / "2005_03_17_docs.zip", "x");
    EXPECT_EQ(DatedArchiveName(folder, dest, day), "2005_03_17_docs_02.zip");
    writeFile(dir / "2005_03_17_docs_02.zip", "x");
    EXPECT_EQ(DatedArchiveName(folder, dest, day), "2005_03_17_docs_03.zip");
    EXPECT_EQ(DatedArchiveName(folder, dir.path().string(), day), "2005_03_17_docs_03.zip")
        << "a destination without its slash";

    for (int k = 3; k <= 100; ++k) writeFile(dir / ("2005_03_17_docs_" + ZeroPad(k, 2) + ".zip"), "");
    EXPECT_EQ(DatedArchiveName(folder, dest, day), "2005_03_17_docs_101.zip") << "no upper bound";

    // Only files count: a folder of the candidate's name does not move the number on.
    fs::create_directory(dir / "2005_03_18_docs.zip");
    EXPECT_EQ(DatedArchiveName(folder, dest, "2005_03_18"), "2005_03_18_docs.zip");
    EXPECT_EQ(DatedArchiveName("/", dest, "2005_03_18"), "2005_03_18_root.zip");
}

TEST(ArchiveNames, NewestDatedArchiveIsTheLatestDateThenTheHighestNumber) {
    const struct {
        const char* name;
        std::vector<std::string> files;
        const char* newest;
    } cases[] = {
        {"none", {"docs.zip", "2005_03_17_other.zip"}, ""},
        {"later date wins over a higher number", {"2005_03_17_docs_09.zip", "2005_03_18_docs.zip"}, "2005_03_18_docs.zip"},
        {"numbers compare as numbers", {"2005_03_17_docs_99.zip", "2005_03_17_docs_100.zip", "2005_03_17_docs.zip"},
         "2005_03_17_docs_100.zip"},
        {"other forms do not count", {"2005_03_17_docs.zip", "2005_03_19_docs_x.zip", "2005_3_20_docs.zip", ".2005_03_21_docs.zip"},
         "2005_03_17_docs.zip"},
    };
    for (const auto& c : cases) {
        testsupport::TempDir dir;
        for (const std::string& f : c.files) testsupport::writeFile(dir / f, "x");
        EXPECT_EQ(NewestDatedArchive("/data/Docs/", dir.slashed()), c.newest) << c.name;
    }
    testsupport::TempDir dir;
    std::filesystem::create_directories(dir / "2005_03_18_docs.zip");
    testsupport::writeFile(dir / "2005_03_17_docs.zip", "x");
    EXPECT_EQ(NewestDatedArchive("/data/Docs/", dir.slashed()), "2005_03_17_docs.zip") << "a folder is no archive";
}

TEST(ArchiveNames, FreeNameTakesTheFirstNumberNotTaken) {
    struct Case {
        const char* name;
        std::set<std::string> taken;
        const char* expected;
    } cases[] = {
        {"docs.zip", {}, "docs.zip"},
        {"docs.zip", {"other.zip", "docs_02.zip"}, "docs.zip"},
        {"docs.zip", {"docs.zip"}, "docs_02.zip"},
        {"docs.zip", {"docs.zip", "docs_02.zip", "docs_04.zip"}, "docs_03.zip"},
        {"2005_03_17_docs.zip", {"2005_03_17_docs.zip"}, "2005_03_17_docs_02.zip"},
        {"my docs.zip", {"my docs.zip"}, "my docs_02.zip"},
    };
    for (const Case& c : cases) EXPECT_EQ(FreeArchiveName(c.name, c.taken), c.expected) << c.name;
    std::set<std::string> many = {"docs.zip"};
    for (int k = 2; k <= 120; ++k) many.insert("docs_" + ZeroPad(k, 2) + ".zip");
    EXPECT_EQ(FreeArchiveName("docs.zip", many), "docs_121.zip");
}

TEST(ArchiveNames, TodayIsTheLocalDateWithUnderscores) {
    const std::string before = TodayText(), today = TodayText(), after = TodayText();
    EXPECT_TRUE(std::regex_match(today, std::regex(R"(\d{4}_\d{2}_\d{2})"))) << today;
    EXPECT_TRUE(today == before || today == after) << "the same day, also around midnight";
}

}  // namespace
