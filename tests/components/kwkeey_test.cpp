#include "components/kwkeey.h"

#include "testsupport.h"

#include <gtest/gtest.h>

namespace {

TKwKeey keey(const std::string& key, int id) {
    TKwKeey k;
    k.Schluessel = key;
    k.SetProgrammID(id);
    return k;
}

std::string bytesOf(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

// Bytes 1 to 255 only: what can be typed, and what a scrambled text holds.
std::string typeable(size_t n, uint32_t seed) {
    std::string s = bytesOf(testsupport::randomBytes(n, seed));
    for (char& c : s)
        if (c == 0) c = 'x';
    return s;
}

}  // namespace

TEST(KwKeey, TheApplicationsKeyScramblesAsBefore) {
    // Stored passwords must keep unscrambling: K = 875 / 7 = 125 for "vantorel", P = 11.
    TKwKeey KwKeey1 = keey("vantorel", 11);
    EXPECT_EQ(KwKeey1.GenerierterSchleussel(), 125);
    EXPECT_EQ(KwKeey1.Encode("AB"), "\xC9\xD5");                // 65+125+11 = 201, 66+125+22 = 213
    EXPECT_EQ(KwKeey1.Encode("\xFF"), "\x88");                   // 255+136 = 391 = 136 mod 255
    EXPECT_EQ(KwKeey1.Encode(std::string(1, '\x77')), "\xFF");   // 119+136 = 255, remainder 0 becomes 255
    EXPECT_EQ(KwKeey1.Decode("\xC9\xD5"), "AB");
}

TEST(KwKeey, DecodeUndoesEncodeForEveryByteAtEveryPosition) {
    std::string everyByte;
    for (int round = 0; round < 3; ++round)
        for (int b = 1; b < 256; ++b) everyByte.push_back(static_cast<char>(b));
    const std::vector<std::pair<std::string, int>> keys = {
        {"vantorel", 11}, {"vantorel", 49}, {"", 1}, {"k", 7}, {"\xFF\xFF\xFF", 1}, {std::string(300, '\xFE'), 49},
    };
    const std::vector<std::string> texts = {"", "a", "password", everyByte, typeable(700, 1), typeable(3000, 2)};
    for (const auto& [key, id] : keys) {
        for (const std::string& text : texts) {
            SCOPED_TRACE("key of " + std::to_string(key.size()) + " bytes, id " + std::to_string(id) + ", text of " +
                         std::to_string(text.size()));
            TKwKeey k = keey(key, id);
            const std::string scrambled = k.Encode(text);
            EXPECT_EQ(scrambled.size(), text.size());
            EXPECT_EQ(scrambled.find('\0'), std::string::npos);
            EXPECT_EQ(k.Decode(scrambled), text);
            EXPECT_EQ(k.Encode(k.Decode(text)), text);
        }
    }
}

TEST(KwKeey, WithoutKeyAndNumberTheTextStaysAsItIs) {
    TKwKeey k;
    const std::string text = typeable(500, 3);
    EXPECT_EQ(k.Encode(text), text);
    EXPECT_EQ(k.Decode(text), text);
}

TEST(KwKeey, AnotherNumberGivesAnotherTextWithoutError) {
    const std::string scrambled = keey("vantorel", 11).Encode("secret password");
    const std::string other = keey("vantorel", 12).Decode(scrambled);
    EXPECT_EQ(other.size(), scrambled.size());
    EXPECT_NE(other, "secret password");
    // Texts sharing a beginning share the beginning of their scrambled forms.
    EXPECT_EQ(keey("vantorel", 11).Encode("secret").substr(0, 6), scrambled.substr(0, 6));
}

TEST(KwKeey, ProgrammIdAcceptsOneToFortyNine) {
    const std::vector<std::pair<int, int>> cases = {{0, 5}, {50, 5}, {100, 5}, {-3, 5}, {1, 1}, {49, 49}, {11, 11}};
    for (const auto& [set, expected] : cases) {
        TKwKeey k;
        k.SetProgrammID(5);
        k.SetProgrammID(set);
        EXPECT_EQ(k.ProgrammID(), expected) << set;
    }
    EXPECT_EQ(TKwKeey().ProgrammID(), 0);
}

TEST(KwKeey, KeyAndByteHelpers) {
    EXPECT_EQ(TKwKeey::MakeKey(""), 0);
    EXPECT_EQ(TKwKeey::MakeKey("a"), 97);  // one byte: no division by zero
    EXPECT_EQ(TKwKeey::MakeKey("ab"), 195);
    EXPECT_EQ(TKwKeey::MakeKey("abc"), 147);
    EXPECT_EQ(TKwKeey::StrToAsc(""), 0);
    EXPECT_EQ(TKwKeey::StrToAsc("\xE9x"), 0xE9);
    EXPECT_EQ(TKwKeey::AscToStr(0x1FF), "\xFF");
    EXPECT_EQ(TKwKeey::AscToStr(-1), "\xFF");
    EXPECT_EQ(TKwKeey::AscToStr(0), std::string(1, '\0'));

    TKwKeey k = keey("vantorel", 11);
    k.Schluessel = "other key";
    EXPECT_EQ(k.GenerierterSchleussel(), TKwKeey::MakeKey("other key"));  // a new key takes effect at once
}
