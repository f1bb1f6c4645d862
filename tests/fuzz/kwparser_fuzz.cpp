// Fuzzes the expression parser: any text must build (or refuse) a tree and evaluate without
// crashing, hanging or leaking. The first byte picks the options, a line break separates the
// expression from the value of x.
#include "components/kwparser.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t flags = data[0];
    const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t lineBreak = input.find('\n');

    static const char* const kSymbols[] = {"", ",", ".", "::"};
    TKwParser parser;
    parser.ConvertAllColonsAndDots = flags & 1;
    parser.OverwriteDecimalSymbol = kSymbols[(flags >> 1) & 3];
    parser.Precision = (flags >> 3) * 40 - 100;  // -100 to 1140, beyond both ends of the used range
    parser.Expression = input.substr(0, lineBreak);
    if (lineBreak != std::string::npos) parser.X = parser.A = input.substr(lineBreak + 1);
    parser.CreateTree();
    try {
        parser.Evaluate();
    } catch (const std::runtime_error&) {
        // evaluation errors are part of the contract
    }
    return 0;
}
