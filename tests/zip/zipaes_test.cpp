#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>

#include "rawinflate.h"
#include "testsupport.h"
#include "zip/aescipher.h"
#include "zip/tradcipher.h"
#include "zip/zipdirectory.h"
#include "zip/zipwriter.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using testsupport::TempDir;
using testsupport::shellQuote;

const std::string kPassword = "Correct horse, battery staple!";

// The files of every archive: empty, one byte, 1 MiB of random data, text, a non-ASCII name.
std::map<std::string, Bytes> makeFiles(const fs::path& data) {
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + " of a plain text file\n";
    std::map<std::string, Bytes> files = {
        {"empty", {}},
        {"one", {'1'}},
        {"random.bin", testsupport::randomBytes(1 << 20, 5)},
        {"text.txt", Bytes(text.begin(), text.end())},
        {"sub/Grüße ñ.txt", Bytes(3000, 'g')},
    };
    for (const auto& [name, content] : files) testsupport::writeBytes(data / name, content);
    return files;
}

void configure(TZipWriter& w, const fs::path& data, const fs::path& archive, int level, TZipEncryption cipher,
               const std::string& password = kPassword) {
    w.SetZipName(archive.string());
    w.SetRelativePaths(true);
    w.SetRootDir(data.string() + "/");
    w.SetPackLevel(level);
    w.Password = password;
    w.Encryption = cipher;
}

void pack(const fs::path& data, const fs::path& archive, int level, TZipEncryption cipher,
          std::vector<std::string> specs = {}) {
    TZipWriter w;
    configure(w, data, archive, level, cipher);
    w.FilesList = specs.empty() ? std::vector<std::string>{(data / "*.*").string()} : std::move(specs);
    w.Recurse = true;
    w.AddDirEntriesOnRecurse = true;
    w.Zip();
}

uint16_t u16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}
uint32_t u32(const std::string& b, size_t at) { return u16(b, at) | static_cast<uint32_t>(u16(b, at + 2)) << 16; }

// One entry as the archive's bytes have it.
struct Entry {
    uint16_t version, flag, method, centralVersion, centralMethod;
    uint32_t crc, compressed, size;
    std::string localExtra, centralExtra;
    std::string record;  // local header, name, extra field and data
};

std::map<std::string, Entry> entriesOf(const fs::path& archive) {
    TBufferedFileStream in(archive.string(), TFileMode::fmOpenRead);
    TSortedZip list(TZipSortMode::ByNone);
    TEndCentral end;
    ReadZipDirectory(in, false, list, end);
    const std::string b = testsupport::readFile(archive);
    std::map<std::string, Entry> out;
    for (size_t i = 0; i < list.Count(); ++i) {
        const TZipHeaderInfo& e = *list.Items(i);
        const size_t at = e.local_header_offset, c = e.central_header_offset;
        const size_t dataAt = at + 30 + u16(b, at + 26) + u16(b, at + 28);
        out[e.StoredName()] = {u16(b, at + 4),
                               u16(b, at + 6),
                               u16(b, at + 8),
                               u16(b, c + 6),
                               u16(b, c + 10),
                               u32(b, at + 14),
                               u32(b, at + 18),
                               u32(b, at + 22),
                               b.substr(at + 30 + u16(b, at + 26), u16(b, at + 28)),
                               b.substr(c + 46 + u16(b, c + 28), u16(b, c + 30)),
                               b.substr(at, dataAt - at + u32(b, at + 18))};
    }
    return out;
}

// The plain bytes of an AES entry through our cipher's reading side and zlib; nothing when the
// verifier or the code refuses.
std::optional<Bytes> readAes(const Entry& e, const std::string& password) {
    auto extra = aescipher::ParseExtra(e.localExtra);
    if (!extra || e.compressed < aescipher::kOverhead) return std::nullopt;
    const std::string data = e.record.substr(e.record.size() - e.compressed);
    uint8_t header[aescipher::kHeaderSize], code[aescipher::kCodeSize];
    std::memcpy(header, data.data(), sizeof header);
    std::memcpy(code, data.data() + data.size() - sizeof code, sizeof code);
    Bytes body(data.begin() + aescipher::kHeaderSize, data.end() - aescipher::kCodeSize);
    aescipher::TAesCipher cipher;
    if (!cipher.StartDecrypt(password, header)) return std::nullopt;
    cipher.Decrypt(body.data(), body.size());
    if (!cipher.Verify(code)) return std::nullopt;
    if (extra->method == kMethodStored) return body;
    return testsupport::inflateRaw(body.data(), body.size());
}

// Every file entry of an AES archive: method 99, version 5.1, CRC 0, the AE-2 block in both
// headers with the real method, the sizes with the 28 bytes of salt, verifier and code; and the
// data decrypt and unpack to the file's bytes, at every level.
TEST(AesWriter, EntriesHaveTheFormatsHeadersAndDecryptToTheFiles) {
    for (int level : {0, 1, 6, 9, 10}) {
        TempDir dir;
        const auto files = makeFiles(dir / "data");
        pack(dir / "data", dir / "a.zip", level, TZipEncryption::zeAes256);
        const auto entries = entriesOf(dir / "a.zip");
        ASSERT_EQ(entries.size(), files.size() + 1) << level;  // and the folder "sub/"
        for (const auto& [name, content] : files) {
            SCOPED_TRACE(name + " at level " + std::to_string(level));
            ASSERT_TRUE(entries.count(name));
            const Entry& e = entries.at(name);
            EXPECT_EQ(e.method, aescipher::kMethodAes);
            EXPECT_EQ(e.centralMethod, aescipher::kMethodAes);
            EXPECT_EQ(e.version, aescipher::kVersionNeeded);
            EXPECT_EQ(e.centralVersion, aescipher::kVersionNeeded);
            EXPECT_EQ(e.flag & (kFlagEncrypted | kFlagDataDescriptor), kFlagEncrypted);
            EXPECT_EQ(e.crc, 0u);
            EXPECT_EQ(e.size, content.size());
            EXPECT_EQ(e.localExtra, e.centralExtra);
            auto extra = aescipher::ParseExtra(e.localExtra);
            ASSERT_TRUE(extra);
            EXPECT_EQ(extra->vendorVersion, 2);
            EXPECT_EQ(extra->strength, 3);
            const uint16_t method = level == 0 ? kMethodStored : name == "text.txt" ? kMethodDeflated : extra->method;
            EXPECT_EQ(extra->method, method);
            auto plain = readAes(e, kPassword);
            ASSERT_TRUE(plain);
            EXPECT_EQ(*plain, content);
            EXPECT_FALSE(readAes(e, kPassword + "?"));
            if (extra->method == kMethodStored) {
                EXPECT_EQ(e.compressed, content.size() + aescipher::kOverhead);
            }
        }
        EXPECT_EQ(entries.at("sub/").method, kMethodStored);  // folders carry no cipher
        EXPECT_TRUE(entries.at("sub/").localExtra.empty());
    }
}

// Two entries of the same file and password differ: each has a salt of its own.
TEST(AesWriter, EveryEntryHasItsOwnSalt) {
    TempDir dir;
    testsupport::writeFile(dir / "data/a", "same");
    testsupport::writeFile(dir / "data/b", "same");
    pack(dir / "data", dir / "a.zip", 6, TZipEncryption::zeAes256);
    const auto entries = entriesOf(dir / "a.zip");
    const Entry &a = entries.at("a"), &b = entries.at("b");
    EXPECT_NE(a.record.substr(a.record.size() - a.compressed), b.record.substr(b.record.size() - b.compressed));
}

// Sets a file's time some seconds after now, so that an update takes it as newer.
void touchNewer(const fs::path& file, int seconds) {
    fs::last_write_time(file, fs::file_time_type::clock::now() + std::chrono::seconds(seconds));
}

bool isAes(const Entry& e) { return e.method == aescipher::kMethodAes && aescipher::ParseExtra(e.centralExtra); }
bool isTraditional(const Entry& e) { return e.method != aescipher::kMethodAes && (e.flag & kFlagEncrypted); }

struct MixCase {
    const char* name;
    TZipEncryption first, then;
};

// An update writes its new and replaced entries with the cipher it is given; the entries it
// leaves alone come over byte for byte (local header, extra field, data, central extra field),
// also when the same writer updates twice.
TEST(AesWriter, UpdateWritesTheChosenCipherAndCopiesTheRest) {
    const MixCase cases[] = {
        {"AES updated with traditional", TZipEncryption::zeAes256, TZipEncryption::zeTraditional},
        {"traditional updated with AES", TZipEncryption::zeTraditional, TZipEncryption::zeAes256},
        {"AES updated with AES", TZipEncryption::zeAes256, TZipEncryption::zeAes256},
    };
    for (const MixCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        testsupport::writeFile(dir / "data/keep.txt", "kept as it is");
        testsupport::writeFile(dir / "data/change.txt", "old text");
        pack(dir / "data", dir / "a.zip", 9, c.first);
        const auto before = entriesOf(dir / "a.zip");

        testsupport::writeFile(dir / "data/change.txt", "new text, longer than before");
        touchNewer(dir / "data/change.txt", 10);
        testsupport::writeFile(dir / "data/added.txt", "added");
        TZipWriter w;
        configure(w, dir / "data", dir / "a.zip", 9, c.then);
        w.FilesList = {(dir / "data/*.*").string()};
        EXPECT_EQ(w.Zip(), 2);
        // The same writer again: what the first job wrote is now copied.
        testsupport::writeFile(dir / "data/second.txt", "second job");
        w.Password = kPassword;
        w.FilesList = {(dir / "data/second.txt").string()};
        EXPECT_EQ(w.Zip(), 1);

        const auto after = entriesOf(dir / "a.zip");
        ASSERT_EQ(after.size(), 4u);
        EXPECT_EQ(after.at("keep.txt").record, before.at("keep.txt").record);
        EXPECT_EQ(after.at("keep.txt").centralExtra, before.at("keep.txt").centralExtra);
        for (const char* name : {"change.txt", "added.txt", "second.txt"}) {
            const Entry& e = after.at(name);
            EXPECT_TRUE(c.then == TZipEncryption::zeAes256 ? isAes(e) : isTraditional(e)) << name;
            EXPECT_EQ(e.localExtra, e.centralExtra) << name;
        }
        const Entry& kept = after.at("keep.txt");
        EXPECT_TRUE(c.first == TZipEncryption::zeAes256 ? isAes(kept) : isTraditional(kept));
        if (c.then == TZipEncryption::zeAes256) {
            auto plain = readAes(after.at("change.txt"), kPassword);
            ASSERT_TRUE(plain);
            EXPECT_EQ(std::string(plain->begin(), plain->end()), "new text, longer than before");
        }
    }
}

// Deleting from an AES archive, and freshening it, copy the other entries byte for byte.
TEST(AesWriter, DeleteAndFreshenCarryAesEntriesOver) {
    TempDir dir;
    const auto files = makeFiles(dir / "data");
    pack(dir / "data", dir / "a.zip", 9, TZipEncryption::zeAes256);
    const auto before = entriesOf(dir / "a.zip");

    TZipWriter del;
    del.SetZipName((dir / "a.zip").string());
    del.FilesList = {"one"};
    EXPECT_EQ(del.DeleteEntries(), 1);
    auto after = entriesOf(dir / "a.zip");
    EXPECT_EQ(after.size(), before.size() - 1);
    EXPECT_FALSE(after.count("one"));
    for (const auto& [name, e] : after) {
        EXPECT_EQ(e.record, before.at(name).record) << name;
        EXPECT_EQ(e.centralExtra, before.at(name).centralExtra) << name;
    }

    // Freshen with the traditional cipher: only the newer file is written, with that cipher.
    touchNewer(dir / "data/text.txt", 10);
    testsupport::writeFile(dir / "data/not-in-archive", "left out");
    TZipWriter fresh;
    configure(fresh, dir / "data", dir / "a.zip", 9, TZipEncryption::zeTraditional);
    fresh.ZipAction = TZipAction::zaFreshen;
    fresh.Recurse = true;
    fresh.FilesList = {(dir / "data/*.*").string()};
    EXPECT_EQ(fresh.Zip(), 1);
    after = entriesOf(dir / "a.zip");
    EXPECT_FALSE(after.count("not-in-archive"));
    EXPECT_TRUE(isTraditional(after.at("text.txt")));
    for (const auto& [name, e] : after) {
        if (name != "text.txt") {
            EXPECT_EQ(e.record, before.at(name).record) << name;
        }
    }
}

// Without a password the AES choice changes nothing: no entry is encrypted.
TEST(AesWriter, NoPasswordNoCipher) {
    TempDir dir;
    testsupport::writeFile(dir / "data/a.txt", "plain");
    TZipWriter w;
    configure(w, dir / "data", dir / "a.zip", 6, TZipEncryption::zeAes256, "");
    w.FilesList = {(dir / "data/a.txt").string()};
    w.Zip();
    const Entry e = entriesOf(dir / "a.zip").at("a.txt");
    EXPECT_EQ(e.flag & kFlagEncrypted, 0);
    EXPECT_EQ(e.method, kMethodStored);
    EXPECT_TRUE(e.localExtra.empty());
}

// What a reader extracted into a folder, file by file (folders left out).
std::map<std::string, Bytes> extractedFiles(const fs::path& folder) {
    std::map<std::string, Bytes> out;
    if (!fs::exists(folder)) return out;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file()) out[fs::relative(e.path(), folder).string()] = testsupport::readBytes(e.path());
    return out;
}

struct Reader {
    const char* name;
    std::string (*command)(const std::string& archive, const std::string& password, const std::string& into);
};

const Reader kReaders[] = {
    {"7zz", [](const std::string& a, const std::string& p, const std::string& into) {
         return "7zz x -y -p" + shellQuote(p) + " -o" + shellQuote(into) + " " + shellQuote(a);
     }},
    {"bsdtar", [](const std::string& a, const std::string& p, const std::string& into) {
         return "mkdir -p " + shellQuote(into) + " && bsdtar -xf " + shellQuote(a) + " -C " + shellQuote(into) +
                " --passphrase " + shellQuote(p);
     }},
};

// 7-Zip and bsdtar extract AES archives of levels 0 and 9 byte for byte, and refuse a wrong
// password (no file with the right content comes out).
TEST(AesInterop, SevenZipAndBsdtarExtractByteForByte) {
    for (int level : {0, 9}) {
        TempDir dir;
        const auto files = makeFiles(dir / "data");
        pack(dir / "data", dir / "a.zip", level, TZipEncryption::zeAes256);
        for (const Reader& reader : kReaders) {
            SCOPED_TRACE(std::string(reader.name) + " at level " + std::to_string(level));
            const fs::path good = dir / (std::string(reader.name) + "-good");
            auto r = testsupport::runCommand(reader.command((dir / "a.zip").string(), kPassword, good.string()));
            EXPECT_EQ(r.exitCode, 0) << r.output;
            EXPECT_EQ(extractedFiles(good), files);

            const fs::path bad = dir / (std::string(reader.name) + "-bad");
            r = testsupport::runCommand(reader.command((dir / "a.zip").string(), kPassword + "x", bad.string()));
            EXPECT_NE(r.exitCode, 0) << r.output;
            for (const auto& [name, content] : extractedFiles(bad)) {
                if (!content.empty()) {
                    EXPECT_NE(content, files.at(name)) << name;
                }
            }
        }
    }
}

// Archives that mix both ciphers, made by updates and a delete, extract whole in 7-Zip and bsdtar.
TEST(AesInterop, MixedArchivesExtractWhole) {
    struct Step {
        const char* name;
        TZipEncryption first, then;
        bool remove;
    } steps[] = {
        {"AES updated with traditional", TZipEncryption::zeAes256, TZipEncryption::zeTraditional, false},
        {"traditional updated with AES", TZipEncryption::zeTraditional, TZipEncryption::zeAes256, false},
        {"AES with an entry deleted", TZipEncryption::zeAes256, TZipEncryption::zeAes256, true},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        TempDir dir;
        auto files = makeFiles(dir / "data");
        pack(dir / "data", dir / "a.zip", 9, s.first);
        if (s.remove) {
            TZipWriter del;
            del.SetZipName((dir / "a.zip").string());
            del.FilesList = {"random.bin"};
            EXPECT_EQ(del.DeleteEntries(), 1);
            files.erase("random.bin");
        } else {
            testsupport::writeFile(dir / "data/later.txt", "added by the update");
            const std::string later = "added by the update";
            files["later.txt"] = Bytes(later.begin(), later.end());
            testsupport::writeFile(dir / "data/one", "2");
            touchNewer(dir / "data/one", 10);
            files["one"] = Bytes{'2'};
            pack(dir / "data", dir / "a.zip", 6, s.then);
            const auto entries = entriesOf(dir / "a.zip");
            EXPECT_EQ(isAes(entries.at("later.txt")), s.then == TZipEncryption::zeAes256);
            EXPECT_EQ(isAes(entries.at("text.txt")), s.first == TZipEncryption::zeAes256);
        }
        for (const Reader& reader : kReaders) {
            const fs::path out = dir / reader.name;
            auto r = testsupport::runCommand(reader.command((dir / "a.zip").string(), kPassword, out.string()));
            EXPECT_EQ(r.exitCode, 0) << reader.name << r.output;
            EXPECT_EQ(extractedFiles(out), files) << reader.name;
        }
        auto t = testsupport::runCommand("7zz t -p" + shellQuote(kPassword) + " " + shellQuote((dir / "a.zip").string()));
        EXPECT_NE(t.output.find("Everything is Ok"), std::string::npos) << t.output;
    }
}

}  // namespace
