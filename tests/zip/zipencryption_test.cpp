#include <filesystem>
#include <gtest/gtest.h>
#include <zlib.h>

#include "testsupport.h"
#include "zip/tradcipher.h"
#include "zip/zipdirectory.h"
#include "zip/zipwriter.h"

namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;
using testsupport::shellQuote;

const std::string kLongPassword = [] {
    std::string s;
    for (int i = 0; i < 5; ++i) s += "Long password, with spaces & punctuation! ";
    return s;
}();

// A tree with an empty file, a short text, random data and a folder.
fs::path makeTree(const TempDir& dir) {
    fs::path data = dir / "data";
    testsupport::writeFile(data / "empty", "");
    testsupport::writeFile(data / "short.txt", "short text\n");
    testsupport::writeBytes(data / "sub/random.bin", testsupport::randomBytes(100000, 7));
    return data;
}

std::string pack(const fs::path& data, const fs::path& archive, const std::string& password, int level,
                 TZipWriter* writer = nullptr) {
    TZipWriter local;
    TZipWriter& w = writer ? *writer : local;
    w.SetZipName(archive.string());
    w.AddDirEntriesOnRecurse = true;
    w.SetRelativePaths(true);
    w.SetRootDir(data.string());
    w.SetPackLevel(level);
    w.Password = password;
    w.FilesList = {(data / "*.*").string()};
    w.Zip();
    return archive.string();
}

struct Stored {
    std::string name;
    uint16_t localFlag, centralFlag, method;
    uint32_t crc, compressed, size;
    std::string data;  // the entry's bytes after its local header
};

std::vector<Stored> entries(const std::string& archive) {
    TBufferedFileStream in(archive, TFileMode::fmOpenRead);
    TSortedZip list(TZipSortMode::ByNone);
    TEndCentral end;
    ReadZipDirectory(in, true, list, end);
    std::string bytes = testsupport::readFile(archive);
    std::vector<Stored> out;
    for (size_t i = 0; i < list.Count(); ++i) {
        const TZipHeaderInfo& e = *list.Items(i);
        size_t at = e.local_header_offset;
        auto u16 = [&](size_t k) { return uint16_t(uint8_t(bytes[at + k]) | uint8_t(bytes[at + k + 1]) << 8); };
        out.push_back({e.directory() + e.filename(), u16(6), e.general_purpose_flag, e.compression_method, e.crc32,
                       uint32_t(e.compressed_size),
                       uint32_t(e.uncompressed_size), bytes.substr(at + 30 + u16(26) + u16(28), e.compressed_size)});
    }
    return out;
}

// The plain bytes of an encrypted entry, decrypted with the reader's side of the cipher.
std::string decrypt(const std::string& password, const std::string& data) {
    TTraditionalCipher keys;
    keys.Init_Keys(password);
    std::string plain;
    for (char c : data) plain += static_cast<char>(keys.zdecode(static_cast<uint8_t>(c)));
    return plain;
}

struct Case {
    std::string password;
    int level;
};

class Encryption : public ::testing::TestWithParam<Case> {};

TEST_P(Encryption, ThreeReadersOpenTheEntriesWithThePasswordOnly) {
    const Case& c = GetParam();
    TempDir dir;
    fs::path data = makeTree(dir);
    std::string archive = pack(data, dir / "secret.zip", c.password, c.level);
    std::string a = shellQuote(archive), pw = shellQuote(c.password), wrong = shellQuote(c.password + "?");

    auto unzip = testsupport::runCommand("unzip -P " + pw + " -t " + a);
    EXPECT_EQ(unzip.exitCode, 0) << unzip.output;
    EXPECT_NE(unzip.output.find("No errors detected"), std::string::npos) << unzip.output;
    auto sevenZip = testsupport::runCommand("7zz t -p" + pw + " " + a);
    EXPECT_EQ(sevenZip.exitCode, 0) << sevenZip.output;
    EXPECT_NE(sevenZip.output.find("Everything is Ok"), std::string::npos) << sevenZip.output;
    const std::string python =
        "/usr/bin/python3 -c 'import os,sys,zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "z.setpassword(sys.argv[2].encode())\n"
        "for i in z.infolist():\n"
        "  if not i.is_dir(): assert z.read(i) == open(os.path.join(sys.argv[3], i.filename), \"rb\").read(), i.filename\n"
        "print(\"same\", len(z.infolist()))' ";
    auto py = testsupport::runCommand(python + a + " " + pw + " " + shellQuote(data.string()));
    EXPECT_EQ(py.output, "same 4\n");

    // A wrong password is refused (tried on a non-empty entry: an empty one has nothing to check).
    EXPECT_NE(testsupport::runCommand("unzip -P " + wrong + " -t " + a + " sub/random.bin").exitCode, 0);
    EXPECT_NE(testsupport::runCommand("7zz t -p" + wrong + " " + a + " sub/random.bin").exitCode, 0);
    EXPECT_NE(testsupport::runCommand(python + a + " " + wrong + " " + shellQuote(data.string())).exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(Passwords, Encryption,
                         ::testing::Values(Case{"x", 0}, Case{kLongPassword, 0}, Case{"x", 9}, Case{kLongPassword, 9},
                                           Case{"x", 10}, Case{kLongPassword, 10}),
                         [](const auto& info) {
                             return (info.param.password.size() == 1 ? "OneByte" : "Long") + std::string("Level") +
                                    std::to_string(info.param.level);
                         });

// The entry's data as the file had it: stored, or inflated from Deflate.
std::string unpacked(const std::string& data, uint16_t method, uint32_t size) {
    if (method == 0) return data;
    std::string out(size, '\0');
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    int r = inflate(&z, Z_FINISH);
    inflateEnd(&z);
    return r == Z_STREAM_END ? out : "inflate failed";
}

class EncryptionHeader : public ::testing::TestWithParam<int> {};

TEST_P(EncryptionHeader, ChecksTheCrcAndFoldersStayPlain) {
    TempDir dir;
    fs::path data = makeTree(dir);
    std::string first = pack(data, dir / "one.zip", "pw", GetParam());
    std::string second = pack(data, dir / "two.zip", "pw", GetParam());
    std::vector<Stored> a = entries(first), b = entries(second);
    ASSERT_EQ(a.size(), 4u);
    for (size_t i = 0; i < a.size(); ++i) {
        const Stored& e = a[i];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(e.localFlag, e.centralFlag);
        if (e.name == "sub/") {
            EXPECT_EQ(e.centralFlag, 0);
            EXPECT_EQ(e.compressed, 0u);
            continue;
        }
        EXPECT_EQ(e.centralFlag & 1, 1);
        if (e.method == 0) {
            EXPECT_EQ(e.compressed, e.size + 12);
        }
        std::string plain = decrypt("pw", e.data);
        EXPECT_EQ(uint8_t(plain[10]), uint8_t(e.crc >> 16));
        EXPECT_EQ(uint8_t(plain[11]), uint8_t(e.crc >> 24));
        EXPECT_TRUE(unpacked(plain.substr(12), e.method, e.size) == testsupport::readFile(data / e.name));
        // Ten fresh random bytes per entry: the same file never gets the same header twice.
        EXPECT_NE(a[i].data.substr(0, 10), b[i].data.substr(0, 10));
    }
}

TEST_P(EncryptionHeader, AFileChangedBetweenItsTwoReadsIsTakenAgain) {
    TempDir dir;
    fs::path data = dir / "data";
    testsupport::writeBytes(data / "moving.bin", testsupport::randomBytes(100000, 1));
    // Rewritten during the first read of the data, then cut shorter during the second: the
    // third take is the entry, and nothing of the longer takes is left in the archive.
    std::vector<uint8_t> final = testsupport::randomBytes(50000, 3);
    TZipWriter w;
    int reads = 0, last = 0, takes = 1;
    w.OnFilePercentDone = [&](TZipReader*, int percent) {
        if (percent < last) ++takes;  // the progress of a file starts again with a new take
        last = percent;
        if (++reads == 1) testsupport::writeBytes(data / "moving.bin", testsupport::randomBytes(100000, 2));
        if (takes == 2 && fs::file_size(data / "moving.bin") != final.size())
            testsupport::writeBytes(data / "moving.bin", final);
    };
    std::string archive = pack(data, dir / "moving.zip", "pw", GetParam(), &w);
    std::vector<Stored> e = entries(archive);
    ASSERT_EQ(e.size(), 1u);
    std::string plain = decrypt("pw", e[0].data);
    EXPECT_TRUE(unpacked(plain.substr(12), e[0].method, e[0].size) == std::string(final.begin(), final.end()));
    EXPECT_EQ(uint8_t(plain[11]), uint8_t(e[0].crc >> 24));
    EXPECT_EQ(fs::file_size(archive), 30 + 10 + e[0].compressed + 46 + 10 + 22u);
}

INSTANTIATE_TEST_SUITE_P(Levels, EncryptionHeader, ::testing::Values(0, 9, 10));

TEST(EncryptionEvents, OnEncryptTakesTheDataButNotTheHeader) {
    TempDir dir;
    fs::path data = makeTree(dir);
    TZipWriter w;
    size_t handed = 0;
    w.OnEncrypt = [&](TZipReader*, uint8_t*, size_t length, const std::string& password) {
        EXPECT_EQ(password, "pw");
        handed += length;  // left as it is
    };
    std::string archive = pack(data, dir / "own.zip", "pw", 0, &w);
    for (const Stored& e : entries(archive)) {
        if (e.name == "sub/") continue;
        EXPECT_EQ(e.data.substr(12), testsupport::readFile(data / e.name)) << e.name;
        std::string check = decrypt("pw", e.data.substr(0, 12)).substr(10);
        EXPECT_EQ(check, (std::string{char(e.crc >> 16), char(e.crc >> 24)}));
    }
    EXPECT_EQ(handed, 100000u + 11u);
}

}  // namespace
