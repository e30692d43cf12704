#include "packs/pack_plan.h"

namespace tarnic::packs {

MemberPlan planMember(const PackMember& member) {
    // The name first: an unsafe one is never written, whatever it holds.
    if (member.unsafeName) return {MemberAction::Leave, false, "unsafe name, not written"};
    if (!member.problem.empty()) return {MemberAction::Leave, true, "unable to read: " + member.problem};
    switch (member.kind) {
    case MemberKind::Link: return {MemberAction::Leave, false, "a link, neither followed nor written"};
    case MemberKind::Other: return {MemberAction::Leave, false, "not a regular file, not written"};
    case MemberKind::Folder: return {MemberAction::Folder, false, ""};
    case MemberKind::File: break;
    }
    if (member.encrypted) return {MemberAction::Leave, true, "encrypted, unable to read"};
    if (member.demo) return {MemberAction::Convert, false, ""};
    if (member.pack) return {MemberAction::Copy, false, "a pack inside the pack, not opened"};
    return {MemberAction::Copy, false, ""};
}

}  // namespace tarnic::packs
