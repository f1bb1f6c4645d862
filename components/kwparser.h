// Expression parser: turns an arithmetic expression text into a tree and evaluates it in long double.
#pragma once

#include <memory>
#include <optional>
#include <string>

// One node of an expression tree: an operator ("+", "-", "*", "/", "m", "^", "#"), a function
// letter or an operand ("2,5", "x", "pi"). Operator nodes own both operands; leaves own none.
struct Tree {
    std::string Text;
    std::unique_ptr<Tree> Right;
    std::unique_ptr<Tree> Left;
};

// The one program-wide tree root that every parser made with TreeKind::Shared (the default)
// shares: CreateTree of any such parser replaces it (freeing the old tree), Evaluate of any
// evaluates it.
Tree& KwParserRoot();

// Parses and evaluates expressions over + - * / mod ^, sin cos tan ln lg abs, pi, e and the
// variables x, a, b, c, d (whose values are texts). Errors while evaluating are thrown as
// std::runtime_error with the parser's German messages.
class TKwParser {
public:
    // Which tree a parser builds and evaluates: the program-wide one (KwParserRoot), or one it
    // owns and no other parser sees, so that parsers kept side by side do not replace each
    // other's trees.
    enum class TreeKind { Shared, Own };

    explicit TKwParser(TreeKind kind = TreeKind::Shared);

    // The tree CreateTree builds and Evaluate evaluates.
    const Tree& Root() const { return own_ ? *own_ : KwParserRoot(); }
    bool OwnsTree() const { return own_.has_value(); }

    // The expression; CreateTree writes its normalised form back.
    std::string Expression;
    // Decimals rendered by LongDoubleToStr (used range 0 to 1074).
    int Precision = 8;
    // Values of the variables x, a, b, c and d.
    std::string X, A, B, C, D;
    // Decimal symbol to use; empty means the decimal separator of the C library's LC_NUMERIC locale.
    std::string OverwriteDecimalSymbol;
    // When true, both "." and "," in the expression are taken as the decimal symbol.
    bool ConvertAllColonsAndDots = false;
    // The last result of Evaluate, rendered by LongDoubleToStr.
    const std::string& ErgebnisString() const { return ergebnis_; }
    // The current decimal symbol, as InitLandDot last set it.
    const std::string& DecimalSymbol() const { return decimal_; }

    // Builds the tree from Expression; true when the whole expression became a tree.
    bool CreateTree();
    // The value of the tree last built; sets ErgebnisString.
    long double Evaluate();

    void InitLandDot();
    // Removes every space character.
    static std::string EntferneLeerzeichen(const std::string& text);
    // Removes one pair of parentheses that encloses the whole text.
    static std::string EntferneKlammern(const std::string& text);
    // Rewrites sin cos tan ln lg abs into a letter and "#", and mod into "m".
    std::string WandleSinCosTanUm(const std::string& text) const;
    // Outside parentheses, swaps "+" and "-" after the first "-" so that "-" groups left to right.
    static std::string Assiotiativitaet(const std::string& text);
    // Splits the text at its loosest-binding operator; all three results are empty when there is none.
    static void SplitLowest(std::string& left, std::string& right, std::string& op, const std::string& text);
    // True for a leaf: a function letter, a variable, pi, e or a number in canonical form.
    bool IsZahl(const std::string& text) const;
    // True when the text is a number in the canonical form of the current decimal symbol.
    bool IsLongDouble(const std::string& text) const;
    // Builds node from text; false when the text is not a valid expression or nests too deeply.
    bool MakeTree(Tree& node, const std::string& text);
    long double StrToLongDouble(const std::string& text);
    std::string LongDoubleToStr(long double value);
    static long double modl(long double a, long double b);
    long double Eval(const Tree& node);
    // Strips trailing decimal zeros and a trailing decimal symbol, and puts "0" before a leading one.
    std::string EntferneNullenUndPunkte(const std::string& text) const;

    // Deepest tree MakeTree builds: deeper texts are refused so that building and evaluating
    // never exhaust the stack.
    static constexpr int MaxDepth = 2000;

private:
    bool makeTree(Tree& node, const std::string& text, int depth);
    Tree& root() { return own_ ? *own_ : KwParserRoot(); }

    std::optional<Tree> own_;  // the parser's own tree; empty for one on the program-wide tree
    std::string decimal_;
    std::string ergebnis_;
};
