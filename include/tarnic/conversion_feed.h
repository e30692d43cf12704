#pragma once

// Converting and examining an old demo that arrives in pieces, such as a file a
// browser streams: the caller hands over each piece as it comes and takes the
// converted bytes away as they grow, so that neither the demo nor its conversion need
// be held whole.

#include <cstdint>
#include <memory>
#include <span>

#include "tarnic/convert.h"
#include "tarnic/examine.h"

namespace tarnic::examine {

/// Converts an old demo into a ConvertedDemo and examines it, as convertAndExamineDemo
/// does, from its bytes handed over in pieces of any size: every record is converted
/// once the piece that completes it arrives, and the output, the messages, the
/// outcome and the report are those of convertAndExamineDemo over the whole demo,
/// wherever the pieces split it. Memory grows with the largest record and the output
/// the caller leaves in `result.demo`.
class ConversionFeed {
public:
    /// Converts into `result`, which must outlive the feed: its demo is cleared now
    /// and grows as records convert; the caller may take bytes out of it between calls.
    explicit ConversionFeed(ConvertedDemo& result);
    ~ConversionFeed();
    ConversionFeed(const ConversionFeed&) = delete;
    ConversionFeed& operator=(const ConversionFeed&) = delete;

    /// Room for the next `bytes` bytes of the demo, to be filled and then handed over
    /// with `add(bytes)`: the bytes go straight where the conversion reads them. Valid
    /// until the next call.
    std::span<std::uint8_t> room(std::size_t bytes);
    /// Hands over the first `bytes` bytes of the room and converts every record now whole.
    void add(std::size_t bytes);
    /// Copies `bytes` in as the next piece of the demo and converts every record now whole.
    void add(std::span<const std::uint8_t> bytes);

    /// Ends the demo and converts what is left of it: the report; `result` then holds
    /// the messages and the outcome, and its demo the rest of the output.
    DemoReport finish();

private:
    struct Parts;
    void convertWholeRecords(bool demoEnded);

    ConvertedDemo& result_;
    std::unique_ptr<Parts> parts_;
};

}  // namespace tarnic::examine
