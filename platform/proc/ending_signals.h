// The signals that end the platform's programs, and a scope that holds them
// back: they wait, blocked, and are delivered when the scope ends, so that a
// step that must not be cut in two (a write with protection lifted, a run and
// its registration for the signal handler) is finished first.
#pragma once

#include <signal.h>

namespace proc {

inline constexpr int EndingSignals[] = {SIGTERM, SIGINT, SIGHUP};

class EndingSignalsHeld {
public:
    EndingSignalsHeld()
    {
        sigset_t held;
        sigemptyset(&held);
        for (int signalNumber : EndingSignals) {
            sigaddset(&held, signalNumber);
        }
        sigprocmask(SIG_BLOCK, &held, &previous_);
    }
    ~EndingSignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
    EndingSignalsHeld(const EndingSignalsHeld &) = delete;
    EndingSignalsHeld &operator=(const EndingSignalsHeld &) = delete;

private:
    sigset_t previous_;
};

} // namespace proc
