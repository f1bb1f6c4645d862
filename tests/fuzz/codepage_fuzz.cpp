// Names are arbitrary bytes: conversions to and from CP437 must never lose or merge them.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/codepage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string oem;
    if (platform::AnsiToOem(bytes, oem) && platform::OemToAnsi(oem) != bytes) std::abort();
    std::string ansi = platform::OemToAnsi(bytes);
    if (!platform::IsUtf8(ansi)) std::abort();
    if (!platform::AnsiToOem(ansi, oem) || oem != bytes) std::abort();
    if (platform::OemFilter(bytes) != bytes) std::abort();
    return 0;
}
