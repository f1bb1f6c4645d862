#include "platform/wildcard.h"

#include "platform/filenamecase.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* what;
    const char* pattern;
    const char* text;
    int code;
};

// The matcher's result codes, one row per rule.
const Case kCases[] = {
    {"star matches anything", "*", "anything.txt", MATCH_VALID},
    {"star matches the empty text", "*", "", MATCH_VALID},
    {"star-dot-star needs a dot", "*.*", "README", MATCH_ABORT},
    {"star-dot-star with the appended dot", "*.*", "README.", MATCH_VALID},
    {"extension mask", "*.txt", "notes.txt", MATCH_VALID},
    {"case of A to Z is folded", "*.TXT", "Notes.txt", MATCH_VALID},
    {"letters beyond A to Z are folded only where file names ignore case (Windows)", "\xC3\x89*", "\xC3\xA9t\xC3\xA9",
     platform::FileNamesIgnoreCase() ? MATCH_VALID : MATCH_LITERAL},
    {"question mark takes one character", "a?c", "abc", MATCH_VALID},
    {"question mark needs a character", "a?c", "ac", MATCH_ABORT},
    {"literal mismatch", "abc", "abd", MATCH_LITERAL},
    {"pattern ends before the text", "ab", "abc", MATCH_END},
    {"text ends before the pattern", "abc", "ab", MATCH_ABORT},
    {"trailing star after the text", "a*", "a", MATCH_VALID},
    {"star then a needs an a", "*a", "", MATCH_ABORT},
    {"class hit", "<a-c>x", "bx", MATCH_VALID},
    {"class miss", "<a-c>x", "dx", MATCH_RANGE},
    {"negated class with !", "<!a-c>x", "bx", MATCH_RANGE},
    {"negated class with ^", "<^a-c>x", "dx", MATCH_VALID},
    {"single characters in a class", "<xyz>", "y", MATCH_VALID},
    {"reversed range holds nothing", "<c-a>", "b", MATCH_RANGE},
    {"class without its end", "<a-c", "b", MATCH_PATTERN},
    {"empty class", "<>", "a", MATCH_PATTERN},
    {"dash with nothing after", "<a->", "a", MATCH_PATTERN},
    {"restricted star", "*<0-9>.log", "123.log", MATCH_VALID},
    {"restricted star meets a letter", "*<0-9>.log", "12a.log", MATCH_ABORT},
    {"restricted star at the end takes only its class", "*<0-9>", "12a", MATCH_ABORT},
    {"restricted star at the end", "*<0-9>", "123", MATCH_VALID},
    {"empty restricted star", "*<z-a>x", "x", MATCH_ABORT},
    {"backslash is ordinary", "a\\b", "a\\b", MATCH_VALID},
    {"several stars", "*a*b*c", "xxaxxbxxc", MATCH_VALID},
    {"several stars, no match", "*a*b*c", "xxaxxbxx", MATCH_ABORT},
    {"star followed by question marks", "*??", "a", MATCH_ABORT},
    {"path pattern", "*/tmp/*", "/data/tmp/x.o", MATCH_VALID},
};

TEST(Wildcard, ResultCodes) {
    for (const Case& c : kCases) {
        EXPECT_EQ(matche(c.pattern, c.text), c.code) << c.what;
        EXPECT_EQ(IsMatch(c.pattern, c.text), c.code == MATCH_VALID) << c.what;
    }
}

TEST(Wildcard, MatchAfterStarStartsAtTheStar) {
    EXPECT_EQ(match_after_star("*.txt", "a.txt"), MATCH_VALID);
    EXPECT_EQ(match_after_star("?x", ""), MATCH_ABORT);
    EXPECT_EQ(match_after_star("x", "abc"), MATCH_ABORT);
}

TEST(Wildcard, ManyStarsStayFast) {
    // Without remembering tried positions this takes longer than the test's timeout.
    std::string text(3000, 'a');
    EXPECT_EQ(matche("*a*a*a*a*a*a*a*a*a*a*b", text), MATCH_ABORT);
}

TEST(Wildcard, WildcardCharacters) {
    for (const char* s : {"*.txt", "a?", "<a>", "b>", "|x"}) EXPECT_TRUE(IsWildCard(s)) << s;
    for (const char* s : {"plain.txt", "/data/docs/", "a[1].txt", ""}) EXPECT_FALSE(IsWildCard(s)) << s;
    int code = -1;
    EXPECT_TRUE(is_pattern("abc"));
    EXPECT_TRUE(is_valid_pattern("<", code));
    EXPECT_EQ(code, 0);
}

}  // namespace
