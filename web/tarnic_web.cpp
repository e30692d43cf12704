// The C entry points the npm package (and through it the page) calls: it copies a
// demo into the module's memory, converts or examines it (or both at once), then reads
// the result back out. One conversion's result and one examination's JSON are held at
// a time, until the next call that makes one. A demo may also come in pieces, each
// converted as it arrives, its output taken out as it grows (tarnic_feed_*).

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "tarnic/conversion_feed.h"
#include "tarnic/convert.h"
#include "tarnic/examine.h"
#include "tarnic/report_json.h"

#define TARNIC_EXPORT(name) extern "C" __attribute__((export_name(#name)))

namespace {

tarnic::ConvertedDemo converted;
std::string examinedJson;
std::unique_ptr<tarnic::examine::ConversionFeed> feed;

void holdJson(const tarnic::examine::DemoReport& report, int withFacts) {
    examinedJson = tarnic::examine::examinedDemoJson({std::nullopt, report.protocol, &report, {}}, withFacts != 0);
}

}  // namespace

/// Room for an input of `bytes` bytes, or null when memory is short.
TARNIC_EXPORT(tarnic_alloc) std::uint8_t* tarnic_alloc(std::size_t bytes) {
    return static_cast<std::uint8_t*>(std::malloc(bytes == 0 ? 1 : bytes));
}

TARNIC_EXPORT(tarnic_free) void tarnic_free(std::uint8_t* memory) { std::free(memory); }

/// Converts the old demo at `data`: 0 when converted, 1 when a converted message grew
/// too large to frame (the program then fails and keeps no output).
TARNIC_EXPORT(tarnic_convert) int tarnic_convert(const std::uint8_t* data, std::size_t size) {
    tarnic::convertDemo({data, size}, converted);
    return converted.outcome == tarnic::ConversionResult::Converted ? 0 : 1;
}

TARNIC_EXPORT(tarnic_output_data) const std::uint8_t* tarnic_output_data() { return converted.demo.data(); }
TARNIC_EXPORT(tarnic_output_size) std::size_t tarnic_output_size() { return converted.demo.size(); }
TARNIC_EXPORT(tarnic_console_data) const char* tarnic_console_data() { return converted.console.data(); }
TARNIC_EXPORT(tarnic_console_size) std::size_t tarnic_console_size() { return converted.console.size(); }

/// Examines the demo at `data`, an old one when `newProtocol` is 0, into the JSON
/// object --verify --json gives for it (--info --json's when `withFacts` is not 0),
/// its `file` null.
TARNIC_EXPORT(tarnic_examine) void tarnic_examine(const std::uint8_t* data, std::size_t size, int newProtocol,
                                                  int withFacts) {
    const auto protocol = newProtocol != 0 ? tarnic::examine::Protocol::New : tarnic::examine::Protocol::Old;
    holdJson(tarnic::examine::examineDemo({data, size}, protocol), withFacts);
}

/// Converts the old demo at `data` as tarnic_convert does and examines it as
/// tarnic_examine does with `newProtocol` 0, in one pass: both results are then held.
TARNIC_EXPORT(tarnic_convert_examine) int tarnic_convert_examine(const std::uint8_t* data, std::size_t size,
                                                                 int withFacts) {
    holdJson(tarnic::examine::convertAndExamineDemo({data, size}, converted), withFacts);
    return converted.outcome == tarnic::ConversionResult::Converted ? 0 : 1;
}

/// Begins converting and examining an old demo, as tarnic_convert_examine does, from
/// pieces handed over as they arrive: each one written at tarnic_feed_room's address
/// and given with tarnic_feed, then tarnic_feed_finish. The output grows as records
/// convert, until tarnic_output_clear.
TARNIC_EXPORT(tarnic_feed_start) void tarnic_feed_start() {
    feed = std::make_unique<tarnic::examine::ConversionFeed>(converted);
}

/// Room for the next piece of `bytes` bytes, valid until the next call.
TARNIC_EXPORT(tarnic_feed_room) std::uint8_t* tarnic_feed_room(std::size_t bytes) {
    return feed->room(bytes).data();
}

/// Converts every record the piece of `bytes` bytes just written completes.
TARNIC_EXPORT(tarnic_feed) void tarnic_feed(std::size_t bytes) { feed->add(bytes); }

/// Ends the demo: 0 when converted, 1 when a converted message grew too large to frame.
TARNIC_EXPORT(tarnic_feed_finish) int tarnic_feed_finish(int withFacts) {
    holdJson(feed->finish(), withFacts);
    feed.reset();
    return converted.outcome == tarnic::ConversionResult::Converted ? 0 : 1;
}

/// Empties the output once its bytes have been taken out.
TARNIC_EXPORT(tarnic_output_clear) void tarnic_output_clear() { converted.demo.clear(); }

TARNIC_EXPORT(tarnic_json_data) const char* tarnic_json_data() { return examinedJson.data(); }
TARNIC_EXPORT(tarnic_json_size) std::size_t tarnic_json_size() { return examinedJson.size(); }
