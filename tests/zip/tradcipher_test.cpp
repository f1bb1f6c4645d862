#include "zip/tradcipher.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>

#include "rawinflate.h"
#include "testsupport.h"
#include "zip/zipdirectory.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// Info-ZIP's zip encrypts every entry; our cipher reads them back: the check byte at the end of
// each header, then the data, which zlib inflates to the file's bytes.
TEST(TraditionalCipher, DecryptsWhatInfoZipEncrypted) {
    testsupport::TempDir dir;
    const std::map<std::string, Bytes> files = {
        {"text.txt", Bytes(5000, 'a')},
        {"noise.bin", testsupport::randomBytes(3000, 11)},
        {"empty", {}},
    };
    for (const auto& [name, content] : files) testsupport::writeBytes(dir / "in" / name, content);
    const std::string archive = (dir / "x.zip").string();
    for (const std::string& password : {std::string("p"), std::string("a longer pass phrase, with ümlauts")}) {
        fs::remove(archive);
        auto made = testsupport::runCommand("cd " + testsupport::shellQuote((dir / "in").string()) + " && zip -q -P " +
                                            testsupport::shellQuote(password) + " " + testsupport::shellQuote(archive) +
                                            " text.txt noise.bin empty");
        ASSERT_EQ(made.exitCode, 0) << made.output;

        const std::string bytes = testsupport::readFile(archive);
        TBufferedFileStream in(archive, TFileMode::fmOpenRead);
        TSortedZip entries(TZipSortMode::ByNone);
        TEndCentral end;
        ReadZipDirectory(in, true, entries, end);
        ASSERT_EQ(entries.Count(), files.size());
        for (size_t i = 0; i < entries.Count(); ++i) {
            const TZipHeaderInfo& e = *entries.Items(i);
            ASSERT_TRUE(e.GetIsEncrypted()) << e.filename();
            TZipHeaderInfo local;
            ASSERT_TRUE(local.LoadLocalFromBuffer(reinterpret_cast<const uint8_t*>(bytes.data()) + e.local_header_offset));
            Bytes data(bytes.begin() + e.local_header_offset + local.GetLocalSize(),
                       bytes.begin() + e.local_header_offset + local.GetLocalSize() + e.compressed_size);
            TTraditionalCipher cipher;
            cipher.Init_Keys(password);
            cipher.decrypt_buff(data.data(), data.size());
            // With a data descriptor the check byte is the high byte of the DOS time, else of the CRC.
            const uint8_t check = e.GetHasDescriptor() ? uint8_t(e.last_mod_datetime >> 8) : uint8_t(e.crc32 >> 24);
            ASSERT_GE(data.size(), TTraditionalCipher::HeaderSize);
            EXPECT_EQ(data[11], check) << e.filename();
            const uint8_t* plain = data.data() + TTraditionalCipher::HeaderSize;
            const size_t plainSize = data.size() - TTraditionalCipher::HeaderSize;
            Bytes content = e.compression_method == kMethodStored ? Bytes(plain, plain + plainSize)
                                                                  : testsupport::inflateRaw(plain, plainSize).value_or(Bytes{1});
            EXPECT_EQ(content, files.at(e.filename())) << e.filename() << " with " << password;
        }
    }
}

TEST(TraditionalCipher, HeadersCarryTheCheckBytesAndTheirOwnRandomBytes) {
    const uint32_t crc = 0xA1B2C3D4;
    uint8_t first[TTraditionalCipher::HeaderSize], second[TTraditionalCipher::HeaderSize];
    TTraditionalCipher writer;
    writer.MakeHeader("pw", crc, second);
    writer.MakeHeader("pw", crc, first);
    // The keys go on from the header into the data.
    Bytes data = testsupport::randomBytes(1000, 3);
    Bytes encrypted = data;
    writer.encrypt_buff(encrypted.data(), encrypted.size());
    EXPECT_NE(encrypted, data);

    TTraditionalCipher reader;
    reader.Init_Keys("pw");
    Bytes plainHead(first, first + sizeof first);
    reader.decrypt_buff(plainHead.data(), plainHead.size());
    EXPECT_EQ(plainHead[10], 0xB2);
    EXPECT_EQ(plainHead[11], 0xA1);
    reader.decrypt_buff(encrypted.data(), encrypted.size());
    EXPECT_EQ(encrypted, data);

    // Two headers of the same entry and password differ in their random bytes, and so in every byte
    // encrypted after them.
    EXPECT_NE(Bytes(first, first + 10), Bytes(second, second + 10));

    // Another password gives other check bytes (at least one of the two, but for 1 in 65536).
    TTraditionalCipher wrong;
    wrong.Init_Keys("pW");
    Bytes wrongHead(first, first + sizeof first);
    wrong.decrypt_buff(wrongHead.data(), wrongHead.size());
    EXPECT_FALSE(wrongHead[10] == 0xB2 && wrongHead[11] == 0xA1);
}

TEST(TraditionalCipher, ByteAndBufferStepsAgree) {
    Bytes data = testsupport::randomBytes(257, 5);
    TTraditionalCipher byByte, byBuffer;
    byByte.Init_Keys("key");
    byBuffer.Init_Keys("key");
    Bytes one = data, all = data;
    for (uint8_t& b : one) b = byByte.zencode(b);
    byBuffer.encrypt_buff(all.data(), 100);
    byBuffer.encrypt_buff(all.data() + 100, all.size() - 100);
    EXPECT_EQ(one, all);
    // The empty password is a password too: the keys keep their starting values.
    TTraditionalCipher empty, none;
    empty.Init_Keys("");
    none.Init_Keys(std::string_view());
    EXPECT_EQ(empty.decrypt_byte(), none.decrypt_byte());
    EXPECT_NE(empty.decrypt_byte(), byByte.decrypt_byte());
}

}  // namespace
