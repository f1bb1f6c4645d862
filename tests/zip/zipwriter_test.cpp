#include "zip/zipwriter.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <zlib.h>

#include "deflateinputs.h"
#include "faultyfilesystem.h"
#include "rawinflate.h"
#include "testsupport.h"
#include "zip/ziperrors.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using testsupport::TempDir;

uint16_t get16(const Bytes& b, size_t at) { return uint16_t(b.at(at) | b.at(at + 1) << 8); }
uint32_t get32(const Bytes& b, size_t at) { return get16(b, at) | uint32_t(get16(b, at + 2)) << 16; }

struct Entry {
    std::string name;
    uint16_t madeBy, flag, method, internal;
    uint32_t dosTime, crc, compressed, size, external, offset;
    Bytes data;
};

struct Archive {
    std::vector<Entry> entries;
    uint16_t count = 0;
    uint32_t centralOffset = 0, centralSize = 0;
    const Entry* find(const std::string& name) const {
        for (const Entry& e : entries)
            if (e.name == name) return &e;
        return nullptr;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const Entry& e : entries) out.push_back(e.name);
        std::sort(out.begin(), out.end());
        return out;
    }
};

// Reads an archive the writer made and checks the layout rules every such archive obeys:
// entries back to back from offset 0, local headers equal to central ones, CRCs right.
Archive readArchive(const fs::path& path) {
    Bytes b = testsupport::readBytes(path);
    Archive a;
    EXPECT_GE(b.size(), 22u);
    if (b.size() < 22) return a;
    size_t end = b.size() - 22;
    EXPECT_EQ(get32(b, end), 0x06054B50u);
    a.count = get16(b, end + 10);
    EXPECT_EQ(get16(b, end + 8), a.count);
    a.centralSize = get32(b, end + 12);
    a.centralOffset = get32(b, end + 16);
    EXPECT_EQ(a.centralOffset + a.centralSize, end);
    size_t at = a.centralOffset, expectedOffset = 0;
    for (int i = 0; i < a.count; ++i) {
        EXPECT_EQ(get32(b, at), 0x02014B50u);
        Entry e;
        e.madeBy = get16(b, at + 4);
        e.flag = get16(b, at + 8), e.method = get16(b, at + 10), e.dosTime = get32(b, at + 12);
        e.crc = get32(b, at + 16), e.compressed = get32(b, at + 20), e.size = get32(b, at + 24);
        uint16_t n = get16(b, at + 28);
        e.internal = get16(b, at + 36), e.external = get32(b, at + 38), e.offset = get32(b, at + 42);
        e.name.assign(b.begin() + long(at + 46), b.begin() + long(at + 46 + n));
        at += 46 + n;
        EXPECT_EQ(e.offset, expectedOffset) << e.name;
        size_t loc = e.offset;
        EXPECT_EQ(get32(b, loc), 0x04034B50u);
        EXPECT_EQ(get16(b, loc + 6), e.flag) << e.name;
        EXPECT_EQ(get16(b, loc + 8), e.method) << e.name;
        EXPECT_EQ(get32(b, loc + 14), e.crc) << e.name;
        EXPECT_EQ(get32(b, loc + 18), e.compressed) << e.name;
        EXPECT_EQ(get32(b, loc + 22), e.size) << e.name;
        EXPECT_EQ(get16(b, loc + 26), n) << e.name;
        size_t data = loc + 30 + n;
        e.data.assign(b.begin() + long(data), b.begin() + long(data + e.compressed));
        if (e.method == 0) {
            EXPECT_EQ(crc32(0, e.data.data(), uInt(e.data.size())), e.crc) << e.name;
        }
        expectedOffset = data + e.compressed;
        a.entries.push_back(std::move(e));
    }
    EXPECT_EQ(expectedOffset, a.centralOffset);
    return a;
}

// A writer set up as the backup application sets it, with every event recorded.
class Job {
public:
    explicit Job(const TempDir& dir) : archive((dir / "out.zip").string()) {
        w.SetZipName(archive);
        w.ZipAction = TZipAction::zaReplace;
        w.AddDirEntriesOnRecurse = true;
        w.Recurse = true;
        w.SetStorePaths(true);
        w.SetRelativePaths(true);
        w.SetPackLevel(0);
        w.OnTotalPercentDone = [this](TZipReader*, int p) { total.push_back(p); };
        w.OnFilePercentDone = [this](TZipReader*, int p) { file.push_back(p); };
        w.OnZipComplete = [this](TZipReader*, int n) { completed.push_back(n); };
        w.OnSkippingFile = [this](TZipReader*, TSkipReason r, const std::string& name, int index, bool&) {
            skipped.push_back(name);
            reasons.push_back(r);
            EXPECT_EQ(index, -1);
        };
        w.OnNoSuchFile = [this](TZipReader*, const std::string& name) { missing.push_back(name); };
        w.OnStartZipInfo = [this](TZipReader*, int n, double bytes, TEndCentral&, bool&) {
            startInfo.push_back({double(n), bytes});
        };
    }
    // Packs folder/*.* relative to folder.
    int packFolder(const fs::path& folder) {
        w.SetRootDir(folder.string());
        w.FilesList = {folder.string() + "/*.*"};
        return w.Zip();
    }

    TZipWriter w;
    std::string archive;
    std::vector<int> total, file, completed;
    std::vector<std::string> skipped, missing;
    std::vector<TSkipReason> reasons;
    std::vector<std::pair<double, double>> startInfo;
};

TEST(ZipWriter, AnEmptyFolderGivesTheEndRecordAlone) {
    TempDir dir;
    fs::create_directory(dir / "data");
    Job job(dir);
    EXPECT_EQ(job.packFolder(dir / "data"), 0);
    Bytes expected = {0x50, 0x4B, 0x05, 0x06};
    expected.resize(22, 0);
    EXPECT_EQ(testsupport::readBytes(job.archive), expected);
    EXPECT_EQ(job.total, std::vector<int>{100});
    EXPECT_EQ(job.completed, std::vector<int>{0});
    EXPECT_TRUE(job.startInfo.empty());
    EXPECT_TRUE(job.w.FilesList.empty());
}

TEST(ZipWriter, AnEmptyArchiveNameDoesNothing) {
    TempDir dir;
    Job job(dir);
    job.w.SetZipName("  ");
    job.w.FilesList = {(dir / "*.*").string()};
    EXPECT_EQ(job.w.Zip(), 0);
    EXPECT_EQ(job.completed, std::vector<int>{0});
    EXPECT_TRUE(job.total.empty());
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(ZipWriter, FolderTreeWithEntriesForFolders) {
    TempDir dir;
    testsupport::writeFile(dir / "data/Sub/a.txt", "sub a");
    testsupport::writeFile(dir / "data/a.txt", "top a");
    fs::create_directories(dir / "data/Sub/Deep");
    testsupport::writeFile(dir / "data/.hidden", "h");
    testsupport::writeFile(dir / "data/ro.txt", "read-only");
    fs::permissions(dir / "data/ro.txt", fs::perms::owner_write, fs::perm_options::remove);
    Job job(dir);
    EXPECT_EQ(job.packFolder(dir / "data"), 6);
    Archive a = readArchive(job.archive);
    EXPECT_EQ(a.names(), (std::vector<std::string>{".hidden", "Sub/", "Sub/Deep/", "Sub/a.txt", "a.txt", "ro.txt"}));
    auto index = [&](const std::string& n) { return a.find(n) - a.entries.data(); };
    EXPECT_LT(index("Sub/"), index("Sub/a.txt"));
    EXPECT_LT(index("Sub/"), index("Sub/Deep/"));
    const Entry& folder = *a.find("Sub/Deep/");
    EXPECT_EQ(folder.method, 0);
    EXPECT_EQ(folder.crc, 0u);
    EXPECT_EQ(folder.size, 0u);
    EXPECT_EQ(folder.compressed, 0u);
    EXPECT_EQ(folder.flag, 0);
    EXPECT_EQ(folder.internal, 0);
    EXPECT_EQ(folder.external, 0x10u);
    EXPECT_EQ(a.find("a.txt")->external, 0x20u);
    EXPECT_EQ(a.find(".hidden")->external, 0x22u);
    EXPECT_EQ(a.find("ro.txt")->external, 0x21u);
    const Entry& file = *a.find("Sub/a.txt");
    EXPECT_EQ(std::string(file.data.begin(), file.data.end()), "sub a");
    EXPECT_EQ(file.method, 0);
    EXPECT_EQ(file.internal, 0);
    EXPECT_EQ(file.madeBy, 20);
    // The writer keeps the new directory in memory.
    EXPECT_EQ(job.w.ZipContents().Count(), 6u);
    EXPECT_EQ(job.w.EndCentral().total_entries, 6);
}

TEST(ZipWriter, StoredNamesFollowThePathSettings) {
    TempDir dir;
    testsupport::writeFile(dir / "data/Sub/a.txt", "x");
    std::string root = (dir / "data").string(), file = (dir / "data/Sub/a.txt").string();
    std::string absolute = file.substr(1);
    auto rootAt = [](std::string r) { return [r](TZipWriter& w) { w.SetRootDir(r); }; };
    struct Case {
        const char* what;
        std::function<void(TZipWriter&)> setup;
        std::string given, stored;
    } cases[] = {
        {"relative to the root", rootAt(root), file, "Sub/a.txt"},
        {"root one level up", rootAt(dir.path().string()), file, "data/Sub/a.txt"},
        {"root spelt in another case", rootAt(dir.path().string() + "/DATA"), file, absolute},
        {"no paths", [](TZipWriter& w) { w.SetStorePaths(false); }, file, "a.txt"},
        {"no paths, a folder: no entry without a name", [](TZipWriter& w) { w.SetStorePaths(false); },
         root + "/Sub/", ""},
        {"the root folder itself", rootAt(root), root + "/", ""},
        {"full path without root", [](TZipWriter& w) { w.SetRelativePaths(false); }, file, absolute},
        {"volumes kept, still not absolute",
         [](TZipWriter& w) { w.SetRelativePaths(false), w.SetStoreVolumes(true); }, file, absolute},
        {"dot and dot-dot parts", rootAt(root), root + "/./Sub/../Sub/a.txt", "Sub/a.txt"},
    };
    for (const Case& c : cases) {
        TempDir out;
        Job job(out);
        c.setup(job.w);
        job.w.FilesList = {c.given};
        std::vector<std::string> names;
        if (!c.stored.empty()) names.push_back(c.stored);
        EXPECT_EQ(job.w.Zip(), int(names.size())) << c.what;
        EXPECT_EQ(readArchive(job.archive).names(), names) << c.what;
    }
}

TEST(ZipWriter, ExplicitFilesMissingFilesAndDuplicates) {
    TempDir dir;
    testsupport::writeFile(dir / "data/a.txt", "a");
    testsupport::writeFile(dir / "data/README", "upper");
    testsupport::writeFile(dir / "data/Readme", "mixed");
    Job job(dir);
    job.w.SetRootDir((dir / "data").string());
    std::string a = (dir / "data/a.txt").string();
    job.w.FilesList = {"a.txt", (dir / "data/missing.txt").string(), a, (dir / "data/*").string()};
    EXPECT_EQ(job.w.Zip(), 3);
    EXPECT_EQ(job.missing, std::vector<std::string>{(dir / "data/missing.txt").string()});
    // The same file twice is added once; names differing only in case are two files.
    EXPECT_EQ(job.skipped, (std::vector<std::string>{a, a}));
    EXPECT_EQ(job.reasons, (std::vector<TSkipReason>{TSkipReason::srNoOverwrite, TSkipReason::srNoOverwrite}));
    Archive arc = readArchive(job.archive);
    EXPECT_EQ(arc.names(), (std::vector<std::string>{"README", "Readme", "a.txt"}));
    EXPECT_EQ(std::string(arc.find("Readme")->data.begin(), arc.find("Readme")->data.end()), "mixed");
}

// Linux names may hold the wildcard characters: files and backed-up folders so named are packed.
TEST(ZipWriter, NamesWithWildcardCharactersArePackedAsTheyAre) {
    for (const char* name : {"we<1>", "q?d", "a*b", "p|q"}) {
        TempDir dir;
        testsupport::writeFile(dir / name / "s/f.txt", "f");
        testsupport::writeFile(dir / name / "odd?name<1>.txt", "o");
        testsupport::writeFile(dir / "qxd/other.txt", "x");
        Job job(dir);
        EXPECT_EQ(job.packFolder(dir / name), 3) << name;
        EXPECT_EQ(readArchive(job.archive).names(), (std::vector<std::string>{"odd?name<1>.txt", "s/", "s/f.txt"})) << name;
        fs::remove(job.archive);
        job.w.FilesList = {(dir / name / "odd?name<1>.txt").string()};
        EXPECT_EQ(job.w.Zip(), 1) << name;
        EXPECT_EQ(readArchive(job.archive).names(), std::vector<std::string>{"odd?name<1>.txt"}) << name;
    }
}

TEST(ZipWriter, ExcludeAndNoCompressLists) {
    TempDir dir;
    for (const char* f : {"data/keep.txt", "data/skip.LOG", "data/scratch/x.txt", "data/y.jpg"})
        testsupport::writeFile(dir / f, "content");
    Job job(dir);
    job.w.SetPackLevel(6);
    job.w.ExcludeList = {"*.log", "*/scratch/*"};
    job.w.NoCompressList = {"*.jpg"};
    job.packFolder(dir / "data");
    Archive a = readArchive(job.archive);
    EXPECT_EQ(a.names(), (std::vector<std::string>{"keep.txt", "scratch/", "y.jpg"}));
    EXPECT_EQ(a.find("y.jpg")->method, 0);
}

TEST(ZipWriter, NamesInTheOemCodePageOrInUtf8) {
    TempDir dir;
    testsupport::writeFile(dir / "data/caf\xC3\xA9.txt", "1");
    testsupport::writeFile(dir / "data/\xE6\x97\xA5\xE6\x9C\xAC.txt", "2");
    testsupport::writeFile(dir / "data/caf\xE9.bin", "3");  // not UTF-8 at all
    Job job(dir);
    EXPECT_EQ(job.packFolder(dir / "data"), 3);
    Archive a = readArchive(job.archive);
    // UTF-8 with bit 11 on Linux, also for a name CP437 could hold.
    ASSERT_NE(a.find("caf\xC3\xA9.txt"), nullptr);
    EXPECT_EQ(a.find("caf\xC3\xA9.txt")->flag & 0x800, 0x800);
    ASSERT_NE(a.find("\xE6\x97\xA5\xE6\x9C\xAC.txt"), nullptr);
    EXPECT_EQ(a.find("\xE6\x97\xA5\xE6\x9C\xAC.txt")->flag & 0x800, 0x800);
    ASSERT_NE(a.find("caf\xE9.bin"), nullptr);
    EXPECT_EQ(a.find("caf\xE9.bin")->flag & 0x800, 0);
}

TEST(ZipWriter, ProgressEvents) {
    TempDir dir;
    testsupport::writeBytes(dir / "data/big", testsupport::randomBytes(100000, 1));
    testsupport::writeBytes(dir / "data/small", testsupport::randomBytes(50000, 2));
    testsupport::writeFile(dir / "data/empty", "");
    Job job(dir);
    job.w.FilesList = {(dir / "data/big").string(), (dir / "data/small").string(), (dir / "data/empty").string()};
    EXPECT_EQ(job.w.Zip(), 3);
    ASSERT_EQ(job.startInfo.size(), 1u);
    EXPECT_EQ(job.startInfo[0], (std::pair<double, double>{3, 150000}));
    // 32768-byte reads: four of the big file, two of the small one.
    EXPECT_EQ(job.file, (std::vector<int>{33, 66, 98, 100, 66, 100}));
    EXPECT_EQ(job.total, (std::vector<int>{22, 44, 66, 67, 89, 100, 100}));
    for (int p : job.total) EXPECT_LE(p, 100);
}

TEST(ZipWriter, EmptyFilesReportOnlyTheFinalHundred) {
    TempDir dir;
    testsupport::writeFile(dir / "data/a", "");
    testsupport::writeFile(dir / "data/b", "");
    Job job(dir);
    EXPECT_EQ(job.packFolder(dir / "data"), 2);
    EXPECT_EQ(job.total, std::vector<int>{100});
}

TEST(ZipWriter, RatesRoundHalfToEvenAndCapAtHundred) {
    EXPECT_EQ(CRate(0, 5), 0);
    EXPECT_EQ(CRate(200, 1), 0);  // 0.5
    EXPECT_EQ(CRate(200, 3), 2);  // 1.5
    EXPECT_EQ(CRate(100, 150), 100);
    EXPECT_EQ(CBigRate(1, 3), 33);
    EXPECT_EQ(CBigRate(5, -1), 0);
}

TEST(ZipWriter, SkippingAtStartZipTakesTheFileOutOfTheTotal) {
    TempDir dir;
    testsupport::writeFile(dir / "data/a", std::string(1000, 'a'));
    testsupport::writeFile(dir / "data/b", std::string(3000, 'b'));
    Job job(dir);
    job.w.OnStartZip = [](TZipReader*, const std::string& name, TZipHeaderInfo& header, bool& skip) {
        skip = name.back() == 'b';
        EXPECT_EQ(header.internal_attributes, 2);  // not known yet
    };
    job.w.SetRootDir((dir / "data").string());
    job.w.FilesList = {(dir / "data/b").string(), (dir / "data/a").string()};
    EXPECT_EQ(job.w.Zip(), 1);
    EXPECT_EQ(readArchive(job.archive).names(), std::vector<std::string>{"a"});
    EXPECT_EQ(job.total, (std::vector<int>{100, 100}));  // 1000 of the 1000 bytes that remain
}

// The header OnStartZip may change is still written as a consistent record: an added entry has
// no extra field, and a comment length always comes with that many bytes.
TEST(ZipWriter, FieldsChangedAtStartZipKeepTheRecordsConsistent) {
    struct Case {
        const char* name;
        std::function<void(TZipHeaderInfo&)> change;
        const char* comment;  // as a reader sees it
    } cases[] = {
        {"a local extra length", [](TZipHeaderInfo& h) { h.local_extra_length = 4; }, ""},
        {"a central extra length", [](TZipHeaderInfo& h) { h.central_extra_length = 4; }, ""},
        {"a comment length without a comment", [](TZipHeaderInfo& h) { h.file_comment_length = 3; }, "000000"},
        {"a comment", [](TZipHeaderInfo& h) { h.filecomment = "note", h.file_comment_length = 4; }, "6e6f7465"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        testsupport::writeFile(dir / "data/a.txt", "some text");
        Job job(dir);
        job.w.OnStartZip = [&](TZipReader*, const std::string&, TZipHeaderInfo& header, bool&) { c.change(header); };
        EXPECT_EQ(job.packFolder(dir / "data"), 1) << c.name;
        testsupport::CommandResult r = testsupport::runCommand(
            "/usr/bin/python3 -c 'import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); i=z.infolist()[0]; "
            "print(z.testzip(), i.extra.hex(), i.comment.hex(), z.read(i).decode())' " +
            testsupport::shellQuote(job.archive));
        EXPECT_EQ(r.output, "None  " + std::string(c.comment) + " some text\n") << c.name;
    }
}

// Every way a job can fail or be cancelled leaves no archive and an empty FilesList.
void expectCleanFailure(Job& job, const std::string& message) {
    EXPECT_FALSE(fs::exists(job.archive)) << message;
    EXPECT_TRUE(job.w.FilesList.empty()) << message;
    EXPECT_TRUE(job.completed.empty()) << message;
}

TEST(ZipWriter, CancelInTheMiddleOfAFile) {
    TempDir dir;
    testsupport::writeBytes(dir / "data/big", testsupport::randomBytes(200000, 3));
    Job job(dir);
    int yields = 0;
    job.w.ProcessMessages = [&] { ++yields; };
    job.w.OnFilePercentDone = [&](TZipReader* sender, int percent) {
        if (percent > 30) sender->CancelTheOperation();
    };
    try {
        job.packFolder(dir / "data");
        FAIL() << "not cancelled";
    } catch (const EUserCanceled& e) {
        EXPECT_STREQ(e.what(), "User Aborted Operation");
    }
    EXPECT_GT(yields, 1);
    expectCleanFailure(job, "cancel");
    // The next job starts with the flag clear.
    job.w.CancelTheOperation();
    job.w.OnFilePercentDone = nullptr;
    EXPECT_EQ(job.packFolder(dir / "data"), 1);
}

TEST(ZipWriter, CancelIsSeenWithinOneReadWhenTheOutputIsTiny) {
    // Zeros compress so well that the first block of output would come only at the end.
    TempDir dir;
    testsupport::writeBytes(dir / "data/zeros", std::vector<uint8_t>(4 << 20, 0));
    Job job(dir);
    job.w.SetPackLevel(9);
    job.w.ProcessMessages = [] {};
    int lastPercent = 0;
    job.w.OnFilePercentDone = [&](TZipReader* sender, int percent) {
        lastPercent = percent;
        if (percent > 30) sender->CancelTheOperation();
    };
    EXPECT_THROW(job.packFolder(dir / "data"), EUserCanceled);
    EXPECT_LE(lastPercent, 32) << "the cancel waited for more than one read";
    expectCleanFailure(job, "cancel");
}

TEST(ZipWriter, WithoutProcessMessagesCancelIsNeverSeen) {
    TempDir dir;
    testsupport::writeBytes(dir / "data/big", testsupport::randomBytes(100000, 3));
    Job job(dir);
    job.w.DoProcessMessages = false;
    job.w.OnFilePercentDone = [&](TZipReader* sender, int) { sender->CancelTheOperation(); };
    EXPECT_EQ(job.packFolder(dir / "data"), 1);
}

TEST(ZipWriter, StopNowCancelsBeforeTheFirstFile) {
    TempDir dir;
    testsupport::writeFile(dir / "data/a", "a");
    Job job(dir);
    job.w.OnStartZipInfo = [](TZipReader*, int, double, TEndCentral&, bool& stop) { stop = true; };
    try {
        job.packFolder(dir / "data");
        FAIL();
    } catch (const EUserCanceled& e) {
        EXPECT_STREQ(e.what(), "User canceled Zip operation");
    }
    expectCleanFailure(job, "stop now");
}

TEST(ZipWriter, EveryShortWriteFailsWithNotEnoughRoom) {
    TempDir dir;
    testsupport::writeBytes(dir / "data/f1", testsupport::randomBytes(70000, 4));
    testsupport::writeFile(dir / "data/f2", "small");
    // Archive: f1 (30+2+70000), f2 (30+2+5), two central headers (48 each), end record (22),
    // and the patched header of f1 written a second time: 70219 bytes in all.
    for (uint64_t budget : {0, 10, 31, 40000, 70031, 70033, 70069, 70100, 70150, 70160, 70218}) {
        Job job(dir);
        testsupport::FaultyFileSystem faulty;
        faulty.writeBudget = budget;
        platform::ScopedFileSystem use(faulty);
        try {
            job.packFolder(dir / "data");
            FAIL() << "budget " << budget;
        } catch (const ENotEnoughRoom& e) {
            EXPECT_STREQ(e.what(), "Not enough room to write archive");
        }
        expectCleanFailure(job, "budget " + std::to_string(budget));
    }
    Job job(dir);
    testsupport::FaultyFileSystem faulty;
    faulty.closeErrors.insert(job.archive);
    platform::ScopedFileSystem use(faulty);
    EXPECT_THROW(job.packFolder(dir / "data"), ENotEnoughRoom);
    expectCleanFailure(job, "close");
}

TEST(ZipWriter, UnreadableFilesAreLeftOutOrRetried) {
    TempDir dir;
    testsupport::writeFile(dir / "data/a", "a");
    testsupport::writeFile(dir / "data/locked", "secret");
    std::string locked = (dir / "data/locked").string();
    for (bool retry : {false, true}) {
        TempDir out;
        Job job(out);
        testsupport::FaultyFileSystem faulty;
        faulty.openErrors[locked] = EACCES;
        job.w.OnSkippingFile = [&](TZipReader*, TSkipReason reason, const std::string& name, int, bool& again) {
            EXPECT_EQ(reason, TSkipReason::srFileOpenError);
            EXPECT_EQ(name, locked);
            job.skipped.push_back(name);
            if (retry) faulty.openErrors.clear(), again = true;
        };
        platform::ScopedFileSystem use(faulty);
        EXPECT_EQ(job.packFolder(dir / "data"), retry ? 2 : 1);
        EXPECT_EQ(job.skipped.size(), 1u);
        EXPECT_EQ(readArchive(job.archive).names().size(), retry ? 2u : 1u);
    }
}

TEST(ZipWriter, FoldersThatCannotBeListedAreLeftOutNotPackedEmpty) {
    TempDir dir;
    testsupport::writeFile(dir / "data/a", "a");
    testsupport::writeFile(dir / "data/closed/inside", "lost");
    testsupport::writeFile(dir / "data/open/deeper/f", "f");
    const std::string d = (dir / "data").string();
    struct Case {
        const char* name;
        std::string unlisted;
        std::vector<std::string> names;
    } cases[] = {
        {"a subfolder", d + "/closed", {"a", "open/", "open/deeper/", "open/deeper/f"}},
        {"a deeper one", d + "/open/deeper", {"a", "closed/", "closed/inside", "open/"}},
        {"the folder itself", d, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir out;
        Job job(out);
        testsupport::FaultyFileSystem faulty;
        faulty.listErrors[c.unlisted] = EACCES;
        platform::ScopedFileSystem use(faulty);
        job.packFolder(dir / "data");
        EXPECT_EQ(readArchive(job.archive).names(), c.names);
        EXPECT_EQ(job.skipped, std::vector<std::string>{c.unlisted});
        EXPECT_EQ(job.reasons, std::vector<TSkipReason>{TSkipReason::srFileOpenError});
    }
}

TEST(ZipWriter, SpecificationsThatFindNothingAreNamedAndMakeNoArchiveWhenAsked) {
    TempDir dir;
    testsupport::writeFile(dir / "data/a.txt", "a");
    fs::create_directory(dir / "data/sub");
    const std::string d = (dir / "data").string();
    for (bool makeEmpty : {true, false}) {
        SCOPED_TRACE(makeEmpty ? "an empty archive is made" : "none is made for nothing");
        TempDir out;
        Job job(out);
        job.w.SetRootDir(d);
        job.w.MakeEmptyArchive = makeEmpty;
        std::vector<std::string> nothing;
        job.w.OnNothingMatched = [&](TZipReader*, const std::string& spec) { nothing.push_back(spec); };
        job.w.Recurse = false;
        job.w.FilesList = {d + "/*.log", ">" + d + "/*.md", (dir / "missing/*.x").string()};
        EXPECT_EQ(job.w.Zip(), makeEmpty ? 1 : 0) << "the entry of the subfolder, or nothing at all";
        EXPECT_EQ(nothing, (std::vector<std::string>{d + "/*.log", ">" + d + "/*.md", (dir / "missing/*.x").string()}))
            << "folders found by a recursive search are no match";
        EXPECT_EQ(fs::exists(job.archive), makeEmpty);
        fs::remove(job.archive);
        nothing.clear();
        job.w.FilesList = {d + "/*.log", d + "/*.txt"};
        EXPECT_EQ(job.w.Zip(), 1);
        EXPECT_EQ(nothing, std::vector<std::string>{d + "/*.log"});
        EXPECT_EQ(readArchive(job.archive).names(), std::vector<std::string>{"a.txt"});
    }
}

TEST(ZipWriter, OnlyRegularFilesAreOpened) {
    TempDir dir;
    testsupport::writeFile(dir / "data/real.txt", "real");
    fs::create_symlink("real.txt", dir / "data/alias.txt");
    fs::create_symlink("nowhere", dir / "data/dangling");
    fs::create_symlink("/dev/null", dir / "data/device");
    fs::create_directory(dir / "data/sub");
    fs::create_symlink("sub", dir / "data/sublink");
    ASSERT_EQ(mkfifo((dir / "data/pipe").c_str(), 0644), 0);
    int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string sockPath = (dir / "data/sock").string();
    ASSERT_LT(sockPath.size(), sizeof(addr.sun_path));
    std::copy(sockPath.begin(), sockPath.end(), addr.sun_path);
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);

    Job job(dir);
    testsupport::FaultyFileSystem watch;
    platform::ScopedFileSystem use(watch);
    EXPECT_EQ(job.packFolder(dir / "data"), 3);
    close(sock);
    Archive a = readArchive(job.archive);
    EXPECT_EQ(a.names(), (std::vector<std::string>{"alias.txt", "real.txt", "sub/"}));
    EXPECT_EQ(std::string(a.find("alias.txt")->data.begin(), a.find("alias.txt")->data.end()), "real");
    std::vector<std::string> skipped = job.skipped;
    std::sort(skipped.begin(), skipped.end());
    std::string d = (dir / "data").string() + "/";
    EXPECT_EQ(skipped, (std::vector<std::string>{d + "dangling", d + "device", d + "pipe", d + "sock", d + "sublink"}));
    for (const std::string& p : watch.opened)
        EXPECT_TRUE(p == d + "real.txt" || p == d + "alias.txt" || p == job.archive) << p;
}

TEST(ZipWriter, EntriesBeyondThePathLimitAreReportedNotLostSilently) {
    TempDir dir;
    fs::create_directory(dir / "data");
    // A chain of long folder names, made relative to each folder, until paths pass PATH_MAX; each holds f.txt.
    const std::string name(200, 'd');
    std::string path = (dir / "data").string();
    size_t reachable = 0;  // the f.txt whose path the system still takes
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (; path.size() < PATH_MAX + 400; path += "/" + name) {
        int file = openat(fd, "f.txt", O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(file, 0);
        close(file);
        if ((path + "/f.txt").size() < PATH_MAX) ++reachable;
        ASSERT_EQ(mkdirat(fd, name.c_str(), 0755), 0);
        int sub = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        ASSERT_GE(sub, 0);
        fd = sub;
    }
    close(fd);

    Job job(dir);
    job.packFolder(dir / "data");
    size_t packedFiles = 0;
    for (const std::string& n : readArchive(job.archive).names()) packedFiles += n.size() >= 5 && n.ends_with("f.txt");
    EXPECT_EQ(packedFiles, reachable);
    ASSERT_FALSE(job.skipped.empty()) << "what lies beyond the limit was left out without a word";
    for (size_t i = 0; i < job.skipped.size(); ++i) {
        EXPECT_GE(job.skipped[i].size(), size_t(PATH_MAX));
        EXPECT_EQ(job.reasons[i], TSkipReason::srFileOpenError);
    }
}

TEST(ZipWriter, AReadErrorFailsTheJobNamingTheFile) {
    TempDir dir;
    testsupport::writeBytes(dir / "data/bad", testsupport::randomBytes(100000, 5));
    Job job(dir);
    testsupport::FaultyFileSystem faulty;
    faulty.readErrorAfter[(dir / "data/bad").string()] = 40000;
    platform::ScopedFileSystem use(faulty);
    try {
        job.packFolder(dir / "data");
        FAIL();
    } catch (const EZipReadError& e) {
        EXPECT_NE(std::string(e.what()).find((dir / "data/bad").string()), std::string::npos) << e.what();
    }
    expectCleanFailure(job, "read error");
}

TEST(ZipWriter, FilesThatChangeSizeWhileTakenStayConsistent) {
    TempDir dir;
    Bytes original = testsupport::randomBytes(50000, 6);
    for (int level : {0, maxdeflate::kLevel})
    for (long change : {-30000L, -50000L, +20000L}) {
        SCOPED_TRACE("level " + std::to_string(level));
        testsupport::writeBytes(dir / "data/moving", original);
        TempDir out;
        Job job(out);
        job.w.SetPackLevel(level);
        job.w.OnStartZip = [&](TZipReader*, const std::string& name, TZipHeaderInfo&, bool&) {
            if (change < 0) fs::resize_file(name, original.size() + change);
            else testsupport::writeBytes(name, testsupport::randomBytes(original.size() + change, 9));
        };
        EXPECT_EQ(job.packFolder(dir / "data"), 1);
        Archive arc = readArchive(job.archive);
        ASSERT_EQ(arc.entries.size(), 1u);
        const Entry& e = arc.entries[0];
        // Shrunk: the bytes that remain; grown: the size it had when it was opened.
        size_t expected = change < 0 ? original.size() + change : original.size();
        EXPECT_EQ(e.size, expected) << change;
        EXPECT_EQ(e.compressed, expected) << change;
        if (change < 0) {
            EXPECT_TRUE(std::equal(e.data.begin(), e.data.end(), original.begin())) << change;
        }
    }
}

TEST(ZipWriter, FilesGoneOrChangedWhileTakenAreReportedAndTheArchiveStaysValid) {
    TempDir dir;
    const Bytes original = testsupport::randomBytes(100000, 7);
    for (const char* f : {"kept", "gone", "shrinks", "grows", "rewritten"}) testsupport::writeBytes(dir / "data" / f, original);
    const std::string d = (dir / "data").string() + "/";
    for (int level : {0, 6, maxdeflate::kLevel}) {
        SCOPED_TRACE("level " + std::to_string(level));
        for (const char* f : {"shrinks", "grows", "rewritten"}) testsupport::writeBytes(dir / "data" / f, original);
        testsupport::writeBytes(dir / "data/gone", original);
        TempDir out;
        Job job(out);
        job.w.SetPackLevel(level);
        std::vector<std::string> changed;
        job.w.OnFileChanged = [&](TZipReader*, const std::string& name) { changed.push_back(name); };
        // Listed, then deleted before it is opened.
        job.w.OnRecursingFile = [&](TZipReader*, const std::string& name) {
            if (name == d + "gone") fs::remove(name);
        };
        testsupport::FaultyFileSystem faulty;
        faulty.afterRead = [&](const std::string& path, uint64_t done) {
            if (done != 32768) return;  // once, after the first block
            if (path == d + "shrinks") fs::resize_file(path, 40000);
            if (path == d + "grows") testsupport::writeBytes(path, testsupport::randomBytes(150000, 8));
            if (path == d + "rewritten") fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(10));
        };
        platform::ScopedFileSystem use(faulty);
        EXPECT_EQ(job.packFolder(dir / "data"), 4);
        EXPECT_EQ(job.skipped, std::vector<std::string>{d + "gone"});
        std::sort(changed.begin(), changed.end());
        EXPECT_EQ(changed, (std::vector<std::string>{d + "grows", d + "rewritten", d + "shrinks"}));
        Archive a = readArchive(job.archive);  // every CRC and size checked
        EXPECT_EQ(a.names(), (std::vector<std::string>{"grows", "kept", "rewritten", "shrinks"}));
        EXPECT_EQ(a.find("shrinks")->size, 40000u);
        EXPECT_EQ(a.find("grows")->size, original.size()) << "as large as it was when it was opened";
        EXPECT_EQ(testsupport::runCommand("unzip -tq " + testsupport::shellQuote(job.archive)).exitCode, 0);
    }
}

// Past 4 GiB in the archive (the file system pretends it starts just below) the offsets go
// into the 64-bit records, which a 64-bit end record and its locator introduce.
TEST(ZipWriter, AnArchivePast4GiBGetsThe64BitRecords) {
    TempDir dir;
    testsupport::writeFile(dir / "data/a", std::string(100, 'a'));
    const uint64_t need = (30 + 1 + 100) + (46 + 1) + 22;
    for (uint64_t room : {need - 1, need, need + 1}) {
        TempDir out;
        Job job(out);
        testsupport::FaultyFileSystem faulty;
        faulty.startOffset[job.archive] = int64_t(0xFFFFFFFFull - room);
        platform::ScopedFileSystem use(faulty);
        EXPECT_EQ(job.packFolder(dir / "data"), 1) << room;
        Bytes b = testsupport::readBytes(job.archive);
        // The central directory starts below 4 GiB and ends at or past it: the end record's fields still fit.
        EXPECT_EQ(get32(b, b.size() - 22), 0x06054B50u) << room;
        EXPECT_NE(get32(b, b.size() - 42), 0x07064B50u) << room;
    }
    TempDir out;
    Job job(out);
    testsupport::FaultyFileSystem faulty;
    faulty.startOffset[job.archive] = int64_t(0xFFFFFFFFull);
    platform::ScopedFileSystem use(faulty);
    EXPECT_EQ(job.packFolder(dir / "data"), 1);
    Bytes b = testsupport::readBytes(job.archive);
    EXPECT_EQ(get32(b, b.size() - 42), 0x07064B50u);
    EXPECT_EQ(get32(b, b.size() - 22 - 20 - 56), 0x06064B50u);
    EXPECT_EQ(get32(b, b.size() - 6), 0xFFFFFFFFu);  // the central offset is in the 64-bit end record
}

TEST(ZipWriter, MoreThan65535EntriesGetThe64BitEndRecord) {
    for (size_t count : {size_t(65535), size_t(65536)}) {
        TempDir out;
        Job job(out);
        job.w.OnTotalPercentDone = nullptr;
        for (size_t i = 0; i < count; ++i) job.w.FilesList.push_back("/no/such/d" + std::to_string(i) + "/");
        EXPECT_EQ(size_t(job.w.Zip()), count);
        Bytes b = testsupport::readBytes(job.archive);
        EXPECT_EQ(get16(b, b.size() - 12), 0xFFFF);
        EXPECT_EQ(get32(b, b.size() - 42) == 0x07064B50u, count > 65535) << count;
        EXPECT_EQ(job.w.EndCentral().total_entries, count);
    }
}

// What the 64-bit records do not lift stays refused with a message naming the entry: a stored
// name longer than the 65535 bytes its length field holds.
TEST(ZipWriter, ANameLongerThanItsFieldIsRefused) {
    TempDir out;
    Job job(out);
    std::string folder = "/no";
    while (folder.size() <= 0x10000) folder += "/" + std::string(200, 'n');
    job.w.FilesList = {folder + "/"};
    try {
        job.w.Zip();
        FAIL();
    } catch (const EZipLimit& e) {
        EXPECT_NE(std::string(e.what()).find("is too long for a ZIP archive"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("65535"), std::string::npos) << e.what();
    }
    expectCleanFailure(job, "long name");
}

TEST(ZipWriter, BadArchivePathsAndExistingArchives) {
    TempDir dir;
    testsupport::writeFile(dir / "data/a", "a");
    Job job(dir);
    std::string nowhere = (dir / "missing/out.zip").string();
    job.w.SetZipName(nowhere);
    try {
        job.packFolder(dir / "data");
        FAIL();
    } catch (const platform::EFileError& e) {
        EXPECT_NE(std::string(e.what()).find(nowhere), std::string::npos) << e.what();
    }
    testsupport::writeFile(dir / "old.zip", "precious");
    job.w.SetZipName((dir / "old.zip").string());
    EXPECT_THROW(job.packFolder(dir / "data"), EIncompleteZip);
    EXPECT_EQ(testsupport::readFile(dir / "old.zip"), "precious");
}

TEST(ZipWriter, DisposeDeletesTheSourcesAfterSuccess) {
    TempDir dir;
    testsupport::writeFile(dir / "data/a", "a");
    testsupport::writeFile(dir / "data/b", "b");
    Job job(dir);
    job.w.Dispose = true;
    job.w.OnDisposeFile = [](TZipReader*, const std::string& name, bool& skip) { skip = name.back() == 'b'; };
    EXPECT_EQ(job.packFolder(dir / "data"), 2);
    EXPECT_FALSE(fs::exists(dir / "data/a"));
    EXPECT_TRUE(fs::exists(dir / "data/b"));
}

TEST(ZipWriter, PropertiesAndTheirCouplings) {
    TZipWriter w;
    EXPECT_EQ(w.PackLevel(), 6);
    EXPECT_FALSE(w.StorePaths());
    EXPECT_TRUE(w.OEMConvert);
    EXPECT_TRUE(w.DoProcessMessages);
    EXPECT_EQ(w.ZipAction, TZipAction::zaUpdate);
    w.SetRootDir("/data");
    EXPECT_EQ(w.RootDir(), "/data/");
    w.SetRootDir("");
    EXPECT_EQ(w.RootDir(), "");
    w.SetRelativePaths(true);
    EXPECT_TRUE(w.StorePaths() && w.Recurse);
    w.SetStoreVolumes(true);
    w.SetStorePaths(false);
    EXPECT_FALSE(w.RelativePaths() || w.StoreVolumes());
    w.SetStoreVolumes(true);
    EXPECT_TRUE(w.StorePaths());
    w.SetPackLevel(12);
    EXPECT_EQ(w.PackLevel(), maxdeflate::kLevel);
    w.SetPackLevel(-1);
    EXPECT_EQ(w.PackLevel(), 0);
}

TEST(ZipWriter, FreshenTakesOnlyNamesAlreadyInTheDirectory) {
    TempDir dir;
    testsupport::writeFile(dir / "data/a", "a");
    Job job(dir);
    job.packFolder(dir / "data");
    fs::remove(job.archive);  // the directory of the same name stays in memory
    testsupport::writeFile(dir / "data/new", "n");
    job.w.ZipAction = TZipAction::zaFreshen;
    EXPECT_EQ(job.packFolder(dir / "data"), 1);
    EXPECT_EQ(readArchive(job.archive).names(), std::vector<std::string>{"a"});
}

TEST(ZipWriter, TheDirectoryStaysForTheSameNameOnly) {
    TempDir dir;
    testsupport::writeFile(dir / "data/a", "a");
    Job job(dir);
    job.packFolder(dir / "data");
    ASSERT_EQ(job.w.ZipContents().Count(), 1u);
    job.w.SetZipName(job.archive);
    EXPECT_EQ(job.w.ZipContents().Count(), 1u);
    job.w.SetZipName((dir / "OUT.zip").string());  // another file on Linux
    EXPECT_EQ(job.w.ZipContents().Count(), 0u);
}

// The maximum level.

// A tree for the maximum level: text large enough to be compressed on a thread of its own, short
// text, random bytes that no compression shrinks, an empty file and a binary file.
fs::path makeMaximumTree(const TempDir& dir) {
    using namespace deflateinputs;
    const fs::path data = dir / "data";
    testsupport::writeBytes(data / "large.txt", concat({text(400000, 1), logLines(200000, 2)}));
    testsupport::writeBytes(data / "short.txt", text(3000, 3));
    testsupport::writeBytes(data / "sub/random.bin", testsupport::randomBytes(150000, 4));
    testsupport::writeFile(data / "sub/empty", "");
    testsupport::writeBytes(data / "sub/records.bin", roundTripInputs().back().data);
    return data;
}

Archive packAt(const TempDir& dir, const fs::path& data, int level, uint64_t limit = maxdeflate::kBufferLimit) {
    Job job(dir);
    job.w.SetPackLevel(level);
    job.w.MaximumLevelLimit = limit;
    job.packFolder(data);
    return readArchive(job.archive);
}

TEST(ZipWriter, TheMaximumLevelIsSmallerAndKeepsLevelNinesFlagsAndMarks) {
    TempDir dir, nineDir;
    const fs::path data = makeMaximumTree(dir);
    const Archive max = packAt(dir, data, maxdeflate::kLevel), nine = packAt(nineDir, data, 9);
    ASSERT_EQ(max.names(), nine.names());
    for (const Entry& e : max.entries) {
        SCOPED_TRACE(e.name);
        const Entry& n = *nine.find(e.name);
        EXPECT_EQ(e.flag, n.flag);
        EXPECT_EQ(e.internal, n.internal) << "the text/binary mark of level 9";
        EXPECT_EQ(e.crc, n.crc);
        EXPECT_EQ(e.size, n.size);
        if (e.name.back() == '/') continue;
        EXPECT_EQ(e.flag, 2);
        const Bytes file = testsupport::readBytes(data / e.name);
        if (e.name == "sub/random.bin" || e.name == "sub/empty") {
            EXPECT_EQ(e.method, 0) << "an entry that does not shrink is stored";
            EXPECT_EQ(e.data, file);
            continue;
        }
        EXPECT_EQ(e.method, 8);
        EXPECT_LT(e.compressed, n.compressed);
        EXPECT_TRUE(testsupport::inflateRaw(e.data.data(), e.data.size()) == file);
    }
}

// Above the limit an entry is packed by level 9 of our compressor: the same bytes, header and all.
TEST(ZipWriter, AboveItsLimitTheMaximumLevelIsLevelNineByteForByte) {
    TempDir dir, nineDir, allDir;
    const fs::path data = makeMaximumTree(dir);
    const Archive nine = packAt(nineDir, data, 9);
    const uint64_t limit = 100000;  // large.txt, random.bin and records.bin are above it
    const Archive max = packAt(dir, data, maxdeflate::kLevel, limit);
    int above = 0;
    for (const Entry& e : max.entries) {
        SCOPED_TRACE(e.name);
        const Entry& n = *nine.find(e.name);
        if (e.size <= limit) continue;
        ++above;
        EXPECT_EQ(e.flag, n.flag);
        EXPECT_EQ(e.method, n.method);
        EXPECT_EQ(e.internal, n.internal);
        EXPECT_EQ(e.crc, n.crc);
        EXPECT_EQ(e.compressed, n.compressed);
        EXPECT_EQ(e.data, n.data);
    }
    EXPECT_EQ(above, 3);
    EXPECT_LT(max.find("short.txt")->compressed, nine.find("short.txt")->compressed) << "below it, the maximum level";
    // With no entry below the limit but the empty one the whole archive is level 9's.
    packAt(allDir, data, maxdeflate::kLevel, 0);
    EXPECT_EQ(testsupport::readBytes(allDir / "out.zip"), testsupport::readBytes(nineDir / "out.zip"));
}

// A cancel while a large entry is compressed does not wait for the compression; the next job
// starts after it.
TEST(ZipWriter, ACancelDuringAMaximumLevelCompressionLeavesAtOnce) {
    TempDir dir;
    const fs::path data = makeMaximumTree(dir);
    Job job(dir);
    job.w.SetPackLevel(maxdeflate::kLevel);
    bool read = false;
    int waits = 0;
    job.w.OnFilePercentDone = [&](TZipReader*, int percent) { read = percent == 100; };
    job.w.ProcessMessages = [&] {
        if (read && ++waits == 2) job.w.CancelTheOperation();  // the second turn while it compresses
    };
    job.w.FilesList = {(data / "large.txt").string()};
    EXPECT_THROW(job.w.Zip(), EUserCanceled);
    expectCleanFailure(job, "cancel");
    job.w.ProcessMessages = nullptr;
    job.w.OnFilePercentDone = nullptr;
    EXPECT_EQ(job.packFolder(data), 6);
    const Archive after = readArchive(job.archive);
    const Entry* large = after.find("large.txt");
    ASSERT_NE(large, nullptr);
    EXPECT_TRUE(testsupport::inflateRaw(large->data.data(), large->data.size()) == testsupport::readBytes(data / "large.txt"));
}

TEST(ZipWriter, AReadErrorAtTheMaximumLevelFailsTheJob) {
    TempDir dir;
    const fs::path data = makeMaximumTree(dir);
    Job job(dir);
    job.w.SetPackLevel(maxdeflate::kLevel);
    testsupport::FaultyFileSystem faulty;
    faulty.readErrorAfter[(data / "large.txt").string()] = 300000;
    platform::ScopedFileSystem use(faulty);
    EXPECT_THROW(job.packFolder(data), EZipReadError);
    expectCleanFailure(job, "read error");
}

}  // namespace
