// Patterns come from users (exclude lists, command lines): any bytes must give a result code
// quickly, and the letters A to Z must not matter.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/wildcard.h"

namespace {

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t split = input.find('\0');
    std::string pattern = input.substr(0, split);
    std::string text = split == std::string::npos ? std::string() : input.substr(split + 1);
    int code = matche(pattern, text);
    if (code < MATCH_VALID || code > MATCH_PATTERN) std::abort();
    if (IsMatch(pattern, text) != (code == MATCH_VALID)) std::abort();
    if (matche(upper(pattern), upper(text)) != code) std::abort();
    if (!IsMatch("*", text)) std::abort();
    match_after_star(pattern, text);
    return 0;
}
