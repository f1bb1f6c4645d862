// Registry export files: REGEDIT4 text that holds keys with their values, written and read back byte for byte.
#pragma once

#include "platform/registry.h"

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct RegFileValue {
    std::string name;  // the empty name is the key's default value ("@")
    bool remove = false;  // "name"=- deletes the value on import
    RegValue value;
    bool operator==(const RegFileValue&) const = default;
};

struct RegFileKey {
    Hive hive = Hive::CurrentUser;
    std::string path;     // below the hive, "\" between names
    bool remove = false;  // [-KEY] deletes the key on import
    std::vector<RegFileValue> values;
    bool operator==(const RegFileKey&) const = default;
};

class RegFileError : public std::runtime_error {
public:
    RegFileError(size_t line, const std::string& message)
        : std::runtime_error("line " + std::to_string(line) + ": " + message), line_(line) {}
    size_t line() const { return line_; }

private:
    size_t line_;
};

// REGEDIT4 text with CR LF line ends. Strings stand in quotes with "\" and the quote escaped and
// other bytes as they are (above 127 too); string data holding control bytes or not ending in
// exactly one zero byte is written as hex(1), so every value comes back exactly.
std::string formatRegFile(const std::vector<RegFileKey>& keys);
// Reads REGEDIT4 text (any line ends; "\" continues hex data on the next line; ";" starts a
// comment). Throws RegFileError on anything else.
std::vector<RegFileKey> parseRegFile(std::string_view text);

// The key and every key below it, with their values, in enumeration order. NotFound when missing.
std::vector<RegFileKey> readKeyTree(Hive hive, std::string_view path);
// Applies parsed keys to the registry: creates keys, writes and deletes values, deletes keys.
void applyRegFile(const std::vector<RegFileKey>& keys);

}  // namespace platform
