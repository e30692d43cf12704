#pragma once

// Writing a new pack member by member into an open file, in the format (and, for tar,
// the compression) of the pack it comes from. Each member is added whole from a
// stream whose size is known: a member whose size is not known yet goes through a
// Spool first.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "packs/pack_reader.h"
#include "tarnic/byte_stream.h"

namespace tarnic::packs {

/// What a member written carries besides its bytes.
struct MemberStamp {
    std::optional<std::int64_t> modified;  ///< seconds since 1970; none for now
    unsigned permissions = 0644;
};

/// Writes one pack. Not for several threads at once.
class PackWriter {
public:
    /// Writes into `file`, open for writing, which the caller keeps open until after
    /// `finish` and then closes. Zip member names carry the UTF-8 flag where they are
    /// not plain ASCII; tar names outside ASCII are kept in extended headers.
    PackWriter(int file, PackFormat format, PackFilter filter);
    ~PackWriter();
    PackWriter(const PackWriter&) = delete;
    PackWriter& operator=(const PackWriter&) = delete;

    /// Adds a regular file `name` of exactly `size` bytes read from `bytes`; false when
    /// the pack could not be written, or `bytes` failed or ended short, which leaves the
    /// pack unusable: `error()` says why.
    bool addFile(const std::string& name, std::uint64_t size, ByteSource& bytes, const MemberStamp& stamp);

    /// Adds a folder entry `name`.
    bool addFolder(const std::string& name, const MemberStamp& stamp);

    /// Writes the end of the pack and flushes it into the file; false when that failed.
    bool finish();

    std::string error() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

/// A scratch file holding one member's bytes while its size is not known: written
/// through `sink()`, then read back through `source()`. It has no name, so nothing of
/// it remains however the program ends. Memory stays at one buffer.
class Spool {
public:
    Spool();
    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    /// False when no scratch file could be made.
    bool opened() const;
    ByteSink& sink();
    /// Rewinds to the start for reading what was written; false when writing failed.
    bool rewind();
    /// Bytes written.
    std::uint64_t size() const;
    ByteSource& source();

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

/// The name of the converted pack written beside `packName` (a file name or a path):
/// the pack suffix is kept last and ".dm_48" goes before it, so that the two sort side
/// by side and the new one says what it holds: "pack.zip" -> "pack.dm_48.zip",
/// "maps.tar.gz" -> "maps.dm_48.tar.gz", "old.TGZ" -> "old.dm_48.TGZ". Empty when
/// `packName` is no pack name.
std::string convertedPackName(const std::string& packName);

/// The converted name of a demo member, as the single-file form names outputs:
/// "maps/final.dm3" -> "maps/final.dm3.dm_48".
std::string convertedMemberName(const std::string& memberName);

}  // namespace tarnic::packs
