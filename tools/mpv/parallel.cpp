#include "mpv/parallel.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace tpsubm_mpv {

void run_parallel(const std::vector<std::function<void()>> &jobs,
                  const std::function<void()> &wait) {
  if (jobs.empty()) return;
  std::atomic<size_t> next{0};
  std::atomic<size_t> running{0};
  auto worker = [&] {
    for (size_t i; (i = next.fetch_add(1)) < jobs.size();) jobs[i]();
    running.fetch_sub(1);
  };
  size_t count = std::min<size_t>(jobs.size(), std::max(1u, std::thread::hardware_concurrency()));
  std::vector<std::thread> threads;
  running = count;
  for (size_t i = 0; i < count; i++) threads.emplace_back(worker);
  if (wait) {
    while (running.load() > 0) wait();
  }
  for (std::thread &t : threads) t.join();
}

}  // namespace tpsubm_mpv
