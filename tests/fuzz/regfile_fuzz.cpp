// Fuzzes the REGEDIT4 reader: no input crashes it, and whatever it accepts is written and read back unchanged.
#include "platform/regfile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<platform::RegFileKey> keys;
    try {
        keys = platform::parseRegFile(text);
    } catch (const platform::RegFileError&) {
        return 0;
    }
    if (platform::parseRegFile(platform::formatRegFile(keys)) != keys) std::abort();
    return 0;
}
