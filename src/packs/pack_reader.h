#pragma once

// Reading a demo pack (a zip file, or a tar archive plain or compressed with gzip,
// bzip2, xz or zstd) member by member, in the order the pack stores them, each
// member's bytes streamed: memory stays bounded whatever the size of a member or of
// the pack. Nothing here writes a file or follows a link.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "tarnic/byte_stream.h"

namespace tarnic::packs {

/// How a pack stores its members.
enum class PackFormat { Zip, Tar };

/// The compression wrapped around a tar pack; a zip pack's is None.
enum class PackFilter { None, Gzip, Bzip2, Xz, Zstd };

/// What a member is, as the pack records it.
enum class MemberKind {
    File,    ///< a regular file, whose bytes can be read
    Link,    ///< a symbolic or hard link: never followed, never created
    Folder,  ///< a folder entry
    Other,   ///< a device, a pipe or anything else: nothing to read
};

/// One member, as the pack describes it before its bytes are read.
struct PackMember {
    std::string name;                  ///< as stored (UTF-8 where the pack says so)
    MemberKind kind = MemberKind::Other;
    std::optional<std::uint64_t> size;  ///< as stored, which may lie; none where unknown
    bool demo = false;        ///< a regular file named ".dm3", any letter case
    bool unsafeName = false;  ///< its name could lead outside a destination (see isUnsafeMemberName)
    bool pack = false;        ///< itself a pack, by its name: reported, never opened
    bool encrypted = false;   ///< its bytes are encrypted: they cannot be read
    /// Why the pack could not describe or decode this member (an unsupported
    /// compression, a damaged header); empty when its bytes can be read.
    std::string problem;
    std::optional<std::int64_t> modified;  ///< seconds since 1970, where stored
    unsigned permissions = 0644;           ///< as stored
};

/// True for a name ending ".dm3", any letter case.
bool isDemoName(std::string_view name);

/// True for the name of a pack this reads: ".zip", ".tar", ".tar.gz", ".tgz",
/// ".tar.bz2", ".tbz2", ".tar.xz", ".txz", ".tar.zst", ".tzst", any letter case.
bool isPackName(std::string_view name);

/// True when a member name could lead outside the folder it is written under, or
/// means something else on another system: empty, absolute ("/x", "\\x"), with a
/// drive letter ("C:x"), holding a backslash or a ".." part, or a NUL byte.
bool isUnsafeMemberName(std::string_view name);

/// Reads one pack from a file. Not for several threads at once.
class PackReader {
public:
    /// Opens the pack at `path` (UTF-8); `opened()` says whether it could.
    explicit PackReader(const std::string& path);
    ~PackReader();
    PackReader(const PackReader&) = delete;
    PackReader& operator=(const PackReader&) = delete;

    /// False when the file could not be opened or is no pack this reads; `error()` says why.
    bool opened() const;

    /// What `next` found.
    enum class Step {
        Member,  ///< `member()` describes the next member; its bytes follow in `data()`
        End,     ///< no member is left
        Broken,  ///< the pack is damaged past reading on; `error()` says why
    };

    /// Moves to the next member, skipping whatever of the current one was not read.
    /// A member the pack cannot decode comes with its `problem` set and the walk goes
    /// on; only damage that leaves no next member to find gives Broken.
    Step next();

    /// The current member, after `next` gave Member.
    const PackMember& member() const;

    /// The current member's bytes, valid until the next call of `next`. A read that
    /// fails part-way (damaged or encrypted bytes, a stored size or checksum that does
    /// not match) makes `failed()` true and `dataError()` say why.
    ByteSource& data();

    /// Why reading the current member's bytes failed, once it has.
    std::string dataError() const;

    /// Why the pack could not be opened, or why it is broken.
    std::string error() const;

    /// The pack's format and compression, known once `next` has given a member.
    PackFormat format() const;
    PackFilter filter() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

/// What a look at a pack's member headers finds: whether it holds a demo member and,
/// where the look stopped before finding one, why the pack could not be read.
struct PackLook {
    bool holdsDemo = false;
    std::string error;
};

/// Looks through the member headers of the pack at `path` for a demo: no bytes are
/// decoded but what a compressed tar needs to reach them.
PackLook lookForDemo(const std::string& path);

}  // namespace tarnic::packs
