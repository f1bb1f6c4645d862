#include "platform/dirsearch.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "faultyfilesystem.h"
#include "testsupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;

std::vector<std::string> walk(const std::string& folder, const std::string& mask, bool recurse,
                              const std::string& strip) {
    TDirSearch search(folder, mask, recurse);
    platform::FindRecord rec;
    std::vector<std::string> out;
    for (std::string p; !(p = search.NextFile(rec)).empty();) out.push_back(p.substr(strip.size()));
    return out;
}

std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

// Every folder comes before its contents, and a folder's subtree is not interrupted.
void expectPreOrder(const std::vector<std::string>& paths) {
    for (size_t i = 0; i < paths.size(); ++i) {
        const std::string& p = paths[i];
        size_t slash = p.find_last_of('/', p.size() - 2);
        if (slash == std::string::npos) continue;
        std::string parent = p.substr(0, slash + 1);
        auto at = std::find(paths.begin(), paths.end(), parent);
        ASSERT_NE(at, paths.end()) << p;
        EXPECT_LT(size_t(at - paths.begin()), i) << p;
        for (auto it = at + 1; it != paths.begin() + long(i); ++it)
            EXPECT_EQ(it->rfind(parent, 0), 0u) << *it << " interrupts " << parent;
    }
}

class Walker : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* f : {"a.txt", "README", "notes.", ".hidden", "Sub/b.txt", "Sub/Deep/c.log", "Sub/Deep/d.txt",
                              "Other/e.txt", "Empty/.keep"})
            testsupport::writeFile(dir / f, f);
        fs::remove(dir / "Empty/.keep");
    }
    TempDir dir;
};

TEST_F(Walker, RecursiveWalkIsPreOrderAndNeverReturnsTheStart) {
    auto paths = walk(dir.path().string(), "*", true, dir.slashed());
    EXPECT_EQ(sorted(paths), sorted({"a.txt", "README", "notes.", ".hidden", "Sub/", "Sub/b.txt", "Sub/Deep/",
                                     "Sub/Deep/c.log", "Sub/Deep/d.txt", "Other/", "Other/e.txt", "Empty/"}));
    expectPreOrder(paths);
}

TEST_F(Walker, TheListingOrderIsKeptNotSorted) {
    auto forward = walk(dir.path().string(), "*", true, dir.slashed());
    testsupport::FaultyFileSystem reversed;
    reversed.reverseListings = true;
    platform::ScopedFileSystem use(reversed);
    auto backward = walk(dir.path().string(), "*", true, dir.slashed());
    EXPECT_NE(forward, backward);
    EXPECT_EQ(sorted(forward), sorted(backward));
    expectPreOrder(backward);
}

TEST_F(Walker, MasksSeeNamesWithoutExtensionWithADot) {
    struct Case {
        const char* mask;
        bool recurse;
        std::vector<std::string> expected;
    } cases[] = {
        {"*", false, {".hidden", "README", "a.txt", "notes."}},
        {"*.", false, {"README", "notes."}},  // names kept exactly as on disk
        {"*.TXT", false, {"a.txt"}},
        {"*.txt", true, {"Empty/", "Other/", "Other/e.txt", "Sub/", "Sub/Deep/", "Sub/Deep/d.txt", "Sub/b.txt", "a.txt"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sorted(walk(dir.path().string(), c.mask, c.recurse, dir.slashed())), c.expected) << c.mask;
}

TEST_F(Walker, WildcardFoldersAreSearchedButNotReturned) {
    testsupport::writeFile(dir / "Sub2/x.txt", "");
    EXPECT_EQ(sorted(walk(dir.slashed() + "Sub*", "*.txt", false, dir.slashed())),
              (std::vector<std::string>{"Sub/b.txt", "Sub2/x.txt"}));
    EXPECT_EQ(sorted(walk(dir.slashed() + "S*/D*", "*", false, dir.slashed())),
              (std::vector<std::string>{"Sub/Deep/c.log", "Sub/Deep/d.txt"}));
    EXPECT_EQ(walk(dir.slashed() + "Nothing*", "*", true, dir.slashed()), std::vector<std::string>{});
}

// Linux folder names may hold the wildcard characters: a start folder that exists is walked as it
// is named, not taken for a pattern that finds nothing or other folders.
TEST(WalkerNames, FoldersNamedWithWildcardCharactersAreWalkedAsTheyAre) {
    for (const char* name : {"we<1>", "q?d", "a*b", "p|q", "x<y"}) {
        TempDir dir;
        testsupport::writeFile(dir / name / "s/f.txt", "f");
        testsupport::writeFile(dir / "qxd/other.txt", "o");
        std::string start = dir.slashed() + name;
        EXPECT_EQ(sorted(walk(start, "*", true, start + "/")), (std::vector<std::string>{"s/", "s/f.txt"})) << name;
    }
}

TEST_F(Walker, MissingAndUnlistableFolders) {
    EXPECT_TRUE(walk((dir / "missing").string(), "*", true, "").empty());
    testsupport::FaultyFileSystem faulty;
    faulty.listErrors[(dir / "Sub").string()] = EACCES;
    platform::ScopedFileSystem use(faulty);
    auto paths = walk(dir.path().string(), "*", true, dir.slashed());
    EXPECT_NE(std::find(paths.begin(), paths.end(), "Sub/"), paths.end());  // returned, then empty
    EXPECT_EQ(std::count_if(paths.begin(), paths.end(), [](auto& p) { return p.rfind("Sub/", 0) == 0; }), 1);
}

// What the walk returns with the kind each path came back with ("!" marks kind Other).
std::vector<std::string> walkMarked(const std::string& folder, const std::string& strip) {
    TDirSearch search(folder, "*", true);
    platform::FindRecord rec;
    std::vector<std::string> out;
    for (std::string p; !(p = search.NextFile(rec)).empty();)
        out.push_back(p.substr(strip.size()) + (rec.kind == platform::FileKind::Other ? "!" : ""));
    return sorted(out);
}

TEST_F(Walker, FoldersThatCannotBeListedComeBackMarkedAndAreNotEntered) {
    testsupport::FaultyFileSystem faulty;
    platform::ScopedFileSystem use(faulty);
    faulty.listErrors[(dir / "Sub").string()] = EACCES;
    EXPECT_EQ(walkMarked((dir / "Sub").string(), ""), (std::vector<std::string>{(dir / "Sub").string() + "/!"}))
        << "the start folder itself";
    EXPECT_EQ(walkMarked(dir.path().string(), dir.slashed()),
              sorted({"a.txt", "README", "notes.", ".hidden", "Sub/!", "Other/", "Other/e.txt", "Empty/"}));
    faulty.listErrors.clear();
    faulty.listErrors[(dir / "Sub/Deep").string()] = EACCES;
    TDirSearch patterned(dir.slashed() + "S*/D*", "*", true);
    platform::FindRecord rec;
    EXPECT_EQ(patterned.NextFile(rec), dir.slashed() + "Sub/Deep/") << "a pattern level's folder";
    EXPECT_EQ(rec.kind, platform::FileKind::Other);
    EXPECT_EQ(patterned.NextFile(rec), "");
    EXPECT_TRUE(walk((dir / "missing").string(), "*", true, "").empty()) << "a missing start is no fault";
}

TEST(WalkerDepth, DeepTreesAreWalkedCompletely) {
    TempDir dir;
    std::string rel;
    for (int level = 0; level < 60; ++level) rel.append("d").append(std::to_string(level)).append("/");
    testsupport::writeFile(dir / (rel + "bottom.txt"), "x");
    auto paths = walk(dir.path().string(), "*", true, dir.slashed());
    ASSERT_EQ(paths.size(), 61u);
    EXPECT_EQ(paths.back(), rel + "bottom.txt");
}

TEST(WalkerLinks, LinksToFoldersAreNotEnteredAndComeBackAsNames) {
    TempDir dir;
    testsupport::writeFile(dir / "tree/a.txt", "");
    fs::create_symlink("..", dir / "tree/up");                   // a loop
    fs::create_symlink(dir.path() / "elsewhere", dir / "tree/out");  // out of the tree
    testsupport::writeFile(dir / "elsewhere/secret", "");
    fs::create_symlink("a.txt", dir / "tree/alias.txt");
    ASSERT_EQ(mkfifo((dir / "tree/pipe").c_str(), 0644), 0);
    auto paths = walk((dir / "tree").string(), "*", true, (dir / "tree").string() + "/");
    EXPECT_EQ(sorted(paths), (std::vector<std::string>{"a.txt", "alias.txt", "out", "pipe", "up"}));
}

TEST(WalkerRelative, AnEmptyFolderMeansTheCurrentOneWithoutPrefix) {
    TempDir dir;
    testsupport::writeFile(dir / "x.txt", "");
    auto cwd = fs::current_path();
    fs::current_path(dir.path());
    auto paths = walk("", "*", true, "");
    fs::current_path(cwd);
    EXPECT_EQ(paths, std::vector<std::string>{"x.txt"});
}

}  // namespace
