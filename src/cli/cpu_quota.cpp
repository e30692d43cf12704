#include "cli/cpu_quota.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

namespace tarnic::cli {

namespace {

/// The first line of a file; none where it cannot be read.
std::optional<std::string> firstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    if (!file || !std::getline(file, line)) return std::nullopt;
    return line;
}

/// A whole number written in full, however large; none for anything else.
std::optional<double> number(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    return std::stod(text);
}

/// A quota over a period, as v2 writes it in `cpu.max`: "max 100000" or "150000 100000".
std::optional<double> quotaV2(const std::string& folder) {
    const auto line = firstLine(folder + "/cpu.max");
    if (!line) return std::nullopt;
    std::istringstream words(*line);
    std::string quota;
    std::string period;
    words >> quota >> period;
    const auto q = number(quota);
    const auto p = number(period);
    if (!q || !p || *p == 0) return std::nullopt;
    return *q / *p;
}

/// The same as v1 writes it: -1 in `cpu.cfs_quota_us` where unlimited.
std::optional<double> quotaV1(const std::string& folder) {
    const auto quota = firstLine(folder + "/cpu.cfs_quota_us");
    const auto period = firstLine(folder + "/cpu.cfs_period_us");
    if (!quota || !period) return std::nullopt;
    const auto q = number(*quota);
    const auto p = number(*period);
    if (!q || !p || *p == 0) return std::nullopt;
    return *q / *p;
}

/// A path as mountinfo writes it: a space, tab, newline or backslash as three octal digits.
std::string unescape(std::string_view field) {
    std::string path;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string_view digits = field.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string_view::npos) {
                path += char((digits[0] - '0') * 64 + (digits[1] - '0') * 8 + (digits[2] - '0'));
                i += 3;
                continue;
            }
        }
        path += field[i];
    }
    return path;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

/// Where a hierarchy is mounted: the folder, and the group that folder shows.
struct Mount {
    std::string point;
    std::string groupRoot;
};

/// The mount of the cgroup v2 hierarchy (`version2`), or of the v1 hierarchy with the cpu controller.
std::optional<Mount> findMount(const std::string& root, bool version2) {
    std::ifstream mounts(root + "/proc/self/mountinfo");
    for (std::string line; std::getline(mounts, line);) {
        // "36 25 0:31 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw": the optional
        // fields end at the lone "-", then the file system type, source and options.
        const std::vector<std::string_view> fields = split(line, ' ');
        const auto dash = std::find(fields.begin(), fields.end(), "-");
        if (fields.size() < 5 || dash == fields.end() || fields.end() - dash < 4) continue;
        const std::string_view type = dash[1];
        if (version2 ? type != "cgroup2" : type != "cgroup") continue;
        if (!version2) {
            const std::vector<std::string_view> options = split(dash[3], ',');
            if (std::find(options.begin(), options.end(), "cpu") == options.end()) continue;
        }
        return Mount{unescape(fields[4]), unescape(fields[3])};
    }
    return std::nullopt;
}

/// The tightest quota from the group's folder up to its hierarchy's mount.
std::optional<double> tightestQuota(const std::string& root, const Mount& mount, std::string group,
                                    std::optional<double> (*quotaOf)(const std::string&)) {
    // Inside a container the mount shows the container's own group: the path is then
    // relative to it. A group outside what is mounted is read at the mount itself.
    if (mount.groupRoot != "/" && group.compare(0, mount.groupRoot.size(), mount.groupRoot) == 0 &&
        (group.size() == mount.groupRoot.size() || group[mount.groupRoot.size()] == '/'))
        group.erase(0, mount.groupRoot.size());
    else if (mount.groupRoot != "/")
        group.clear();
    while (!group.empty() && group.back() == '/') group.pop_back();
    std::optional<double> tightest;
    for (;;) {
        const auto quota = quotaOf(root + mount.point + group);
        if (quota && (!tightest || *quota < *tightest)) tightest = quota;
        if (group.empty()) return tightest;
        group.erase(group.rfind('/'));
    }
}

}  // namespace

std::optional<double> cgroupCpuQuota(const std::string& root) {
    std::ifstream groups(root + "/proc/self/cgroup");
    std::optional<std::string> version2Group;
    std::optional<std::string> cpuGroup;
    for (std::string line; std::getline(groups, line);) {
        // "0::/user.slice" (v2) or "4:cpu,cpuacct:/user.slice" (v1)
        const std::size_t first = line.find(':');
        const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) continue;
        const std::string_view id = std::string_view(line).substr(0, first);
        const std::string_view controllers = std::string_view(line).substr(first + 1, second - first - 1);
        std::string group = line.substr(second + 1);
        if (id == "0" && controllers.empty()) version2Group = group;
        const std::vector<std::string_view> names = split(controllers, ',');
        if (std::find(names.begin(), names.end(), "cpu") != names.end()) cpuGroup = group;
    }
    if (cpuGroup) {
        if (const auto mount = findMount(root, false)) return tightestQuota(root, *mount, *cpuGroup, quotaV1);
    }
    if (version2Group) {
        if (const auto mount = findMount(root, true)) return tightestQuota(root, *mount, *version2Group, quotaV2);
    }
    return std::nullopt;
}

std::optional<unsigned> runningThreads(const std::string& root) {
    std::ifstream stat(root + "/proc/stat");
    for (std::string line; std::getline(stat, line);) {
        if (!line.starts_with("procs_running ")) continue;
        const auto count = number(line.substr(14));
        if (count) return unsigned(*count);
        return std::nullopt;
    }
    return std::nullopt;
}

bool processorFreeAtSomeLook(const std::function<std::optional<unsigned>()>& countRunning, unsigned usable,
                             unsigned looks, const std::function<void()>& pause) {
    for (unsigned look = 0; look < looks; ++look) {
        if (look > 0) pause();
        const std::optional<unsigned> running = countRunning();
        if (!running || *running < usable) return true;
    }
    return false;
}

unsigned threadsFor(unsigned allowedProcessors, std::optional<double> quota) {
    unsigned threads = std::max(1u, allowedProcessors);
    if (quota && *quota > 0 && *quota < threads) threads = std::max(1u, unsigned(std::ceil(*quota)));
    return threads;
}

}  // namespace tarnic::cli
