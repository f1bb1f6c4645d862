// The console's requests to stop (Ctrl+C and the like) turned into a flag the program polls.
#pragma once

#include <csignal>

namespace platform {

// From now on sets flag to 1 on Ctrl+C, SIGTERM and SIGHUP (unblocked, should the parent have
// blocked them); on Windows on Ctrl+C, Ctrl+Break, a closed console and a log-off. The flag must
// outlive the program's run.
void CatchInterrupts(volatile std::sig_atomic_t& flag);

}  // namespace platform
