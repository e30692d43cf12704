#include "cli/examine_file.h"

#include <new>

#include "cli/file_stream.h"
#include "cli/platform.h"

#if TARNIC_PACKS
#include "packs/pack_reader.h"
#endif

namespace tarnic::cli {

namespace {

constexpr std::size_t FILE_BUFFER_BYTES = 64 << 10;

}  // namespace

FileExamination examineFile(const std::string& path) {
    const std::optional<examine::Protocol> protocol = examine::protocolOfName(path);
    if (!protocol) {
        FileExamination examination;
        examination.path = path;
        examination.error = "not a demo name: the extension must be .dm3 or .dm_48";
        return examination;
    }
    return examineFile(path, *protocol);
}

FileExamination examineFile(const std::string& path, examine::Protocol protocol) {
    FileExamination examination;
    examination.path = path;
    examination.protocol = protocol;
    // Opened without waiting: a pipe or a device by a demo's name would never end.
    const int file = platform::openRegularForReading(path);
    if (file == platform::NOT_REGULAR) {
        examination.error = "not a regular file";
        return examination;
    }
    if (file == platform::NO_FILE) {
        examination.error = "unable to open";
        return examination;
    }
    try {
        FileSource source(file, FILE_BUFFER_BYTES);
        if (!source.readAhead()) {
            examination.error = "unable to read";
        } else {
            examine::DemoReport report = examine::examineDemo(source, protocol);
            if (source.failed()) {
                examination.error = "read error";
            } else {
                examination.report = std::move(report);
            }
        }
    } catch (const std::bad_alloc&) {
        examination.error = "out of memory";
    }
    platform::closeFile(file);
    return examination;
}

#if TARNIC_PACKS
namespace {

/// Reads the current member of `pack` as a demo named `name`.
FileExamination examineMember(packs::PackReader& pack, const std::string& name, examine::Protocol protocol) {
    FileExamination examination;
    examination.path = name;
    examination.protocol = protocol;
    const packs::PackMember& member = pack.member();
    if (member.kind == packs::MemberKind::Link) {
        examination.error = "a link member, not followed";
    } else if (!member.problem.empty()) {
        examination.error = "unreadable member: " + member.problem;
    } else if (member.encrypted) {
        examination.error = "an encrypted member";
    } else {
        examine::DemoReport report = examine::examineDemo(pack.data(), protocol);
        if (pack.data().failed()) {
            examination.error = "read error: " + pack.dataError();
        } else {
            examination.report = std::move(report);
        }
    }
    return examination;
}

}  // namespace

void examinePack(const std::string& path, const std::function<void(FileExamination)>& found) {
    const auto failure = [&](std::string error) {
        FileExamination examination;
        examination.path = path;
        examination.error = std::move(error);
        found(std::move(examination));
    };
    try {
        // The archive library opens the file by name, waiting on a pipe: anything but
        // a regular file is refused first, as a demo is.
        const int file = platform::openRegularForReading(path);
        if (file == platform::NOT_REGULAR) return failure("not a regular file");
        if (file == platform::NO_FILE) return failure("unable to open");
        platform::closeFile(file);
        packs::PackReader pack(path);
        if (!pack.opened()) return failure("unable to open the pack: " + pack.error());
        for (;;) {
            const packs::PackReader::Step step = pack.next();
            if (step == packs::PackReader::Step::End) return;
            if (step == packs::PackReader::Step::Broken) return failure("damaged pack: " + pack.error());
            const packs::PackMember& member = pack.member();
            if (member.kind == packs::MemberKind::Folder || member.kind == packs::MemberKind::Other) continue;
            const std::optional<examine::Protocol> protocol = examine::protocolOfName(member.name);
            if (!protocol) continue;
            found(examineMember(pack, path + ":" + member.name, *protocol));
        }
    } catch (const std::bad_alloc&) {
        failure("out of memory");
    }
}
#endif

}  // namespace tarnic::cli
