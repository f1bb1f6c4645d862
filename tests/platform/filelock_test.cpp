#include "platform/filelock.h"

#include "faultyfilesystem.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

// The id of a process that has ended (and was reaped): no process has it, for now.
long endedProcess() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    return child;
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(FileLock, ASecondHolderWaitsOrIsRefusedUntilTheFirstLetsGo) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir / "a", "a");
    const std::string a = (dir / "a").string();
    platform::FileLock first, second;
    EXPECT_EQ(first.Acquire(a, false), 0);
    EXPECT_TRUE(first.Held());
    EXPECT_EQ(second.Acquire(a, false), -EWOULDBLOCK);
    EXPECT_FALSE(second.Held());
    EXPECT_TRUE(first.Names(a));
    EXPECT_EQ(first.Size(), 1u);
    testsupport::writeFile(dir / "b", "bb");
    fs::rename(dir / "b", a);
    EXPECT_FALSE(first.Names(a)) << "another file took the name";
    first.Release();
    EXPECT_EQ(second.Acquire((dir / "c").string(), false), -ENOENT);
}

TEST(FileLock, TemporariesOfWritersThatAreGoneAreRemovedAndNoOthers) {
    testsupport::TempDir dir;
    const std::string ended = std::to_string(endedProcess());
    const std::string alive = std::to_string(getppid());
    const std::vector<std::string> removed = {"FVZ" + ended + "-aB3xYz"};
    const std::vector<std::string> kept = {
        platform::TemporaryPrefix("FVZ") + "own123",  // this process's own
        "FVZ" + alive + "-live12",                   // a live process's
        "FVZ" + ended + "-locked",                   // its lock is held: written from elsewhere
        "FVZabc123",                                 // another form of name
        "FVZ" + ended + "-",                         // nothing after the id
        ".folvio-" + ended + "-other1",              // another stem
    };
    for (const auto& n : removed) testsupport::writeFile(dir / n, "x");
    for (const auto& n : kept) testsupport::writeFile(dir / n, "x");
    fs::create_directory(dir / ("FVZ" + ended + "-folder"));
    platform::FileLock elsewhere;
    ASSERT_EQ(elsewhere.Acquire((dir / ("FVZ" + ended + "-locked")).string(), false), 0);

    EXPECT_EQ(platform::RemoveStaleTemporaries(dir.path().string(), "FVZ"), 1);
    std::vector<std::string> expected = kept;
    expected.push_back("FVZ" + ended + "-folder");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(namesIn(dir.path()), expected);
    EXPECT_EQ(platform::TemporaryPrefix("FVZ"), "FVZ" + std::to_string(getpid()) + "-");
    EXPECT_EQ(platform::RemoveStaleTemporaries((dir / "missing").string(), "FVZ"), 0);
}
