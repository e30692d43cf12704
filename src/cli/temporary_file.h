#pragma once

#include <string>
#include <system_error>

namespace tarnic::cli {

/// A new file written under a temporary name beside its final one, which it takes
/// only when `commit` succeeds. Until then the final name keeps whatever it held, and
/// the temporary file is removed when its owner goes, on a failure, and when a
/// termination signal ends the program (see termination.h). Owners in several threads
/// at once are safe.
///
/// The temporary name is the final one followed by ".tarnic-<process>-<number>.tmp"
/// (the final name's last part shortened when long), so a file left by a killed run
/// is recognisable and never taken for a demo.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& finalPath);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    /// The open file to write; NO_FILE when it could not be created.
    int file() const { return file_; }

    /// The temporary name, where the whole file can be checked before `commit`.
    const std::string& path() const { return path_; }

    /// Closes the file, which keeps its temporary name; false, removing it, when the
    /// last of its data could not be written.
    bool close();

    /// Closes the file if still open and gives it the final name; false, removing it,
    /// when either fails.
    bool commit();

    /// Removes the file now rather than when its owner goes.
    void discard();

    /// Why creating, closing or naming the file failed, once it has.
    std::error_code error() const { return error_; }

private:
    std::string finalPath_;
    std::string path_;
    int slot_ = -1;
    int file_;
    std::error_code error_;
};

/// Closes the temporary files for good, as a termination signal ends the program: no
/// file is created from now on (a thread about to create one waits for the end), those
/// being created are waited for, and every one is removed.
void closeTemporaryFiles();

/// The temporary name for `finalPath` in the run `process`, `number` telling apart
/// those of one run.
std::string temporaryPathFor(const std::string& finalPath, unsigned long process, unsigned long number);

}  // namespace tarnic::cli
