// Names are arbitrary bytes: conversions to and from CP437 and the OEM code page must never lose or merge them.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/codepage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string cp437;
    if (platform::Utf8ToCp437(bytes, cp437) && platform::Cp437ToUtf8(cp437) != bytes) std::abort();
    std::string ansi = platform::Cp437ToUtf8(bytes);
    if (!platform::IsUtf8(ansi)) std::abort();
    if (!platform::Utf8ToCp437(ansi, cp437) || cp437 != bytes) std::abort();
    // Whatever the OEM code page, a name it takes comes back unchanged and distinct names stay distinct.
    std::string oem;
    if (platform::AnsiToOem(bytes, oem) && platform::OemFilter(bytes) != bytes) std::abort();
    if (platform::OemFilter(bytes) != bytes) std::abort();
    return 0;
}
