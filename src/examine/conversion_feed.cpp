#include "tarnic/conversion_feed.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "bits/byte_order.h"
#include "driver/record_framing.h"
#include "driver/record_loop.h"
#include "examine/old_demo_watcher.h"

namespace tarnic::examine {

namespace {

/// True where `bytes` begin with a record the loop can take without seeing more of
/// the demo: a whole one, or a header that ends the records whatever follows.
bool recordComplete(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < OLD_HEADER_BYTES) return false;
    if (std::int32_t(loadLittle32(bytes.data())) == END_SEQUENCE) return true;
    const std::uint32_t length = loadLittle32(bytes.data() + 4);
    return std::int32_t(length) < 0 || bytes.size() - OLD_HEADER_BYTES >= length;
}

}  // namespace

struct ConversionFeed::Parts {
    explicit Parts(ConvertedDemo& result) : output(result.demo) {}

    CollectingConsole console;
    DemoReport report;
    OldDemoWatcher watcher{report, &console};
    ConversionState state{watcher};
    MemorySink output;
    RecordLoop loop{output, state, &watcher};
    std::optional<ConversionResult> ended;

    /// The demo's bytes not yet converted, at [begin, end) of a buffer of `capacity`;
    /// neither zeroed nor shrunk, since it is filled and emptied again and again.
    std::unique_ptr<std::uint8_t[]> buffer;
    std::size_t capacity = 0;
    std::size_t begin = 0;
    std::size_t end = 0;
    std::uint64_t bytes = 0;
};

ConversionFeed::ConversionFeed(ConvertedDemo& result) : result_(result), parts_(std::make_unique<Parts>(result)) {
    result_.demo.clear();
    result_.console.clear();
    result_.outcome = ConversionResult::Converted;
    parts_->report.protocol = Protocol::Old;
    parts_->watcher.watch(parts_->state);
}

ConversionFeed::~ConversionFeed() = default;

std::span<std::uint8_t> ConversionFeed::room(std::size_t bytes) {
    Parts& p = *parts_;
    // What is left unconverted is at most a record begun: move it to the front, where
    // it stays until the record is whole, so that each byte moves at most once.
    if (p.begin > 0) {
        std::memmove(p.buffer.get(), p.buffer.get() + p.begin, p.end - p.begin);
        p.end -= p.begin;
        p.begin = 0;
    }
    if (p.capacity - p.end < bytes) {
        const std::size_t capacity = std::max(p.end + bytes, 2 * p.capacity);
        std::unique_ptr<std::uint8_t[]> grown(new std::uint8_t[capacity]);  // left unzeroed
        if (p.end > 0) std::memcpy(grown.get(), p.buffer.get(), p.end);
        p.buffer = std::move(grown);
        p.capacity = capacity;
    }
    return {p.buffer.get() + p.end, bytes};
}

void ConversionFeed::add(std::size_t bytes) {
    Parts& p = *parts_;
    // No more than the room holds, whatever the caller claims.
    const std::size_t taken = std::min(bytes, p.capacity - p.end);
    p.end += taken;
    p.bytes += taken;
    convertWholeRecords(false);
}

void ConversionFeed::add(std::span<const std::uint8_t> bytes) {
    if (!bytes.empty()) std::memcpy(room(bytes.size()).data(), bytes.data(), bytes.size());
    add(bytes.size());
}

void ConversionFeed::convertWholeRecords(bool demoEnded) {
    Parts& p = *parts_;
    while (!p.ended) {
        const std::span<const std::uint8_t> held(p.buffer.get() + p.begin, p.end - p.begin);
        if (!demoEnded && !recordComplete(held)) return;
        MemorySource source(held);
        p.ended = p.loop.step(source);
        p.begin += held.size() - source.unread().size();
    }
    // Bytes after the end marker are a problem of their own, as when the demo is read
    // whole; bytes after any other end are only counted.
    if (p.begin < p.end) p.watcher.noteDataAfterEnd();
    p.begin = p.end = 0;
}

DemoReport ConversionFeed::finish() {
    convertWholeRecords(true);
    Parts& p = *parts_;
    p.report.facts.bytes = p.bytes;
    result_.console = p.console.text();
    result_.outcome = *p.ended;
    return p.report;
}

}  // namespace tarnic::examine
