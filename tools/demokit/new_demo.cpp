#include "demokit/new_demo.h"

#include "bits/byte_order.h"

namespace tarnic::demokit {

NewDemo splitNewDemo(const Bytes& demo) {
    NewDemo result;
    std::size_t at = 0;
    while (at < demo.size()) {
        if (demo.size() - at < 8) {
            result.wellFramed = false;
            break;
        }
        const auto sequence = std::int32_t(loadLittle32(&demo[at]));
        const std::uint32_t length = loadLittle32(&demo[at + 4]);
        if (sequence == -1 && length == 0xFFFFFFFFu) {
            result.endMarker = true;
            result.wellFramed = at + 8 == demo.size();
            break;
        }
        if (length < 4 || demo.size() - at - 8 < length) {
            result.wellFramed = false;
            break;
        }
        NewRecord record;
        record.sequence = sequence;
        record.messageHead = loadLittle32(&demo[at + 8]);
        record.payload.assign(demo.begin() + std::ptrdiff_t(at + 12), demo.begin() + std::ptrdiff_t(at + 8 + length));
        result.records.push_back(std::move(record));
        at += 8 + length;
    }
    return result;
}

}  // namespace tarnic::demokit
