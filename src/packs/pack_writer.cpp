#include "packs/pack_writer.h"

#include <archive.h>
#include <archive_entry.h>

#include <cstdio>
#include <vector>

#include "packs/archive_error.h"
#include "packs/utf8_locale.h"

namespace tarnic::packs {
namespace {

/// Bytes moved from a member's stream into the pack at a time.
constexpr std::size_t COPY_BYTES = 64 << 10;

/// An entry freed when its owner goes.
class Entry {
public:
    Entry(const std::string& name, unsigned type, unsigned permissions, const MemberStamp& stamp)
        : entry_(archive_entry_new()) {
        if (entry_ == nullptr) return;
        archive_entry_copy_pathname(entry_, name.c_str());
        archive_entry_set_filetype(entry_, type);
        archive_entry_set_perm(entry_, permissions);
        if (stamp.modified) archive_entry_set_mtime(entry_, *stamp.modified, 0);
    }
    ~Entry() {
        if (entry_ != nullptr) archive_entry_free(entry_);
    }
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;
    archive_entry* get() const { return entry_; }

private:
    archive_entry* entry_;
};

}  // namespace

class PackWriter::Impl {
public:
    Impl(int file, PackFormat format, PackFilter filter) : pack_(archive_write_new()) {
        const Utf8Locale locale;
        if (pack_ == nullptr) {
            fail("out of memory");
            return;
        }
        int status = ARCHIVE_OK;
        if (format == PackFormat::Zip) {
            status = archive_write_set_format_zip(pack_);
        } else {
            // ustar where it fits, extended headers for long names, names outside ASCII
            // and large sizes.
            status = archive_write_set_format_pax_restricted(pack_);
            switch (filter) {
            case PackFilter::None: break;
            case PackFilter::Gzip: status = archive_write_add_filter_gzip(pack_); break;
            case PackFilter::Bzip2: status = archive_write_add_filter_bzip2(pack_); break;
            case PackFilter::Xz: status = archive_write_add_filter_xz(pack_); break;
            case PackFilter::Zstd: status = archive_write_add_filter_zstd(pack_); break;
            }
            // A compressed tar ends where its data ends, not padded to a whole block.
            if (status == ARCHIVE_OK && filter != PackFilter::None) archive_write_set_bytes_in_last_block(pack_, 1);
        }
        if (status != ARCHIVE_OK || archive_write_open_fd(pack_, file) != ARCHIVE_OK) {
            fail(errorOf(pack_, "cannot start the pack"));
        }
    }

    ~Impl() {
        if (pack_ != nullptr) archive_write_free(pack_);
    }

    bool addFile(const std::string& name, std::uint64_t size, ByteSource& bytes, const MemberStamp& stamp) {
        if (failed_) return false;
        const Utf8Locale locale;
        const Entry entry(name, AE_IFREG, stamp.permissions, stamp);
        if (entry.get() == nullptr) return fail("out of memory");
        archive_entry_set_size(entry.get(), la_int64_t(size));
        if (writeHeader(entry.get()) != ARCHIVE_OK) return fail(errorOf(pack_, "cannot write"));
        buffer_.resize(COPY_BYTES);
        std::uint64_t left = size;
        while (left > 0) {
            const std::size_t want = left < buffer_.size() ? std::size_t(left) : buffer_.size();
            const std::size_t got = bytes.read(buffer_.data(), want);
            if (got != want) return fail("the member's bytes ended short of its size");
            if (archive_write_data(pack_, buffer_.data(), got) != la_ssize_t(got)) {
                return fail(errorOf(pack_, "cannot write"));
            }
            left -= got;
        }
        if (archive_write_finish_entry(pack_) != ARCHIVE_OK) return fail(errorOf(pack_, "cannot write"));
        return true;
    }

    bool addFolder(const std::string& name, const MemberStamp& stamp) {
        if (failed_) return false;
        const Utf8Locale locale;
        const Entry entry(name, AE_IFDIR, stamp.permissions, stamp);
        if (entry.get() == nullptr) return fail("out of memory");
        if (writeHeader(entry.get()) != ARCHIVE_OK) return fail(errorOf(pack_, "cannot write"));
        return true;
    }

    bool finish() {
        if (failed_) return false;
        const Utf8Locale locale;
        if (archive_write_close(pack_) != ARCHIVE_OK) return fail(errorOf(pack_, "cannot write"));
        return true;
    }

    const std::string& error() const { return error_; }

private:
    int writeHeader(archive_entry* entry) {
        const std::lock_guard hold(headerLock());
        return archive_write_header(pack_, entry);
    }

    bool fail(std::string why) {
        failed_ = true;
        error_ = std::move(why);
        return false;
    }

    archive* pack_;
    std::vector<std::uint8_t> buffer_;
    bool failed_ = false;
    std::string error_;
};

PackWriter::PackWriter(int file, PackFormat format, PackFilter filter)
    : impl_(std::make_unique<Impl>(file, format, filter)) {}
PackWriter::~PackWriter() = default;
bool PackWriter::addFile(const std::string& name, std::uint64_t size, ByteSource& bytes, const MemberStamp& stamp) {
    return impl_->addFile(name, size, bytes, stamp);
}
bool PackWriter::addFolder(const std::string& name, const MemberStamp& stamp) { return impl_->addFolder(name, stamp); }
bool PackWriter::finish() { return impl_->finish(); }
std::string PackWriter::error() const { return impl_->error(); }

/// A scratch file of the C library, buffered by it.
class Spool::Impl final : public ByteSink, public ByteSource {
public:
    Impl() : file_(std::tmpfile()) {}
    ~Impl() override {
        if (file_ != nullptr) std::fclose(file_);
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    bool opened() const { return file_ != nullptr; }

    bool write(const std::uint8_t* bytes, std::size_t count) override {
        if (file_ == nullptr || failed_) return false;
        if (count == 0) return true;
        if (std::fwrite(bytes, 1, count, file_) != count) failed_ = true;
        size_ += failed_ ? 0 : count;
        return !failed_;
    }

    bool rewind() {
        if (file_ == nullptr || failed_ || std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0) {
            failed_ = true;
            return false;
        }
        return true;
    }

    std::size_t read(std::uint8_t* into, std::size_t count) override {
        if (file_ == nullptr) return 0;
        const std::size_t got = std::fread(into, 1, count, file_);
        if (got < count && std::ferror(file_)) failed_ = true;
        return got;
    }

    bool failed() const override { return failed_; }
    std::uint64_t size() const { return size_; }

private:
    std::FILE* file_;
    std::uint64_t size_ = 0;
    bool failed_ = false;
};

Spool::Spool() : impl_(std::make_unique<Impl>()) {}
Spool::~Spool() = default;
bool Spool::opened() const { return impl_->opened(); }
ByteSink& Spool::sink() { return *impl_; }
bool Spool::rewind() { return impl_->rewind(); }
std::uint64_t Spool::size() const { return impl_->size(); }
ByteSource& Spool::source() { return *impl_; }

}  // namespace tarnic::packs
