#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tarnic::cli {

/// The processors a Linux control group lets its processes use, as its CPU time quota
/// over its period (1.5: one and a half processors' time): the tightest of the
/// process's group and the groups above it, in cgroup v2 (`cpu.max`) or v1
/// (`cpu.cfs_quota_us` over `cpu.cfs_period_us`). None where no group limits it, or
/// where the groups cannot be found or read. The group is found through
/// `proc/self/cgroup` and `proc/self/mountinfo` below `root`, and its files below
/// `root` too: "/" on a running system, a made-up folder tree in a test.
std::optional<double> cgroupCpuQuota(const std::string& root);

/// How many threads of the whole system are running or ready to run, this one
/// included, as `proc/stat` below `root` says at the moment (`procs_running`); none
/// where it cannot be read.
std::optional<unsigned> runningThreads(const std::string& root);

/// Whether a processor is free beside the calling thread, from up to `looks` counts of
/// running threads (`countRunning`, with `pause` between them). A count is a snapshot:
/// a thread about to sleep (this program's own signal watcher, just started; the shell
/// that started it) shows in it for some microseconds, while another busy program shows
/// at every look. So the first look that finds a processor free settles it. True where
/// the count cannot be read.
bool processorFreeAtSomeLook(const std::function<std::optional<unsigned>()>& countRunning, unsigned usable,
                             unsigned looks, const std::function<void()>& pause);

/// How many threads may be busy at once: the processors the affinity mask allows,
/// fewer where a CPU quota allows fewer (a fraction rounded up); at least one.
unsigned threadsFor(unsigned allowedProcessors, std::optional<double> quota);

}  // namespace tarnic::cli
