#include "cli/batch_report.h"

#include <algorithm>
#include <cstdio>

#include "cli/examine_text.h"

namespace tarnic::cli {
namespace {

constexpr double BYTES_PER_MB = 1e6;

std::string format(const char* pattern, auto... values) {
    char text[256];
    const int length = std::snprintf(text, sizeof text, pattern, values...);
    return std::string(text, length < 0 ? 0 : std::min(std::size_t(length), sizeof text - 1));
}

std::string plural(std::size_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace

std::string fileLine(const std::string& input, const FileReport& report) {
    const std::string name = printable(input);
    switch (report.status) {
    case FileReport::Status::Converted: {
        std::string line = name + ": converted";
        if (report.diagnostics > 0) line += " with " + plural(report.diagnostics, "diagnostic");
        if (!report.damage.empty()) line += "; damaged: " + report.damage;
        return line + "\n";
    }
    case FileReport::Status::Skipped:
        return name + ": skipped, " + (report.reason.empty() ? "output exists" : printable(report.reason)) + "\n";
    case FileReport::Status::Failed:
        break;
    }
    return name + ": FAILED: " + printable(report.reason) + "\n";
}

std::string progressLine(const BatchTotals& totals, double seconds) {
    const double rate = seconds > 0 ? double(totals.bytesDone) / seconds : 0;
    std::string left = "--:--";
    if (rate > 0 && totals.bytesDone > 0) {
        const auto remaining = (unsigned long)(double(totals.bytesTotal - totals.bytesDone) / rate);
        left = format("%lu:%02lu", remaining / 60, remaining % 60);
    }
    return format("%zu/%zu files, %.1f MB/s, %s left", totals.done, totals.files, rate / BYTES_PER_MB,
                  left.c_str());
}

std::string summaryLine(const BatchTotals& totals, double seconds) {
    const double megabytes = double(totals.bytesRead) / BYTES_PER_MB;
    return format("%zu converted (%zu with diagnostics, %zu damaged), %zu skipped, %zu failed; "
                  "%.1f MB read in %.2f s\n",
                  totals.converted, totals.withDiagnostics, totals.damaged, totals.skipped, totals.failed, megabytes,
                  seconds);
}

}  // namespace tarnic::cli
