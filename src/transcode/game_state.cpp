#include "transcode/game_state.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "transcode/config_index.h"
#include "transcode/entity_delta.h"
#include "transcode/entity_fields.h"
#include "transcode/player_info.h"
#include "transcode/server_op.h"

namespace tarnic {

namespace {

/// Highest configuration-string index the new protocol takes without complaint.
constexpr std::int32_t MAX_CONFIG_INDEX = 1024;

/// Converts one configuration-string entry, its code included. A dropped index
/// writes nothing at all: the code is held back until the entry is known to stay,
/// so no bits need taking back, wherever the writer stands.
void transcodeConfigString(PacketReader& reader, PacketWriter& writer, Console& console) {
    const auto oldIndex = std::int32_t(pktReadBits(reader, 16));
    const std::optional<std::int32_t> newIndex = remapConfigIndex(oldIndex);
    StringBuffer configString;
    if (!newIndex) {
        pktReadString(reader, configString);
        return;
    }
    pktWriteBits(writer, OP_CONFIGSTRING, 8);
    pktWriteBits(writer, *newIndex, 16);
    if (*newIndex > MAX_CONFIG_INDEX) console.print("Configstring Index too high!\n");
    const std::size_t length = pktReadString(reader, configString);
    if (!isPlayerInfoIndex(*newIndex)) {
        pktWriteString(writer, std::string_view(configString.data(), length), console);
        return;
    }
    std::string info(configString.data(), length);
    setHModelFromModel(info, console);
    pktWriteString(writer, info, console);
}

void transcodeBaseline(PacketReader& reader, PacketWriter& writer, Console& console) {
    pktWriteBits(writer, OP_BASELINE, 8);
    const std::uint32_t entityNumber = pktReadBits(reader, ENTITY_NUMBER_BITS);
    pktWriteBits(writer, std::int32_t(entityNumber), ENTITY_NUMBER_BITS);
    if (entityNumber == 0) console.print("Baseline number out of range!\n");
    transcodeEntityDelta(reader, writer);
}

}  // namespace

void transcodeGameState(PacketReader& reader, PacketWriter& writer, Console& console) {
    pktWriteBits(writer, std::int32_t(pktReadBits(reader, 32)), 32);
    // Data cut short reads as zero bits; stop there rather than invent entries from them.
    while (!reader.pastEnd) {
        const std::uint32_t code = pktReadBits(reader, 8);
        if (reader.pastEnd) return;
        switch (code) {
            case GAMESTATE_END: pktWriteBits(writer, std::int32_t(code), 8); return;
            case OP_CONFIGSTRING: transcodeConfigString(reader, writer, console); break;
            case OP_BASELINE: transcodeBaseline(reader, writer, console); break;
            default:
                // Not an entry: keep the code and read the next one from the very next bit.
                pktWriteBits(writer, std::int32_t(code), 8);
                console.print("Bad GameState command byte!\n");
                break;
        }
    }
}

}  // namespace tarnic
