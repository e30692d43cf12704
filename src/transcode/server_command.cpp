#include "transcode/server_command.h"

#include <cstdint>

#include "transcode/command_rewrite.h"

namespace tarnic {

void transcodeServerCommand(PacketReader& reader, PacketWriter& writer, Console& console) {
    const std::uint32_t leadingValue = pktReadBits(reader, 32);
    pktWriteBits(writer, std::int32_t(leadingValue), 32);
    StringBuffer command;
    const std::size_t length = pktReadString(reader, command);
    pktWriteString(writer, rewriteServerCommand({command.data(), length}), console);
}

}  // namespace tarnic
