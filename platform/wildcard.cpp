#include "platform/wildcard.h"

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <vector>

#include "platform/asciicase.h"
#include "platform/filenamecase.h"

namespace {

using CharSet = std::bitset<256>;

uint8_t byteAt(const std::string& s, size_t i) { return static_cast<uint8_t>(s[i]); }

// One match over lowered pattern and text. Results of matching the rest of the pattern from
// position i against the rest of the text from position j are remembered, so that patterns with
// many stars stay polynomial.
class Matcher {
public:
    Matcher(std::string_view pattern, std::string_view text)
        : p_(platform::AsciiLower(pattern)), t_(platform::AsciiLower(text)) {}

    int match(size_t i, size_t j);
    int afterStar(size_t i, size_t j, const CharSet* restriction);

private:
    // Reads the class starting at the "<" at i; returns 0 with end after ">" or MATCH_PATTERN.
    int readClass(size_t i, CharSet& set, size_t& end) const;
    int rememberedMatch(size_t i, size_t j);

    std::string p_, t_;
    std::vector<uint8_t> memo_;  // made on the first try after a star
};

int Matcher::readClass(size_t i, CharSet& set, size_t& end) const {
    size_t k = i + 1;
    bool negated = k < p_.size() && (p_[k] == '!' || p_[k] == '^');
    if (negated) ++k;
    if (k >= p_.size() || p_[k] == '>') return MATCH_PATTERN;  // empty or unterminated class
    set.reset();
    while (k < p_.size() && p_[k] != '>') {
        uint8_t first = byteAt(p_, k);
        if (k + 1 < p_.size() && p_[k + 1] == '-') {
            if (k + 2 >= p_.size() || p_[k + 2] == '>') return MATCH_PATTERN;  // "-" with nothing after
            uint8_t last = byteAt(p_, k + 2);
            for (unsigned c = first; c <= last; ++c) set.set(c);  // a reversed range holds nothing
            k += 3;
        } else {
            set.set(first);
            ++k;
        }
    }
    if (k >= p_.size()) return MATCH_PATTERN;  // no closing ">"
    if (negated) set.flip();
    end = k + 1;
    return 0;
}

int Matcher::match(size_t i, size_t j) {
    if (p_.compare(i, std::string::npos, "*") == 0) return MATCH_VALID;
    while (i < p_.size()) {
        if (j >= t_.size()) return p_.compare(i, std::string::npos, "*") == 0 ? MATCH_VALID : MATCH_ABORT;
        switch (p_[i]) {
        case '?':
            ++i, ++j;
            break;
        case '<': {
            CharSet set;
            size_t end;
            if (int r = readClass(i, set, end)) return r;
            if (!set.test(byteAt(t_, j))) return MATCH_RANGE;
            i = end, ++j;
            break;
        }
        case '*': {
            ++i;
            if (i < p_.size() && p_[i] == '<') {
                CharSet set;
                size_t end;
                if (int r = readClass(i, set, end)) return r;
                if (set.none()) return MATCH_ABORT;
                return afterStar(end, j, &set);
            }
            return afterStar(i, j, nullptr);
        }
        default:
            if (p_[i] != t_[j]) return MATCH_LITERAL;
            ++i, ++j;
        }
    }
    return j >= t_.size() ? MATCH_VALID : MATCH_END;
}

int Matcher::afterStar(size_t i, size_t j, const CharSet* restriction) {
    while (i < p_.size() && (p_[i] == '*' || p_[i] == '?')) {
        if (p_[i] == '?') {
            if (j >= t_.size()) return MATCH_ABORT;
            ++j;
        }
        ++i;
    }
    if (i == p_.size()) {
        // The rest of the text belongs to the star; a restricted star takes only its class.
        if (restriction)
            for (; j < t_.size(); ++j)
                if (!restriction->test(byteAt(t_, j))) return MATCH_ABORT;
        return MATCH_VALID;
    }
    for (; j < t_.size(); ++j) {
        if ((p_[i] == t_[j] || p_[i] == '<') && rememberedMatch(i, j) == MATCH_VALID) return MATCH_VALID;
        if (restriction && !restriction->test(byteAt(t_, j))) return MATCH_ABORT;
    }
    return MATCH_ABORT;
}

int Matcher::rememberedMatch(size_t i, size_t j) {
    if (memo_.empty()) memo_.assign((p_.size() + 1) * (t_.size() + 1), 0);
    uint8_t& slot = memo_[i * (t_.size() + 1) + j];
    if (!slot) slot = static_cast<uint8_t>(match(i, j));
    return slot;
}

}  // namespace

bool IsWildCard(std::string_view text) { return text.find_first_of("*?<>|") != std::string_view::npos; }

bool IsMatch(std::string_view pattern, std::string_view text) { return matche(pattern, text) == MATCH_VALID; }

int matche(std::string_view pattern, std::string_view text) {
    if (pattern == "*") return MATCH_VALID;
    // Where file names ignore case beyond A to Z (Windows), every letter is folded first.
    if (platform::FileNamesIgnoreCase()) {
        const auto ascii = [](std::string_view s) {
            return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        };
        if (!ascii(pattern) || !ascii(text)) {
            const std::string foldedPattern = platform::FoldFileName(pattern), foldedText = platform::FoldFileName(text);
            return Matcher(foldedPattern, foldedText).match(0, 0);
        }
    }
    return Matcher(pattern, text).match(0, 0);
}

int match_after_star(std::string_view pattern, std::string_view text) {
    return Matcher(pattern, text).afterStar(0, 0, nullptr);
}

bool is_pattern(std::string_view) { return true; }

bool is_valid_pattern(std::string_view, int& errorCode) {
    errorCode = 0;
    return true;
}
