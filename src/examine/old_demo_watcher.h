#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "driver/record_loop.h"
#include "tarnic/console.h"
#include "tarnic/examine.h"
#include "transcode/message.h"

namespace tarnic::examine {

/// Watches the converter's record loop over an old demo. An old demo is well-formed
/// exactly when its conversion is, but for the damage the conversion leaves out: each
/// converted payload is read with the new reader, and what it finds there is the old
/// demo's problem too, placed at the old operation. The only problem the conversion
/// does not keep is an operation cut by the end of its payload, which is left out.
class OldDemoWatcher final : public Console, public RecordObserver {
public:
    /// `echo`, when given, takes the diagnostics too, as the conversion's console would.
    explicit OldDemoWatcher(DemoReport& report, Console* echo = nullptr) : report_(report), echo_(echo) {}

    void watch(const ConversionState& state) { state_ = &state; }

    /// True once the loop ended at the end marker with no problem found: then a byte
    /// after the marker is the demo's problem.
    bool endedCleanly() const { return end_ == InputEnd::EndMarker && !report_.problem; }
    /// Notes bytes after the end marker, once the loop ended cleanly.
    void noteDataAfterEnd();

    void write(std::string_view text) override;
    void converted(const ConvertedRecord& record, const ConversionState& state) override;
    void ended(InputEnd end, std::optional<std::int32_t> sequence) override;

private:
    Problem inOldPayload(const Problem& found) const;

    DemoReport& report_;
    Console* echo_;
    const ConversionState* state_ = nullptr;
    /// The current record's operations that printed and may hold what the new reader rejects.
    std::vector<OperationPlace> printedIn_;
    InputEnd end_ = InputEnd::NoEndMarker;
};

}  // namespace tarnic::examine
