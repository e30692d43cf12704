#include "cli/first_damage.h"

namespace tarnic::cli {

void FirstDamage::note(std::string text) {
    if (text_.empty()) text_ = std::move(text);
}

void FirstDamage::converted(const ConvertedRecord& record, const ConversionState&) {
    if (record.end == MessageEnd::Truncated) note("message " + std::to_string(record.sequence) + " is truncated");
}

void FirstDamage::ended(InputEnd end, std::optional<std::int32_t> sequence) {
    const std::string record = sequence ? "record (sequence " + std::to_string(*sequence) + ")" : "record";
    switch (end) {
        case InputEnd::EndMarker:
        case InputEnd::ReadFailed:  // a failure, reported as one
        case InputEnd::Stopped: return;
        case InputEnd::NoEndMarker: note("the end marker is missing"); return;
        case InputEnd::HeaderCut:
        case InputEnd::PayloadCut: note("last " + record + " is cut short"); return;
        case InputEnd::NegativeLength: note(record + " has a negative length"); return;
    }
}

}  // namespace tarnic::cli
