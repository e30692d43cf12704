#include "transcode/game_state.h"

namespace tarnic {

void transcodeGameState(PacketReader&, PacketWriter&, Console&) {}

}  // namespace tarnic
