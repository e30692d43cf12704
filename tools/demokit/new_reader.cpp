#include "demokit/new_reader.h"

#include "bits/packet_reader.h"
#include "bits/packet_writer.h"
#include "demokit/field_tables.h"
#include "transcode/server_op.h"

namespace tarnic::demokit {

namespace {

class PayloadWalker {
public:
    explicit PayloadWalker(std::span<const std::uint8_t> payload) {
        reader_.data = payload.data();
        reader_.size = std::uint32_t(payload.size());
    }

    NewPayload walk() {
        while (!pktAtEnd(reader_) && result_.wellFormed) {
            NewOperation& operation = result_.operations.emplace_back();
            operation.code = std::uint8_t(read(8));
            const std::size_t start = position();
            readBody(operation);
            operation.bodyBits = position() - start;
            if (reader_.pastEnd) fail("operation " + describe(operation) + " runs past the end of the payload");
            if (result_.wellFormed && reader_.bitOffset != 0 && read(8 - reader_.bitOffset) != 0) {
                fail("padding after operation " + describe(operation) + " is not zero");
            }
        }
        return std::move(result_);
    }

private:
    std::uint32_t read(int bits) { return pktReadBits(reader_, bits); }
    bool intact() const { return result_.wellFormed && !reader_.pastEnd; }
    std::size_t position() const { return std::size_t(reader_.bytePos) * 8 + reader_.bitOffset; }

    std::string describe(const NewOperation& operation) const {
        return std::to_string(result_.operations.size() - 1) + " (code " + std::to_string(operation.code) + ")";
    }

    void fail(std::string problem) {
        if (!result_.wellFormed) return;
        result_.wellFormed = false;
        result_.problem = std::move(problem);
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
        std::string text;
        while (intact()) {
            const char c = char(read(8));
            if (c == '\0') return text;
            if (text.size() == MAX_STRING_CHARS - 1) {
                fail("a string is longer than " + std::to_string(MAX_STRING_CHARS - 1) + " characters");
                break;
            }
            text += c;
        }
        return text;
    }

    void readGameState(NewOperation& operation) {
        operation.leading = read(32);
        while (intact()) {
            const auto code = std::uint8_t(read(8));
            if (code == 0) return;
            if (code == OP_CONFIGSTRING) {
                ConfigString& entry = operation.configStrings.emplace_back();
                entry.index = std::uint16_t(read(16));
                entry.text = readString();
            } else if (code == OP_BASELINE) {
                operation.baselines.push_back(std::uint16_t(read(10)));
                readEntityDelta();
            } else {
                operation.badEntryCodes.push_back(code);
            }
        }
    }

    void readField(const FieldRow& row) {
        if (row.form == FieldForm::Packed) {
            read(read(1) ? 32 : 13);
        } else {
            read(row.newWidth);
        }
    }

    void readEntityDelta() {
        if (read(1)) return;  // removed
        if (!read(1)) return;  // unchanged
        const auto selector = std::uint8_t(read(5));
        std::uint64_t mask = presetMask(selector);
        if (selector == EXPLICIT_MASK_SELECTOR) {
            mask = read(32);
            mask |= std::uint64_t{read(NEW_ENTITY_FIELDS - 32)} << 32;
        }
        for (int n = 0; n < NEW_ENTITY_FIELDS; ++n) {
            if (mask >> n & 1) readField(ENTITY_FIELDS[std::size_t(n)]);
        }
    }

    void readEntityList(NewOperation& operation) {
        while (intact()) {
            const auto number = std::uint16_t(read(10));
            if (number == ENTITY_LIST_END) return;
            operation.entityNumbers.push_back(number);
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
        for (const FieldRow& row : PLAYER_FIELDS) {
            if (read(1)) readField(row);
        }
        for (std::size_t a = 0; a < MASKED_ARRAY_WIDTHS.size(); ++a) {
            const bool second = a == 1;
            const std::uint16_t mask = readMaskedArray(MASKED_ARRAY_WIDTHS[a], second ? &operation.array2Values : nullptr);
            if (second) operation.array2Mask = mask;
        }
        readEntityList(operation);
    }

    PacketReader reader_;
    NewPayload result_;
};

}  // namespace

NewPayload readNewPayload(std::span<const std::uint8_t> payload) { return PayloadWalker(payload).walk(); }

}  // namespace tarnic::demokit
