#include <pthread.h>
#include <signal.h>

#include <cstddef>
#include <initializer_list>

#include "cli/writer/thread_signals.hpp"

namespace textmend {

namespace {

sigset_t writer_signal_mask() {
    sigset_t set;
    sigfillset(&set);
    for (const int own :
         {SIGBUS, SIGSEGV, SIGFPE, SIGILL, SIGTRAP, SIGABRT, SIGSYS, SIGPIPE, SIGXFSZ})
        sigdelset(&set, own);
    return set;
}

static_assert(sizeof(sigset_t) <= MaskForNewThread::SAVED_MASK_SIZE &&
              alignof(sigset_t) <= alignof(std::max_align_t));

}  // namespace

MaskForNewThread::MaskForNewThread() {
    const sigset_t held = writer_signal_mask();
    pthread_sigmask(SIG_SETMASK, &held, reinterpret_cast<sigset_t*>(saved_));
}

MaskForNewThread::~MaskForNewThread() {
    pthread_sigmask(SIG_SETMASK, reinterpret_cast<const sigset_t*>(saved_), nullptr);
}

}  // namespace textmend
