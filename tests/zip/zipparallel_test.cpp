// Packing on worker threads: the same archive bytes and the same events as one file at a time,
// the memory limit kept, and a cancel or a fault at any point leaving nothing behind.
#include <algorithm>
#include <atomic>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "faultyfilesystem.h"
#include "testsupport.h"
#include "zip/archivereader.h"
#include "zip/ziperrors.h"
#include "zip/zipwriter.h"

namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;
using Bytes = std::vector<uint8_t>;

constexpr std::time_t kFixedTime = 1600000000;

// Many small files of text and noise, a few larger ones, empty files and folders (one empty),
// all with fixed times so that two trees made alike pack alike.
void makeTree(const fs::path& root) {
    std::string text;
    for (int i = 0; text.size() < 1500000; ++i) text += "row " + std::to_string(i % 4099) + " of a long text file\n";
    testsupport::writeFile(root / "big/text.txt", text);
    testsupport::writeBytes(root / "big/noise.bin", testsupport::randomBytes(700000, 3));
    for (int i = 0; i < 160; ++i) {
        const std::string n = std::to_string(i);
        const fs::path dir = root / fs::path("d").concat(std::to_string(i % 7)) / (i % 3 ? "sub" : "");
        if (i % 4 == 0) testsupport::writeBytes(dir / fs::path("n").concat(n).concat(".bin"), testsupport::randomBytes(100 + static_cast<size_t>(i) * 97, static_cast<uint32_t>(i)));
        else testsupport::writeFile(dir / fs::path("t").concat(n).concat(".txt"), text.substr(static_cast<size_t>(i) * 131, 50 + static_cast<size_t>(i) * 211));
        if (i % 20 == 0) testsupport::writeFile(dir / fs::path("e").concat(n), "");
    }
    fs::create_directories(root / "empty/folder");
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        struct timespec t[2] = {{kFixedTime, 0}, {kFixedTime, 0}};
        utimensat(AT_FDCWD, e.path().c_str(), t, 0);
    }
}

struct Job {
    Job(int l, unsigned t, size_t limit = parallelpack::kDefaultMemoryLimit, std::string p = {}, bool a = false)
        : level(l), threads(t), memoryLimit(limit), password(std::move(p)), aes(a) {}
    int level;
    unsigned threads;
    size_t memoryLimit;
    std::string password;
    bool aes;
};

void setUp(TZipWriter& w, const fs::path& tree, const fs::path& archive, const Job& job) {
    w.SetZipName(archive.string());
    w.SetRootDir(tree.string() + "/");
    w.SetRelativePaths(true);
    w.AddDirEntriesOnRecurse = true;
    w.SetPackLevel(job.level);
    w.Threads = job.threads;
    w.ParallelMemoryLimit = job.memoryLimit;
    w.Password = job.password;
    if (job.aes) w.Encryption = TZipEncryption::zeAes256;
    w.NoCompressList = {"*.bin"};  // only at some levels, so that both ways are taken
    if (job.level % 2) w.NoCompressList.clear();
    w.FilesList = {tree.string() + "/*.*"};
}

Bytes pack(const fs::path& tree, const fs::path& archive, const Job& job, size_t* peak = nullptr) {
    fs::remove(archive);
    TZipWriter w;
    setUp(w, tree, archive, job);
    w.Zip();
    if (peak) *peak = w.LastParallelPeak();
    return testsupport::readBytes(archive);
}

class EveryLevel : public testing::TestWithParam<int> {};

TEST_P(EveryLevel, ArchivesAreTheSameBytesAtEveryThreadCount) {
    TempDir dir;
    makeTree(dir.path() / "tree");
    const fs::path archive = dir.path() / "a.zip";
    const Bytes serial = pack(dir.path() / "tree", archive, {GetParam(), 1});
    for (unsigned threads : {2u, 3u, 8u}) {
        size_t peak = 0;
        EXPECT_TRUE(pack(dir.path() / "tree", archive, {GetParam(), threads}, &peak) == serial) << threads << " threads";
        EXPECT_GT(peak, 0u);
    }
    // A limit the larger files do not fit in: those are packed by the writer's own thread.
    size_t peak = 0;
    EXPECT_TRUE(pack(dir.path() / "tree", archive, {GetParam(), 3, 400000}, &peak) == serial) << "small memory limit";
    EXPECT_LE(peak, 400000u);
    EXPECT_EQ(testsupport::runCommand("unzip -tq " + testsupport::shellQuote(archive.string())).exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(Levels, EveryLevel, testing::Values(0, 1, 2, 3, 6, 8, 9, 10),
                         [](const testing::TestParamInfo<int>& info) { return "Level" + std::to_string(info.param); });

TEST(ParallelPack, UpdatesAndFreshensAreTheSameBytes) {
    TempDir dir;
    const fs::path tree = dir.path() / "tree";
    makeTree(tree);
    Bytes results[2];
    for (unsigned threads : {1u, 3u}) {
        const fs::path archive = dir.path() / fs::path("u").concat(std::to_string(threads)).concat(".zip");
        {
            TZipWriter w;
            setUp(w, tree, archive, {6, threads});
            w.FilesList = {(tree / "d1/*.*").string(), (tree / "big/*.*").string()};
            w.Zip();
        }
        TZipWriter w;
        setUp(w, tree, archive, {9, threads});
        w.ZipAction = TZipAction::zaReplace;
        w.FilesList = {(tree / "d1/*.*").string(), (tree / "d2/*.*").string()};
        w.Zip();
        TZipWriter f;
        setUp(f, tree, archive, {3, threads});
        f.ZipAction = TZipAction::zaFreshen;
        testsupport::writeFile(tree / "big/text.txt", "rewritten since\n");
        struct timespec t[2] = {{kFixedTime + 100, 0}, {kFixedTime + 100, 0}};
        utimensat(AT_FDCWD, (tree / "big/text.txt").c_str(), t, 0);
        f.Zip();
        results[threads == 1 ? 0 : 1] = testsupport::readBytes(archive);
        makeTree(tree);  // the next round starts from the same tree
    }
    EXPECT_TRUE(results[0] == results[1]);
}

TEST(ParallelPack, EntriesTakenOverFromAnEarlierArchiveAreCheckedByTheWorkers) {
    TempDir dir;
    const fs::path tree = dir.path() / "tree", earlier = dir.path() / "earlier.zip";
    makeTree(tree);
    pack(tree, earlier, {9, 3});
    // A byte of one entry's data flipped, the archive's time kept: its mark still holds.
    {
        const auto time = fs::last_write_time(earlier);
        TBufferedFileStream stream(earlier.string(), TFileMode::fmOpenRead);
        TArchiveReader reader(stream);
        uint64_t at = 0;
        for (const TArchiveEntry& e : reader.Entries())
            if (e.name == "big/text.txt") at = reader.DataOffset(e) + 100;
        ASSERT_NE(at, 0u);
        Bytes bytes = testsupport::readBytes(earlier);
        bytes[at] ^= 0x40;
        testsupport::writeBytes(earlier, bytes);
        fs::last_write_time(earlier, time);
    }
    testsupport::writeFile(tree / "d1/sub/t1.txt", "changed since\n");
    const Bytes full = pack(tree, dir.path() / "full.zip", {9, 1});
    for (unsigned threads : {1u, 3u}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        const fs::path archive = dir.path() / "synced.zip";
        fs::remove(archive);
        TZipWriter w;
        setUp(w, tree, archive, {9, threads});
        w.ReuseFrom = earlier.string();
        std::vector<std::string> faults;
        w.OnReuseFault = [&](TZipReader*, const std::string& name, const std::string&) { faults.push_back(name); };
        w.Zip();
        EXPECT_TRUE(testsupport::readBytes(archive) == full);
        EXPECT_GT(w.EntriesReused(), 100);
        ASSERT_EQ(faults.size(), 1u);
        EXPECT_NE(faults[0].find("big/text.txt"), std::string::npos) << faults[0];
    }
}

// What an archive says of its entries, without their data (which the random headers change).
std::vector<std::string> directoryOf(const fs::path& archive, const std::string& password) {
    TBufferedFileStream stream(archive.string(), TFileMode::fmOpenRead);
    TArchiveReader reader(stream);
    std::vector<std::string> out;
    for (const TArchiveEntry& e : reader.Entries()) {
        reader.Test(e, password);
        out.push_back(e.name + " " + std::to_string(e.flags) + " " + std::to_string(e.method) + " " +
                      std::to_string(e.crc32) + " " + std::to_string(e.compressedSize) + " " +
                      std::to_string(e.uncompressedSize) + " " + std::to_string(e.localHeaderOffset) + " " +
                      std::to_string(e.aesMethod));
    }
    return out;
}

TEST(ParallelPack, EncryptedEntriesDifferOnlyInTheirRandomHeaders) {
    TempDir dir;
    makeTree(dir.path() / "tree");
    for (bool aes : {false, true}) {
        const fs::path one = dir.path() / "one.zip", three = dir.path() / "three.zip";
        pack(dir.path() / "tree", one, {9, 1, parallelpack::kDefaultMemoryLimit, "s3cret", aes});
        pack(dir.path() / "tree", three, {9, 3, parallelpack::kDefaultMemoryLimit, "s3cret", aes});
        EXPECT_EQ(directoryOf(one, "s3cret"), directoryOf(three, "s3cret")) << (aes ? "AES" : "traditional");
        const std::string q = testsupport::shellQuote(three.string());
        const auto checked = aes ? testsupport::runCommand("7zz t -ps3cret " + q) : testsupport::runCommand("unzip -tq -P s3cret " + q);
        EXPECT_EQ(checked.exitCode, 0) << checked.output;
    }
}

// Every event as it came, with the thread it came on.
struct EventLog {
    std::vector<std::string> files;
    std::vector<int> totals;
    bool otherThread = false;
    void attach(TZipWriter& w) {
        const auto self = std::this_thread::get_id();
        auto mine = [this, self] { otherThread |= std::this_thread::get_id() != self; };
        w.OnStartZip = [=, this](TZipReader*, const std::string& name, TZipHeaderInfo&, bool&) {
            mine();
            files.push_back("start " + name);
        };
        w.OnEndZip = [=, this](TZipReader*, const std::string& name, uint64_t size, uint64_t packed, uint64_t) {
            mine();
            files.push_back("end " + name + " " + std::to_string(size) + " " + std::to_string(packed));
        };
        w.OnTotalPercentDone = [=, this](TZipReader*, int percent) {
            mine();
            totals.push_back(percent);
        };
        w.OnFilePercentDone = [=](TZipReader*, int) { mine(); };
        w.ProcessMessages = [=] { mine(); };
    }
};

TEST(ParallelPack, EventsComeInEntryOrderFromTheWritersThread) {
    TempDir dir;
    makeTree(dir.path() / "tree");
    EventLog logs[2];
    for (int i = 0; i < 2; ++i) {
        TZipWriter w;
        setUp(w, dir.path() / "tree", dir.path() / fs::path("e").concat(std::to_string(i)).concat(".zip"), {9, i == 0 ? 1u : 3u, 300000});
        w.TestAfterWriting = true;
        logs[i].attach(w);
        w.Zip();
    }
    EXPECT_EQ(logs[0].files, logs[1].files);
    EXPECT_FALSE(logs[1].otherThread);
    ASSERT_FALSE(logs[1].totals.empty());
    EXPECT_TRUE(std::is_sorted(logs[1].totals.begin(), logs[1].totals.end()));
    EXPECT_EQ(logs[1].totals.back(), 100);
}

// The names in a folder, the archive's own temporaries included.
std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ParallelPack, CancelsAndFaultsAtAnyPointLeaveTheEarlierArchive) {
    TempDir dir;
    const fs::path tree = dir.path() / "tree", out = dir.path() / "out", archive = out / "a.zip";
    makeTree(tree);
    fs::create_directories(out);
    {
        TZipWriter w;
        setUp(w, tree, archive, {1, 1});
        w.FilesList = {(tree / "d3/*.*").string()};
        w.Zip();
    }
    const Bytes earlier = testsupport::readBytes(archive);
    const std::vector<std::string> before = namesIn(out);
    int total = 0;  // the progress events of the job when nothing goes wrong
    {
        TZipWriter w;
        setUp(w, tree, dir.path() / "scratch.zip", {9, 3, 500000});
        w.OnTotalPercentDone = [&](TZipReader*, int) { ++total; };
        w.Zip();
    }
    ASSERT_GT(total, 100);
    struct Case {
        const char* fault;
        int at;  // the progress event the fault comes at, or the bytes the disk takes
    };
    const Case cases[] = {{"cancel", 1}, {"cancel", total / 3}, {"cancel", total * 2 / 3}, {"cancel", total - 5},
                          {"full disk", 1000}, {"full disk", 400000}, {"unreadable file", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fault) + " at " + std::to_string(c.at));
        testsupport::FaultyFileSystem faulty;
        platform::ScopedFileSystem installed(faulty);
        const std::string fault = c.fault;
        if (fault == "full disk") faulty.writeBudget = static_cast<uint64_t>(c.at);
        if (fault == "unreadable file") faulty.readErrorAfter[(tree / "d5/sub/t47.txt").string()] = 100;
        TZipWriter w;
        setUp(w, tree, archive, {9, 3, 500000});
        w.ZipAction = TZipAction::zaReplace;
        int events = 0;
        w.OnTotalPercentDone = [&](TZipReader*, int) {
            if (fault == "cancel" && ++events == c.at) w.CancelTheOperation();
        };
        const std::string error = testsupport::errorOf([&] { w.Zip(); });
        EXPECT_NE(error, "no error");
        if (fault == "unreadable file") {
            EXPECT_NE(error.find("t47.txt"), std::string::npos) << error;
        }
        EXPECT_TRUE(testsupport::readBytes(archive) == earlier);
        EXPECT_EQ(namesIn(out), before);
        // The writer is ready for the next job.
        faulty.writeBudget.reset();
        faulty.readErrorAfter.clear();
    }
}

}  // namespace
