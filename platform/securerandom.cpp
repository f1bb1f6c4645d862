#include "platform/securerandom.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <sys/random.h>

namespace platform {

void SecureRandomBytes(uint8_t* buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
        ssize_t n = getrandom(buffer + done, count - done, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error(std::string("The system's random source failed: ") + std::strerror(errno));
        }
        done += static_cast<size_t>(n);
    }
}

}  // namespace platform
