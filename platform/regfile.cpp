#include "platform/regfile.h"

#include <cstdio>

namespace platform {

namespace {

constexpr std::string_view kSignature = "REGEDIT4";
constexpr size_t kHexLineWidth = 76;

std::string quoteText(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

// String data that any REGEDIT4 reader takes back from quotes: text, one zero byte, no control bytes.
bool fitsInQuotes(const std::string& data) {
    if (data.empty() || data.back() != '\0') return false;
    for (size_t i = 0; i + 1 < data.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(data[i]);
        if (c < 0x20 || c == 0x7f) return false;
    }
    return true;
}

void appendHex(std::string& out, std::string_view data, size_t column) {
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < data.size(); ++i) {
        if (i > 0) {
            out.push_back(',');
            ++column;
            if (column > kHexLineWidth) {  // wrap long data as REGEDIT4 files usually are
                out += "\\\r\n  ";
                column = 2;
            }
        }
        unsigned char b = static_cast<unsigned char>(data[i]);
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
        column += 2;
    }
}

std::string formatValue(const RegFileValue& v) {
    std::string line = v.name.empty() ? "@" : quoteText(v.name);
    line.push_back('=');
    const RegValue& value = v.value;
    if (v.remove) {
        line.push_back('-');
    } else if (value.type == REG_SZ && fitsInQuotes(value.data)) {
        line += quoteText(std::string_view(value.data).substr(0, value.data.size() - 1));
    } else if (value.type == REG_DWORD && value.data.size() == 4) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%08x", dwordOf(value.data));
        line += "dword:";
        line += buf;
    } else {
        if (value.type == REG_BINARY) {
            line += "hex:";
        } else {
            char buf[24];
            std::snprintf(buf, sizeof buf, "hex(%x):", value.type);
            line += buf;
        }
        appendHex(line, value.data, line.size());
    }
    return line + "\r\n";
}

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::vector<RegFileKey> parse() {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
        skipEmptyLines();
        std::string_view first = untilLineEnd();
        while (!first.empty() && (first.back() == ' ' || first.back() == '\t')) first.remove_suffix(1);
        if (first != kSignature) fail("the file does not start with REGEDIT4");
        lineBreak();
        std::vector<RegFileKey> keys;
        while (!atEnd()) {
            skipBlanks();
            if (atEnd()) break;
            char c = peek();
            if (lineBreak()) continue;
            if (c == ';') {
                restOfLine();
            } else if (c == '[') {
                keys.push_back(header());
            } else if (c == '"' || c == '@') {
                if (keys.empty() || keys.back().remove) fail("a value outside a key");
                keys.back().values.push_back(value());
            } else {
                fail("unexpected text");
            }
        }
        return keys;
    }

private:
    [[noreturn]] void fail(const std::string& message) const { throw RegFileError(line_, message); }
    bool atEnd() const { return pos_ >= text_.size(); }
    char peek() const { return text_[pos_]; }

    // Consumes one line end (CR LF, CR or LF) if one is next.
    bool lineBreak() {
        if (atEnd()) return false;
        if (peek() == '\r') {
            ++pos_;
            if (!atEnd() && peek() == '\n') ++pos_;
        } else if (peek() == '\n') {
            ++pos_;
        } else {
            return false;
        }
        ++line_;
        return true;
    }
    void skipBlanks() {
        while (!atEnd() && (peek() == ' ' || peek() == '\t')) ++pos_;
    }
    void skipEmptyLines() {
        for (;;) {
            skipBlanks();
            if (!lineBreak()) return;
        }
    }
    // The text up to the line end, which is left in place.
    std::string_view untilLineEnd() {
        size_t start = pos_;
        while (!atEnd() && peek() != '\r' && peek() != '\n') ++pos_;
        return text_.substr(start, pos_ - start);
    }
    // The text up to the line end, which is consumed too.
    std::string_view restOfLine() {
        std::string_view line = untilLineEnd();
        lineBreak();
        return line;
    }
    void endOfLine() {
        skipBlanks();
        if (!atEnd() && !lineBreak()) fail("unexpected text after the value");
    }

    RegFileKey header() {
        std::string_view line = untilLineEnd();
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
        if (line.size() < 2 || line.back() != ']') fail("a key header without ']'");
        std::string_view inner = line.substr(1, line.size() - 2);
        RegFileKey key;
        if (!inner.empty() && inner.front() == '-') {
            key.remove = true;
            inner.remove_prefix(1);
        }
        size_t slash = inner.find('\\');
        std::optional<Hive> hive = parseHiveName(inner.substr(0, slash));
        if (!hive) fail("unknown hive in '" + std::string(inner) + "'");
        key.hive = *hive;
        if (slash != std::string_view::npos) {
            try {
                std::vector<std::string> names = splitKeyPath(inner.substr(slash + 1));
                for (const std::string& name : names) key.path += (key.path.empty() ? "" : "\\") + name;
            } catch (const RegistryError&) {
                fail("invalid key path '" + std::string(inner) + "'");
            }
        }
        if (key.remove && key.path.empty()) fail("the root of a hive cannot be deleted");
        lineBreak();
        return key;
    }

    // A quoted text; the opening quote is next. Only "\\" and "\"" are escapes; line ends inside
    // the quotes belong to the text.
    std::string quotedText() {
        ++pos_;
        std::string text;
        for (;;) {
            if (atEnd()) fail("a text without its closing quote");
            char c = text_[pos_++];
            if (c == '"') return text;
            if (c == '\\' && !atEnd() && (peek() == '\\' || peek() == '"')) c = text_[pos_++];
            else if (c == '\n' || (c == '\r' && (atEnd() || peek() != '\n'))) ++line_;
            text.push_back(c);
        }
    }

    bool takeWord(std::string_view word) {
        if (text_.size() - pos_ < word.size()) return false;
        if (foldName(text_.substr(pos_, word.size())) != word) return false;
        pos_ += word.size();
        return true;
    }

    static int hexDigit(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    // Up to maxDigits hex digits, at least one.
    uint64_t hexNumber(size_t maxDigits) {
        uint64_t n = 0;
        size_t count = 0;
        while (!atEnd() && count < maxDigits && hexDigit(peek()) >= 0) {
            n = n * 16 + static_cast<uint64_t>(hexDigit(text_[pos_++]));
            ++count;
        }
        if (count == 0) fail("hex digits expected");
        return n;
    }

    // Skips blanks and a "\" that continues the data on the next line.
    void skipContinuation() {
        skipBlanks();
        if (!atEnd() && peek() == '\\') {
            ++pos_;
            skipBlanks();
            if (!lineBreak()) fail("'\\' must end the line");
            skipBlanks();
        }
    }

    std::string hexBytes() {
        std::string bytes;
        skipContinuation();
        if (atEnd() || hexDigit(peek()) < 0) return bytes;
        for (;;) {
            bytes.push_back(static_cast<char>(hexNumber(2)));
            skipBlanks();
            if (atEnd() || peek() != ',') return bytes;
            ++pos_;
            skipContinuation();
        }
    }

    RegFileValue value() {
        RegFileValue v;
        if (peek() == '@') ++pos_;
        else v.name = quotedText();
        // Checked here, so that a file the registry would refuse halfway is refused before anything is applied.
        if (!isValidValueName(v.name)) fail("a value name too long or with a zero byte");
        skipBlanks();
        if (atEnd() || peek() != '=') fail("'=' expected");
        ++pos_;
        skipBlanks();
        if (atEnd()) fail("value data expected");
        if (peek() == '-') {
            ++pos_;
            v.remove = true;
        } else if (peek() == '"') {
            v.value = RegValue{REG_SZ, textData(quotedText())};
        } else if (takeWord("dword:")) {
            v.value = RegValue{REG_DWORD, dwordData(static_cast<uint32_t>(hexNumber(8)))};
        } else if (takeWord("hex")) {
            uint32_t type = REG_BINARY;
            if (!atEnd() && peek() == '(') {
                ++pos_;
                type = static_cast<uint32_t>(hexNumber(8));
                if (atEnd() || peek() != ')') fail("')' expected");
                ++pos_;
            }
            if (atEnd() || peek() != ':') fail("':' expected");
            ++pos_;
            v.value = RegValue{type, hexBytes()};
        } else {
            fail("unknown value data");
        }
        endOfLine();
        return v;
    }

    std::string_view text_;
    size_t pos_ = 0;
    size_t line_ = 1;
};

// Reads one key and then its subkeys, holding only one key open at a time.
void readInto(std::vector<RegFileKey>& keys, Hive hive, const std::string& path) {
    std::optional<RegKey> key = RegKey::open(hive, path);
    if (!key) return;  // deleted meanwhile
    RegFileKey out{hive, path, false, {}};
    for (const std::string& name : key->valueNames())
        if (std::optional<RegValue> value = key->read(name)) out.values.push_back(RegFileValue{name, false, *value});
    const std::vector<std::string> subkeys = key->subkeyNames();
    key->close();
    keys.push_back(std::move(out));
    for (const std::string& sub : subkeys) readInto(keys, hive, path.empty() ? sub : path + "\\" + sub);
}

}  // namespace

std::string formatRegFile(const std::vector<RegFileKey>& keys) {
    std::string out = std::string(kSignature) + "\r\n";
    for (const RegFileKey& key : keys) {
        out += "\r\n[";
        if (key.remove) out += "-";
        out += hiveName(key.hive);
        if (!key.path.empty()) out += "\\" + key.path;
        out += "]\r\n";
        if (!key.remove)
            for (const RegFileValue& v : key.values) out += formatValue(v);
    }
    out += "\r\n";
    return out;
}

std::vector<RegFileKey> parseRegFile(std::string_view text) { return Parser(text).parse(); }

std::vector<RegFileKey> readKeyTree(Hive hive, std::string_view path) {
    // Headers carry the names as stored, so an import recreates them in their own letter case.
    std::optional<RegKey> key = RegKey::open(hive, path);
    std::vector<RegFileKey> keys;
    if (key) {
        const std::string stored = key->path();
        key->close();
        readInto(keys, hive, stored);
    }
    if (keys.empty()) throw RegistryError(RegistryError::Code::NotFound, "the registry key was not found");
    return keys;
}

void applyRegFile(const std::vector<RegFileKey>& keys) {
    for (const RegFileKey& key : keys) {
        if (key.remove) {
            deleteKeyTree(key.hive, key.path);
            continue;
        }
        RegKey open = RegKey::create(key.hive, key.path);
        for (const RegFileValue& v : key.values) {
            if (v.remove) open.erase(v.name);
            else open.write(v.name, v.value.type, v.value.data);
        }
    }
}

}  // namespace platform
