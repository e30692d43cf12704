#pragma once

#include <cstdint>
#include <string_view>

namespace tarnic::examine {

/// What can be wrong with a demo, in either protocol.
enum class ProblemKind : std::uint8_t {
    IllegalOperation,  ///< an operation code a message may not hold: 0, 3, 4 or 6
    UnknownOperation,  ///< an operation code beyond 7
    UnknownEntry,      ///< a game state entry code other than 0, 3 and 4
    FieldPastEnd,      ///< a field reaches past the end of the payload
    StringPastEnd,     ///< a string's terminator lies beyond the end of the payload
    StringTooLong,     ///< a string longer than the new protocol takes
    BitsLeftOver,      ///< padding bits after an operation that are not zero
    RecordCutShort,    ///< the input ends inside a record
    MissingEndMarker,  ///< the input ends between records, without the end marker
    BadRecordLength,   ///< a record length no record can have
    DataAfterEnd,      ///< bytes follow the end marker
    MessageTooLarge,   ///< a converted message outgrows what a record can frame
    ReadFailed,        ///< reading the input failed before its end
};

/// A stable lower-case name for the kind, for machine-readable output.
std::string_view problemName(ProblemKind kind);

/// What the kind means, as a phrase: "a field runs past the end of the payload".
std::string_view problemText(ProblemKind kind);

/// Where a problem lies and what it is. Records and operations count from 0; `bit`
/// is the bit offset inside the record's payload where the faulty element begins.
struct Problem {
    ProblemKind kind = ProblemKind::FieldPastEnd;
    std::uint64_t record = 0;     ///< index of the record: records before it in the file
    bool hasSequence = false;     ///< the record's sequence number was read
    std::int32_t sequence = 0;
    bool inPayload = false;       ///< the problem lies inside a payload: the members below are set
    std::uint32_t operation = 0;  ///< operations before it in the payload
    std::uint8_t code = 0;        ///< the operation's code
    std::uint64_t bit = 0;
};

}  // namespace tarnic::examine
