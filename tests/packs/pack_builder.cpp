#include "packs/pack_builder.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "packs/utf8_locale.h"

namespace tarnic::test {

namespace {

/// Sets the encryption flag of the zip members meant encrypted, in their local and
/// central headers: a reader then takes their bytes for encrypted ones.
void markEncrypted(const std::filesystem::path& path, const std::vector<TestMember>& members) {
    Bytes pack = readFileBytes(path);
    for (const TestMember& member : members) {
        if (!member.encrypted) continue;
        const std::size_t local = offsetOf(pack, member.name) - 30;
        pack[local + 6] |= 1;
        const std::size_t central = offsetOf(pack, member.name, offsetOf(pack, "PK\x01\x02")) - 46;
        pack[central + 8] |= 1;
    }
    writeFileBytes(path, pack);
}

}  // namespace

void buildPack(const std::filesystem::path& path, packs::PackFormat format, packs::PackFilter filter,
               const std::vector<TestMember>& members) {
    const packs::Utf8Locale locale;  // names outside ASCII written as UTF-8
    archive* pack = archive_write_new();
    if (format == packs::PackFormat::Zip) {
        archive_write_set_format_zip(pack);
    } else {
        archive_write_set_format_pax_restricted(pack);
        switch (filter) {
        case packs::PackFilter::None: break;
        case packs::PackFilter::Gzip: archive_write_add_filter_gzip(pack); break;
        case packs::PackFilter::Bzip2: archive_write_add_filter_bzip2(pack); break;
        case packs::PackFilter::Xz: archive_write_add_filter_xz(pack); break;
        case packs::PackFilter::Zstd: archive_write_add_filter_zstd(pack); break;
        }
    }
    std::filesystem::create_directories(path.parent_path());
    if (archive_write_open_filename(pack, path.c_str()) != ARCHIVE_OK) throw std::runtime_error("cannot write pack");
    for (const TestMember& member : members) {
        archive_entry* entry = archive_entry_new();
        archive_entry_copy_pathname(entry, member.name.c_str());
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_mtime(entry, 1700000000, 0);
        switch (member.kind) {
        case packs::MemberKind::File:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_size(entry, la_int64_t(member.bytes.size()));
            break;
        case packs::MemberKind::Link:
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_copy_symlink(entry, "target.dm3");
            break;
        case packs::MemberKind::Folder: archive_entry_set_filetype(entry, AE_IFDIR); break;
        case packs::MemberKind::Other: archive_entry_set_filetype(entry, AE_IFIFO); break;
        }
        if (archive_write_header(pack, entry) != ARCHIVE_OK) {
            throw std::runtime_error(std::string("cannot write member: ") + archive_error_string(pack));
        }
        if (!member.bytes.empty()) archive_write_data(pack, member.bytes.data(), member.bytes.size());
        archive_entry_free(entry);
    }
    archive_write_close(pack);
    archive_write_free(pack);
    markEncrypted(path, members);
}

std::vector<std::pair<std::string, Bytes>> readPackMembers(const std::filesystem::path& path) {
    std::vector<std::pair<std::string, Bytes>> members;
    packs::PackReader reader(path.string());
    EXPECT_TRUE(reader.opened()) << path << ": " << reader.error();
    while (reader.next() == packs::PackReader::Step::Member) {
        Bytes bytes;
        std::uint8_t chunk[4096];
        for (std::size_t got; (got = reader.data().read(chunk, sizeof chunk)) > 0;) {
            bytes.insert(bytes.end(), chunk, chunk + got);
        }
        EXPECT_FALSE(reader.data().failed()) << reader.member().name;
        members.emplace_back(reader.member().name, std::move(bytes));
    }
    return members;
}

std::size_t offsetOf(const Bytes& bytes, const std::string& text, std::size_t from) {
    const auto found = std::search(bytes.begin() + std::ptrdiff_t(from), bytes.end(), text.begin(), text.end(),
                                   [](std::uint8_t byte, char letter) { return byte == std::uint8_t(letter); });
    if (found == bytes.end()) throw std::runtime_error("not in the pack: " + text);
    return std::size_t(found - bytes.begin());
}

}  // namespace tarnic::test
