#include "components/kwparser.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

struct ValueCase {
    const char* name;
    const char* expression;
    long double expected;
    const char* x = "";
};

// Sets a, b, c and d to 2, 3, 5 and 7: values that tell every grouping apart.
void setVariables(TKwParser& parser) {
    parser.A = "2";
    parser.B = "3";
    parser.C = "5";
    parser.D = "7";
}

class Evaluates : public testing::TestWithParam<ValueCase> {};

TEST_P(Evaluates, ToTheExpectedValue) {
    const auto& c = GetParam();
    TKwParser parser;
    parser.OverwriteDecimalSymbol = ",";
    parser.X = c.x;
    setVariables(parser);
    parser.Expression = c.expression;
    ASSERT_TRUE(parser.CreateTree()) << parser.Expression;
    EXPECT_NEAR(static_cast<double>(parser.Evaluate()), static_cast<double>(c.expected), 1e-9) << parser.Expression;
}

INSTANTIATE_TEST_SUITE_P(
    KwParser, Evaluates,
    testing::Values(
        ValueCase{"UnaryMinusBeforePlus", "-5+3", -2}, ValueCase{"UnaryMinusBeforeMinus", "-5-3", -8},
        ValueCase{"ProductWithParentheses", "2*(3+4)", 14},
        ValueCase{"TwoParenthesisedFactors", "(2+3)*(4+5)", 45},
        ValueCase{"SineAndCosine", "sin(0)+cos(0)", 1}, ValueCase{"FunctionNamesInCapitals", "SIN(0)+COS(0)", 1},
        ValueCase{"PowerGroupsFromTheRight", "2^3^2", 512}, ValueCase{"ModuloByZeroIsZero", "5 mod 0", 0},
        ValueCase{"MinusGroupsFromTheLeft", "10-4-3", 3}, ValueCase{"MixedPlusMinus", "1-2+3-4+5", 3},
        ValueCase{"DivisionGroupsFromTheLeft", "64/4/2", 8}, ValueCase{"DivisionThenProduct", "8/4*2", 4},
        ValueCase{"ProductThenTwoDivisions", "2*3/4/5", 0.3L},
        ValueCase{"ModuloGroupsFromTheLeft", "17 mod 10 mod 4", 3},
        ValueCase{"QuotientsOnBothSidesOfMinus", "8/4-6/2", -1},
        ValueCase{"PowerBindsTighterThanProduct", "2*3^2", 18},
        ValueCase{"ProductAfterPower", "2^3*2", 16}, ValueCase{"MinusOfPower", "-2^2", -4},
        ValueCase{"NegatedGroup", "-(2+3)", -5}, ValueCase{"MinusOfGroup", "10-(4-3)", 9},
        ValueCase{"NegativeLeafInParentheses", "2*(-3)", -6},
        ValueCase{"AbsoluteValue", "abs(-3)", 3}, ValueCase{"DecimalLogarithm", "lg(1000)", 3},
        ValueCase{"TangentOfZero", "tan(0)", 0}, ValueCase{"ModInCapitals", "17 MOD 5", 2},
        ValueCase{"DecimalComma", "2,5*2", 5}, ValueCase{"PiConstant", "PI", 3.1415927L},
        ValueCase{"EulerConstant", "e", 2.7182818L}, ValueCase{"SquareOfX", "x*x", 9, "3"},
        ValueCase{"NegativeXText", "x+1", -1.5L, "-2,5"},
        ValueCase{"AllVariables", "a+b*c-d", 10}, ValueCase{"NestedFunctions", "abs(sin(x))*2", 2 * std::sin(2.0L), "-2"},
        ValueCase{"VariableTextNamingAVariable", "x", 2, "a"},
        ValueCase{"VariableWithoutNumberIsZero", "x+1", 1, "abc"},
        ValueCase{"VariableWithTrailingTextUsesItsNumber", "x", 12, "12abc"}),
    [](const auto& info) { return std::string(info.param.name); });

// The grouping rules.
TEST(KwParser, OperatorsOfOneLevelGroupFromTheLeftAndPowerFromTheRight) {
    struct Case {
        const char* expression;
        long double expected;
    } cases[] = {{"a-b-c", (2 - 3) - 5.0L}, {"a/b/c", (2 / 3.0L) / 5},   {"a/b*c", (2 / 3.0L) * 5},
                 {"a*b/c/d", ((2 * 3) / 5.0L) / 7}, {"d mod c mod b", 2},
                 {"a^b^b", std::pow(2.0L, 27.0L)}};
    for (const auto& c : cases) {
        TKwParser parser;
        setVariables(parser);
        parser.Expression = c.expression;
        ASSERT_TRUE(parser.CreateTree()) << c.expression;
        EXPECT_NEAR(static_cast<double>(parser.Evaluate()), static_cast<double>(c.expected), 1e-12) << c.expression;
    }
}

struct ErrorCase {
    const char* name;
    const char* expression;
    const char* message;
    const char* x = "";
};

class RaisesWhileEvaluating : public testing::TestWithParam<ErrorCase> {};

TEST_P(RaisesWhileEvaluating, WithTheParserMessage) {
    const auto& c = GetParam();
    TKwParser parser;
    parser.X = c.x;
    parser.Expression = c.expression;
    ASSERT_TRUE(parser.CreateTree());
    try {
        parser.Evaluate();
        FAIL() << c.expression << " evaluated";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), c.message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    KwParser, RaisesWhileEvaluating,
    testing::Values(ErrorCase{"LogarithmOfZero", "ln(0)", "Log von X mit X <= 0"},
                    ErrorCase{"DecimalLogarithmOfNegative", "lg(x)", "Log von X mit X <= 0", "-1"},
                    ErrorCase{"DivisionByZero", "1/0", "Division durch 0"},
                    ErrorCase{"DivisionByZeroDifference", "1/(2-2)", "Division durch 0"},
                    ErrorCase{"RootOfNegative", "(-8)^0.5", "Kein negativer Ausdruck unter Wurzel erlaubt."},
                    ErrorCase{"PowerOverflow", "10^400", "Kein negativer Ausdruck unter Wurzel erlaubt."},
                    ErrorCase{"NumberTooLarge", "x", "1e99999 kann nicht in eine Zahl umgewandelt werden! (STD)",
                              "1e99999"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KwParser, RefusesTextsThatAreNotWholeExpressions) {
    for (const char* text : {"2*", "*3", "(2", "2*((5))", "", "foo", "1,5", "007", "1e5", "2+", "sin", "2sin(3)", "()"}) {
        TKwParser parser;
        parser.Expression = text;
        EXPECT_FALSE(parser.CreateTree()) << '"' << text << '"';
        EXPECT_NO_THROW(parser.Evaluate()) << "a half-built tree still evaluates: " << text;
    }
}

TEST(KwParser, WritesTheNormalisedExpressionBack) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {{"sin( x )", "s#(x)"}, {"(1 + 2)", "1+2"}, {"5 mod 2", "5m2"}, {"ABS(x)+Ln(x)+lg(x)", "r#(x)+n#(x)+g#(x)"},
                 {"tan(cos(x))", "t#(c#(x))"}, {"((5))", "(5)"}};
    for (const auto& c : cases) {
        TKwParser parser;
        parser.Expression = c.in;
        parser.CreateTree();
        EXPECT_EQ(parser.Expression, c.out);
    }
}

TEST(KwParser, RendersResultsWithPrecisionAndDecimalSymbol) {
    struct Case {
        int precision;
        long double value;
        const char* text;
    } cases[] = {{8, 3.5L, "3,5"},   {8, 0.05L, "0,05"},   {8, 0, "0"},     {8, 100, "100"},
                 {8, -2.25L, "-2,25"}, {2, 1 / 3.0L, "0,33"}, {0, 2 / 3.0L, "1"}, {-3, 2.6L, "3"},
                 {8, 1e20L, "100000000000000000000"}, {8, -0.0L, "0"}, {8, NAN, "nan"},
                 {8, -INFINITY, "-inf"}};
    for (const auto& c : cases) {
        TKwParser parser;
        parser.OverwriteDecimalSymbol = ",";
        parser.Precision = c.precision;
        EXPECT_EQ(parser.LongDoubleToStr(c.value), c.text) << static_cast<double>(c.value);
    }
}

// Builds and evaluates the expression; the rendered result, or a note that it was refused.
std::string rendered(TKwParser& parser, const char* expression) {
    parser.Expression = expression;
    if (!parser.CreateTree()) return std::string("refused: ") + expression;
    parser.Evaluate();
    return parser.ErgebnisString();
}

TEST(KwParser, EvaluateSetsTheRenderedResult) {
    TKwParser parser;
    parser.OverwriteDecimalSymbol = ",";
    parser.Precision = 2;
    EXPECT_EQ(rendered(parser, "1/3"), "0,33");
    parser.Precision = 0;
    EXPECT_EQ(rendered(parser, "2/3"), "1");
}

TEST(KwParser, LeavesAreFunctionLettersVariablesAndCanonicalNumbers) {
    TKwParser parser;
    parser.OverwriteDecimalSymbol = ",";
    parser.InitLandDot();
    for (const char* yes : {"2,5", "0,1", "-2", "100000", "1E15", "1E-5", "x", "X", "pi", "PI", "e", "E", "s", "r", "C"})
        EXPECT_TRUE(parser.IsZahl(yes)) << yes;
    for (const char* no : {"2,50", "007", "1e5", "2.5", "+5", ",5", "5,", "S", "R", "", "inf", "nan", "0x10", "1E15 "})
        EXPECT_FALSE(parser.IsZahl(no)) << no;
}

TEST(KwParser, RemovesOnlyOneEnclosingPairOfParentheses) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {{"(2+3)", "2+3"}, {"(2+3)*(4+5)", "(2+3)*(4+5)"}, {"((5))", "(5)"}, {"(2", "(2"},
                 {"()", ""}, {"(", "("}, {"x", "x"}};
    for (const auto& c : cases) EXPECT_EQ(TKwParser::EntferneKlammern(c.in), c.out) << c.in;
}

TEST(KwParser, ModuloTruncatesTheQuotientTowardsZero) {
    EXPECT_EQ(TKwParser::modl(7, 3), 1);
    EXPECT_EQ(TKwParser::modl(-7, 3), -1);
    EXPECT_EQ(TKwParser::modl(7.5L, 2), 1.5L);
    EXPECT_EQ(TKwParser::modl(5, 0), 0);
    EXPECT_EQ(TKwParser::modl(1e30L, 1e-10L), 1e30L) << "a quotient beyond 64 bits leaves a";
}

TEST(KwParser, AllParsersShareTheProgramWideTreeUnlessTheyOwnOne) {
    TKwParser first, second;
    first.Expression = "1+1";
    ASSERT_TRUE(first.CreateTree());
    second.Expression = "5*5";
    ASSERT_TRUE(second.CreateTree());
    EXPECT_EQ(first.Evaluate(), 25) << "the second tree replaced the first";
    EXPECT_FALSE(first.OwnsTree());
    EXPECT_EQ(&first.Root(), &KwParserRoot());

    TKwParser own(TKwParser::TreeKind::Own), another(TKwParser::TreeKind::Own);
    EXPECT_TRUE(own.OwnsTree());
    own.Expression = "7";
    ASSERT_TRUE(own.CreateTree());
    another.Expression = "2^3";
    ASSERT_TRUE(another.CreateTree());
    second.Expression = "2-1";
    ASSERT_TRUE(second.CreateTree());
    EXPECT_EQ(own.Evaluate(), 7) << "neither the other own tree nor the program's replaced it";
    EXPECT_EQ(another.Evaluate(), 8);
    EXPECT_EQ(first.Evaluate(), 1);
    EXPECT_EQ(KwParserRoot().Text, "-");
    EXPECT_EQ(own.Root().Text, "7");

    // A parser moved elsewhere takes its tree along.
    TKwParser moved = std::move(another);
    EXPECT_TRUE(moved.OwnsTree());
    EXPECT_EQ(moved.Evaluate(), 8);
}

TEST(KwParser, VariablesAreReadAtEveryEvaluation) {
    TKwParser parser;
    parser.Expression = "x^2";
    ASSERT_TRUE(parser.CreateTree());
    for (int x : {1, 2, 3}) {
        parser.X = std::to_string(x);
        EXPECT_EQ(parser.Evaluate(), x * x);
    }
}

TEST(KwParser, DeepNestingIsRefusedWithoutExhaustingTheStack) {
    std::string sum = "1";
    for (int i = 0; i < 1000; ++i) sum += "+1";
    TKwParser parser;
    parser.Expression = sum;
    ASSERT_TRUE(parser.CreateTree());
    EXPECT_EQ(parser.Evaluate(), 1001);

    for (int i = 0; i < TKwParser::MaxDepth; ++i) sum += "+1";
    parser.Expression = sum;
    EXPECT_FALSE(parser.CreateTree());

    std::string negations;
    for (int i = 0; i < TKwParser::MaxDepth + 100; ++i) negations += "-(";
    negations += "1" + std::string(TKwParser::MaxDepth + 100, ')');
    parser.Expression = negations;
    EXPECT_FALSE(parser.CreateTree());
    EXPECT_NO_THROW(parser.Evaluate());
}

// A private folder holding the de_DE locale, compiled once per run.
const testsupport::TempDir& germanLocaleDir() {
    static testsupport::TempDir dir;
    static const bool made = [] {
        auto r = testsupport::runCommand("localedef -i de_DE -f UTF-8 " +
                                         testsupport::shellQuote((dir / "de_DE.UTF-8").string()));
        return r.exitCode == 0 || r.exitCode == 1;  // 1: compiled with warnings
    }();
    (void)made;
    return dir;
}

// Makes "," the decimal separator of LC_NUMERIC for the scope.
class GermanNumbers {
public:
    GermanNumbers() : locpath_("LOCPATH", germanLocaleDir().path().string()) {
        if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) throw std::runtime_error("cannot load the de_DE locale");
    }
    ~GermanNumbers() { std::setlocale(LC_NUMERIC, "C"); }

private:
    testsupport::ScopedEnv locpath_;
};

TEST(KwParser, UsesTheLocaleDecimalSeparatorUnlessOverwritten) {
    TKwParser parser;
    EXPECT_EQ(rendered(parser, "2.5*3"), "7.5") << "the test environment's C locale";
    GermanNumbers german;
    EXPECT_EQ(rendered(parser, "2,5*3"), "7,5");
    EXPECT_EQ(parser.DecimalSymbol(), ",");
    parser.OverwriteDecimalSymbol = ".";
    EXPECT_EQ(rendered(parser, "2.5*3"), "7.5");
}

TEST(KwParser, ConvertAllColonsAndDotsTakesBothAsTheDecimalSymbol) {
    GermanNumbers german;
    TKwParser parser;
    parser.ConvertAllColonsAndDots = true;
    parser.Expression = "1.5+1,5";
    ASSERT_TRUE(parser.CreateTree());
    EXPECT_EQ(parser.Expression, "1,5+1,5");
    EXPECT_EQ(parser.Evaluate(), 3);
    parser.X = "0.25";
    parser.Expression = "x*4";
    ASSERT_TRUE(parser.CreateTree());
    EXPECT_EQ(parser.Evaluate(), 1);

    parser.ConvertAllColonsAndDots = false;
    parser.Expression = "1.5+1,5";
    EXPECT_FALSE(parser.CreateTree()) << "\"1.5\" is no number with the decimal separator \",\"";
}

}  // namespace
