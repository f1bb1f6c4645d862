// Wildcard matching of names against patterns with "*", "?" and character classes "<...>".
#pragma once

#include <string>
#include <string_view>

// Result codes of matche and match_after_star.
constexpr int MATCH_VALID = 1;    // the text matches
constexpr int MATCH_END = 2;      // the pattern ended before the text
constexpr int MATCH_ABORT = 3;    // no match possible: the text ended first, or a restricted star stopped
constexpr int MATCH_RANGE = 4;    // a character class did not match
constexpr int MATCH_LITERAL = 5;  // a literal character did not match
constexpr int MATCH_PATTERN = 6;  // the pattern is malformed

// True when text contains any of "*", "?", "<", ">" or "|".
bool IsWildCard(std::string_view text);

// True exactly when matche(pattern, text) is MATCH_VALID.
bool IsMatch(std::string_view pattern, std::string_view text);

// Matches text against pattern, folding only A to Z to lower case; returns a MATCH_* code.
int matche(std::string_view pattern, std::string_view text);

// Matches text against a pattern that starts at a star (stars and question marks first).
int match_after_star(std::string_view pattern, std::string_view text);

// Kept for callers of the pattern checks: both accept every pattern.
bool is_pattern(std::string_view text);
bool is_valid_pattern(std::string_view text, int& errorCode);
