// folvio-reg: query, add, delete, export and import registry keys and values from the command line.
#include "buildinfo.h"
#include "platform/arguments.h"
#include "platform/atomicfile.h"
#include "platform/regfile.h"
#include "platform/registry.h"

#include <unistd.h>

#include <cstdio>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using platform::Hive;
using platform::RegistryError;
using platform::RegKey;
using platform::RegValue;

namespace {

constexpr int kDone = 0;
constexpr int kNotFound = 1;  // also: the operation failed or was cancelled
constexpr int kUsage = 2;

// The file name that stands for standard input (import) or standard output (export).
constexpr const char* kStandardStream = "-";

constexpr const char* kHelp = R"(Usage:
  folvio-reg query  KEY [/v NAME]
  folvio-reg add    KEY [/v NAME] [/t TYPE] [/d DATA] [/f]
  folvio-reg delete KEY [/v NAME] [/f]
  folvio-reg export KEY FILE [/y]
  folvio-reg import FILE
  folvio-reg repair [HIVE]
  folvio-reg --help | --version

Reads and writes the registry that holds the settings of Marvane Folvio and its components.

  KEY      HIVE\path\of\key; HIVE is HKCU (HKEY_CURRENT_USER) or HKLM (HKEY_LOCAL_MACHINE)
  /v NAME  the value to work on; /ve is the key's default value. Without /v, add creates the
           key and delete removes the key with everything below it.
  /t TYPE  REG_SZ (the default), REG_EXPAND_SZ, REG_DWORD or REG_BINARY
  /d DATA  the data: text for REG_SZ and REG_EXPAND_SZ, a number (decimal, or hexadecimal
           after 0x) for REG_DWORD, hex digits for REG_BINARY
  /f       overwrite or delete without asking
  /y       overwrite the export file without asking
The argument after /v, /t and /d is taken as it stands, even when it begins with "/".
query shows a byte of a name or a text that a terminal cannot show (a scrambled password, a
control byte, a byte that is no UTF-8) as \xHH and a backslash as \\; export keeps every byte.
export writes the key and everything below it as REGEDIT4 text; import reads such a file back,
every byte of every value included. FILE may be a pipe or /dev/stdin too; "-" is standard output
for export (which then prints the text alone) and standard input for import:
  folvio-reg export 'HKCU\Software\Marvane' - | gzip >marvane.reg.gz
  gunzip -c marvane.reg.gz | folvio-reg import -

A damaged hive is never replaced behind your back: every command then fails, naming it. repair
(HKCU when no HIVE is given) saves every key and value that can still be read into a fresh hive
in its place, and keeps the damaged file beside it as HIVE.db.damaged-DATE-TIME; keys and values
whose parent key was lost come back below HIVE\Recovered. A sound hive is left alone.

Example: set the folder the backups go to, for an unattended machine:
  folvio-reg add 'HKCU\Software\Marvane\Folvio' /v DestDir /d /backups/ /f
and check it:
  folvio-reg query 'HKCU\Software\Marvane\Folvio' /v DestDir

The user's hive is kept in $XDG_CONFIG_HOME/marvane/registry (~/.config/marvane/registry), the
machine's in /var/lib/marvane/registry; MARVANE_REGISTRY_DIR replaces both.
Exit status: 0 done, 1 not found (or failed, or cancelled), 2 usage error.
)";

struct UsageError {
    std::string message;
};

struct Command {
    std::string verb;
    std::vector<std::string> operands;
    std::optional<std::string> name, type, data;
    bool force = false, overwriteFile = false;
};

std::string lower(std::string text) { return platform::foldName(text); }

Command parseArguments(int argc, char** argv) {
    Command c;
    c.verb = lower(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::string word = lower(arg);
        std::optional<std::string>* slot = word == "/v" ? &c.name : word == "/t" ? &c.type : word == "/d" ? &c.data : nullptr;
        if (slot) {
            if (slot->has_value()) throw UsageError{arg + " is given twice"};
            if (i + 1 >= argc) throw UsageError{arg + " needs an argument"};
            *slot = std::string(argv[++i]);  // as it stands, even when it begins with "/"
        } else if (word == "/ve") {
            if (c.name) throw UsageError{"/v is given twice"};
            c.name = std::string();
        } else if (word == "/f") {
            c.force = true;
        } else if (word == "/y") {
            c.overwriteFile = true;
        } else {
            c.operands.push_back(arg);
        }
    }
    return c;
}

void allow(const Command& c, size_t operands, bool name, bool typeAndData, bool force, bool overwriteFile) {
    if (c.operands.size() != operands)
        throw UsageError{c.verb + " takes " + std::to_string(operands) + (operands == 1 ? " operand" : " operands")};
    if ((!name && c.name) || (!typeAndData && (c.type || c.data)) || (!force && c.force) || (!overwriteFile && c.overwriteFile))
        throw UsageError{"a switch that " + c.verb + " does not take"};
}

struct KeyName {
    Hive hive;
    std::string path;  // normalised: no trailing "\"
    std::string full;  // as displayed
};

KeyName parseKey(const std::string& text) {
    const size_t slash = text.find('\\');
    std::optional<Hive> hive = platform::parseHiveName(text.substr(0, slash));
    if (!hive) throw UsageError{"invalid key name '" + text + "': it must begin with HKCU or HKLM"};
    KeyName key{*hive, "", platform::hiveName(*hive)};
    if (slash != std::string::npos) {
        try {
            for (const std::string& name : platform::splitKeyPath(text.substr(slash + 1)))
                key.path += (key.path.empty() ? "" : "\\") + name;
        } catch (const RegistryError&) {
            throw UsageError{"invalid key name '" + text + "'"};
        }
    }
    if (!key.path.empty()) key.full += "\\" + key.path;
    return key;
}

bool confirm(const std::string& question) {
    std::cout << question << " (Yes/No)? " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        std::cout << "\n";
        return false;
    }
    answer = lower(answer);
    return answer == "y" || answer == "yes";
}

int cancelled() {
    std::cout << "The operation was cancelled.\n";
    return kNotFound;
}

int notFound() {
    std::cerr << "ERROR: The registry key or value was not found.\n";
    return kNotFound;
}

int done() {
    std::cout << "The operation completed successfully.\n";
    return kDone;
}

std::string typeName(uint32_t type) {
    switch (type) {
    case platform::REG_NONE: return "REG_NONE";
    case platform::REG_SZ: return "REG_SZ";
    case platform::REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case platform::REG_BINARY: return "REG_BINARY";
    case platform::REG_DWORD: return "REG_DWORD";
    default: return "REG_TYPE_" + std::to_string(type);
    }
}

std::optional<uint32_t> parseType(const std::string& text) {
    for (uint32_t type : {platform::REG_SZ, platform::REG_EXPAND_SZ, platform::REG_BINARY, platform::REG_DWORD})
        if (lower(text) == lower(typeName(type))) return type;
    return std::nullopt;
}

// The length of the well-formed UTF-8 sequence of a character a terminal shows as such that
// starts at pos, or 0: C1 controls and the invisible marks that reorder or hide text do not count.
size_t printableSequence(std::string_view text, size_t pos) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char b0 = byte(pos);
    if (b0 >= 0x20 && b0 < 0x7F) return 1;
    size_t length = 0;
    uint32_t c = 0, least = 0;
    if ((b0 & 0xE0) == 0xC0) length = 2, c = b0 & 0x1Fu, least = 0x80;
    else if ((b0 & 0xF0) == 0xE0) length = 3, c = b0 & 0x0Fu, least = 0x800;
    else if ((b0 & 0xF8) == 0xF0) length = 4, c = b0 & 0x07u, least = 0x10000;
    else return 0;
    if (pos + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) return 0;
        c = (c << 6) | (byte(pos + i) & 0x3Fu);
    }
    const bool invisible = c < 0xA0 || (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) ||
                           (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) || invisible) return 0;
    return length;
}

// Names and texts as query shows them on a terminal: what it can show as it is, a backslash
// doubled, and every other byte as \xHH (a scrambled password, control bytes, bytes that are no
// UTF-8). export keeps the bytes themselves.
std::string escaped(std::string_view text) {
    std::string shown;
    for (size_t pos = 0; pos < text.size();) {
        if (text[pos] == '\\') {
            shown += "\\\\";
            ++pos;
        } else if (const size_t n = printableSequence(text, pos); n > 0) {
            shown.append(text, pos, n);
            pos += n;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(static_cast<unsigned char>(text[pos])));
            shown += hex;
            ++pos;
        }
    }
    return shown;
}

std::string shownData(const RegValue& v) {
    if (v.isText()) return escaped(v.text());
    char buf[16];
    if (v.type == platform::REG_DWORD && v.data.size() == 4) {
        std::snprintf(buf, sizeof buf, "0x%x", platform::dwordOf(v.data));
        return buf;
    }
    std::string hex;
    for (const char b : v.data) {
        std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned char>(b));
        hex += buf;
    }
    return hex;
}

// A key path as query shows it: "\" between the names (which cannot hold one), each name escaped.
std::string shownPath(std::string_view path) {
    std::string shown;
    for (size_t from = 0;;) {
        const size_t slash = path.find('\\', from);
        shown += escaped(path.substr(from, slash == std::string_view::npos ? std::string_view::npos : slash - from));
        if (slash == std::string_view::npos) return shown;
        shown += '\\';
        from = slash + 1;
    }
}

void printValue(const std::string& name, const RegValue& v) {
    std::cout << "    " << (name.empty() ? "(Default)" : escaped(name)) << "    " << typeName(v.type) << "    " << shownData(v) << "\n";
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string dataFor(uint32_t type, const std::string& text) {
    if (type == platform::REG_SZ || type == platform::REG_EXPAND_SZ) return platform::textData(text);
    if (type == platform::REG_DWORD) {
        const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        const int base = hex ? 16 : 10;
        uint64_t n = 0;
        if (text.empty() || (hex && text.size() == 2)) throw UsageError{"a REG_DWORD needs a number"};
        for (size_t i = hex ? 2 : 0; i < text.size(); ++i) {
            int d = hexDigit(text[i]);
            if (d < 0 || d >= base) throw UsageError{"'" + text + "' is not a number"};
            n = n * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
            if (n > 0xFFFFFFFFull) throw UsageError{"'" + text + "' does not fit a REG_DWORD"};
        }
        return platform::dwordData(static_cast<uint32_t>(n));
    }
    if (text.size() % 2 != 0) throw UsageError{"REG_BINARY data needs an even number of hex digits"};
    std::string bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        int hi = hexDigit(text[i]), lo = hexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) throw UsageError{"'" + text + "' is not hex digits"};
        bytes.push_back(static_cast<char>(hi * 16 + lo));
    }
    return bytes;
}

int query(const Command& c) {
    allow(c, 1, true, false, false, false);
    const KeyName key = parseKey(c.operands[0]);
    std::optional<RegKey> open = RegKey::open(key.hive, key.path);
    if (!open) return notFound();
    const std::string stored = open->path();
    const std::string shown = platform::hiveName(key.hive) + (stored.empty() ? "" : "\\" + shownPath(stored));
    if (c.name) {
        std::optional<RegValue> value = open->read(*c.name);
        if (!value) return notFound();
        std::string name = *c.name;  // shown as first written, whatever case was asked for
        for (const std::string& each : open->valueNames())
            if (platform::foldName(each) == platform::foldName(name)) name = each;
        std::cout << "\n" << shown << "\n";
        printValue(name, *value);
        std::cout << "\n";
        return kDone;
    }
    std::cout << "\n" << shown << "\n";
    for (const std::string& name : open->valueNames())
        if (std::optional<RegValue> value = open->read(name)) printValue(name, *value);
    std::cout << "\n";
    for (const std::string& sub : open->subkeyNames()) std::cout << shown << "\\" << escaped(sub) << "\n";
    return kDone;
}

int add(const Command& c) {
    allow(c, 1, true, true, true, false);
    const KeyName key = parseKey(c.operands[0]);
    if ((c.type || c.data) && !c.name) throw UsageError{"/t and /d need /v"};
    uint32_t type = platform::REG_SZ;
    if (c.type) {
        std::optional<uint32_t> parsed = parseType(*c.type);
        if (!parsed) throw UsageError{"unknown type '" + *c.type + "'"};
        type = *parsed;
    }
    const std::string data = c.name ? dataFor(type, c.data.value_or(type == platform::REG_DWORD ? "0" : "")) : "";
    RegKey open = RegKey::create(key.hive, key.path);
    if (c.name) {
        if (!c.force && open.read(*c.name) &&
            !confirm("Value " + (c.name->empty() ? std::string("(Default)") : *c.name) + " exists, overwrite it"))
            return cancelled();
        open.write(*c.name, type, data);
    }
    return done();
}

int remove(const Command& c) {
    allow(c, 1, true, false, true, false);
    const KeyName key = parseKey(c.operands[0]);
    if (!c.name && key.path.empty()) throw UsageError{"the root of a hive cannot be deleted"};
    std::optional<RegKey> open = RegKey::open(key.hive, key.path);
    if (!open) return notFound();
    if (c.name) {
        if (!open->read(*c.name)) return notFound();
        if (!c.force && !confirm("Delete the registry value " + (c.name->empty() ? std::string("(Default)") : *c.name)))
            return cancelled();
        open->erase(*c.name);
        return done();
    }
    open->close();
    if (!c.force && !confirm("Permanently delete the registry key " + key.full)) return cancelled();
    return platform::deleteKeyTree(key.hive, key.path) ? done() : notFound();
}

int exportKey(const Command& c) {
    allow(c, 2, false, false, false, true);
    const KeyName key = parseKey(c.operands[0]);
    const std::string& file = c.operands[1];
    std::vector<platform::RegFileKey> keys;
    try {
        keys = platform::readKeyTree(key.hive, key.path);
    } catch (const RegistryError& e) {
        if (e.code() == RegistryError::Code::NotFound) return notFound();
        throw;
    }
    if (file == kStandardStream) {
        // Standard output carries the file alone, so that it can be piped into another program.
        const std::string text = platform::formatRegFile(keys);
        std::cout.write(text.data(), static_cast<std::streamsize>(text.size())).flush();
        if (!std::cout) {
            std::cerr << "ERROR: cannot write to standard output\n";
            return kNotFound;
        }
        return kDone;
    }
    std::error_code ec;
    if (!c.overwriteFile && std::filesystem::exists(file, ec) && !confirm("File " + file + " exists, overwrite it"))
        return cancelled();
    if (!platform::replaceFileContent(file, platform::formatRegFile(keys))) {
        std::cerr << "ERROR: cannot write " << file << "\n";
        return kNotFound;
    }
    return done();
}

int importFile(const Command& c) {
    allow(c, 1, false, false, false, false);
    const std::string& file = c.operands[0];
    // Any stream will do: a file, a pipe, /dev/stdin, a process substitution, or "-".
    std::optional<std::string> text;
    int error = 0;
    if (file == kStandardStream) {
        std::string content;
        error = -platform::readAllFrom(STDIN_FILENO, content);
        if (error == 0) text = std::move(content);
    } else {
        text = platform::readStreamContent(file, error);
    }
    if (!text) {
        std::cerr << "ERROR: cannot read " << (file == kStandardStream ? "standard input" : file) << ": "
                  << std::strerror(error) << "\n";
        return kNotFound;
    }
    try {
        platform::applyRegFile(platform::parseRegFile(*text));
    } catch (const platform::RegFileError& e) {
        std::cerr << "ERROR: " << file << ", " << e.what() << "\n";
        return kNotFound;
    }
    return done();
}

std::string counted(size_t n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); }

int repair(const Command& c) {
    if (c.operands.size() > 1) throw UsageError{"repair takes at most one operand"};
    allow(c, c.operands.size(), false, false, false, false);
    Hive hive = Hive::CurrentUser;
    if (!c.operands.empty()) {
        std::optional<Hive> named = platform::parseHiveName(c.operands[0]);
        if (!named) throw UsageError{"unknown hive '" + c.operands[0] + "': it is HKCU or HKLM"};
        hive = *named;
    }
    const std::string file = platform::hiveFile(hive).string();
    const platform::HiveRepair result = platform::repairHive(hive);
    if (!result.damaged) {
        std::cout << "The registry hive " << file << " is sound; nothing was changed.\n";
        return kDone;
    }
    std::cout << "The registry hive " << file << " was damaged (" << result.reason << "): ";
    if (result.values == 0 && result.keys == 0) {
        std::cout << "no value could be saved; a fresh hive is in its place";
    } else {
        std::cout << counted(result.values, "value", "values") << " in " << counted(result.keys, "key", "keys")
                  << (result.values == 1 ? " was" : " were") << " saved into a fresh hive in its place";
        if (result.orphans > 0)
            std::cout << " (" << result.orphans << " below " << platform::hiveName(hive)
                      << "\\Recovered, as their key was lost)";
    }
    std::cout << ", and the damaged copy is kept as " << result.keptAs.string() << ".\n";
    return kDone;
}

}  // namespace

int main(int systemArgc, char** systemArgv) {
    platform::Utf8Argv args(systemArgc, systemArgv);
    const int argc = args.argc();
    char** argv = args.argv();
    if (argc < 2) {
        std::cerr << kHelp;
        return kUsage;
    }
    const std::string first = lower(argv[1]);
    if (first == "--help" || first == "-h" || first == "/?" || first == "help") {
        std::cout << kHelp;
        return kDone;
    }
    if (first == "--version") {
        std::cout << buildinfo::VersionText("folvio-reg");
        return kDone;
    }
    try {
        const Command c = parseArguments(argc, argv);
        if (c.verb == "query") return query(c);
        if (c.verb == "add") return add(c);
        if (c.verb == "delete") return remove(c);
        if (c.verb == "export") return exportKey(c);
        if (c.verb == "import") return importFile(c);
        if (c.verb == "repair") return repair(c);
        throw UsageError{"unknown command '" + std::string(argv[1]) + "'"};
    } catch (const UsageError& e) {
        std::cerr << "ERROR: " << e.message << "\nType 'folvio-reg --help' for usage.\n";
        return kUsage;
    } catch (const RegistryError& e) {
        std::cerr << "ERROR: " << e.what() << "\n";
        return e.code() == RegistryError::Code::InvalidName ? kUsage : kNotFound;
    } catch (const std::exception& e) {
        std::cerr << "ERROR: " << e.what() << "\n";
        return kNotFound;
    }
}
