#include "platform/host/TerminationSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/core/FileHandle.h"
#include "platform/core/Log.h"

namespace quorbit::platform {
namespace {

constexpr int kSignals[3] = {SIGTERM, SIGINT, SIGHUP};

volatile std::sig_atomic_t gReceived = 0;
// Made once and kept for the process: the handler may write to it at any moment until the
// handlers are put back.
Pipe gPipe;

// Only async-signal-safe calls: the signal is noted and the loop woken through the pipe.
void onSignal(int sig) {
    if (gReceived != 0) {
        std::signal(sig, SIG_DFL);
        std::raise(sig);
        return;
    }
    gReceived = sig;
    int saved = errno;
    char byte = 1;
    if (gPipe.write) (void)!::write(gPipe.write.fd(), &byte, 1);
    errno = saved;
}

}  // namespace

TerminationSignals::TerminationSignals(RunLoop& loop) : _loop(loop) {
    gReceived = 0;
    if (!gPipe.read) {
        if (auto pipe = makePipe(O_CLOEXEC | O_NONBLOCK))
            gPipe = std::move(pipe).value();
        else
            Log::warn("signals will end the application at once: no pipe to hear them on");
    }
    if (gPipe.read) {
        _watch = _loop.watch(gPipe.read.fd(), RunLoop::Readable, [this](short) {
            char bytes[16];
            while (::read(gPipe.read.fd(), bytes, sizeof bytes) > 0) {
            }
            if (received()) {
                Log::info(format("ending on signal %d (%s)", received(), strsignal(received())));
                _loop.quit();
            }
        });
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i)
        sigaction(kSignals[i], &action, &_previous[i]);
}

TerminationSignals::~TerminationSignals() {
    for (int i = 0; i < 3; ++i)
        sigaction(kSignals[i], &_previous[i], nullptr);
}

int TerminationSignals::received() const {
    return gReceived;
}

int TerminationSignals::exitStatus(int fallback) const {
    return gReceived ? 128 + gReceived : fallback;
}

}  // namespace quorbit::platform
