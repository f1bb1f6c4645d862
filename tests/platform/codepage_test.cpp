#include "platform/codepage.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using platform::AnsiLowerCase;
using platform::AnsiToOem;
using platform::Cp437ToUtf8;
using platform::IsUtf8;
using platform::OemFilter;
using platform::OemToAnsi;
using platform::Utf8ToCp437;

TEST(Codepage, EveryOemByteRoundTripsThroughUtf8) {
    for (int b = 0; b < 256; ++b) {
        std::string oem(1, static_cast<char>(b)), back;
        std::string ansi = Cp437ToUtf8(oem);
        ASSERT_TRUE(IsUtf8(ansi)) << b;
        ASSERT_TRUE(Utf8ToCp437(ansi, back)) << b;
        EXPECT_EQ(back, oem) << b;
    }
}

// Python's cp437 codec, written by others, gives every byte's character: the table must agree.
TEST(Codepage, EveryOemByteDecodesAsPythonsCp437Codec) {
    const testsupport::CommandResult python = testsupport::runCommand(
        "/usr/bin/python3 -c \"import sys; sys.stdout.buffer.write(bytes(range(256)).decode('cp437').encode('utf-8'))\"");
    ASSERT_EQ(python.exitCode, 0) << python.output;
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(Cp437ToUtf8(all), python.output);
}

struct Mapping {
    const char* name;
    const char* ansi;
    const char* oem;
};

TEST(Codepage, KnownCharactersMapToTheirCp437Bytes) {
    const Mapping cases[] = {
        {"ascii", "Notes 2024 (v1).txt", "Notes 2024 (v1).txt"},
        {"e acute", "caf\xC3\xA9", "caf\x82"},
        {"u umlaut", "\xC3\xBC", "\x81"},
        {"sharp s", "\xC3\x9F", "\xE1"},
        {"light shade", "\xE2\x96\x91", "\xB0"},
        {"alpha", "\xCE\xB1", "\xE0"},
        {"no-break space", "\xC2\xA0", "\xFF"},
    };
    for (const Mapping& c : cases) {
        std::string oem;
        ASSERT_TRUE(Utf8ToCp437(c.ansi, oem)) << c.name;
        EXPECT_EQ(oem, c.oem) << c.name;
        EXPECT_EQ(Cp437ToUtf8(oem), c.ansi) << c.name;
    }
}

TEST(Codepage, TextCp437LacksOrMalformedUtf8IsRefusedAndLeftAlone) {
    const Mapping cases[] = {
        {"euro sign", "\xE2\x82\xAC", nullptr},
        {"cjk", "\xE6\x97\xA5\xE6\x9C\xAC", nullptr},
        {"a macron (no look-alike)", "\xC4\x81", nullptr},
        {"emoji", "\xF0\x9F\x98\x80", nullptr},
        {"truncated sequence", "ab\xC3", nullptr},
        {"overlong slash", "\xC0\xAF", nullptr},
        {"surrogate", "\xED\xA0\x80", nullptr},
        {"past U+10FFFF", "\xF4\x90\x80\x80", nullptr},
        {"latin-1 byte", "caf\xE9", nullptr},
    };
    for (const Mapping& c : cases) {
        std::string oem = "untouched";
        EXPECT_FALSE(Utf8ToCp437(c.ansi, oem)) << c.name;
        EXPECT_EQ(oem, "untouched") << c.name;
        EXPECT_FALSE(AnsiToOem(c.ansi, oem)) << c.name;
        EXPECT_EQ(oem, "untouched") << c.name;
        EXPECT_EQ(OemFilter(c.ansi), c.ansi) << c.name;
    }
}

TEST(Codepage, Utf8Validation) {
    EXPECT_TRUE(IsUtf8(""));
    EXPECT_TRUE(IsUtf8("plain"));
    EXPECT_TRUE(IsUtf8("\xF0\x9F\x98\x80"));
    EXPECT_TRUE(IsUtf8("\xF4\x8F\xBF\xBF"));  // U+10FFFF
    EXPECT_FALSE(IsUtf8("\x80"));
    EXPECT_FALSE(IsUtf8("\xE0\x80\x80"));  // overlong
    EXPECT_FALSE(IsUtf8("\xFF"));
}

// Linux has no OEM code page: names outside ASCII are written as UTF-8 (with bit 11), while
// names other writers stored without the flag still read as CP437, the format's default.
TEST(Codepage, OnLinuxTheOemCodePageIsUtf8AndNamesWithoutTheFlagReadAsCp437) {
#ifdef _WIN32
    GTEST_SKIP() << "Linux only: Windows has an OEM code page of its own, which win32_test checks";
#endif
    EXPECT_EQ(platform::SystemOemCodePage(), platform::OemCodePage::Utf8);
    const Mapping cases[] = {
        {"ascii", "Notes 2024 (v1).txt", "Notes 2024 (v1).txt"},
        {"e acute", "caf\xC3\xA9.txt", nullptr},
        {"u umlaut", "\xC3\xBC", nullptr},
        {"cjk", "\xE6\x97\xA5\xE6\x9C\xAC", nullptr},
    };
    for (const Mapping& c : cases) {
        std::string oem = "untouched";
        EXPECT_EQ(AnsiToOem(c.ansi, oem), c.oem != nullptr) << c.name;
        EXPECT_EQ(oem, c.oem ? c.oem : "untouched") << c.name;
        EXPECT_EQ(OemFilter(c.ansi), c.ansi) << c.name;
    }
    EXPECT_EQ(OemToAnsi("caf\x82.txt"), "caf\xC3\xA9.txt");
    EXPECT_EQ(OemToAnsi("\x81" "ber"), "\xC3\xBC" "ber");
}

TEST(Codepage, OemFilterKeepsRepresentableNames) {
    EXPECT_EQ(OemFilter("R\xC3\xA9sum\xC3\xA9 \xC2\xBD.doc"), "R\xC3\xA9sum\xC3\xA9 \xC2\xBD.doc");
}

TEST(Codepage, LowerCaseMapsEveryCharacterWhateverTheProcessLocale) {
    struct Case {
        const char* name;
        std::string text, lower;
    };
    const std::vector<Case> cases = {
        {"ASCII", "My Docs 2005", "my docs 2005"},
        {"Latin letters of two bytes", "\xC3\x9C" "BUNG \xC3\x84RA \xC3\x89T\xC3\x89", "\xC3\xBC" "bung \xC3\xA4ra \xC3\xA9t\xC3\xA9"},
        {"Greek without a final form", "\xCE\xA3\xCE\x91\xCE\xA3", "\xCF\x83\xCE\xB1\xCF\x83"},
        {"Cyrillic", "\xD0\x94\xD0\x9E\xD0\x9C", "\xD0\xB4\xD0\xBE\xD0\xBC"},
        {"a capital of three bytes", "\xE2\x84\xAA", "k"},  // KELVIN SIGN
        {"a capital of four bytes", "\xF0\x90\x90\x80", "\xF0\x90\x90\xA8"},  // DESERET
        {"dotted capital I takes two characters", "\xC4\xB0stanbul", "i\xCC\x87stanbul"},
        {"already lower, signs and a byte order mark kept", "\xEF\xBB\xBF\xC3\x9F \xE2\x82\xAC", "\xEF\xBB\xBF\xC3\x9F \xE2\x82\xAC"},
        {"no UTF-8: only A to Z", "AB\xFF\xC3", "ab\xFF\xC3"},
        {"empty", "", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(AnsiLowerCase(c.text), c.lower) << c.name;
}

}  // namespace
