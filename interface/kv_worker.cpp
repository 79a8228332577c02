// SPDX-License-Identifier: MIT
#include "kv_worker.hpp"

#include <signal.h>
#include <time.h>

namespace kv {

bool Worker::start(Body body, void *arg) {
  if (running_.load()) return true;
  quit_.store(0);
  // The new thread inherits the mask in force at its creation; the caller's own is put
  // back at once.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &old);
  bool made = pthread_create(&thread_, nullptr, body, arg) == 0;
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  running_.store(made);
  return made;
}

void Worker::stop() {
  quit_.store(1);
  if (!running_.load()) return;
  pthread_join(thread_, nullptr);
  running_.store(false);
}

bool Worker::stopWithin(int timeout_ms) {
  quit_.store(1);
  return !running_.load() || joinWithin(timeout_ms);
}

bool Worker::cancel(int timeout_ms) {
  quit_.store(1);
  if (!running_.load()) return true;
  pthread_cancel(thread_);
  return joinWithin(timeout_ms);
}

// A thread neither waited for nor detached would hold its resources for the rest of the
// process, and the thread checker reports it at exit.
bool Worker::joinWithin(int timeout_ms) {
  if (pthread_equal(pthread_self(), thread_)) {
    pthread_detach(thread_);
    running_.store(false);
    return false;
  }
  struct timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += timeout_ms / 1000;
  deadline.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  bool ended = pthread_timedjoin_np(thread_, nullptr, &deadline) == 0;
  if (!ended) pthread_detach(thread_);
  running_.store(false);
  return ended;
}

}  // namespace kv
