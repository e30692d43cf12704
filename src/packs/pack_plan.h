#pragma once

// What converting a pack does with each of its members.

#include <string>

#include "packs/pack_reader.h"

namespace tarnic::packs {

enum class MemberAction {
    Convert,  ///< a demo: converted, its output named as the single-file form names it
    Copy,     ///< any other file: copied unchanged into the converted pack
    Folder,   ///< a folder entry: kept in the converted pack
    Leave,    ///< left out, and reported
};

struct MemberPlan {
    MemberAction action = MemberAction::Leave;
    /// Leave: the member cannot be read (damaged, encrypted), which fails the pack's
    /// conversion; otherwise it was left out on purpose.
    bool failure = false;
    /// Leave, or Copy of a pack inside the pack: what the member's report line says.
    std::string reason;
};

/// The plan for `member`. A name that could lead outside a destination, a link, a
/// device and an unreadable member are left out; a pack inside the pack is copied
/// as it is, never opened, and said so.
MemberPlan planMember(const PackMember& member);

}  // namespace tarnic::packs
