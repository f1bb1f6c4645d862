#include "platform/interrupt.h"

#include <initializer_list>
#include <signal.h>

namespace platform {

namespace {

volatile std::sig_atomic_t* raised = nullptr;

void onSignal(int) { *raised = 1; }

}  // namespace

void CatchInterrupts(volatile std::sig_atomic_t& flag) {
    raised = &flag;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
    // Ctrl+C must reach us even when the parent blocked it.
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace platform
