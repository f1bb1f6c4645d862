#include "components/kwdreg.h"

#include "components/kwreg.h"
#include "platform/atomicfile.h"
#include "platform/environment.h"
#include "platform/registry.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

namespace fs = std::filesystem;
using platform::Hive;
using platform::RegistryError;
using platform::RegKey;

namespace {

// Blanks and control characters, which the file format drops around names and numbers.
std::string trimmed(const std::string& text) {
    size_t start = 0, end = text.size();
    while (start < end && static_cast<unsigned char>(text[start]) <= ' ') ++start;
    while (end > start && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
    return text.substr(start, end - start);
}

bool hasBreakOrZero(const std::string& text) { return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos; }

#ifndef _WIN32
fs::path autostartFolder() {
    if (const char* dir = std::getenv("MARVANE_AUTOSTART_DIR"); dir && *dir) return dir;
    return "/etc/xdg/autostart";
}

// A start-up entry name that stays one file inside the autostart folder.
bool isEntryName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.size() <= 200 &&
           name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

// A desktop-entry string value: backslash and control characters escaped.
std::string entryString(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out.push_back(c);
        }
    }
    return out;
}

// The program path as one Exec argument: in double quotes when it holds a reserved character,
// "%" doubled so it is no field code.
std::string execArgument(const std::string& path) {
    std::string arg;
    for (char c : path) {
        if (c == '%') arg += "%%";
        else arg.push_back(c);
    }
    if (arg.find_first_of(" \t\n\"'\\><~|&;$*?#()`") == std::string::npos) return arg;
    std::string quoted = "\"";
    for (char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted.push_back('\\');
        quoted.push_back(c);
    }
    return quoted + "\"";
}
#else
// The machine's Run key, whose values the system starts at every log-on.
constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
#endif

}  // namespace

TKwDReg::TKwDReg() : kwstore::Base(true), IniFileDir(AppDir()) {}

std::string TKwDReg::IniFilePath() const {
    if (IniFileDir.empty()) return IniFileName;
    return IniFileDir + (IniFileDir.back() == '/' ? "" : "/") + IniFileName;
}

int TKwDReg::GetIndex(const std::string& name, const std::string& folder) const {
    for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].name == name && entries_[i].folder == folder) return static_cast<int>(i);
    return -1;
}

void TKwDReg::Add(const std::string& name, const std::string& value, const std::string& folder) {
    Delete(name, folder);
    entries_.push_back(Entry{name, value, folder});
}

bool TKwDReg::Delete(const std::string& name, const std::string& folder) {
    const int index = GetIndex(name, folder);
    if (index < 0) return false;
    entries_.erase(entries_.begin() + index);
    return GetIndex(name, folder) < 0;
}

void TKwDReg::PushString(const std::string& name, const std::string& value, const std::string& folder) {
    Add(name, value, folder);
}

std::string TKwDReg::PopString(const std::string& name, const std::string& defaultValue, const std::string& folder) const {
    const int index = GetIndex(name, folder);
    return index < 0 ? defaultValue : entries_[static_cast<size_t>(index)].value;
}

void TKwDReg::PushInt(const std::string& name, int32_t value, const std::string& folder) {
    Add(name, std::to_string(value), folder);
}

int32_t TKwDReg::PopInt(const std::string& name, int32_t defaultValue, const std::string& folder) const {
    const int index = GetIndex(name, folder);
    return index < 0 ? defaultValue : StrToInt(entries_[static_cast<size_t>(index)].value, defaultValue);
}

void TKwDReg::PushBool(const std::string& name, bool value, const std::string& folder) {
    Add(name, value ? "1" : "0", folder);
}

bool TKwDReg::PopBool(const std::string& name, bool defaultValue, const std::string& folder) const {
    switch (PopInt(name, -1, folder)) {
    case 0: return false;
    case 1: return true;
    default: return defaultValue;
    }
}

std::string TKwDReg::GetDataKey(const std::string& line) { return line.substr(0, line.find('=')); }

std::string TKwDReg::GetDataValue(const std::string& line) {
    const size_t eq = line.find('=');
    return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

std::string TKwDReg::BuildData(const std::string& name, const std::string& value) { return name + "=" + value; }

std::string TKwDReg::ExtractFolderName(const std::string& line) {
    bool open = false, closed = false, bad = false;
    std::string result;
    for (char c : line) {
        if (c == '[') {
            if (closed) bad = true;
            else open = true;
        } else if (c == ']') {
            open = false;
            closed = true;
        } else if (open) {
            result.push_back(c);
        } else if (c != ' ') {
            bad = true;
        }
    }
    return bad ? std::string() : result;
}

int32_t TKwDReg::StrToInt(const std::string& text, int32_t defaultValue) {
    const std::string t = trimmed(text);
    size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    int base = 10;
    if (i < t.size() && t[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == t.size()) return defaultValue;
    uint64_t magnitude = 0;
    for (; i < t.size(); ++i) {
        const char c = t[i];
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) return defaultValue;
        magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (magnitude > 2147483648ULL) return defaultValue;
    }
    if (!negative && magnitude > 2147483647ULL) return defaultValue;
    return static_cast<int32_t>(negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude));
}

std::string TKwDReg::EncodeText(const std::string& text, const std::string& replacement) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += replacement;
            ++i;
        } else if (text[i] == '\r' || text[i] == '\n') {
            out += replacement;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::string TKwDReg::DecodeText(const std::string& text, const std::string& replacement) {
    if (replacement.empty()) return text;
    std::string out;
    for (size_t i = 0; i < text.size();) {
        if (text.compare(i, replacement.size(), replacement) == 0) {
            out += "\r\n";
            i += replacement.size();
        } else {
            out.push_back(text[i++]);
        }
    }
    return out;
}

bool TKwDReg::fileKeepsTable() const {
    for (const Entry& e : entries_) {
        if (e.name.empty() || hasBreakOrZero(e.name) || hasBreakOrZero(e.value)) return false;
        const std::string line = BuildData(e.name, e.value);
        if (!ExtractFolderName(line).empty() || trimmed(GetDataKey(line)) != e.name || GetDataValue(line) != e.value)
            return false;
        if (!e.folder.empty() && (hasBreakOrZero(e.folder) || ExtractFolderName("[" + e.folder + "]") != e.folder))
            return false;
    }
    return true;
}

bool TKwDReg::RawSaveToFile() {
    if (!fileKeepsTable()) return false;
    // Folders in the order they first occur; each exact name is a section of its own.
    std::vector<std::string> folders{""};
    std::set<std::string> seen{""};
    for (const Entry& e : entries_)
        if (seen.insert(e.folder).second) folders.push_back(e.folder);
    std::string text;
    for (const std::string& folder : folders) {
        text += "\r\n";
        if (!folder.empty()) text += "[" + folder + "]\r\n";
        for (const Entry& e : entries_)
            if (e.folder == folder) text += BuildData(e.name, e.value) + "\r\n";
    }
    return platform::replaceFileContent(IniFilePath(), text, 0666);
}

bool TKwDReg::RawLoadFromFile() {
    std::optional<std::string> content = platform::readFileContent(IniFilePath());
    if (!content) return false;
    const std::string text = content->substr(0, content->find('\0'));
    std::string folder;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        if (std::string f = ExtractFolderName(line); !f.empty()) {
            folder = f;
            continue;
        }
        const std::string name = trimmed(GetDataKey(line));
        if (!name.empty()) Add(name, GetDataValue(line), folder);
    }
    return true;
}

bool TKwDReg::LoadFromFile() {
    Clear();
    return RawLoadFromFile();
}

bool TKwDReg::RawClearFile() {
    const std::string path = IniFilePath();
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec))) return false;
    fs::remove(path, ec);
    return !fs::exists(fs::symlink_status(path, ec));
}

std::string TKwDReg::folderKeyPath(const std::string& folder) const {
    std::string path = KeyPath();
    if (folder.empty()) return path;
    if (path.back() != '\\') path += "\\";  // "Software\Firm\" when Programmname is empty
    return path + folder;
}

bool TKwDReg::RawSaveRegistryValue(const std::string& name, const std::string& value, const std::string& folder) {
    try {
        RegKey key = RegKey::create(Hive::CurrentUser, folderKeyPath(folder));
        key.writeText(name, value);
        return key.read(name).has_value();
    } catch (const RegistryError&) {
        throw RegistryError(RegistryError::Code::Failed, "Failed to set data for '" + name + "'");
    }
}

bool TKwDReg::registryKeepsTable() const {
    std::map<std::string, std::string> folders;              // folded folder -> folder as in the table
    std::set<std::pair<std::string, std::string>> values;    // folded folder and name
    for (const Entry& e : entries_) {
        if (e.value.find('\0') != std::string::npos || e.name.find('\0') != std::string::npos ||
            e.name.size() > platform::kMaxValueNameLength)
            return false;
        if (!e.folder.empty()) {
            for (size_t start = 0;;) {
                const size_t end = e.folder.find('\\', start);
                if (!platform::isValidKeyName(std::string_view(e.folder).substr(start, end - start))) return false;
                if (end == std::string::npos) break;
                start = end + 1;
            }
        }
        const std::string folded = platform::foldName(e.folder);
        if (folders.emplace(folded, e.folder).first->second != e.folder) return false;
        if (!values.emplace(folded, platform::foldName(e.name)).second) return false;
    }
    return true;
}

bool TKwDReg::RawSaveAllToRegistry() {
    if (!registryKeepsTable()) return false;
    bool ok = true;
    for (const Entry& e : entries_) ok = RawSaveRegistryValue(e.name, e.value, e.folder) && ok;
    return ok;
}

bool TKwDReg::RawLoadFolderFormRegistry(const std::string& folder) {
    std::optional<RegKey> key;
    try {
        key = RegKey::open(Hive::CurrentUser, folderKeyPath(folder));
    } catch (const RegistryError&) {
        return false;
    }
    if (!key) return false;
    for (const std::string& name : key->valueNames()) {
        std::optional<platform::RegValue> value = key->read(name);
        if (!value) continue;  // deleted since the listing
        if (!value->isText()) throw RegistryError(RegistryError::Code::InvalidType, "Invalid data type for '" + name + "'");
        Add(name, value->text(), folder);
    }
    return true;
}

// Loads the subkeys of a folder's key, at every depth, as folders "folder\sub".
bool TKwDReg::loadSubfolders(const std::string& folder) {
    std::vector<std::string> subkeys;
    try {
        std::optional<RegKey> key = RegKey::open(Hive::CurrentUser, folderKeyPath(folder));
        if (!key) return false;
        subkeys = key->subkeyNames();
    } catch (const RegistryError&) {
        return false;
    }
    bool ok = true;
    for (const std::string& sub : subkeys) {
        const std::string child = folder.empty() ? sub : folder + "\\" + sub;
        ok = RawLoadFolderFormRegistry(child) && ok;
        ok = loadSubfolders(child) && ok;
    }
    return ok;
}

bool TKwDReg::RawLoadAllFoldersFromRegistry() {
    if (!RawLoadFolderFormRegistry("")) return false;
    return loadSubfolders("");
}

bool TKwDReg::LoadFromRegistry() {
    Clear();
    return RawLoadAllFoldersFromRegistry();
}

bool TKwDReg::RawClearRegistry(const std::string& folder) {
    if (Programmname.empty()) return false;
    const std::string path = folderKeyPath(folder);
    try {
        if (!platform::deleteKeyTree(Hive::CurrentUser, path)) return false;
        return !RegKey::open(Hive::CurrentUser, path).has_value();
    } catch (const RegistryError&) {
        return false;
    }
}

#ifdef _WIN32
void TKwDReg::SetSystemStartup(bool enable, const std::string& name) {
    const std::string fail = "Failed to set data for '" + name + "'";
    if (!enable) {
        if (std::optional<RegKey> key = RegKey::open(Hive::LocalMachine, kRunKey)) key->erase(name);
        return;
    }
    std::string program = platform::executablePath();
    for (char& c : program)
        if (c == '/') c = '\\';
    if (program.empty() || name.empty()) throw RegistryError(RegistryError::Code::Failed, fail);
    try {
        RegKey::create(Hive::LocalMachine, kRunKey).writeText(name, program);
    } catch (const RegistryError&) {
        throw RegistryError(RegistryError::Code::Failed, fail);
    }
}

bool TKwDReg::GetSystemStartup(const std::string& name) const {
    std::optional<RegKey> key = RegKey::open(Hive::LocalMachine, kRunKey);
    return key && !name.empty() && key->read(name).has_value();
}

#else
void TKwDReg::SetSystemStartup(bool enable, const std::string& name) {
    const bool valid = isEntryName(name);
    const fs::path file = autostartFolder() / (name + ".desktop");
    if (!enable) {
        if (valid) ::unlink(file.c_str());
        return;
    }
    const std::string program = platform::executablePath();
    std::error_code ec;
    if (valid && !program.empty()) fs::create_directories(file.parent_path(), ec);
    const std::string entry = "[Desktop Entry]\nType=Application\nName=" + entryString(name) +
                              "\nExec=" + entryString(execArgument(program)) + "\n";
    if (!valid || program.empty() || ec || !platform::replaceFileContent(file, entry, 0644))
        throw RegistryError(RegistryError::Code::Failed, "Failed to set data for '" + name + "'");
}

bool TKwDReg::GetSystemStartup(const std::string& name) const {
    std::error_code ec;
    return isEntryName(name) && fs::is_regular_file(autostartFolder() / (name + ".desktop"), ec);
}
#endif

std::string TKwDReg::AppDir() {
    const std::string dir = TKwReg::AppDir();
    return dir.empty() ? "./" : dir;
}
