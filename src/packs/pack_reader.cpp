#include "packs/pack_reader.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/ascii_case.h"
#include "packs/archive_error.h"
#include "packs/pack_names.h"
#include "packs/pack_writer.h"
#include "packs/utf8_locale.h"

namespace tarnic::packs {
namespace {

/// Bytes the archive library reads from the file at a time.
constexpr std::size_t READ_BLOCK_BYTES = 64 << 10;


MemberKind kindOf(archive_entry* entry) {
    if (archive_entry_hardlink(entry) != nullptr) return MemberKind::Link;
    switch (archive_entry_filetype(entry)) {
    case AE_IFREG: return MemberKind::File;
    case AE_IFLNK: return MemberKind::Link;
    case AE_IFDIR: return MemberKind::Folder;
    default: return MemberKind::Other;
    }
}

}  // namespace

bool isDemoName(std::string_view name) { return endsWithIgnoringAsciiCase(name, ".dm3"); }

bool isPackName(std::string_view name) { return packSuffixSize(name) > 0; }

std::string convertedPackName(const std::string& packName) {
    const std::size_t suffix = packSuffixSize(packName);
    if (suffix == 0) return "";
    const std::size_t stem = packName.size() - suffix;
    return packName.substr(0, stem) + ".dm_48" + packName.substr(stem);
}

std::string convertedMemberName(const std::string& memberName) { return memberName + ".dm_48"; }

bool isUnsafeMemberName(std::string_view name) {
    if (name.empty() || name.front() == '/') return true;
    if (name.find('\\') != std::string_view::npos || name.find('\0') != std::string_view::npos) return true;
    if (name.size() >= 2 && name[1] == ':' && foldAsciiLetter(name[0]) >= 'a' && foldAsciiLetter(name[0]) <= 'z') {
        return true;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = name.find('/', start);
        if (name.substr(start, slash - start) == "..") return true;
        if (slash == std::string_view::npos) return false;
        start = slash + 1;
    }
}

/// The current member's bytes, straight from the archive library's decoder.
class MemberBytes final : public ByteSource {
public:
    explicit MemberBytes(archive* pack) : pack_(pack) {}

    std::size_t read(std::uint8_t* into, std::size_t count) override {
        const Utf8Locale locale;
        std::size_t done = 0;
        while (done < count && !failed_ && !atEnd_) {
            const la_ssize_t got = archive_read_data(pack_, into + done, count - done);
            if (got < 0) {
                failed_ = true;
                fatal_ = got == ARCHIVE_FATAL;
                error_ = errorOf(pack_, "unreadable member");
            } else if (got == 0) {
                atEnd_ = true;
            } else {
                done += std::size_t(got);
            }
        }
        return done;
    }

    bool failed() const override { return failed_; }

    void restart() {
        failed_ = fatal_ = atEnd_ = false;
        error_.clear();
    }

    const std::string& error() const { return error_; }
    bool fatal() const { return fatal_; }

private:
    archive* pack_;
    bool failed_ = false;
    bool fatal_ = false;
    bool atEnd_ = false;
    std::string error_;
};

class PackReader::Impl {
public:
    explicit Impl(const std::string& path) : pack_(archive_read_new()), bytes_(pack_) {
        const Utf8Locale locale;
        if (pack_ == nullptr) {
            error_ = "out of memory";
            return;
        }
        archive_read_support_format_zip(pack_);
        archive_read_support_format_tar(pack_);
        archive_read_support_filter_gzip(pack_);
        archive_read_support_filter_bzip2(pack_);
        archive_read_support_filter_xz(pack_);
        archive_read_support_filter_zstd(pack_);
        // Opened without waiting and judged by what was opened, so that a pipe or a
        // device put in the pack's place is refused rather than read forever.
        file_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (file_ < 0) {
            error_ = std::string("cannot open the pack: ") + std::strerror(errno);
            return;
        }
        struct stat status {};
        if (::fstat(file_, &status) != 0 || !S_ISREG(status.st_mode)) {
            error_ = "not a regular file";
            return;
        }
        ::fcntl(file_, F_SETFL, ::fcntl(file_, F_GETFL) & ~O_NONBLOCK);
        if (archive_read_open_fd(pack_, file_, READ_BLOCK_BYTES) != ARCHIVE_OK) {
            error_ = errorOf(pack_, "cannot open the pack");
            return;
        }
        opened_ = true;
    }

    ~Impl() {
        if (pack_ != nullptr) archive_read_free(pack_);
        if (file_ >= 0) ::close(file_);
    }

    Step next() {
        if (!opened_ || broken_) return Step::Broken;
        if (bytes_.fatal()) {
            // The library cannot find the next member after a fatal read.
            broken_ = true;
            error_ = bytes_.error();
            return Step::Broken;
        }
        const Utf8Locale locale;
        archive_entry* entry = nullptr;
        int status = ARCHIVE_OK;
        {
            const std::lock_guard hold(headerLock());
            status = archive_read_next_header(pack_, &entry);
        }
        bytes_.restart();
        if (status == ARCHIVE_EOF) return Step::End;
        if (status == ARCHIVE_FATAL || status == ARCHIVE_RETRY || entry == nullptr) {
            broken_ = true;
            error_ = errorOf(pack_, "damaged pack");
            return Step::Broken;
        }
        member_ = PackMember{};
        const char* name = archive_entry_pathname(entry);
        if (name == nullptr) name = archive_entry_pathname_utf8(entry);
        member_.name = name != nullptr ? name : "";
        member_.kind = kindOf(entry);
        if (archive_entry_size_is_set(entry) && archive_entry_size(entry) >= 0) {
            member_.size = std::uint64_t(archive_entry_size(entry));
        }
        member_.unsafeName = isUnsafeMemberName(member_.name);
        member_.demo = member_.kind == MemberKind::File && isDemoName(member_.name);
        member_.pack = member_.kind == MemberKind::File && isPackName(member_.name);
        member_.encrypted = archive_entry_is_encrypted(entry) != 0;
        if (archive_entry_mtime_is_set(entry)) member_.modified = std::int64_t(archive_entry_mtime(entry));
        member_.permissions = unsigned(archive_entry_perm(entry));
        if (status == ARCHIVE_FAILED) {
            member_.problem = errorOf(pack_, "undecodable member");
        } else if (name == nullptr) {
            member_.problem = "its name cannot be read";
        }
        noteFormat();
        return Step::Member;
    }

    const PackMember& member() const { return member_; }
    MemberBytes& bytes() { return bytes_; }
    const std::string& error() const { return error_; }
    bool opened() const { return opened_; }
    PackFormat format() const { return format_; }
    PackFilter filter() const { return filter_; }

private:
    void noteFormat() {
        format_ = (archive_format(pack_) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ZIP ? PackFormat::Zip
                                                                                           : PackFormat::Tar;
        switch (archive_filter_code(pack_, 0)) {
        case ARCHIVE_FILTER_GZIP: filter_ = PackFilter::Gzip; break;
        case ARCHIVE_FILTER_BZIP2: filter_ = PackFilter::Bzip2; break;
        case ARCHIVE_FILTER_XZ: filter_ = PackFilter::Xz; break;
        case ARCHIVE_FILTER_ZSTD: filter_ = PackFilter::Zstd; break;
        default: filter_ = PackFilter::None; break;
        }
    }

    archive* pack_;
    int file_ = -1;
    MemberBytes bytes_;
    PackMember member_;
    std::string error_;
    bool opened_ = false;
    bool broken_ = false;
    PackFormat format_ = PackFormat::Zip;
    PackFilter filter_ = PackFilter::None;
};

PackReader::PackReader(const std::string& path) : impl_(std::make_unique<Impl>(path)) {}
PackReader::~PackReader() = default;
bool PackReader::opened() const { return impl_->opened(); }
PackReader::Step PackReader::next() { return impl_->next(); }
const PackMember& PackReader::member() const { return impl_->member(); }
ByteSource& PackReader::data() { return impl_->bytes(); }
std::string PackReader::dataError() const { return impl_->bytes().error(); }
std::string PackReader::error() const { return impl_->error(); }
PackFormat PackReader::format() const { return impl_->format(); }
PackFilter PackReader::filter() const { return impl_->filter(); }

PackLook lookForDemo(const std::string& path) {
    PackReader reader(path);
    if (!reader.opened()) return {false, reader.error()};
    PackReader::Step step;
    while ((step = reader.next()) == PackReader::Step::Member) {
        if (reader.member().demo) return {true, {}};
    }
    if (step == PackReader::Step::Broken) return {false, reader.error()};
    return {};
}

}  // namespace tarnic::packs
