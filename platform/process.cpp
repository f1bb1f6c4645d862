#include "platform/process.h"

#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace platform {

long long CurrentProcessId() { return ::getpid(); }

bool ProcessRunning(long pid) { return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM; }

}  // namespace platform
