#include "tarnic/examine.h"

#include <algorithm>
#include <array>
#include <vector>

#include "common/ascii_case.h"
#include "driver/record_loop.h"
#include "examine/new_records.h"
#include "examine/old_demo_watcher.h"
#include "examine/record_facts.h"
#include "tarnic/console.h"

namespace tarnic::examine {

namespace {

/// Passes reads through and counts the bytes they deliver.
class CountingSource final : public ByteSource {
public:
    explicit CountingSource(ByteSource& inner) : inner_(inner) {}
    std::size_t read(std::uint8_t* into, std::size_t count) override {
        const std::size_t got = inner_.read(into, count);
        bytes += got;
        return got;
    }
    bool failed() const override { return inner_.failed(); }
    const std::uint8_t* borrow(std::size_t count) override {
        const std::uint8_t* borrowed = inner_.borrow(count);
        if (borrowed) bytes += count;
        return borrowed;
    }
    std::uint64_t bytes = 0;

private:
    ByteSource& inner_;
};

class DiscardingSink final : public ByteSink {
public:
    bool write(const std::uint8_t*, std::size_t) override { return true; }
};

void examineNewDemo(ByteSource& input, DemoReport& report) {
    NewRecordReader records(input);
    while (const NewRecord* record = records.next()) {
        const PayloadWalk walk = addRecordFacts(report.facts, record->sequence, record->messageHead, record->payload);
        if (walk.problem && !report.problem) {
            report.problem = walk.problem;
            report.problem->record = records.records() - 1;
            report.problem->hasSequence = true;
            report.problem->sequence = record->sequence;
        }
    }
    if (records.problem() && !report.problem) report.problem = records.problem();
}

/// Examines an old demo, converting it into `output` (its diagnostics also to `echo`
/// when given): how the conversion ended.
ConversionResult examineOldDemo(ByteSource& input, DemoReport& report, ByteSink& output, Console* echo) {
    OldDemoWatcher watcher(report, echo);
    ConversionState state(watcher);
    watcher.watch(state);
    const ConversionResult result = convertRecords(input, output, state, &watcher);
    std::uint8_t after;
    if (watcher.endedCleanly() && input.read(&after, 1) != 0) watcher.noteDataAfterEnd();
    return result;
}

/// Reads what is left of the input, so that it counts towards the size. A small
/// buffer: some targets give the stack no more than 64 KiB.
void drain(ByteSource& input) {
    std::array<std::uint8_t, 4096> rest;
    while (input.read(rest.data(), rest.size()) > 0) {
    }
}

}  // namespace

std::optional<Protocol> protocolOfName(std::string_view fileName) {
    if (endsWithIgnoringAsciiCase(fileName, ".dm3")) return Protocol::Old;
    if (endsWithIgnoringAsciiCase(fileName, ".dm_48")) return Protocol::New;
    return std::nullopt;
}

DemoReport examineDemo(ByteSource& input, Protocol protocol) {
    DemoReport report;
    report.protocol = protocol;
    CountingSource counted(input);
    if (protocol == Protocol::New) {
        examineNewDemo(counted, report);
    } else {
        DiscardingSink nowhere;
        examineOldDemo(counted, report, nowhere, nullptr);
    }
    drain(counted);
    report.facts.bytes = counted.bytes;
    return report;
}

DemoReport examineDemo(std::span<const std::uint8_t> demo, Protocol protocol) {
    MemorySource input(demo);
    return examineDemo(input, protocol);
}

DemoReport convertAndExamineDemo(std::span<const std::uint8_t> oldDemo, ConvertedDemo& result) {
    result.demo.clear();
    result.console.clear();
    // As convertDemo: the new demo is about as long as the old one.
    result.demo.reserve(oldDemo.size() + oldDemo.size() / 8 + 64);
    DemoReport report;
    report.protocol = Protocol::Old;
    MemorySource source(oldDemo);
    CountingSource counted(source);
    MemorySink output(result.demo);
    CollectingConsole console;
    result.outcome = examineOldDemo(counted, report, output, &console);
    drain(counted);
    report.facts.bytes = counted.bytes;
    result.console = console.text();
    return report;
}

}  // namespace tarnic::examine
