// Unpredictable bytes from the operating system's secure random source.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Fills buffer with count bytes from getrandom(2). Raises std::runtime_error when the system
// cannot supply them, rather than handing out predictable bytes.
void SecureRandomBytes(uint8_t* buffer, size_t count);

}  // namespace platform
