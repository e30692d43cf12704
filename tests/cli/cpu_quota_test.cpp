#include "cli/cpu_quota.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarnic::cli {
namespace {

namespace fs = std::filesystem;

const std::string V2_MOUNT = "30 24 0:26 / /sys/fs/cgroup rw,nosuid,nodev shared:4 - cgroup2 cgroup2 rw\n";
const std::string V1_MOUNTS =
    "31 24 0:27 / /sys/fs/cgroup/memory rw,nosuid shared:5 - cgroup cgroup rw,memory\n"
    "32 24 0:28 / /sys/fs/cgroup/cpu,cpuacct rw,nosuid shared:6 - cgroup cgroup rw,cpu,cpuacct\n";
const std::string OTHER_MOUNTS = "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n";

struct QuotaCase {
    const char* name;
    std::map<std::string, std::string> files;  ///< path below the root: content
    std::optional<double> quota;
};

TEST(CpuQuota, FoundThroughTheProcessGroupsAndMounts) {
    const QuotaCase cases[] = {
        {"v2, a fractional quota",
         {{"proc/self/cgroup", "0::/box\n"},
          {"proc/self/mountinfo", OTHER_MOUNTS + V2_MOUNT},
          {"sys/fs/cgroup/box/cpu.max", "150000 100000\n"}},
         1.5},
        {"v2, unlimited", {{"proc/self/cgroup", "0::/box\n"}, {"proc/self/mountinfo", V2_MOUNT},
                           {"sys/fs/cgroup/box/cpu.max", "max 100000\n"}}, std::nullopt},
        {"v2, the parent's quota is tighter",
         {{"proc/self/cgroup", "0::/outer/inner\n"},
          {"proc/self/mountinfo", V2_MOUNT},
          {"sys/fs/cgroup/outer/cpu.max", "200000 100000\n"},
          {"sys/fs/cgroup/outer/inner/cpu.max", "max 100000\n"}},
         2.0},
        {"v2 in a container: the mount shows the container's own group",
         {{"proc/self/cgroup", "0::/pods/one\n"},
          {"proc/self/mountinfo", "40 30 0:26 /pods/one /sys/fs/cgroup ro - cgroup2 cgroup2 rw\n"},
          {"sys/fs/cgroup/cpu.max", "300000 100000\n"}},
         3.0},
        {"v2 mounted where the name holds a space",
         {{"proc/self/cgroup", "0::/\n"},
          {"proc/self/mountinfo", "30 24 0:26 / /cg\\040root rw - cgroup2 cgroup2 rw\n"},
          {"cg root/cpu.max", "50000 100000\n"}},
         0.5},
        {"v1, the cpu controller's quota",
         {{"proc/self/cgroup", "5:memory:/box\n4:cpu,cpuacct:/box\n0::/\n"},
          {"proc/self/mountinfo", V1_MOUNTS},
          {"sys/fs/cgroup/cpu,cpuacct/box/cpu.cfs_quota_us", "250000\n"},
          {"sys/fs/cgroup/cpu,cpuacct/box/cpu.cfs_period_us", "100000\n"}},
         2.5},
        {"v1, unlimited",
         {{"proc/self/cgroup", "4:cpu,cpuacct:/box\n"},
          {"proc/self/mountinfo", V1_MOUNTS},
          {"sys/fs/cgroup/cpu,cpuacct/box/cpu.cfs_quota_us", "-1\n"},
          {"sys/fs/cgroup/cpu,cpuacct/box/cpu.cfs_period_us", "100000\n"}},
         std::nullopt},
        {"no control groups mounted", {{"proc/self/cgroup", "0::/\n"}, {"proc/self/mountinfo", OTHER_MOUNTS}},
         std::nullopt},
        {"nothing to read at all", {}, std::nullopt},
        {"a damaged quota file", {{"proc/self/cgroup", "0::/box\n"}, {"proc/self/mountinfo", V2_MOUNT},
                                  {"sys/fs/cgroup/box/cpu.max", "150000 0\n"}}, std::nullopt},
    };
    const fs::path root = fs::temp_directory_path() / ("tarnic-cpu-quota-" + std::to_string(getpid()));
    for (const QuotaCase& c : cases) {
        fs::remove_all(root);
        for (const auto& [path, content] : c.files) {
            fs::create_directories((root / path).parent_path());
            std::ofstream(root / path) << content;
        }
        EXPECT_EQ(cgroupCpuQuota(root.string()), c.quota) << c.name;
    }
    fs::remove_all(root);
}

TEST(CpuQuota, RunningThreadsAreReadFromTheSystemStatistics) {
    const fs::path root = fs::temp_directory_path() / ("tarnic-running-" + std::to_string(getpid()));
    const struct {
        const char* stat;
        std::optional<unsigned> running;
    } cases[] = {
        {"cpu  1 2 3\nprocs_running 3\nprocs_blocked 0\n", 3u},
        {"cpu  1 2 3\nprocs_blocked 0\n", std::nullopt},
        {"procs_running many\n", std::nullopt},
    };
    for (const auto& c : cases) {
        fs::remove_all(root);
        fs::create_directories(root / "proc");
        std::ofstream(root / "proc/stat") << c.stat;
        EXPECT_EQ(runningThreads(root.string()), c.running) << c.stat;
    }
    fs::remove_all(root);
}

TEST(CpuQuota, AProcessorIsFreeWhereAnyLookFindsOne) {
    // Counts of running threads, this one included, on two usable processors.
    const struct {
        std::vector<std::optional<unsigned>> counts;
        bool free;
        std::size_t looksTaken;
    } cases[] = {
        {{1}, true, 1},
        {{2, 1}, true, 2},  // a thread of this program about to sleep at the first look
        {{3, 2, 2, 2, 1}, true, 5},
        {{2, 2, 2, 2, 2}, false, 5},  // another program busy at every look
        {{2, 2, 2, 2, 2, 1}, false, 5},
        {{2, std::nullopt}, true, 2},
    };
    for (const auto& c : cases) {
        std::size_t looks = 0;
        std::size_t pauses = 0;
        const bool free = processorFreeAtSomeLook([&] { return c.counts.at(looks++); }, 2, 5, [&] { ++pauses; });
        EXPECT_EQ(free, c.free) << c.counts.size() << " counts";
        EXPECT_EQ(looks, c.looksTaken);
        EXPECT_EQ(pauses, c.looksTaken - 1);
    }
}

TEST(CpuQuota, ThreadsAreTheAllowedProcessorsWithinTheQuota) {
    const struct {
        unsigned allowed;
        std::optional<double> quota;
        unsigned threads;
    } cases[] = {
        {4, std::nullopt, 4}, {4, 1.5, 2}, {4, 0.2, 1}, {1, 3.0, 1}, {0, std::nullopt, 1}, {8, 8.0, 8},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(threadsFor(c.allowed, c.quota), c.threads) << c.allowed << " allowed, quota " << c.quota.value_or(-1);
    }
}

}  // namespace
}  // namespace tarnic::cli
