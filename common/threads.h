#pragma once
// Threads for work split into parts. No result depends on them: every part can run on the
// calling thread as well, and does when the system has no thread to give.

#include <algorithm>
#include <exception>
#include <system_error>
#include <thread>
#include <utility>

// The threads to use when `requested` were asked for: 0 means one per core; at least 1.
inline unsigned ThreadCount(unsigned requested) {
  if (requested == 0) requested = std::thread::hardware_concurrency();
  return std::max(1u, requested);
}

// Work on a thread of its own, joined by Join or at the latest by the destructor, so also
// when the calling thread leaves by an exception. An exception that leaves the work (say,
// std::bad_alloc) is not the end of the process: Join throws it again on the joining
// thread; the destructor, which cannot, drops it.
class CJoiningThread {
 public:
  CJoiningThread() = default;
  ~CJoiningThread() {
    if (m_thread.joinable()) m_thread.join();
  }
  CJoiningThread(const CJoiningThread&) = delete;
  CJoiningThread& operator=(const CJoiningThread&) = delete;

  // Starts work on a new thread. When no thread can be started, runs work here before
  // returning: work must not wait for anything the caller does after Start.
  template <typename Work>
  void Start(const Work& work) {
    Join();
    try {
      // A copy goes to the thread, so that work is still whole if none can be started.
      m_thread = std::thread([this, work] {
        try {
          work();
        } catch (...) {
          m_failure = std::current_exception();
        }
      });
    } catch (const std::system_error&) {
      work();
    }
  }

  // True from a Start that got a thread of its own until Join.
  bool Started() const { return m_thread.joinable(); }

  // Waits for the work; throws what the work threw.
  void Join() {
    if (m_thread.joinable()) m_thread.join();
    if (m_failure) std::rethrow_exception(std::exchange(m_failure, nullptr));
  }

 private:
  std::thread m_thread;
  std::exception_ptr m_failure;
};
