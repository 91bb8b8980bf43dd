// A few worker threads for the plugin's reading and detection jobs.
#ifndef TPSUBM_MPV_PARALLEL_H
#define TPSUBM_MPV_PARALLEL_H

#include <functional>
#include <vector>

namespace tpsubm_mpv {

// Runs every job, on as many threads as the machine has cores (at most one
// per job), and returns when all have ended. While they run, the calling
// thread calls `wait` again and again (it must return after a short time:
// it is how the plugin keeps listening to mpv); a null `wait` just joins.
void run_parallel(const std::vector<std::function<void()>> &jobs,
                  const std::function<void()> &wait = nullptr);

}  // namespace tpsubm_mpv

#endif
