// The stop signals kept from worker threads.
#ifndef OVELO_ENGINE_WORKER_SIGNALS_H
#define OVELO_ENGINE_WORKER_SIGNALS_H

#include <pthread.h>
#include <signal.h>

// Held while worker threads are started, which inherit the mask: a signal
// to stop then always lands on the calling thread, whose waits it cuts
// short and which is the one to act on it.  The caller's own mask is put
// back once the workers are started.
class WorkerSignalsBlocked {
public:
    WorkerSignalsBlocked()
    {
        sigset_t set;
        sigemptyset(&set);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
            sigaddset(&set, signal);
        pthread_sigmask(SIG_BLOCK, &set, &saved_);
    }
    ~WorkerSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
    WorkerSignalsBlocked(const WorkerSignalsBlocked&) = delete;
    WorkerSignalsBlocked& operator=(const WorkerSignalsBlocked&) = delete;

private:
    sigset_t saved_;
};

#endif
