#include "transcode/server_command.h"

namespace tarnic {

void transcodeServerCommand(PacketReader&, PacketWriter&, Console&) {}

}  // namespace tarnic
