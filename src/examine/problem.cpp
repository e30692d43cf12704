#include "tarnic/problem.h"

namespace tarnic::examine {

namespace {

struct ProblemWords {
    std::string_view name;
    std::string_view text;
};

ProblemWords wordsOf(ProblemKind kind) {
    switch (kind) {
        case ProblemKind::IllegalOperation: return {"illegal-operation", "an operation a message may not hold"};
        case ProblemKind::UnknownOperation: return {"unknown-operation", "an unknown operation code"};
        case ProblemKind::UnknownEntry: return {"unknown-entry", "an unknown game state entry code"};
        case ProblemKind::FieldPastEnd: return {"field-past-end", "a field runs past the end of the payload"};
        case ProblemKind::StringPastEnd: return {"string-past-end", "a string runs past the end of the payload"};
        case ProblemKind::StringTooLong: return {"string-too-long", "a string is longer than 1023 characters"};
        case ProblemKind::BitsLeftOver: return {"bits-left-over", "bits left over after an operation are not zero"};
        case ProblemKind::RecordCutShort: return {"record-cut-short", "the file ends inside a record"};
        case ProblemKind::MissingEndMarker: return {"missing-end-marker", "the file ends without the end marker"};
        case ProblemKind::BadRecordLength: return {"bad-record-length", "a record length no record can have"};
        case ProblemKind::DataAfterEnd: return {"data-after-end", "bytes follow the end marker"};
        case ProblemKind::MessageTooLarge: return {"message-too-large", "a converted message is too large for a record"};
        case ProblemKind::ReadFailed: return {"read-failed", "reading the file failed"};
    }
    return {"unknown", "an unknown problem"};
}

}  // namespace

std::string_view problemName(ProblemKind kind) { return wordsOf(kind).name; }

std::string_view problemText(ProblemKind kind) { return wordsOf(kind).text; }

}  // namespace tarnic::examine
