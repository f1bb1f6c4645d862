// ASCII case folding, the form in which registry names, shell-folder names and wildcard patterns compare.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The text with the letters A to Z made lower case; every other byte stays as it is.
inline std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

}  // namespace platform
