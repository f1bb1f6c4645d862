#include <filesystem>
#include <gtest/gtest.h>
#include <algorithm>
#include <functional>
#include <map>
#include <zlib.h>

#include "faultyfilesystem.h"
#include "testsupport.h"
#include "zip/archivereader.h"
#include "zip/zipwriter.h"

namespace {

namespace fs = std::filesystem;
using testsupport::shellQuote;

// A tree with compressible and incompressible files larger than the reader's chunks, an empty
// file, an empty folder and names outside ASCII.
void makeTree(const fs::path& root) {
    std::string text;
    for (int i = 0; text.size() < 300000; ++i) text += "line " + std::to_string(i % 977) + " of a text that repeats\n";
    testsupport::writeFile(root / "text.txt", text);
    testsupport::writeBytes(root / "sub/random.bin", testsupport::randomBytes(200000, 7));
    testsupport::writeFile(root / "sub/empty.txt", "");
    testsupport::writeFile(root / "Grüße/naïve.txt", "ä ö ü");
    fs::create_directories(root / "sub/empty folder");
}

// name -> content for files, name -> "/" for folders.
using Contents = std::map<std::string, std::string>;

Contents treeContents(const fs::path& root) {
    Contents out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = it->path().lexically_relative(root).string();
        if (it->is_directory()) out[rel + "/"] = "/";
        else out[rel] = testsupport::readFile(it->path());
    }
    return out;
}

Contents readAll(const fs::path& archive, const std::string& password = "") {
    TBufferedFileStream in(archive.string(), TFileMode::fmOpenRead);
    TArchiveReader reader(in);
    Contents out;
    for (const TArchiveEntry& e : reader.Entries()) {
        std::string data;
        reader.Extract(e, password, [&](const uint8_t* p, size_t n) { data.append(reinterpret_cast<const char*>(p), n); });
        out[e.name] = e.IsFolder() ? "/" : data;
    }
    return out;
}

// The files must all be there with their bytes; folders only where the writer made entries.
void expectSameFiles(const Contents& got, const Contents& want) {
    for (const auto& [name, content] : want)
        if (content != "/") {
            auto it = got.find(name);
            ASSERT_NE(it, got.end()) << name;
            EXPECT_EQ(it->second, content) << name;
        }
    for (const auto& [name, content] : got) EXPECT_EQ(want.count(name), 1u) << "unexpected entry " << name;
}

void ourArchive(const fs::path& root, const fs::path& archive, int level, const std::string& password, bool aes = false) {
    TZipWriter w;
    w.SetZipName(archive.string());
    w.ZipAction = TZipAction::zaReplace;
    w.AddDirEntriesOnRecurse = true;
    w.Recurse = true;
    w.SetRelativePaths(true);
    w.SetRootDir(root.string());
    w.SetPackLevel(level);
    w.Password = password;
    if (aes) w.Encryption = TZipEncryption::zeAes256;
    w.FilesList = {root.string() + "/*.*"};
    w.Zip();
}

struct RoundTrip {
    const char* name;
    int level;
    const char* password;
    bool aes = false;
};

class ReaderRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(ReaderRoundTrip, GivesBackEveryFileOfOurWriter) {
    testsupport::TempDir dir;
    makeTree(dir / "src");
    ourArchive(dir / "src", dir / "a.zip", GetParam().level, GetParam().password, GetParam().aes);
    Contents got = readAll(dir / "a.zip", GetParam().password);
    expectSameFiles(got, treeContents(dir / "src"));
    EXPECT_EQ(got.count("sub/empty folder/"), 1u);
    EXPECT_NO_THROW(TestArchiveFile((dir / "a.zip").string(), GetParam().password));
}

INSTANTIATE_TEST_SUITE_P(Levels, ReaderRoundTrip,
                         ::testing::Values(RoundTrip{"stored", 0, ""}, RoundTrip{"fast", 1, ""},
                                           RoundTrip{"normal", 6, ""}, RoundTrip{"best", 9, ""},
                                           RoundTrip{"maximum", 10, ""}, RoundTrip{"storedEncrypted", 0, "secret"},
                                           RoundTrip{"bestEncrypted", 9, "pass wörd"},
                                           RoundTrip{"storedAes", 0, "secret", true},
                                           RoundTrip{"bestAes", 9, "pass wörd", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Archives of the same tree made by writers no one here wrote.
struct Foreign {
    const char* name;
    std::string command;  // run in the tree's folder; writes ../out.zip
    const char* password;
};

class ReaderForeign : public ::testing::TestWithParam<Foreign> {};

const char* const kPythonZip = R"(python3 -c '
import os, sys, zipfile
method = zipfile.ZIP_STORED if sys.argv[1] == "stored" else zipfile.ZIP_DEFLATED
out = sys.stdout.buffer if "stream" in sys.argv[1] else open("../out.zip", "wb")
with zipfile.ZipFile(out, "w", method) as z:
    for top, dirs, files in sorted(os.walk(".")):
        for d in sorted(dirs): z.write(os.path.join(top, d)[2:])
        for f in sorted(files):
            p = os.path.join(top, f)[2:]
            with open(p, "rb") as src, z.open(p, "w", force_zip64="zip64" in sys.argv[1]) as dst: dst.write(src.read())
')";

TEST_P(ReaderForeign, GivesBackEveryFile) {
    testsupport::TempDir dir;
    makeTree(dir / "src");
    testsupport::CommandResult r = testsupport::runCommand("cd " + shellQuote((dir / "src").string()) + " && " + GetParam().command);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    Contents got = readAll(dir / "out.zip", GetParam().password);
    expectSameFiles(got, treeContents(dir / "src"));
    EXPECT_NO_THROW(TestArchiveFile((dir / "out.zip").string(), GetParam().password));
    if (*GetParam().password) {
        EXPECT_THROW(TestArchiveFile((dir / "out.zip").string(), ""), EArchiveFault);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Writers, ReaderForeign,
    ::testing::Values(Foreign{"InfoZip", "zip -q -r ../out.zip .", ""},
                      Foreign{"InfoZipStored", "zip -q -0 -r ../out.zip .", ""},
                      Foreign{"InfoZipEncrypted", "zip -q -r -P secret ../out.zip .", "secret"},
                      Foreign{"InfoZipStreamed", "zip -q -r - . | cat > ../out.zip", ""},
                      Foreign{"InfoZipStreamedEncrypted", "zip -q -r -P secret - . | cat > ../out.zip", "secret"},
                      Foreign{"SevenZip", "7zz a -tzip -bd -bb0 ../out.zip . >/dev/null", ""},
                      Foreign{"SevenZipEncrypted", "7zz a -tzip -bd -bb0 -psecret -mem=ZipCrypto ../out.zip . >/dev/null",
                              "secret"},
                      Foreign{"SevenZipAes", "7zz a -tzip -bd -bb0 -psecret -mem=AES256 ../out.zip . >/dev/null", "secret"},
                      Foreign{"SevenZipAesStored", "7zz a -tzip -bd -bb0 -mx0 -psecret -mem=AES256 ../out.zip . >/dev/null",
                              "secret"},
                      Foreign{"PythonDeflated", kPythonZip + std::string(" deflated"), ""},
                      Foreign{"PythonStored", kPythonZip + std::string(" stored"), ""},
                      Foreign{"PythonZip64", kPythonZip + std::string(" zip64"), ""},
                      Foreign{"PythonStreamed", kPythonZip + std::string(" stream | cat > ../out.zip"), ""},
                      Foreign{"PythonStreamedZip64", kPythonZip + std::string(" streamzip64 | cat > ../out.zip"), ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A damaged copy of a three-entry archive: the mutation, the entry the test must name and the
// fault it must find there.
struct Damage {
    const char* name;
    std::function<void(std::vector<uint8_t>& bytes, const TArchiveEntry& entry, size_t central)> mutate;
    const char* entry;  // "": the first in the directory
    std::vector<TEntryFault> faults;  // any of these
    const char* password = "";
    const char* named = nullptr;  // the name the fault must give, when the damage changed it
    bool aes = false;
};

void flip(std::vector<uint8_t>& bytes, size_t at) { bytes.at(at) ^= 0x5A; }
size_t dataStart(const std::vector<uint8_t>& bytes, const TArchiveEntry& e) {
    const size_t at = e.localHeaderOffset;
    return at + 30 + (bytes[at + 26] | bytes[at + 27] << 8) + (bytes[at + 28] | bytes[at + 29] << 8);
}

// Where the first AES block (id 0x9901, 7 bytes, "AE") after a header starts.
size_t aesBlock(const std::vector<uint8_t>& bytes, size_t from) {
    for (size_t at = from; at + 6 <= bytes.size(); ++at)
        if (bytes[at] == 0x01 && bytes[at + 1] == 0x99 && bytes[at + 2] == 7 && bytes[at + 3] == 0 && bytes[at + 4] == 2 &&
            bytes[at + 5] == 0 && bytes[at + 6] == 'A')
            return at;
    ADD_FAILURE() << "no AES block after " << from;
    return 0;
}

class ReaderDamage : public ::testing::TestWithParam<Damage> {};

TEST_P(ReaderDamage, NamesTheBadEntryAndTheFault) {
    testsupport::TempDir dir;
    std::string text;
    for (int i = 0; i < 4000; ++i) text += "text line " + std::to_string(i) + "\n";
    testsupport::writeFile(dir / "src/a.txt", text);
    testsupport::writeBytes(dir / "src/b.bin", testsupport::randomBytes(5000, 3));  // stays stored
    testsupport::writeFile(dir / "src/c.txt", text + text);
    ourArchive(dir / "src", dir / "a.zip", 6, GetParam().password, GetParam().aes);
    std::vector<uint8_t> bytes = testsupport::readBytes(dir / "a.zip");
    std::vector<TArchiveEntry> entries;
    {
        TBufferedFileStream in((dir / "a.zip").string(), TFileMode::fmOpenRead);
        entries = TArchiveReader(in).Entries();
    }
    ASSERT_EQ(entries.size(), 3u);
    // The central header of the entry named, found by its place among the central headers.
    size_t index = 0;
    while (*GetParam().entry && entries[index].name != GetParam().entry) ++index;
    size_t central = 0;
    for (size_t at = 0, seen = 0; at + 4 <= bytes.size(); ++at)
        if (bytes[at] == 'P' && bytes[at + 1] == 'K' && bytes[at + 2] == 1 && bytes[at + 3] == 2 && seen++ == index) central = at;
    ASSERT_NE(central, 0u);
    GetParam().mutate(bytes, entries[index], central);
    testsupport::writeBytes(dir / "a.zip", bytes);

    const std::string password = *GetParam().password ? "wrong" : "";
    try {
        const bool wrong = std::string(GetParam().name).find("WrongPassword") != std::string::npos;
        TestArchiveFile((dir / "a.zip").string(), wrong ? password : GetParam().password);
        ADD_FAILURE() << "no fault found";
    } catch (const EArchiveFault& e) {
        // No entry given: the first one in the directory's order.
        const std::string named = GetParam().named ? GetParam().named : *GetParam().entry ? GetParam().entry : entries[0].name;
        EXPECT_EQ(e.Entry(), named) << e.what();
        EXPECT_NE(std::find(GetParam().faults.begin(), GetParam().faults.end(), e.Fault()), GetParam().faults.end()) << e.what();
        EXPECT_NE(std::string(e.what()).find(named), std::string::npos) << e.what();
    }
}

using F = TEntryFault;
INSTANTIATE_TEST_SUITE_P(
    Cases, ReaderDamage,
    ::testing::Values(
        Damage{"FlippedDeflatedByte", [](auto& b, auto& e, size_t) { flip(b, dataStart(b, e) + e.compressedSize / 2); },
               "c.txt", {F::Data, F::Crc, F::Size}},
        Damage{"FlippedStoredByte", [](auto& b, auto& e, size_t) { flip(b, dataStart(b, e) + 100); }, "b.bin", {F::Crc}},
        Damage{"FlippedCrcInBothHeaders",
               [](auto& b, auto& e, size_t c) { flip(b, e.localHeaderOffset + 14), flip(b, c + 16); }, "a.txt", {F::Crc}},
        Damage{"FlippedCentralCrc", [](auto& b, auto&, size_t c) { flip(b, c + 16); }, "b.bin", {F::Mismatch}},
        Damage{"LocalSizeChanged", [](auto& b, auto& e, size_t) { b[e.localHeaderOffset + 18] += 1; }, "c.txt", {F::Mismatch}},
        Damage{"CentralNameDiffers", [](auto& b, auto&, size_t c) { b[c + 46] = 'x'; }, "c.txt", {F::Mismatch}, "", "x.txt"},
        Damage{"LocalHeaderMissing", [](auto& b, auto& e, size_t) { flip(b, e.localHeaderOffset); }, "b.bin", {F::LocalHeader}},
        Damage{"SizeStatedSmaller",
               [](auto& b, auto& e, size_t c) { b[e.localHeaderOffset + 23] -= 1, b[c + 25] -= 1; }, "c.txt", {F::Size}},
        Damage{"UnknownMethod", [](auto& b, auto& e, size_t c) { b[e.localHeaderOffset + 8] = 14, b[c + 10] = 14; },
               "a.txt", {F::Method}},
        Damage{"DataRunPastTheEnd",
               [](auto& b, auto& e, size_t c) { b[e.localHeaderOffset + 21] = 0x7F, b[c + 23] = 0x7F; }, "c.txt",
               {F::Truncated}},
        // A wrong password passes the check byte one time in 256; the data then fail.
        Damage{"WrongPassword", [](auto&, auto&, size_t) {}, "", {F::Password, F::Data, F::Crc, F::Size}, "secret"},
        Damage{"FlippedEncryptedByte", [](auto& b, auto& e, size_t) { flip(b, dataStart(b, e) + 40); }, "c.txt",
               {F::Data, F::Crc, F::Size}, "secret"},
        Damage{"AesWrongPassword", [](auto&, auto&, size_t) {}, "", {F::Password}, "secret", nullptr, true},
        // Changed data are found by the authentication code, even where inflate trips over them first.
        Damage{"AesFlippedDeflatedByte", [](auto& b, auto& e, size_t) { flip(b, dataStart(b, e) + 40); }, "c.txt",
               {F::Tampered}, "secret", nullptr, true},
        Damage{"AesFlippedLastDeflatedByte",
               [](auto& b, auto& e, size_t) { flip(b, dataStart(b, e) + e.compressedSize - 11); }, "a.txt", {F::Tampered},
               "secret", nullptr, true},
        Damage{"AesFlippedStoredByte", [](auto& b, auto& e, size_t) { flip(b, dataStart(b, e) + 100); }, "b.bin",
               {F::Tampered}, "secret", nullptr, true},
        Damage{"AesFlippedCode", [](auto& b, auto& e, size_t) { flip(b, dataStart(b, e) + e.compressedSize - 1); },
               "b.bin", {F::Tampered}, "secret", nullptr, true},
        // Other keys follow from another salt: the verifier tells (but for one salt in 65536).
        Damage{"AesFlippedSalt", [](auto& b, auto& e, size_t) { flip(b, dataStart(b, e) + 5); }, "c.txt",
               {F::Password, F::Tampered}, "secret", nullptr, true},
        Damage{"AesDataShorterThanHeaderAndCode",
               [](auto& b, auto& e, size_t c) {
                   for (int i = 0; i < 4; ++i) b[e.localHeaderOffset + 18 + i] = b[c + 20 + i] = i == 0 ? 20 : 0;
               },
               "a.txt", {F::Data}, "secret", nullptr, true},
        Damage{"AesStrength128",
               [](auto& b, auto& e, size_t c) { b[aesBlock(b, e.localHeaderOffset) + 8] = 1, b[aesBlock(b, c) + 8] = 1; }, "c.txt", {F::Method}, "secret", nullptr, true},
        Damage{"AesLocalBlockDiffers", [](auto& b, auto& e, size_t) { b[aesBlock(b, e.localHeaderOffset) + 9] = 0; },
               "c.txt", {F::Mismatch}, "secret", nullptr, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReaderDamage, ATruncatedArchiveOrNoneAtAllIsRefusedAsAWhole) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir / "src/a.txt", "some text");
    ourArchive(dir / "src", dir / "a.zip", 6, "");
    std::vector<uint8_t> bytes = testsupport::readBytes(dir / "a.zip");
    for (size_t keep : {bytes.size() - 1, bytes.size() - 30, size_t{40}, size_t{0}}) {
        testsupport::writeBytes(dir / "cut.zip", std::vector<uint8_t>(bytes.begin(), bytes.begin() + keep));
        EXPECT_THROW(TestArchiveFile((dir / "cut.zip").string(), ""), EIncompleteZip) << keep;
    }
    EXPECT_THROW(TestArchiveFile((dir / "none.zip").string(), ""), platform::EFileError);
}

// The malformed archives the writer's directory reader refuses: the reader takes those whose
// entries can be read (names are no concern of the reader's), and names what is wrong with the rest.
TEST(ReaderDamage, TheRegressionArchivesOfTheDirectoryReader) {
    struct Case {
        const char* file;
        const char* outcome;  // "ok", "incomplete", or the bad entry's name
    };
    for (const Case& c : {Case{"absolute.zip", "ok"}, Case{"dot-dot.zip", "ok"}, Case{"duplicate-names.zip", "ok"},
                          Case{"zip64.zip", "ok"}, Case{"descriptor-missing.zip", "first"}, Case{"overlap.zip", "second"},
                          Case{"more-entries.zip", "incomplete"}, Case{"name-past-end.zip", "incomplete"},
                          Case{"past-the-end.zip", "incomplete"}}) {
        std::string outcome = "ok";
        try {
            TestArchiveFile(std::string(FOLVIO_TEST_DATA_DIR) + "/zip/" + c.file, "");
        } catch (const EIncompleteZip&) {
            outcome = "incomplete";
        } catch (const EArchiveFault& e) {
            outcome = e.Entry();
        }
        EXPECT_EQ(outcome, c.outcome) << c.file;
    }
}

// AE-1 entries keep the CRC beside the authentication code: it is checked too; AE-2 ones store 0.
TEST(ReaderAes, AnAe1EntryHasItsCrcCheckedAndAnAe2OneNone) {
    testsupport::TempDir dir;
    const std::string text = "an entry under AES, version 1 of the format";
    testsupport::writeFile(dir / "src/a.txt", text);
    ourArchive(dir / "src", dir / "a.zip", 9, "secret", true);
    const std::vector<uint8_t> ae2 = testsupport::readBytes(dir / "a.zip");
    const size_t central = ae2.size() - 22 - (ae2[ae2.size() - 10] | ae2[ae2.size() - 9] << 8);
    ASSERT_EQ(ae2[central + 16] | ae2[central + 17] | ae2[central + 18] | ae2[central + 19], 0);  // AE-2 stores no CRC
    // As AE-1: version 1 in both blocks, the given CRC in both headers.
    auto asAe1 = [&](uint32_t crc) {
        std::vector<uint8_t> b = ae2;
        b[aesBlock(b, 0) + 4] = 1, b[aesBlock(b, central) + 4] = 1;
        for (size_t at : {size_t{14}, central + 16})
            for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(crc >> (8 * i));
        return b;
    };
    const uint32_t crc =
        static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        bool good;
    };
    for (const Case& c :
         {Case{"Ae2", ae2, true}, Case{"Ae1", asAe1(crc), true}, Case{"Ae1WrongCrc", asAe1(crc ^ 1), false}}) {
        testsupport::writeBytes(dir / "b.zip", c.bytes);
        try {
            EXPECT_EQ(readAll(dir / "b.zip", "secret")["a.txt"], text) << c.name;
            EXPECT_TRUE(c.good) << c.name;
        } catch (const EArchiveFault& e) {
            EXPECT_FALSE(c.good) << c.name << e.what();
            EXPECT_EQ(e.Fault(), TEntryFault::Crc) << c.name << e.what();
        }
    }
}

// The writer's test after writing, with a byte flipped on its way to the disk without an error.
struct TestedJob {
    testsupport::TempDir dir;
    TZipWriter w;
    std::vector<int> percents;
    TestedJob() {
        std::string text;
        for (int i = 0; i < 9000; ++i) text += "line " + std::to_string(i) + "\n";
        testsupport::writeFile(dir / "big.txt", text);
        testsupport::writeFile(dir / "a.txt", "hello");
        w.SetZipName((dir / "out.zip").string());
        w.SetStorePaths(false);
        w.TestAfterWriting = true;
        w.OnTotalPercentDone = [this](TZipReader*, int p) { percents.push_back(p); };
    }
    std::string error(std::vector<std::string> files) {
        w.FilesList = std::move(files);
        return testsupport::errorOf([&] { w.Zip(); });
    }
};

TEST(TestAfterWriting, AByteTheDiskFlippedSilentlyFailsTheJobAndNoArchiveStays) {
    for (bool test : {false, true}) {
        TestedJob job;
        job.w.TestAfterWriting = test;
        testsupport::FaultyFileSystem faulty;
        faulty.flipWrittenByte[job.dir.path().string()] = 30 + 7 + 500;  // inside big.txt's data
        platform::ScopedFileSystem use(faulty);
        const std::string error = job.error({(job.dir / "big.txt").string()});
        if (!test) {
            EXPECT_EQ(error, "no error");  // the fault is silent: only the test finds it
            continue;
        }
        EXPECT_EQ(error.rfind("The archive \"" + (job.dir / "out.zip").string() + "\" failed its test: \"big.txt\": ", 0), 0u)
            << error;
        EXPECT_FALSE(fs::exists(job.dir / "out.zip"));
    }
}

TEST(TestAfterWriting, AFailedUpdateLeavesTheExistingArchiveAsItWas) {
    TestedJob job;
    job.w.SetPackLevel(0);
    EXPECT_EQ(job.error({(job.dir / "a.txt").string()}), "no error");
    const std::vector<uint8_t> before = testsupport::readBytes(job.dir / "out.zip");
    testsupport::FaultyFileSystem faulty;
    faulty.flipWrittenByte[job.dir.path().string()] = before.size() - 22 - 46 - 5 + 30 + 7 + 500;  // big.txt's data after a.txt
    platform::ScopedFileSystem use(faulty);
    job.w.SetPackLevel(6);
    const std::string error = job.error({(job.dir / "big.txt").string()});
    EXPECT_NE(error.find("failed its test: \"big.txt\": "), std::string::npos) << error;
    EXPECT_EQ(testsupport::readBytes(job.dir / "out.zip"), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(job.dir.path()), fs::directory_iterator()), 3);  // no temporary file left
}

TEST(TestAfterWriting, EntriesCarriedOverUnderAnotherPasswordPassAndTheTestEndsTheProgress) {
    TestedJob job;
    job.w.Password = "old";
    EXPECT_EQ(job.error({(job.dir / "a.txt").string()}), "no error");
    job.w.Password = "new";
    job.percents.clear();
    EXPECT_EQ(job.error({(job.dir / "big.txt").string()}), "no error");
    EXPECT_TRUE(std::is_sorted(job.percents.begin(), job.percents.end()));
    EXPECT_EQ(job.percents.back(), 100);
    EXPECT_NE(std::find(job.percents.begin(), job.percents.end(), 90), job.percents.end());  // the writing's end
    TBufferedFileStream in((job.dir / "out.zip").string(), TFileMode::fmOpenRead);
    TArchiveReader reader(in);
    ASSERT_EQ(reader.Entries().size(), 2u);
    EXPECT_NO_THROW(reader.Test(reader.Entries()[0], "old"));
    EXPECT_NO_THROW(reader.Test(reader.Entries()[1], "new"));
}

// Carried-over AES entries under a password this job does not know pass on their headers; with the
// job's own password they are tested through and through.
TEST(TestAfterWriting, AesEntriesCarriedOverUnderAnotherPasswordPass) {
    TestedJob job;
    job.w.Encryption = TZipEncryption::zeAes256;
    job.w.Password = "old";
    EXPECT_EQ(job.error({(job.dir / "a.txt").string()}), "no error");
    job.w.Password = "new";
    EXPECT_EQ(job.error({(job.dir / "big.txt").string()}), "no error");
    TBufferedFileStream in((job.dir / "out.zip").string(), TFileMode::fmOpenRead);
    TArchiveReader reader(in);
    ASSERT_EQ(reader.Entries().size(), 2u);
    EXPECT_TRUE(reader.Entries()[0].IsAes());
    EXPECT_NO_THROW(reader.Test(reader.Entries()[0], "old"));
    EXPECT_NO_THROW(reader.Test(reader.Entries()[1], "new"));
    EXPECT_NO_THROW(reader.CheckHeaders(reader.Entries()[0]));
    const std::string wrong = testsupport::errorOf([&] { reader.Test(reader.Entries()[0], "new"); });
    EXPECT_NE(wrong.find("a.txt\": the password is wrong"), std::string::npos) << wrong;
}

}  // namespace
