#include "examine/new_reader.h"

#include "bits/packet_reader.h"
#include "bits/packet_writer.h"
#include "transcode/entity_fields.h"
#include "transcode/masked_array.h"
#include "transcode/player_state.h"
#include "transcode/server_op.h"

namespace tarnic::examine {

namespace {

class PayloadWalker {
public:
    PayloadWalker(std::span<const std::uint8_t> payload, const OperationVisitor& visit) : visit_(visit) {
        reader_.data = payload.data();
        reader_.size = std::uint32_t(payload.size());
    }

    PayloadWalk walk() {
        // Each pass reads at least the code's 8 bits, so the walk ends with the payload.
        while (!pktAtEnd(reader_) && result_.bodiesIntact) {
            operation_ = NewOperation{};
            ++result_.operations;
            const std::uint64_t start = position();
            operation_.code = std::uint8_t(read(8));
            if (!isMessageOperation(operation_.code)) {
                // No body: the converter steps over it too.
                fail(operation_.code <= OP_SNAPSHOT ? ProblemKind::IllegalOperation : ProblemKind::UnknownOperation,
                     start);
            } else {
                readBody(operation_);
                operation_.bodyBits = std::size_t(position() - start - 8);
                if (result_.bodiesIntact && reader_.bitOffset != 0) {
                    const std::uint64_t padding = position();
                    if (read(8 - reader_.bitOffset) != 0) fail(ProblemKind::BitsLeftOver, padding);
                }
            }
            visit_(operation_);
        }
        return result_;
    }

private:
    std::uint64_t position() const { return std::uint64_t{reader_.bytePos} * 8 + reader_.bitOffset; }
    bool intact() const { return result_.bodiesIntact; }

    /// Records the first problem; a problem other than a code ends the walk.
    void fail(ProblemKind kind, std::uint64_t bit) {
        const bool codeOnly = kind == ProblemKind::IllegalOperation || kind == ProblemKind::UnknownOperation ||
                              kind == ProblemKind::UnknownEntry;
        if (!codeOnly) result_.bodiesIntact = false;
        if (result_.problem) return;
        result_.wellFormed = false;
        Problem& problem = result_.problem.emplace();
        problem.kind = kind;
        problem.inPayload = true;
        problem.operation = std::uint32_t(result_.operations - 1);
        problem.code = operation_.code;
        problem.bit = bit;
    }

    /// Reads a field; one that reaches past the payload ends the walk. Reads after
    /// that give zeros and leave the problem as it is.
    std::uint32_t read(int bits) {
        if (!intact()) return 0;
        const std::uint64_t start = position();
        const std::uint32_t value = pktReadBits(reader_, bits);
        if (reader_.pastEnd) fail(ProblemKind::FieldPastEnd, start);
        return value;
    }

    void readField(const FieldRow& row) {
        if (row.form == FieldForm::Packed) {
            read(read(PACKED_FLAG_BITS) ? PACKED_WIDE_BITS : PACKED_NARROW_BITS);
        } else {
            read(row.newWidth);
        }
    }

    void readBody(NewOperation& operation) {
        switch (operation.code) {
            case OP_SERVERCOMMAND:
                operation.leading = read(32);
                operation.text = readString();
                break;
            case OP_GAMESTATE: readGameState(operation); break;
            case OP_SNAPSHOT: readSnapshot(operation); break;
            default: break;  // no body
        }
    }

    std::string readString() {
        const std::uint64_t start = position();
        std::string text;
        while (intact()) {
            const auto c = char(pktReadBits(reader_, 8));
            if (reader_.pastEnd) {
                fail(ProblemKind::StringPastEnd, start);
                break;
            }
            if (c == '\0') return text;
            if (text.size() == MAX_STRING_CHARS - 1) {
                fail(ProblemKind::StringTooLong, start);
                break;
            }
            text += c;
        }
        return text;
    }

    void readGameState(NewOperation& operation) {
        operation.leading = read(32);
        while (intact()) {
            const std::uint64_t start = position();
            const auto code = std::uint8_t(read(8));
            if (!intact() || code == GAMESTATE_END) return;
            if (code == OP_CONFIGSTRING) {
                ConfigEntry& entry = operation.configStrings.emplace_back();
                entry.index = std::uint16_t(read(16));
                entry.text = readString();
            } else if (code == OP_BASELINE) {
                operation.baselines.push_back(std::uint16_t(read(ENTITY_NUMBER_BITS)));
                readEntityDelta();
            } else {
                // As the converter does, the next entry is read from the very next bit.
                operation.badEntryCodes.push_back(code);
                fail(ProblemKind::UnknownEntry, start);
            }
        }
    }

    void readEntityDelta() {
        if (read(1)) return;   // removed
        if (!read(1)) return;  // unchanged
        const std::uint32_t selector = read(MASK_SELECTOR_BITS);
        std::uint64_t mask = 0;
        if (selector == EXPLICIT_MASK_SELECTOR) {
            mask = read(32);
            mask |= std::uint64_t{read(int(NEW_ENTITY_FIELD_COUNT) - 32)} << 32;
        } else {
            mask = ENTITY_PRESET_MASKS[selector];
        }
        for (std::size_t n = 0; n < NEW_ENTITY_FIELD_COUNT && intact(); ++n) {
            if (mask >> n & 1) readField(ENTITY_FIELDS[n]);
        }
    }

    void readEntityList(NewOperation& operation) {
        // Each entry reads at least 11 bits, so the list ends with the payload.
        while (intact()) {
            const std::uint32_t number = read(ENTITY_NUMBER_BITS);
            if (!intact() || number == ENTITY_LIST_END) return;
            operation.entityNumbers.push_back(std::uint16_t(number));
            readEntityDelta();
        }
    }

    std::uint16_t readMaskedArray(int width, std::array<std::uint16_t, 16>* values) {
        if (!read(1)) return 0;
        const auto mask = std::uint16_t(read(16));
        for (std::size_t j = 0; j < 16; ++j) {
            if (!(mask >> j & 1)) continue;
            const std::uint32_t value = read(width);
            if (values) (*values)[j] = std::uint16_t(value);
        }
        return mask;
    }

    void readSnapshot(NewOperation& operation) {
        read(32);
        read(8);
        read(8);
        const std::uint32_t blockLength = read(8);
        for (std::uint32_t i = 0; i < blockLength && intact(); ++i) read(8);
        for (const FieldRow& row : PLAYER_STATE_FIELDS) {
            if (read(1)) readField(row);
        }
        for (std::size_t a = 0; a < MASKED_ARRAY_VALUE_BITS.size(); ++a) {
            const bool second = a == 1;
            const std::uint16_t mask =
                readMaskedArray(MASKED_ARRAY_VALUE_BITS[a], second ? &operation.array2Values : nullptr);
            if (second) operation.array2Mask = mask;
        }
        readEntityList(operation);
    }

    PacketReader reader_;
    const OperationVisitor& visit_;
    NewOperation operation_;
    PayloadWalk result_;
};

}  // namespace

PayloadWalk walkNewPayload(std::span<const std::uint8_t> payload, const OperationVisitor& visit) {
    return PayloadWalker(payload, visit).walk();
}

NewPayload readNewPayload(std::span<const std::uint8_t> payload) {
    NewPayload result;
    const PayloadWalk walk =
        walkNewPayload(payload, [&result](const NewOperation& operation) { result.operations.push_back(operation); });
    result.wellFormed = walk.wellFormed;
    result.bodiesIntact = walk.bodiesIntact;
    result.problem = walk.problem;
    return result;
}

}  // namespace tarnic::examine
