#include "zip/aescipher.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <zlib.h>

#include "rawinflate.h"
#include "testsupport.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using aescipher::TAesCipher;

Bytes hex(const std::string& h) {
    Bytes out;
    for (size_t i = 0; i + 1 < h.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(h.substr(i, 2), nullptr, 16)));
    return out;
}

struct Pbkdf2Case {
    const char* name;
    std::string password, salt;
    int iterations;
    const char* expected;
};

// The PBKDF2-HMAC-SHA1 vectors of RFC 6070 (all but the one of 16777216 iterations).
TEST(AesCipher, Pbkdf2MatchesRfc6070) {
    const Pbkdf2Case cases[] = {
        {"one iteration", "password", "salt", 1, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
        {"two iterations", "password", "salt", 2, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
        {"4096 iterations", "password", "salt", 4096, "4b007901b765489abead49d926f721d065a429c1"},
        {"longer than one hash", "passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
         "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
        {"zero bytes inside", std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096,
         "56fa6aa75548099dcc37d7f03425e0c3"},
    };
    for (const Pbkdf2Case& c : cases) {
        const Bytes expected = hex(c.expected);
        Bytes out(expected.size());
        aescipher::Pbkdf2Sha1(c.password, reinterpret_cast<const uint8_t*>(c.salt.data()), c.salt.size(), c.iterations,
                              out.data(), out.size());
        EXPECT_EQ(out, expected) << c.name;
    }
}

// AES-256 of FIPS-197 (appendix C.3) and of SP 800-38A (F.1.5, four blocks at once).
TEST(AesCipher, BlockCipherMatchesPublishedVectors) {
    struct Case {
        const char *name, *key, *plain, *cipher;
    } cases[] = {
        {"FIPS-197 C.3", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
         "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
        {"SP 800-38A F.1.5", "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
         "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
         "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710",
         "f3eed1bdb5d2a03c064b5a7e3db181f8591ccb10d410ed26dc5ba74a31362870"
         "b6ed21b99ca6f4f9f153e7b1beafed1d23304b7a39f9f3ff067d8d8f9e24ecc7"},
    };
    for (const Case& c : cases) {
        const Bytes key = hex(c.key), plain = hex(c.plain);
        Bytes out(plain.size());
        TAesCipher::EncryptBlocks(key.data(), plain.data(), out.data(), plain.size() / 16);
        EXPECT_EQ(out, hex(c.cipher)) << c.name;
    }
}

// The key stream is the block cipher of the counter blocks 1, 2, 3 ... in little-endian order
// (the counter's second byte first moves at block 256), however the data are cut into pieces,
// and decryption gives the plain bytes back.
TEST(AesCipher, CounterIsLittleEndianFromOne) {
    const Bytes key = hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    const Bytes macKey(32, 0x5a);
    constexpr size_t kBlocks = 600;  // beyond the 256 blocks of one key stream batch
    Bytes counters(kBlocks * 16, 0);
    for (size_t b = 0; b < kBlocks; ++b) {
        counters[b * 16] = static_cast<uint8_t>((b + 1) & 0xFF);
        counters[b * 16 + 1] = static_cast<uint8_t>((b + 1) >> 8);
    }
    Bytes stream(counters.size());
    TAesCipher::EncryptBlocks(key.data(), counters.data(), stream.data(), kBlocks);
    ASSERT_EQ(counters[255 * 16], 0);  // block 256: counter 00 01 00 ...
    ASSERT_EQ(counters[255 * 16 + 1], 1);

    const Bytes plain = testsupport::randomBytes(kBlocks * 16 - 7, 3);
    Bytes expected(plain.size());
    for (size_t i = 0; i < plain.size(); ++i) expected[i] = plain[i] ^ stream[i];
    for (size_t piece : {size_t{1}, size_t{15}, size_t{16}, size_t{4097}, plain.size()}) {
        TAesCipher cipher;
        cipher.StartWithKeys(key.data(), macKey.data());
        Bytes data = plain;
        for (size_t at = 0; at < data.size(); at += piece) cipher.Encrypt(data.data() + at, std::min(piece, data.size() - at));
        EXPECT_EQ(data, expected) << "pieces of " << piece;
        uint8_t code[aescipher::kCodeSize];
        cipher.Finish(code);
        EXPECT_FALSE(cipher.Active());

        TAesCipher back;
        back.StartWithKeys(key.data(), macKey.data());
        back.Decrypt(data.data(), data.size());
        EXPECT_EQ(data, plain) << "pieces of " << piece;
        EXPECT_TRUE(back.Verify(code));
    }
}

// The verifier tells a wrong password; a flipped byte of data or code fails the code.
TEST(AesCipher, VerifierAndCodeRefuseWrongPasswordAndTampering) {
    const uint8_t salt[aescipher::kSaltSize] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    uint8_t header[aescipher::kHeaderSize];
    std::memcpy(header, salt, sizeof salt);
    TAesCipher writer;
    uint8_t verifier[aescipher::kVerifierSize];
    writer.Start("right password", salt, verifier);
    std::memcpy(header + aescipher::kSaltSize, verifier, sizeof verifier);
    Bytes data = testsupport::randomBytes(1000, 9);
    const Bytes plain = data;
    writer.Encrypt(data.data(), data.size());
    uint8_t code[aescipher::kCodeSize];
    writer.Finish(code);

    TAesCipher reader;
    EXPECT_FALSE(reader.StartDecrypt("wrong password", header));
    EXPECT_FALSE(reader.Active());
    struct Case {
        const char* name;
        size_t dataByte, codeByte;  // SIZE_MAX: left alone
    } cases[] = {{"untouched", SIZE_MAX, SIZE_MAX}, {"data byte", 500, SIZE_MAX}, {"last code byte", SIZE_MAX, 9}};
    for (const Case& c : cases) {
        Bytes d = data;
        uint8_t k[aescipher::kCodeSize];
        std::memcpy(k, code, sizeof k);
        if (c.dataByte != SIZE_MAX) d[c.dataByte] ^= 0x01;
        if (c.codeByte != SIZE_MAX) k[c.codeByte] ^= 0x80;
        ASSERT_TRUE(reader.StartDecrypt("right password", header)) << c.name;
        reader.Decrypt(d.data(), d.size());
        EXPECT_EQ(reader.Verify(k), c.dataByte == SIZE_MAX && c.codeByte == SIZE_MAX) << c.name;
        if (c.dataByte == SIZE_MAX) {
            EXPECT_EQ(d, plain) << c.name;
        }
    }
    // Another salt gives other keys: the same data and code fail.
    uint8_t other[aescipher::kHeaderSize];
    std::memcpy(other, header, sizeof other);
    other[0] ^= 1;
    uint8_t v[aescipher::kVerifierSize];
    reader.Start("right password", other, v);
    Bytes d = data;
    reader.Decrypt(d.data(), d.size());
    EXPECT_FALSE(reader.Verify(code));
}

TEST(AesCipher, FreshSaltForEveryEntry) {
    TAesCipher cipher;
    uint8_t a[aescipher::kHeaderSize], b[aescipher::kHeaderSize];
    cipher.StartEncrypt("password", a);
    cipher.StartEncrypt("password", b);
    EXPECT_NE(std::memcmp(a, b, aescipher::kSaltSize), 0);
    EXPECT_TRUE(cipher.StartDecrypt("password", a));
}

// The supply's salts are all different and its keys are those PBKDF2 derives from them, with
// threads or without, also past the number made ahead; it stops while its threads are busy.
TEST(AesCipher, KeySupplyGivesFreshSaltsAndTheirKeys) {
    const std::string password = "pass phrase";
    for (unsigned threads : {0u, 1u, 3u}) {
        SCOPED_TRACE(threads);
        aescipher::TKeySupply supply(password, 20, threads);
        std::set<Bytes> salts;
        for (int i = 0; i < 24; ++i) {
            uint8_t salt[aescipher::kSaltSize], keys[aescipher::kKeyMaterialSize];
            supply.Take(salt, keys);
            Bytes expected(aescipher::kKeyMaterialSize);
            aescipher::Pbkdf2Sha1(password, salt, sizeof salt, aescipher::kIterations, expected.data(), expected.size());
            EXPECT_EQ(Bytes(keys, keys + sizeof keys), expected) << i;
            salts.insert(Bytes(salt, salt + sizeof salt));
        }
        EXPECT_EQ(salts.size(), 24u);
    }
    // Many to make, two taken: the destructor does not wait for the rest.
    aescipher::TKeySupply busy(password, 100000, 3);
    uint8_t salt[aescipher::kSaltSize], keys[aescipher::kKeyMaterialSize];
    busy.Take(salt, keys);
    busy.Take(salt, keys);
}

// An entry started from the supply reads back with the password alone.
TEST(AesCipher, EntryFromTheSupplyDecryptsWithThePassword) {
    aescipher::TKeySupply supply("pass phrase", 2, 1);
    TAesCipher writer, reader;
    uint8_t header[aescipher::kHeaderSize], code[aescipher::kCodeSize];
    writer.StartEncryptFrom(supply, header);
    Bytes data = testsupport::randomBytes(5000, 4);
    const Bytes plain = data;
    writer.Encrypt(data.data(), data.size());
    writer.Finish(code);
    ASSERT_TRUE(reader.StartDecrypt("pass phrase", header));
    reader.Decrypt(data.data(), data.size());
    EXPECT_TRUE(reader.Verify(code));
    EXPECT_EQ(data, plain);
}

TEST(AesCipher, ExtraField) {
    uint8_t block[aescipher::kExtraSize];
    aescipher::MakeExtra(8, block);
    EXPECT_EQ(Bytes(block, block + sizeof block), hex("0199070002004145030800"));
    const std::string made(reinterpret_cast<const char*>(block), sizeof block);
    const std::string other = std::string("\x55\x54\x05\x00\x01\x02\x03\x04\x05", 9);
    struct Case {
        const char* name;
        std::string field;
        bool found;
    } cases[] = {
        {"alone", made, true},
        {"after another block", other + made, true},
        {"none", other, false},
        {"cut short", made.substr(0, 9), false},
        {"other vendor", made.substr(0, 6) + "XY" + made.substr(8), false},
        {"wrong size", std::string("\x01\x99\x06\x00", 4) + made.substr(4, 6), false},
    };
    for (const Case& c : cases) {
        auto data = aescipher::ParseExtra(c.field);
        ASSERT_EQ(data.has_value(), c.found) << c.name;
        if (!data) continue;
        EXPECT_EQ(data->vendorVersion, aescipher::kVendorVersionAe2) << c.name;
        EXPECT_EQ(data->strength, aescipher::kStrength256) << c.name;
        EXPECT_EQ(data->method, 8) << c.name;
    }
}

uint16_t u16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}
uint32_t u32(const std::string& b, size_t at) { return u16(b, at) | static_cast<uint32_t>(u16(b, at + 2)) << 16; }

// 7-Zip writes AES-256 entries, stored and deflated; our cipher reads them back: verifier,
// data (which zlib inflates to the file's bytes) and code.
TEST(AesCipher, DecryptsWhatSevenZipEncrypted) {
    testsupport::TempDir dir;
    const std::map<std::string, Bytes> files = {
        {"text.txt", Bytes(70000, 'a')},
        {"noise.bin", testsupport::randomBytes(30000, 11)},
        {"one", {'x'}},
    };
    for (const auto& [name, content] : files) testsupport::writeBytes(dir / "in" / name, content);
    const std::string password = "a longer pass phrase, with punctuation!";  // 7-Zip takes ASCII ones only
    for (const char* level : {"-mx=0", "-mx=9"}) {
        const std::string archive = (dir / (std::string(level) + ".zip")).string();
        auto made = testsupport::runCommand("cd " + testsupport::shellQuote((dir / "in").string()) +
                                            " && 7zz a -tzip -mem=AES256 " + level + " -p" +
                                            testsupport::shellQuote(password) + " " + testsupport::shellQuote(archive) +
                                            " text.txt noise.bin one");
        ASSERT_EQ(made.exitCode, 0) << made.output;
        const std::string b = testsupport::readFile(archive);
        size_t found = 0;
        for (size_t at = 0; u32(b, at) == 0x04034B50; ++found) {
            const uint16_t flag = u16(b, at + 6), method = u16(b, at + 8);
            const uint32_t crc = u32(b, at + 14), csize = u32(b, at + 18);
            const uint16_t nameLength = u16(b, at + 26), extraLength = u16(b, at + 28);
            const std::string name = b.substr(at + 30, nameLength);
            ASSERT_EQ(flag & 0x0009, 0x0001) << name;  // encrypted, sizes in the header
            ASSERT_EQ(method, aescipher::kMethodAes) << name;
            auto extra = aescipher::ParseExtra(b.substr(at + 30 + nameLength, extraLength));
            ASSERT_TRUE(extra) << name;
            EXPECT_EQ(extra->strength, aescipher::kStrength256);
            const size_t data = at + 30 + nameLength + extraLength;
            ASSERT_GE(csize, aescipher::kOverhead);

            uint8_t header[aescipher::kHeaderSize];
            std::memcpy(header, b.data() + data, sizeof header);
            TAesCipher cipher;
            EXPECT_FALSE(cipher.StartDecrypt(password + "x", header)) << name;
            ASSERT_TRUE(cipher.StartDecrypt(password, header)) << name;
            Bytes body(b.begin() + static_cast<long>(data + aescipher::kHeaderSize),
                       b.begin() + static_cast<long>(data + csize - aescipher::kCodeSize));
            cipher.Decrypt(body.data(), body.size());
            uint8_t code[aescipher::kCodeSize];
            std::memcpy(code, b.data() + data + csize - aescipher::kCodeSize, sizeof code);
            EXPECT_TRUE(cipher.Verify(code)) << name;
            Bytes plain = body;
            if (extra->method == 8) {
                auto inflated = testsupport::inflateRaw(body.data(), body.size());
                ASSERT_TRUE(inflated) << name;
                plain = *inflated;
            }
            EXPECT_EQ(plain, files.at(name)) << name << " " << level;
            // AE-1 keeps the CRC, AE-2 stores 0.
            const uint32_t expectedCrc =
                extra->vendorVersion == 1 ? crc32(0, plain.data(), static_cast<uInt>(plain.size())) : 0;
            EXPECT_EQ(crc, expectedCrc) << name;
            at = data + csize;
        }
        EXPECT_EQ(found, files.size()) << level;
    }
}

}  // namespace
