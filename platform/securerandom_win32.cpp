// The secure random source on Windows: the system's preferred generator through BCryptGenRandom.
#include "platform/securerandom.h"

#include <stdexcept>
#include <string>
#include "platform/winapi_win32.h"
#include <bcrypt.h>

namespace platform {

void SecureRandomBytes(uint8_t* buffer, size_t count) {
    constexpr size_t kMaxCall = 1u << 30;  // the call counts in 32 bits
    for (size_t done = 0; done < count;) {
        const size_t n = std::min(count - done, kMaxCall);
        const NTSTATUS status =
            BCryptGenRandom(nullptr, buffer + done, static_cast<ULONG>(n), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (status < 0)
            throw std::runtime_error("The system's random source failed: status " + std::to_string(static_cast<long>(status)));
        done += n;
    }
}

}  // namespace platform
