#include "components/kwparser.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <locale.h>
#include <stdexcept>
#include <string_view>

namespace {

#ifdef _WIN32
// The C runtime keeps the "C" locale unless setlocale changes it, which nothing on Windows does
// (Qt does not there): its strtold reads "." alone.
long double strtoldC(const char* text) { return std::strtold(text, nullptr); }
#else
// The "C" locale, so that number conversion does not depend on the process's locale.
locale_t cLocale() {
    static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}
long double strtoldC(const char* text) { return strtold_l(text, nullptr, cLocale()); }
#endif

std::string lower(std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

bool isDigit(char ch) { return ch >= '0' && ch <= '9'; }

// True when text holds the lower-case word at position i, in any letter case.
bool wordAt(const std::string& text, size_t i, std::string_view word) {
    if (text.size() - i < word.size()) return false;
    for (size_t k = 0; k < word.size(); ++k)
        if (std::tolower(static_cast<unsigned char>(text[i + k])) != word[k]) return false;
    return true;
}

// The text with every occurrence of the decimal symbol replaced by "." (and, optionally, ",").
std::string toCNumber(const std::string& text, const std::string& decimal, bool commaToo) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (!decimal.empty() && text.compare(i, decimal.size(), decimal) == 0) {
            out += '.';
            i += decimal.size();
        } else {
            out += (commaToo && text[i] == ',') ? '.' : text[i];
            ++i;
        }
    }
    return out;
}

// Strict number syntax: [+-] digits [decimal digits] [(e|E) [+-] digits], at least one mantissa digit.
bool hasNumberSyntax(const std::string& text, const std::string& decimal) {
    size_t i = 0;
    const size_t n = text.size();
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    size_t digits = 0;
    while (i < n && isDigit(text[i])) ++i, ++digits;
    if (!decimal.empty() && text.compare(i, decimal.size(), decimal) == 0) {
        i += decimal.size();
        while (i < n && isDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
        size_t expDigits = 0;
        while (i < n && isDigit(text[i])) ++i, ++expDigits;
        if (expDigits == 0) return false;
    }
    return i == n;
}

// General format with 15 significant digits: "2,5", "100000", "1E15", "1E-5".
std::string generalFormat(long double value, const std::string& decimal) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    std::string s(buf, res.ptr);
    std::string out;
    size_t e = s.find('e');
    std::string mantissa = s.substr(0, e);
    for (char ch : mantissa) {
        if (ch == '.') out += decimal;
        else out += ch;
    }
    if (e != std::string::npos) {
        out += 'E';
        size_t i = e + 1;
        if (s[i] == '-') out += '-';
        if (s[i] == '-' || s[i] == '+') ++i;
        while (i + 1 < s.size() && s[i] == '0') ++i;
        out += s.substr(i);
    }
    return out;
}

bool isOperatorText(const std::string& t) {
    return t.size() == 1 && std::string_view("+-*/m^#").find(t[0]) != std::string_view::npos;
}

}  // namespace

Tree& KwParserRoot() {
    static Tree root;
    return root;
}

TKwParser::TKwParser(TreeKind kind) {
    if (kind == TreeKind::Own) own_.emplace();
    InitLandDot();
}

void TKwParser::InitLandDot() {
    if (!OverwriteDecimalSymbol.empty()) {
        decimal_ = OverwriteDecimalSymbol;
        return;
    }
    const char* point = std::localeconv()->decimal_point;
    decimal_ = (point && *point) ? point : ".";
}

bool TKwParser::CreateTree() {
    InitLandDot();
    Expression = EntferneLeerzeichen(Expression);
    Expression = EntferneKlammern(Expression);
    Expression = WandleSinCosTanUm(Expression);
    root() = Tree{};  // frees the previous tree
    return MakeTree(root(), Expression);
}

long double TKwParser::Evaluate() {
    long double value = Eval(Root());
    ergebnis_ = LongDoubleToStr(value);
    return value;
}

std::string TKwParser::EntferneLeerzeichen(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text)
        if (ch != ' ') out += ch;
    return out;
}

std::string TKwParser::EntferneKlammern(const std::string& text) {
    if (text.size() < 2 || text.front() != '(' || text.back() != ')') return text;
    int depth = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '(') {
            if (i == 0 || depth > 0) ++depth;
            else return text;  // the first "(" closes before the end
        } else if (text[i] == ')') {
            --depth;
        }
    }
    return text.substr(1, text.size() - 2);
}

std::string TKwParser::WandleSinCosTanUm(const std::string& text) const {
    static constexpr struct {
        std::string_view name;
        const char* code;
    } rewrites[] = {{"sin", "s#"}, {"cos", "c#"}, {"tan", "t#"}, {"ln", "n#"},
                    {"lg", "g#"},  {"abs", "r#"}, {"mod", "m"}};
    std::string out;
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size();) {
        bool rewritten = false;
        for (const auto& r : rewrites) {
            if (wordAt(text, i, r.name)) {
                out += r.code;
                i += r.name.size();
                rewritten = true;
                break;
            }
        }
        if (rewritten) continue;
        const char ch = text[i++];
        if (ConvertAllColonsAndDots && (ch == '.' || ch == ',')) out += decimal_;
        else out += ch;
    }
    return out;
}

std::string TKwParser::Assiotiativitaet(const std::string& text) {
    std::string out = text;
    int depth = 0;
    bool marked = false;
    for (char& ch : out) {
        if (ch == '(') ++depth;
        else if (ch == ')') --depth;
        else if (depth <= 0 && (ch == '-' || ch == '+')) {
            if (marked) ch = (ch == '-') ? '+' : '-';
            else if (ch == '-') marked = true;
        }
    }
    return out;
}

void TKwParser::SplitLowest(std::string& left, std::string& right, std::string& op, const std::string& text) {
    const std::string t = Assiotiativitaet(text);
    // Each "(" adds 16 to the depth value; a candidate records the binding strength it is taken at.
    // At one depth this picks the first "-", else the last "+", else the last of "*", "/", "m"
    // (so that they group from the left), else the first "^" (which groups from the right), else
    // the first "#".
    int d = 0;
    int recorded = 0;
    size_t pos = std::string::npos;
    auto take = [&](size_t i, bool better, int value) {
        if (pos == std::string::npos || better) {
            pos = i;
            recorded = value;
        }
    };
    for (size_t i = 0; i < t.size(); ++i) {
        switch (t[i]) {
        case '(': d += 16; break;
        case ')': d -= 16; break;
        case '+': take(i, d + 1 < recorded, d + 2); break;
        case '-': take(i, d + 1 < recorded, d + 1); break;
        case '*':
        case '/':
        case 'm': take(i, d + 3 <= recorded, d + 3); break;
        case '^': take(i, d + 4 < recorded, d + 4); break;
        case '#': take(i, d + 8 < recorded, d + 8); break;
        default: break;
        }
    }
    if (pos == std::string::npos) {
        left.clear();
        right.clear();
        op.clear();
        return;
    }
    op = t.substr(pos, 1);
    left = EntferneKlammern(t.substr(0, pos));
    right = EntferneKlammern(t.substr(pos + 1));
}

bool TKwParser::IsZahl(const std::string& text) const {
    if (text.size() == 1 && std::string_view("sctngr").find(text[0]) != std::string_view::npos) return true;
    const std::string l = lower(text);
    if (l == "x" || l == "a" || l == "b" || l == "c" || l == "d" || l == "pi" || l == "e") return true;
    return IsLongDouble(text);
}

bool TKwParser::IsLongDouble(const std::string& text) const {
    if (!hasNumberSyntax(text, decimal_)) return false;
    const std::string c = toCNumber(text, decimal_, false);
    long double value = strtoldC(c.c_str());
    if (!std::isfinite(value)) return false;
    return generalFormat(value, decimal_) == text;
}

bool TKwParser::MakeTree(Tree& node, const std::string& text) { return makeTree(node, text, 0); }

bool TKwParser::makeTree(Tree& node, const std::string& text, int depth) {
    if (depth > MaxDepth) return false;
    std::string left, right, op;
    SplitLowest(left, right, op, text);
    if (left.empty() && op == "-") left.assign(1, '0');  // unary minus is 0 - operand
    if (op.empty() && left.empty() && right.empty()) {
        if (!IsZahl(text)) return false;
        node.Text = text;
        node.Left.reset();
        node.Right.reset();
        return true;
    }
    if (op.empty() || left.empty() || right.empty()) return false;
    node.Text = op;
    node.Left = std::make_unique<Tree>(Tree{left, nullptr, nullptr});
    node.Right = std::make_unique<Tree>(Tree{right, nullptr, nullptr});
    if (!IsZahl(left) && !makeTree(*node.Left, left, depth + 1)) return false;
    if (!IsZahl(right) && !makeTree(*node.Right, right, depth + 1)) return false;
    return true;
}

long double TKwParser::StrToLongDouble(const std::string& text) {
    InitLandDot();
    std::string t = text;
    if (lower(t) == "x") t = X;
    if (lower(t) == "a") t = A;
    if (lower(t) == "b") t = B;
    if (lower(t) == "c") t = C;
    if (lower(t) == "d") t = D;
    if (lower(t) == "pi") t = "3" + decimal_ + "1415927";
    if (lower(t) == "e") t = "2" + decimal_ + "7182818";
    const std::string c = toCNumber(t, decimal_, ConvertAllColonsAndDots);
    errno = 0;
    long double value = strtoldC(c.c_str());
    if (errno == ERANGE && std::isinf(value))
        throw std::runtime_error(t + " kann nicht in eine Zahl umgewandelt werden! (STD)");
    return value;
}

std::string TKwParser::LongDoubleToStr(long double value) {
    InitLandDot();
    const double v = static_cast<double>(value);
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
    // 309 integer digits and 1074 decimals cover every double.
    char buf[1400];
    const int precision = std::clamp(Precision, 0, 1074);
    auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::fixed, precision);
    std::string digits(buf, res.ptr);
    std::string s;
    for (char ch : digits) {
        if (ch == '.') s += decimal_;
        else s += ch;
    }
    s = EntferneNullenUndPunkte(s);
    if (v < 0) s.insert(s.begin(), '-');
    return s;
}

long double TKwParser::modl(long double a, long double b) {
    if (b == 0) return 0;
    const long double q = a / b;
    // A quotient that does not fit a 64-bit integer leaves a unchanged.
    if (!std::isfinite(q) || std::fabs(q) >= 9.2e18L) return a;
    return a - b * static_cast<long double>(static_cast<int64_t>(std::trunc(q)));
}

long double TKwParser::Eval(const Tree& node) {
    const std::string& t = node.Text;
    if (!isOperatorText(t) || !node.Left || !node.Right) return StrToLongDouble(t);
    const long double right = Eval(*node.Right);
    if (t[0] == '#') {
        const std::string& f = node.Left->Text;
        if (f == "s") return std::sin(static_cast<double>(right));
        if (f == "c") return std::cos(static_cast<double>(right));
        if (f == "t") return std::tan(static_cast<double>(right));
        if (f == "n" || f == "g") {
            if (!(right > 0)) throw std::runtime_error("Log von X mit X <= 0");
            return f == "n" ? std::log(right) : std::log(right) / std::log(10.0L);
        }
        if (f == "r") return std::fabs(right);
        return 0;
    }
    const long double left = Eval(*node.Left);
    switch (t[0]) {
    case '+': return left + right;
    case '-': return left - right;
    case '*': return (left == 0 || right == 0) ? 0 : left * right;
    case '/':
        if (right == 0) throw std::runtime_error("Division durch 0");
        return left / right;
    case 'm': return modl(left, right);
    default: {  // '^'
        const double p = std::pow(static_cast<double>(left), static_cast<double>(right));
        if (!std::isfinite(p)) throw std::runtime_error("Kein negativer Ausdruck unter Wurzel erlaubt.");
        return p;
    }
    }
}

std::string TKwParser::EntferneNullenUndPunkte(const std::string& text) const {
    std::string s = text;
    if (decimal_.empty()) return s;
    const size_t point = s.find(decimal_);
    if (point != std::string::npos) {
        size_t end = s.size();
        const size_t keep = point + decimal_.size();
        while (end > keep && s[end - 1] == '0') --end;
        s.resize(end);
    }
    if (s.size() >= decimal_.size() && s.compare(s.size() - decimal_.size(), decimal_.size(), decimal_) == 0)
        s.resize(s.size() - decimal_.size());
    if (s.compare(0, decimal_.size(), decimal_) == 0) s.insert(s.begin(), '0');
    return s;
}
