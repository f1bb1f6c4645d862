#include <chrono>
#include <filesystem>
#include <thread>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include "faultyfilesystem.h"
#include "platform/dostime.h"
#include "platform/filelock.h"
#include "testsupport.h"
#include "zipcheck.h"
#include "zip/zipdirectory.h"
#include "zip/ziperrors.h"
#include "zip/zipwriter.h"

namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;

// A job's folders: the data to pack, the archive beside it, and a private temporary folder.
struct Place {
    TempDir dir;
    fs::path data = dir / "data";
    std::string archive = (dir / "out.zip").string();
    fs::path tmp = dir / "tmp";
    testsupport::ScopedEnv tmpdir{"TMPDIR", (dir / "tmp").string()};
    int level = 0;
    std::string password;
    explicit Place(int packLevel = 0, std::string pw = "") : level(packLevel), password(std::move(pw)) {
        fs::create_directories(tmp);
    }

    // A writer set up as the backup application sets it.
    void setUp(TZipWriter& w, TZipAction action = TZipAction::zaReplace) const {
        w.SetZipName(archive);
        w.ZipAction = action;
        w.AddDirEntriesOnRecurse = true;
        w.SetRelativePaths(true);
        w.SetRootDir(data.string());
        w.SetPackLevel(level);
        w.Password = password;
    }
    int pack(TZipAction action = TZipAction::zaReplace, std::vector<std::string> files = {}) const {
        TZipWriter w;
        setUp(w, action);
        w.FilesList = files.empty() ? std::vector<std::string>{(data / "*.*").string()} : files;
        return w.Zip();
    }
    std::string file(const std::string& rel) const { return (data / rel).string(); }
    // Temporary archives left in the temporary folder or beside the archive.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> found;
        for (const fs::path& folder : {dir.path(), tmp})
            for (const auto& e : fs::directory_iterator(folder))
                if (e.path().filename().string().rfind("FVZ", 0) == 0) found.push_back(e.path().string());
        return found;
    }
};

struct Listed {
    std::vector<std::string> names;
    std::map<std::string, std::string> raw;  // name -> local header, extra field and data as stored
};

// The entries of an archive in their order, read with the directory reader under test.
Listed list(const std::string& archive) {
    TBufferedFileStream in(archive, TFileMode::fmOpenRead);
    TSortedZip entries(TZipSortMode::ByNone);
    TEndCentral end;
    ReadZipDirectory(in, true, entries, end);
    std::string bytes = testsupport::readFile(archive);
    Listed out;
    for (size_t i = 0; i < entries.Count(); ++i) {
        const TZipHeaderInfo& e = *entries.Items(i);
        std::string name = e.directory() + e.filename();
        out.names.push_back(name);
        size_t local = e.local_header_offset;
        size_t n = uint8_t(bytes[local + 26]) | uint8_t(bytes[local + 27]) << 8;
        size_t x = uint8_t(bytes[local + 28]) | uint8_t(bytes[local + 29]) << 8;
        out.raw[name] = bytes.substr(local, 30 + n + x + e.compressed_size);
    }
    return out;
}

void setMtime(const fs::path& p, time_t when) {
    timeval times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimes(p.c_str(), times), 0);
}

void expectReadable(const std::string& archive) {
    auto r = testsupport::runCommand("unzip -tq " + testsupport::shellQuote(archive));
    EXPECT_EQ(r.exitCode, 0) << r.output;
}

// Archives of other writers: Info-ZIP with extra fields and a comment, Python's zipfile writing
// to a stream (data descriptors), Info-ZIP encrypting to a stream (descriptors with encryption).
void makeForeignArchive(const std::string& kind, const fs::path& data, const std::string& archive) {
    std::string cd = "cd " + testsupport::shellQuote(data.string()) + " && ";
    std::string out = testsupport::shellQuote(archive);
    std::string cmd = "rm -f " + out + " && ";
    if (kind == "info-zip")
        cmd += cd + "echo 'the comment' | zip -q -r -z " + out + " .";
    else if (kind == "stream-encrypted")
        cmd += cd + "zip -q -r -P pw - . | cat > " + out;
    else
        cmd += cd + "/usr/bin/python3 -c 'import io,os,sys,zipfile\n"
                   "class S(io.RawIOBase):\n"
                   "  def __init__(s,f): s.f=f\n"
                   "  def writable(s): return True\n"
                   "  def write(s,b): return s.f.write(b)\n"
                   "z=zipfile.ZipFile(S(open(sys.argv[1],\"wb\")),\"w\",zipfile.ZIP_DEFLATED)\n"
                   "for d,_,fs in sorted(os.walk(\".\")):\n"
                   "  for f in sorted(fs): z.write(os.path.join(d,f))\n"
                   "z.close()' " + out;
    auto r = testsupport::runCommand(cmd);
    ASSERT_EQ(r.exitCode, 0) << kind << ": " << r.output;
}

void makeTree(const fs::path& data) {
    testsupport::writeFile(data / "a.txt", "alpha");
    testsupport::writeFile(data / "sub/b.tmp", "beta");
    testsupport::writeFile(data / "sub/deep/c.TMP", "gamma");
    testsupport::writeFile(data / "keep.tmp.txt", "delta");
    testsupport::writeFile(data / "d.tmp", "");
}

TEST(ZipUpdate, RewritingWithNothingSelectedKeepsEveryByte) {
    for (std::string kind : {"own", "own-9-encrypted", "info-zip", "stream", "stream-encrypted"}) {
        SCOPED_TRACE(kind);
        bool own = kind.rfind("own", 0) == 0;
        Place p(own && kind != "own" ? 9 : 0, own && kind != "own" ? "pw" : "");
        if (own) testsupport::makeAwkwardTree(p.data);
        else makeTree(p.data);
        fs::remove(p.data / "pipe");
        if (own) ASSERT_GT(p.pack(), 0);
        else makeForeignArchive(kind, p.data, p.archive);
        std::string before = testsupport::readFile(p.archive);
        TZipWriter w;
        p.setUp(w);
        std::vector<int> total;
        w.OnTotalPercentDone = [&](TZipReader*, int percent) { total.push_back(percent); };
        EXPECT_EQ(w.DeleteEntries(), 0);
        EXPECT_TRUE(testsupport::readFile(p.archive) == before) << "the archive changed";
        EXPECT_EQ(total, std::vector<int>{100});
        EXPECT_TRUE(p.leftovers().empty());
    }
}

TEST(ZipUpdate, DeletingPatternsRemovesTheirEntriesInEveryFolder) {
    struct Case {
        const char* what;
        std::vector<std::string> patterns;
        std::vector<std::string> kept;
        const char* skip;  // OnDeleteEntry keeps this entry
    } cases[] = {
        {"file-name pattern, any folder, any case", {"*.tmp"}, {"a.txt", "keep.tmp.txt", "sub/", "sub/deep/"}, ""},
        {"a skipped entry stays, the pattern goes on", {"*.tmp"}, {"a.txt", "keep.tmp.txt", "sub/", "sub/b.tmp", "sub/deep/"},
         "sub/b.tmp"},
        {"pattern over the whole name", {"sub/*"}, {"a.txt", "d.tmp", "keep.tmp.txt"}, ""},
        {"exact names, case-sensitive", {"sub/b.tmp", "A.TXT", "nothing"},
         {"a.txt", "d.tmp", "keep.tmp.txt", "sub/", "sub/deep/", "sub/deep/c.TMP"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Place p;
        makeTree(p.data);
        p.pack();
        Listed before = list(p.archive);
        TZipWriter w;
        p.setUp(w);
        std::vector<std::string> told;
        w.OnDeleteEntry = [&](TZipReader*, const std::string& name, bool& skip) {
            told.push_back(name);
            skip = name == c.skip;
        };
        w.FilesList = c.patterns;
        int removed = w.DeleteEntries();
        Listed after = list(p.archive);
        std::vector<std::string> kept = after.names;
        std::sort(kept.begin(), kept.end());
        EXPECT_EQ(kept, c.kept);
        EXPECT_EQ(size_t(removed), before.names.size() - after.names.size());
        EXPECT_EQ(told.size(), size_t(removed) + (*c.skip ? 1 : 0));
        for (const std::string& name : after.names) EXPECT_TRUE(after.raw[name] == before.raw[name]) << name;
        EXPECT_TRUE(w.FilesList.empty());
        EXPECT_EQ(w.ZipContents().Count(), after.names.size());
        expectReadable(p.archive);
    }
}

TEST(ZipUpdate, SelectedEntriesAreRemovedWhateverFilesListHolds) {
    Place p;
    makeTree(p.data);
    p.pack();
    TZipWriter w;
    p.setUp(w);
    w.OpenZip();
    for (size_t i = 0; i < w.ZipContents().Count(); ++i)
        w.ZipContents().Items(i)->selected = w.ZipContents().Items(i)->filename() == "a.txt";
    w.FilesList = {"*.tmp"};
    EXPECT_EQ(w.DeleteEntries(), 1);
    EXPECT_EQ(list(p.archive).names.size(), 6u);
}

TEST(ZipUpdate, DeletingWithoutAnArchive) {
    Place p;
    TZipWriter w;
    w.FilesList = {"*.tmp"};
    EXPECT_EQ(w.DeleteEntries(), 0);  // no name: nothing happens
    w.SetZipName(p.archive);
    EXPECT_EQ(w.DeleteEntries(), 0);  // no file: an empty archive
    std::string empty = std::string("PK\x05\x06", 4) + std::string(18, '\0');
    EXPECT_EQ(testsupport::readFile(p.archive), empty);
}

class ZipUpdateLevels : public ::testing::TestWithParam<int> {};

TEST_P(ZipUpdateLevels, ReplacingKeepsTheEntryInPlaceAndNewFilesComeLast) {
    Place p(GetParam());
    for (const char* f : {"a", "b", "c"}) testsupport::writeFile(p.data / f, std::string(1000, f[0]));
    p.pack(TZipAction::zaReplace, {p.file("a"), p.file("b"), p.file("c")});
    Listed before = list(p.archive);
    testsupport::writeFile(p.data / "b", "bigger b");
    testsupport::writeFile(p.data / "d", "d");
    TZipWriter w;
    p.setUp(w);
    std::vector<std::pair<TUpdateAction, int>> events;
    w.OnUpdate = [&](TZipReader*, TUpdateAction a, int i) { events.push_back({a, i}); };
    w.FilesList = {p.file("d"), p.file("b")};
    EXPECT_EQ(w.Zip(), 2);
    Listed after = list(p.archive);
    EXPECT_EQ(after.names, (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_TRUE(after.raw["a"] == before.raw["a"] && after.raw["c"] == before.raw["c"]);
    EXPECT_TRUE(after.raw["b"] != before.raw["b"]);
    EXPECT_EQ(events, (std::vector<std::pair<TUpdateAction, int>>{{TUpdateAction::uaReplacing, 1}}));
    testsupport::checkArchiveWithReaders(p.archive, p.data, GetParam());
}

TEST_P(ZipUpdateLevels, AnEncryptedArchiveIsUpdated) {
    Place p(GetParam(), "secret");
    testsupport::writeFile(p.data / "kept.txt", std::string(5000, 'k'));
    testsupport::writeFile(p.data / "changed.txt", "before");
    p.pack(TZipAction::zaReplace, {p.file("kept.txt"), p.file("changed.txt")});
    testsupport::writeFile(p.data / "changed.txt", std::string(3000, 'c'));
    testsupport::writeFile(p.data / "new.txt", "new");
    EXPECT_EQ(p.pack(TZipAction::zaReplace, {p.file("changed.txt"), p.file("new.txt")}), 2);
    auto r = testsupport::runCommand("/usr/bin/python3 -c 'import os,sys,zipfile\n"
                                     "z = zipfile.ZipFile(sys.argv[1])\n"
                                     "for i in z.infolist(): assert z.read(i, pwd=b\"secret\") == "
                                     "open(os.path.join(sys.argv[2], i.filename), \"rb\").read()\n"
                                     "print(*z.namelist())' " +
                                     testsupport::shellQuote(p.archive) + " " + testsupport::shellQuote(p.data.string()));
    EXPECT_EQ(r.output, "kept.txt changed.txt new.txt\n");
    auto unzip = testsupport::runCommand("unzip -P secret -tq " + testsupport::shellQuote(p.archive));
    EXPECT_EQ(unzip.exitCode, 0) << unzip.output;
}

INSTANTIATE_TEST_SUITE_P(Levels, ZipUpdateLevels, ::testing::Values(0, 9));

TEST(ZipUpdate, UpdateAndFreshenKeepEntriesAtLeastAsNewAsTheirFiles) {
    for (TZipAction action : {TZipAction::zaUpdate, TZipAction::zaFreshen}) {
        Place p;
        time_t then = time(nullptr) - 3600;
        for (const char* f : {"old", "newer"}) {
            testsupport::writeFile(p.data / f, f);
            setMtime(p.data / f, then);
        }
        p.pack(TZipAction::zaReplace, {p.file("old"), p.file("newer")});
        Listed before = list(p.archive);
        testsupport::writeFile(p.data / "newer", "changed");
        setMtime(p.data / "newer", then + 2);  // one DOS time step later
        testsupport::writeFile(p.data / "added", "added");
        TZipWriter w;  // a fresh writer: the directory is read from the file
        p.setUp(w, action);
        std::vector<std::pair<TUpdateAction, int>> events;
        w.OnUpdate = [&](TZipReader*, TUpdateAction a, int i) { events.push_back({a, i}); };
        w.FilesList = {(p.data / "*.*").string()};
        bool freshen = action == TZipAction::zaFreshen;
        EXPECT_EQ(w.Zip(), freshen ? 1 : 2);
        Listed after = list(p.archive);
        std::vector<std::string> names = {"old", "newer", "added"};
        if (freshen) names.pop_back();
        EXPECT_EQ(after.names, names);
        EXPECT_TRUE(after.raw["old"] == before.raw["old"]);
        EXPECT_NE(after.raw["newer"].find("changed"), std::string::npos);
        using Events = std::vector<std::pair<TUpdateAction, int>>;
        EXPECT_EQ(events, (Events{{TUpdateAction::uaKeeping, 0}, {TUpdateAction::uaReplacing, 1}}));
    }
}

// Sets the stamp of every entry of an archive in its local and central headers, as another writer might have.
void stampEveryEntry(const std::string& archive, uint32_t stamp) {
    std::string bytes = testsupport::readFile(archive);
    const auto put = [&](size_t at) {
        for (int k = 0; k < 4; ++k) bytes[at + k] = char((stamp >> (8 * k)) & 0xFF);
    };
    for (size_t at = 0; (at = bytes.find("PK\x03\x04", at)) != std::string::npos; at += 4) put(at + 10);
    for (size_t at = 0; (at = bytes.find("PK\x01\x02", at)) != std::string::npos; at += 4) put(at + 12);
    testsupport::writeFile(archive, bytes);
}

TEST(ZipUpdate, FilesDatedOutsideTheDosRangeAndInvalidStampsAreUpdated) {
    for (TZipAction action : {TZipAction::zaUpdate, TZipAction::zaFreshen})
    for (const char* what : {"a file of 1970", "a file of 2200", "an entry stamped 0xFFFFFFFF"}) {
        SCOPED_TRACE(what);
        Place p;
        testsupport::writeFile(p.data / "f", "old");
        const std::string w(what);
        setMtime(p.data / "f", w.find("2200") != std::string::npos ? time_t(7258118400) : time_t(86400));
        p.pack(TZipAction::zaReplace, {p.file("f")});
        const uint32_t stamped = w.find("2200") != std::string::npos ? platform::kLastDosDateTime : platform::kFirstDosDateTime;
        std::string raw = list(p.archive).raw["f"];
        EXPECT_EQ(uint8_t(raw[10]) | uint8_t(raw[11]) << 8 | uint8_t(raw[12]) << 16 | uint32_t(uint8_t(raw[13])) << 24,
                  stamped) << "clamped to the nearer end of the DOS range";
        if (w.find("0xFFFFFFFF") != std::string::npos) stampEveryEntry(p.archive, platform::kInvalidDosDateTime);
        testsupport::writeFile(p.data / "f", "edited");
        setMtime(p.data / "f", w.find("2200") != std::string::npos ? time_t(7258118400 + 86400) : time(nullptr));
        // A file of 2200 edited a day later is still as new as its clamped entry; any other is newer.
        const bool replaced = w.find("2200") == std::string::npos;
        EXPECT_EQ(p.pack(action, {p.file("f")}), replaced ? 1 : 0);
        EXPECT_EQ(list(p.archive).raw["f"].find("edited") != std::string::npos, replaced);
        expectReadable(p.archive);
    }
}

TEST(ZipUpdate, UpdatingAnUnchangedTreeChangesNoByte) {
    // Names in CP437, in UTF-8 (bit 11) and folders must all be recognised as already there.
    Place p;
    testsupport::makeAwkwardTree(p.data);
    fs::remove(p.data / "pipe");
    p.pack();
    std::string before = testsupport::readFile(p.archive);
    EXPECT_EQ(p.pack(TZipAction::zaUpdate), 0);
    EXPECT_TRUE(testsupport::readFile(p.archive) == before) << "the archive changed";
}

TEST(ZipUpdate, AReplacementThatCannotBeReadKeepsTheOldEntry) {
    Place p;
    testsupport::writeFile(p.data / "a", "old a");
    testsupport::writeFile(p.data / "b", "b");
    p.pack();
    Listed before = list(p.archive);
    testsupport::FaultyFileSystem faulty;
    faulty.openErrors[p.file("a")] = EACCES;
    platform::ScopedFileSystem use(faulty);
    EXPECT_EQ(p.pack(), 1);
    EXPECT_TRUE(list(p.archive).raw["a"] == before.raw["a"]);
}

// A failed or cancelled job leaves the archive as it was and no temporary file anywhere.
void expectUnchanged(const Place& p, const std::string& before, const std::string& what) {
    EXPECT_TRUE(testsupport::readFile(p.archive) == before) << what << ": the archive changed";
    EXPECT_TRUE(p.leftovers().empty()) << what;
}

TEST(ZipUpdate, CancelAndFullDiskLeaveTheArchiveUnchanged) {
    Place p;
    testsupport::writeBytes(p.data / "big", testsupport::randomBytes(200000, 1));
    testsupport::writeFile(p.data / "small", "small");
    p.pack(TZipAction::zaReplace, {p.file("big"), p.file("small")});
    std::string before = testsupport::readFile(p.archive);
    testsupport::writeBytes(p.data / "new", testsupport::randomBytes(100000, 2));
    // A cancel at every yield of the job: while entries are copied and while the new file is added.
    auto update = [&](int cancelAt) {
        TZipWriter w;
        p.setUp(w, TZipAction::zaUpdate);
        int yields = 0;
        w.ProcessMessages = [&] {
            if (++yields == cancelAt) w.CancelTheOperation();
        };
        w.FilesList = {(p.data / "*.*").string()};
        w.Zip();
        return yields;
    };
    TempDir copy;
    fs::copy_file(p.archive, copy / "out.zip");
    const int yields = update(0);
    fs::copy_file(copy / "out.zip", p.archive, fs::copy_options::overwrite_existing);
    EXPECT_GE(yields, 4);
    for (int cancelAt = 1; cancelAt <= yields; ++cancelAt) {
        EXPECT_THROW(update(cancelAt), EUserCanceled) << cancelAt;
        expectUnchanged(p, before, "cancel at yield " + std::to_string(cancelAt));
    }
    for (uint64_t budget : {0, 100, 150000, 200080, 300200}) {
        testsupport::FaultyFileSystem faulty;
        faulty.writeBudget = budget;
        platform::ScopedFileSystem use(faulty);
        EXPECT_THROW(p.pack(TZipAction::zaUpdate), ENotEnoughRoom) << budget;
        expectUnchanged(p, before, "budget " + std::to_string(budget));
    }
}

TEST(ZipUpdate, ABrokenArchiveIsRefusedAndLeftAlone) {
    Place p;
    testsupport::writeFile(p.data / "a", "a");
    testsupport::writeFile(p.data / "sub/b", "bb");
    p.pack();
    std::string good = testsupport::readFile(p.archive);
    // Every cut of a good archive, and a few rewrites of its bytes.
    std::vector<std::pair<std::string, std::string>> broken;
    for (size_t n = 1; n < good.size(); ++n) broken.push_back({"cut at " + std::to_string(n), good.substr(0, n)});
    broken.push_back({"garbage", "this is not an archive at all, just some text"});
    for (const char* name : {"duplicate-names.zip", "overlap.zip", "past-the-end.zip", "more-entries.zip",
                                    "name-past-end.zip", "dot-dot.zip", "absolute.zip", "descriptor-missing.zip",
                             "zip64-locator-outside.zip", "zip64-locator-no-record.zip", "zip64-count-disagrees.zip",
                             "zip64-size-disagrees.zip", "zip64-extra-short.zip", "zip64-too-many-entries.zip"})
        broken.push_back({name, testsupport::readFile(fs::path(FOLVIO_TEST_DATA_DIR) / "zip" / name)});
    for (const auto& [what, bytes] : broken) {
        testsupport::writeFile(p.archive, bytes);
        TZipWriter w;
        p.setUp(w, TZipAction::zaUpdate);
        w.FilesList = {(p.data / "*.*").string()};
        try {
            w.Zip();
            ADD_FAILURE() << what << " was accepted";
        } catch (const EIncompleteZip& e) {
            EXPECT_STREQ(e.what(), "Incomplete Zip File");
        } catch (const EListError& e) {
            EXPECT_EQ(what, "duplicate-names.zip");
            EXPECT_EQ(std::string(e.what()), "Duplicate Object index: two entries are named \"a.txt\" in the archive \"" +
                                                 p.archive + "\"");
        }
        expectUnchanged(p, bytes, what);
        EXPECT_TRUE(w.FilesList.empty());
    }
}

TEST(ZipUpdate, WhenTheArchiveCannotBeReplacedTheErrorNamesTheNewOne) {
    Place p;
    testsupport::writeFile(p.data / "a", "a");
    p.pack();
    std::string before = testsupport::readFile(p.archive);
    testsupport::writeFile(p.data / "b", "b");
    testsupport::FaultyFileSystem faulty;
    faulty.renameErrors[p.dir.path().string()] = EACCES;
    platform::ScopedFileSystem use(faulty);
    try {
        p.pack();
        FAIL();
    } catch (const EZipError& e) {
        std::string message = e.what();
        EXPECT_EQ(message.rfind("Could not copy from " + p.dir.path().string() + "/FVZ", 0), 0u) << message;
        ASSERT_EQ(p.leftovers().size(), 1u);
        std::string kept = p.leftovers()[0];
        EXPECT_NE(message.find("the new archive is \"" + kept + "\""), std::string::npos) << message;
        EXPECT_EQ(list(kept).names, (std::vector<std::string>{"a", "b"}));
    }
    EXPECT_TRUE(testsupport::readFile(p.archive) == before) << "the archive changed";
}

TEST(ZipUpdate, AFolderThatTakesNoTemporaryFileSendsItToTempPath) {
    for (bool otherFileSystem : {false, true}) {
        Place p;
        testsupport::writeFile(p.data / "a", "a");
        p.pack();
        testsupport::writeFile(p.data / "b", "b");
        TempDir elsewhere;
        testsupport::FaultyFileSystem faulty;
        faulty.temporaryErrors[p.dir.path().string()] = {EACCES};
        if (otherFileSystem) faulty.renameErrors[elsewhere.path().string()] = EXDEV;
        platform::ScopedFileSystem use(faulty);
        TZipWriter w;
        p.setUp(w);
        w.TempPath = elsewhere.path().string();
        w.FilesList = {(p.data / "*.*").string()};
        EXPECT_EQ(w.Zip(), 2) << otherFileSystem;
        EXPECT_EQ(list(p.archive).names, (std::vector<std::string>{"a", "b"}));
        EXPECT_TRUE(fs::is_empty(elsewhere.path()));
        EXPECT_TRUE(p.leftovers().empty());
    }
}

TEST(ZipUpdate, AnArchiveChangedByAnotherProgramIsNoticed) {
    Place p;
    testsupport::writeFile(p.data / "a", "a");
    p.pack();
    // Rewritten by someone else after the last job: the directory in memory is stale.
    TZipWriter w;
    p.setUp(w);
    w.FilesList = {p.file("a")};
    w.Zip();
    testsupport::writeFile(p.data / "other/x", "x");
    makeForeignArchive("info-zip", p.data / "other", p.archive);
    EXPECT_EQ(w.DeleteEntries(), 0);
    EXPECT_EQ(list(p.archive).names, std::vector<std::string>{"x"});
    // Rewritten while the job runs: the job fails and the other program's archive stays.
    std::string theirs;
    w.OnUpdate = [&](TZipReader*, TUpdateAction, int) {
        makeForeignArchive("stream", p.data / "other", p.archive);
        theirs = testsupport::readFile(p.archive);
    };
    w.FilesList = {(p.data / "other/x").string()};
    w.SetRootDir((p.data / "other").string());
    EXPECT_THROW(w.Zip(), EZipError);
    expectUnchanged(p, theirs, "changed during the job");
}

TEST(ZipUpdate, AnArchiveInsideThePackedFolderIsNeverPackedIntoItself) {
    // The walk reaches the archive under another spelling of its path, or through a link.
    for (std::string spelling : {"data/out.zip", "data/./out.zip", "data//out.zip", "link.zip"}) {
        Place p;
        testsupport::writeFile(p.data / "a", "a");
        fs::create_symlink(p.data / "out.zip", p.dir / "link.zip");
        TZipWriter w;
        for (std::string name : {std::string("data/out.zip"), spelling}) {
            p.setUp(w);
            w.SetZipName((p.dir / name).string());
            w.FilesList = {(p.data / "*.*").string()};
            EXPECT_EQ(w.Zip(), 1) << name;
        }
        EXPECT_EQ(list((p.data / "out.zip").string()).names, std::vector<std::string>{"a"}) << spelling;
    }
}

TEST(ZipUpdate, TheArchiveKeepsItsPermissionsAndLinks) {
    Place p;
    testsupport::writeFile(p.data / "a", "a");
    p.pack();
    fs::permissions(p.archive, fs::perms(0640));
    fs::create_symlink(p.archive, p.dir / "link.zip");
    TZipWriter w;
    p.setUp(w);
    w.SetZipName((p.dir / "link.zip").string());
    testsupport::writeFile(p.data / "b", "b");
    w.FilesList = {p.file("b")};
    EXPECT_EQ(w.Zip(), 1);
    EXPECT_TRUE(fs::is_symlink(p.dir / "link.zip"));
    EXPECT_EQ(list(p.archive).names, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(fs::status(p.archive).permissions(), fs::perms(0640));
}

}  // namespace

namespace {

TEST(ZipUpdate, AnArchiveAnotherJobWritesIsWaitedForOrRefused) {
    Place p;
    testsupport::writeFile(p.data / "a", "a");
    testsupport::writeFile(p.data / "b", "b");
    p.pack(TZipAction::zaReplace, {p.file("a")});
    const std::string before = testsupport::readFile(p.archive);
    auto other = std::make_unique<platform::FileLock>();  // another job's lock, on a description of its own
    ASSERT_EQ(other->Acquire(p.archive, false), 0);

    TZipWriter refusing;
    p.setUp(refusing, TZipAction::zaUpdate);
    refusing.WaitForArchiveLock = false;
    refusing.FilesList = {p.file("b")};
    EXPECT_THROW(refusing.Zip(), EZipBusy);

    TZipWriter cancelled;
    p.setUp(cancelled, TZipAction::zaUpdate);
    int polls = 0;
    cancelled.ProcessMessages = [&] {
        if (++polls == 5) cancelled.CancelTheOperation();
    };
    cancelled.FilesList = {p.file("b")};
    EXPECT_THROW(cancelled.Zip(), EUserCanceled) << "a cancel is seen while the job waits";
    EXPECT_TRUE(testsupport::readFile(p.archive) == before);
    EXPECT_TRUE(p.leftovers().empty());

    TZipWriter waiting;
    p.setUp(waiting, TZipAction::zaUpdate);
    waiting.FilesList = {p.file("b")};
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        other.reset();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(waiting.Zip(), 1);
    release.join();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90)) << "it did not wait";
    EXPECT_EQ(list(p.archive).names, (std::vector<std::string>{"a", "b"}));
}

}  // namespace

namespace {

TEST(ZipUpdate, AnUpdateThatChangesNothingLeavesTheFileUntouched) {
    Place p;
    testsupport::writeFile(p.data / "a", "a");
    testsupport::writeFile(p.data / "b.txt", "b");
    p.pack();
    setMtime(p.archive, time(nullptr) - 7200);
    const std::string before = testsupport::readFile(p.archive);
    std::vector<std::string> names = list(p.archive).names;
    struct stat old {};
    ASSERT_EQ(stat(p.archive.c_str(), &old), 0);
    TZipWriter w;  // one writer for every job, as the application keeps it
    struct Case {
        const char* what;
        bool remove;
        TZipAction action;
        std::vector<std::string> files;
    } cases[] = {
        {"nothing newer", false, TZipAction::zaUpdate, {(p.data / "*.*").string()}},
        {"freshen, nothing newer", false, TZipAction::zaFreshen, {(p.data / "*.*").string()}},
        {"a file that is not there", false, TZipAction::zaReplace, {p.file("missing")}},
        {"nothing to delete", true, TZipAction::zaUpdate, {"*.log"}},
    };
    for (const Case& c : cases) {
        p.setUp(w, c.action);
        w.FilesList = c.files;
        EXPECT_EQ(c.remove ? w.DeleteEntries() : w.Zip(), 0) << c.what;
        struct stat now {};
        ASSERT_EQ(stat(p.archive.c_str(), &now), 0);
        EXPECT_EQ(now.st_ino, old.st_ino) << c.what;
        EXPECT_EQ(now.st_mtim.tv_sec, old.st_mtim.tv_sec) << c.what;
        EXPECT_EQ(now.st_mtim.tv_nsec, old.st_mtim.tv_nsec) << c.what;
        EXPECT_TRUE(testsupport::readFile(p.archive) == before) << c.what;
        EXPECT_TRUE(p.leftovers().empty()) << c.what;
    }
    // The writer's directory still describes the archive: a later job builds on it correctly.
    testsupport::writeFile(p.data / "c", "c");
    p.setUp(w, TZipAction::zaUpdate);
    w.FilesList = {p.file("c")};
    EXPECT_EQ(w.Zip(), 1);
    names.push_back("c");
    EXPECT_EQ(list(p.archive).names, names);
    expectReadable(p.archive);
}

TEST(ZipUpdate, AnArchiveTheUserMayNotWriteIsRefusedWithTheSystemsReason) {
    Place p;
    testsupport::writeFile(p.data / "a", "a");
    testsupport::writeFile(p.data / "b", "b");
    p.pack(TZipAction::zaReplace, {p.file("a")});
    const std::string before = testsupport::readFile(p.archive);
    testsupport::FaultyFileSystem faulty;
    faulty.writeErrors[p.archive] = EACCES;  // as for a user the mode bits bind
    platform::ScopedFileSystem use(faulty);
    for (bool remove : {false, true}) {
        TZipWriter w;
        p.setUp(w, TZipAction::zaUpdate);
        w.FilesList = {remove ? std::string("a") : p.file("b")};
        EXPECT_EQ(testsupport::errorOf([&] { remove ? w.DeleteEntries() : w.Zip(); }),
                  "The archive \"" + p.archive + "\" cannot be updated: Permission denied");
        EXPECT_TRUE(testsupport::readFile(p.archive) == before);
        EXPECT_TRUE(p.leftovers().empty());
    }
}

}  // namespace

namespace {

TEST(ZipUpdate, TemporariesOfWritersThatAreGoneGoAndTheWritersOwnIsLockedWhileWritten) {
    Place p;
    testsupport::writeFile(p.data / "a", "a");
    testsupport::writeFile(p.data / "b", "b");
    p.pack(TZipAction::zaReplace, {p.file("a")});
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    const fs::path stale = p.dir / ("FVZ" + std::to_string(child) + "-kIlLd9");  // its writer was killed
    const fs::path live = p.dir / ("FVZ" + std::to_string(getppid()) + "-alive1");
    testsupport::writeFile(stale, std::string(100000, 'x'));
    testsupport::writeFile(live, "being written");
    TZipWriter w;
    p.setUp(w, TZipAction::zaUpdate);
    w.FilesList = {p.file("b")};
    std::vector<int> lockResults;
    w.OnStartZipInfo = [&](TZipReader*, int, double, TEndCentral&, bool&) {
        for (const auto& e : fs::directory_iterator(p.dir.path())) {
            const std::string name = e.path().filename().string();
            if (name.rfind(platform::TemporaryPrefix("FVZ"), 0) != 0) continue;
            platform::FileLock probe;
            lockResults.push_back(probe.Acquire(e.path().string(), false));
        }
    };
    EXPECT_EQ(w.Zip(), 1);
    EXPECT_EQ(lockResults, std::vector<int>{-EWOULDBLOCK}) << "the job's own temporary archive, locked";
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(live));
    fs::remove(live);
    EXPECT_TRUE(p.leftovers().empty());
}

}  // namespace

namespace {

// An archive of another writer with entries named "../../x" and "a/../../y" beside "ok.txt".
void makeArchiveLeadingOutside(const std::string& archive) {
    auto r = testsupport::runCommand(
        "/usr/bin/python3 -c 'import sys,zipfile\n"
        "z=zipfile.ZipFile(sys.argv[1],\"w\")\n"
        "for n in (\"ok.txt\",\"../../x\",\"a/../../y\"): z.writestr(n, n)\n"
        "z.close()' " + testsupport::shellQuote(archive));
    ASSERT_EQ(r.exitCode, 0) << r.output;
}

TEST(ZipUpdate, EntriesLeadingOutsideTheFolderMayOnlyBeRemoved) {
    Place p;
    testsupport::writeFile(p.data / "b", "b");
    makeArchiveLeadingOutside(p.archive);
    const std::string before = testsupport::readFile(p.archive);
    TZipWriter w;  // one writer for every job: a directory read for a removal is not taken for another job
    struct Case {
        const char* what;
        bool remove;
        std::vector<std::string> files;
        std::string error;
    } cases[] = {
        {"an update", false, {p.file("b")}, "Incomplete Zip File"},
        {"a removal that keeps one", true, {"../../x"}, "Incomplete Zip File"},
        {"a removal of another entry", true, {"ok.txt"}, "Incomplete Zip File"},
        {"an update after a failed removal", false, {p.file("b")}, "Incomplete Zip File"},
    };
    for (const Case& c : cases) {
        p.setUp(w, TZipAction::zaUpdate);
        w.FilesList = c.files;
        EXPECT_EQ(testsupport::errorOf([&] { c.remove ? w.DeleteEntries() : w.Zip(); }), c.error) << c.what;
        EXPECT_TRUE(testsupport::readFile(p.archive) == before) << c.what;
    }
    p.setUp(w, TZipAction::zaUpdate);
    w.FilesList = {"../../x", "a/../../y"};
    EXPECT_EQ(w.DeleteEntries(), 2);
    EXPECT_EQ(list(p.archive).names, std::vector<std::string>{"ok.txt"});
    expectReadable(p.archive);
    p.setUp(w, TZipAction::zaUpdate);
    w.FilesList = {p.file("b")};
    EXPECT_EQ(w.Zip(), 1) << "the mended archive takes updates again";
    EXPECT_TRUE(p.leftovers().empty());
}

}  // namespace
