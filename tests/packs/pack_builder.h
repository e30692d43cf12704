#pragma once

// Builds packs for the tests with the archive library's own writer, any member the
// tests need: links, folders, encrypted members, names no safe pack holds.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "packs/pack_reader.h"
#include "support/demo_file.h"

namespace tarnic::test {

struct TestMember {
    std::string name;
    Bytes bytes;
    packs::MemberKind kind = packs::MemberKind::File;
    bool encrypted = false;  ///< zip only: flagged as encrypted
};

/// Writes a pack of `members`, in order; a Link member links to "target.dm3".
void buildPack(const std::filesystem::path& path, packs::PackFormat format, packs::PackFilter filter,
               const std::vector<TestMember>& members);

/// A pack's members as read back, name and bytes (folders with none), in order; a
/// member whose bytes fail to read is a test failure.
std::vector<std::pair<std::string, Bytes>> readPackMembers(const std::filesystem::path& path);

/// The offset of the first occurrence of `text` in `bytes`, which must hold it.
std::size_t offsetOf(const Bytes& bytes, const std::string& text, std::size_t from = 0);

}  // namespace tarnic::test
