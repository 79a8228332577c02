// SPDX-License-Identifier: MIT
// kv_worker: the one type for the long-lived threads of the programs (the supervisor's
// monitors and watcher, the GPS daemon's readers and keep-alive). A worker owns its thread
// from start to the wait for its end, carries the quit request its body polls, and starts
// the thread with every signal blocked: signals belong to the thread that waits for them
// (a daemon's blocked receive, a main loop's sleep), and a signal taken by a worker would
// instead cut short one of its own blocking calls. C++ only, not part of the installed C
// interface.
#pragma once

#include <pthread.h>

#include <atomic>

namespace kv {

class Worker {
 public:
  using Body = void *(*)(void *);

  Worker() = default;
  // A worker still running when its owner goes is told to quit and waited for. Owners
  // whose threads may outlive them (a process that ends with exit() from any thread) keep
  // their workers where they are never destroyed.
  ~Worker() { stop(); }
  Worker(const Worker &) = delete;
  Worker &operator=(const Worker &) = delete;

  // Clears the quit request and runs `body(arg)` on a new thread. Nothing happens while
  // the worker counts as running (true). False when no thread could be made.
  bool start(Body body, void *arg = nullptr);
  // The quit request the body polls; any thread may set or clear it.
  void setQuit(bool quit) { quit_.store(quit ? 1 : 0); }
  bool quitRequested() const { return quit_.load() != 0; }
  // From a successful start until the thread has been waited for, also after the body
  // returned by itself.
  bool running() const { return running_.load(); }
  // The quit request, then the wait for the thread. Only the owner calls it, never the
  // worker itself, and never while holding a lock the body may wait for: that wait would
  // never end.
  void stop();
  // For a program's fatal end, from any thread (the worker's own included) and under any
  // lock: the quit request and a wait of at most `timeout_ms`, so that a body that ends
  // within its pass is waited for, and one that waits for a lock the caller holds is not.
  // False when the thread did not end in that time; it is then left to end by itself
  // (detached). The owner must not stop the worker at the same time.
  bool stopWithin(int timeout_ms);
  // For a body that may sit in a blocking call that only cancellation ends: the quit
  // request, pthread_cancel, and a wait of at most `timeout_ms`, as stopWithin.
  bool cancel(int timeout_ms);

 private:
  bool joinWithin(int timeout_ms);

  std::atomic<int> quit_{0};
  std::atomic<bool> running_{false};
  pthread_t thread_{};
};

}  // namespace kv
