// This process's id, and whether the process of another id is still running.
#pragma once

namespace platform {

long long CurrentProcessId();
// A process that may not be queried (another user's) counts as running.
bool ProcessRunning(long pid);

}  // namespace platform
