#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "driver/record_loop.h"

namespace tarnic::cli {

/// Watches a conversion for the first sign that its input is damaged: a message cut
/// short, a last record cut short, a negative record length, a missing end marker.
class FirstDamage final : public RecordObserver {
public:
    void converted(const ConvertedRecord& record, const ConversionState& state) override;
    void ended(InputEnd end, std::optional<std::int32_t> sequence) override;

    /// The first damage met, as a phrase ("message 14 is truncated"); empty when none.
    const std::string& text() const { return text_; }

private:
    void note(std::string text);

    std::string text_;
};

}  // namespace tarnic::cli
