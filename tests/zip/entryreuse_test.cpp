// Entries taken over from an earlier archive: the result equals a full run's archive byte for byte,
// and nothing but an unchanged file's own, intact entry is ever taken.
#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "testsupport.h"
#include "zip/entryreuse.h"
#include "zip/zipwriter.h"

namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;

const fs::file_time_type kFixedTime = fs::file_time_type::clock::now() - std::chrono::hours(24 * 30);

std::string text(size_t size, int seed) {
    std::string t;
    for (int i = 0; t.size() < size; ++i) t += "Line " + std::to_string((i * seed) % 613) + " of the tree, words repeat.\n";
    t.resize(size);
    return t;
}

// A tree packed once, then changed: four files stay as they are (two texts, a small random file
// the compressor stores, an empty file), one changes, one goes, one comes, one is only touched
// and one gets other bytes of the same size under the same time.
void makeTree(const fs::path& root) {
    testsupport::writeFile(root / "keep.txt", text(120000, 7));
    testsupport::writeFile(root / "sub/keep2.txt", text(30000, 11));
    testsupport::writeBytes(root / "small.bin", testsupport::randomBytes(3000, 5));
    testsupport::writeFile(root / "empty", "");
    testsupport::writeFile(root / "changed.txt", text(40000, 13));
    testsupport::writeFile(root / "gone.txt", text(20000, 17));
    testsupport::writeFile(root / "touched.txt", text(25000, 19));
    testsupport::writeFile(root / "sneaky.txt", text(26000, 23));
    for (const auto& e : fs::recursive_directory_iterator(root)) fs::last_write_time(e.path(), kFixedTime);
}

void changeTree(const fs::path& root) {
    testsupport::writeFile(root / "changed.txt", text(41000, 13));
    fs::remove(root / "gone.txt");
    testsupport::writeFile(root / "added.txt", text(9000, 29));
    fs::last_write_time(root / "touched.txt", kFixedTime + std::chrono::hours(1));
    std::string other = text(26000, 23);
    other[13000] = other[13000] == 'x' ? 'y' : 'x';
    testsupport::writeFile(root / "sneaky.txt", other);
    fs::last_write_time(root / "sneaky.txt", kFixedTime);
}
constexpr int kUnchanged = 4;

struct Job {
    Job(int level_, std::string password_ = {}, TZipEncryption encryption_ = TZipEncryption::zeTraditional,
        std::string reuseFrom_ = {})
        : level(level_), password(std::move(password_)), encryption(encryption_), reuseFrom(std::move(reuseFrom_)) {}
    int level;
    std::string password;
    TZipEncryption encryption;
    std::string reuseFrom;
};

// Packs the folder as the backup run does; returns the entries taken over.
int64_t pack(const fs::path& archive, const fs::path& folder, const Job& job, std::vector<std::string>* faults = nullptr) {
    TZipWriter w;
    w.SetZipName(archive.string());
    w.AddDirEntriesOnRecurse = true;
    w.Recurse = true;
    w.SetStorePaths(true);
    w.SetRelativePaths(true);
    w.SetRootDir(folder.parent_path().string());
    w.SetPackLevel(job.level);
    w.Password = job.password;
    w.Encryption = job.encryption;
    w.ReuseFrom = job.reuseFrom;
    w.OnReuseFault = [&](TZipReader*, const std::string& name, const std::string& detail) {
        if (faults) faults->push_back(name + ": " + detail);
    };
    w.FilesList = {folder.string() + "/*.*"};
    w.Zip();
    return w.EntriesReused();
}

void expectUnzipAccepts(const fs::path& archive, const std::string& password = {}) {
    const std::string p = password.empty() ? "" : " -P " + testsupport::shellQuote(password);
    const auto r = testsupport::runCommand("unzip -tqq" + p + " " + testsupport::shellQuote(archive.string()));
    EXPECT_EQ(r.exitCode, 0) << r.output;
}

TEST(EntryReuse, SyncedArchiveEqualsAFullRunByteForByte) {
    const struct {
        const char* name;
        int level;
        int64_t reused;  // levels 3 to 7 repack what their compressor stored: it looks like a no-compress entry
    } cases[] = {{"level 9", 9, kUnchanged}, {"maximum level", 10, kUnchanged}, {"stored", 0, kUnchanged}, {"level 6", 6, 2}};
    for (const auto& c : cases) {
        TempDir dir;
        makeTree(dir / "data");
        pack(dir / "earlier.zip", dir / "data", {c.level});
        changeTree(dir / "data");
        std::vector<std::string> faults;
        EXPECT_EQ(pack(dir / "sync.zip", dir / "data", {c.level, {}, TZipEncryption::zeTraditional, (dir / "earlier.zip").string()}, &faults),
                  c.reused)
            << c.name;
        EXPECT_TRUE(faults.empty()) << c.name << ": a changed file is no damaged entry";
        pack(dir / "full.zip", dir / "data", {c.level});
        EXPECT_TRUE(testsupport::readBytes(dir / "sync.zip") == testsupport::readBytes(dir / "full.zip")) << c.name;
        expectUnzipAccepts(dir / "sync.zip");
        // The synced archive is marked in turn: a second sync takes every file over.
        EXPECT_EQ(pack(dir / "again.zip", dir / "data", {c.level, {}, TZipEncryption::zeTraditional, (dir / "sync.zip").string()}),
                  c.level == 6 ? 6 : 8)
            << c.name;
    }
}

TEST(EntryReuse, LevelUnknownOrOtherTakesOnlyStoredEntries) {
    const struct {
        const char* name;
        int earlier, now;
        bool spoilMark;
        int64_t reused;
    } cases[] = {
        {"mark missing, level 9", 9, 9, true, 0},
        {"mark missing, stored", 0, 0, true, kUnchanged},
        {"level 6 then 9", 6, 9, false, 0},
        {"level 9 then 6", 9, 6, false, 0},
        {"level 9 then stored", 9, 0, false, 2},  // the files the compressor stored
    };
    for (const auto& c : cases) {
        TempDir dir;
        makeTree(dir / "data");
        pack(dir / "earlier.zip", dir / "data", {c.earlier});
        if (c.spoilMark) platform::fileSystem().setMark((dir / "earlier.zip").string(), entryreuse::kLevelMarkName, "other");
        changeTree(dir / "data");
        EXPECT_EQ(pack(dir / "sync.zip", dir / "data", {c.now, {}, TZipEncryption::zeTraditional, (dir / "earlier.zip").string()}), c.reused) << c.name;
        pack(dir / "full.zip", dir / "data", {c.now});
        EXPECT_TRUE(testsupport::readBytes(dir / "sync.zip") == testsupport::readBytes(dir / "full.zip")) << c.name;
    }
}

TEST(EntryReuse, DamagedEntryIsPackedFromTheFileAndNamed) {
    TempDir dir;
    makeTree(dir / "data");
    const fs::path earlier = dir / "earlier.zip";
    pack(earlier, dir / "data", {9});
    // One byte in the middle of keep.txt's data flipped; the file's time put back, so that the mark still fits.
    uint64_t at = 0;
    {
        TBufferedFileStream in(earlier.string(), TFileMode::fmOpenRead);
        TArchiveReader reader(in);
        for (const TArchiveEntry& e : reader.Entries())
            if (e.name == "data/keep.txt") at = reader.DataOffset(e) + e.compressedSize / 2;
    }
    ASSERT_NE(at, 0u);
    const auto time = fs::last_write_time(earlier);
    std::vector<uint8_t> bytes = testsupport::readBytes(earlier);
    bytes[at] ^= 0x40;
    testsupport::writeBytes(earlier, bytes);
    fs::last_write_time(earlier, time);

    std::vector<std::string> faults;
    EXPECT_EQ(pack(dir / "sync.zip", dir / "data", {9, {}, TZipEncryption::zeTraditional, earlier.string()}, &faults), 7);
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_NE(faults[0].find("data/keep.txt: "), std::string::npos) << faults[0];
    pack(dir / "full.zip", dir / "data", {9});
    EXPECT_TRUE(testsupport::readBytes(dir / "sync.zip") == testsupport::readBytes(dir / "full.zip"));
    expectUnzipAccepts(dir / "sync.zip");
}

TEST(EntryReuse, EncryptedEntriesAreTakenOnlyUnderTheSamePassword) {
    const struct {
        const char* name;
        TZipEncryption encryption;
        const char* password;
        int64_t reused;
    } cases[] = {
        {"traditional, same password", TZipEncryption::zeTraditional, "secret", 8},
        {"traditional, other password", TZipEncryption::zeTraditional, "other", 0},
        {"AES, same password", TZipEncryption::zeAes256, "secret", 8},
        {"AES, other password", TZipEncryption::zeAes256, "other", 0},
    };
    for (const auto& c : cases) {
        TempDir dir;
        makeTree(dir / "data");
        pack(dir / "earlier.zip", dir / "data", {9, "secret", c.encryption});
        std::vector<std::string> faults;
        EXPECT_EQ(pack(dir / "sync.zip", dir / "data", {9, c.password, c.encryption, (dir / "earlier.zip").string()}, &faults),
                  c.reused)
            << c.name;
        EXPECT_TRUE(faults.empty()) << c.name << ": another password is no damage";
        // No cipher on the other side of a run changes anything either.
        EXPECT_EQ(pack(dir / "plain.zip", dir / "data", {9, {}, TZipEncryption::zeTraditional, (dir / "earlier.zip").string()}), 0) << c.name;
        const std::string a = testsupport::shellQuote((dir / "sync.zip").string());
        const auto seven = testsupport::runCommand(std::string("7zz t -bd -p") + c.password + " " + a);
        EXPECT_EQ(seven.exitCode, 0) << c.name << ": " << seven.output;
        if (c.encryption == TZipEncryption::zeTraditional) expectUnzipAccepts(dir / "sync.zip", c.password);
    }
}

TEST(EntryReuse, IndexServesManyThreadsAtOnce) {
    TempDir dir;
    makeTree(dir / "data");
    pack(dir / "earlier.zip", dir / "data", {9});
    const entryreuse::TReuseIndex index((dir / "earlier.zip").string(), 9, TZipWriter().MaximumLevelLimit);
    ASSERT_TRUE(index.LevelKnown());
    std::atomic<int> holds{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            entryreuse::TReuseReader reader(index);
            for (const TArchiveEntry& e : index.Directory().Entries()) {
                std::string detail;
                if (!e.IsFolder() && index.Find(e.storedName) == &e &&
                    reader.Check(e, {}, e.crc32, detail) == entryreuse::TVerdict::Holds)
                    ++holds;
            }
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(holds, 4 * 8);
}

}  // namespace
