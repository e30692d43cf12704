#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarnic::cli {

/// How one input of a batch ended.
struct FileReport {
    enum class Status { Converted, Skipped, Failed };
    Status status = Status::Failed;
    std::size_t diagnostics = 0;
    std::string reason;  ///< why it failed, or why it was skipped when not for an output that exists
    std::string damage;  ///< the first damage a converted input showed; empty when none
    bool read = false;   ///< whether its conversion ran, reading the input
};

/// The line printed for one input; control characters in its name and reason show as \xNN.
std::string fileLine(const std::string& input, const FileReport& report);

/// The batch's totals so far.
struct BatchTotals {
    std::size_t files = 0;
    std::size_t done = 0;
    std::size_t converted = 0;
    std::size_t withDiagnostics = 0;
    std::size_t damaged = 0;
    std::size_t skipped = 0;
    std::size_t failed = 0;
    std::uintmax_t bytesTotal = 0;  ///< of every input, as listed
    std::uintmax_t bytesDone = 0;   ///< of the inputs finished, converted or not
    std::uintmax_t bytesRead = 0;   ///< of the inputs converted or attempted
};

/// The progress line: files done of total, speed and time left.
std::string progressLine(const BatchTotals& totals, double seconds);

/// The closing summary.
std::string summaryLine(const BatchTotals& totals, double seconds);

}  // namespace tarnic::cli
