#include "transcode/server_command.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "transcode/command_rewrite.h"

namespace tarnic {

namespace {

/// Reads the command text as pktReadString does, but where it lies whole in the
/// payload, on a byte boundary and ended by its NUL, it is taken where it stands.
std::string_view readCommandText(PacketReader& reader, StringBuffer& buffer) {
    if (reader.bitOffset == 0 && reader.bytePos < reader.size) {
        const char* const start = reinterpret_cast<const char*>(reader.data) + reader.bytePos;
        const std::size_t available = std::min<std::size_t>(reader.size - reader.bytePos, MAX_READ_STRING_CHARS);
        if (const void* nul = std::memchr(start, 0, available)) {
            const auto length = std::size_t(static_cast<const char*>(nul) - start);
            reader.bytePos += std::uint32_t(length + 1);
            return {start, length};
        }
    }
    const std::size_t length = pktReadString(reader, buffer);
    return {buffer.data(), length};
}

}  // namespace

void transcodeServerCommand(PacketReader& reader, PacketWriter& writer, Console& console) {
    const std::uint32_t leadingValue = pktReadBits(reader, 32);
    pktWriteBits(writer, std::int32_t(leadingValue), 32);
    StringBuffer command;
    RewriteBuffer rewritten;
    static_assert(MAX_REWRITTEN_COMMAND_CHARS >= MAX_READ_STRING_CHARS);
    pktWriteString(writer, rewriteServerCommand(readCommandText(reader, command), rewritten), console);
}

}  // namespace tarnic
