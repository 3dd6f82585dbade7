// Files and paths: reading whole files as bytes, line splitting, the atomic
// replace-file writer, the all-or-nothing writer of several files, and the
// one place where a path read from a file (CP932 bytes) becomes a native
// path. Operating-system calls are in system/Platform.h.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace melodrift {

// The whole file as bytes. Throws std::system_error when it cannot be opened
// or read (missing, unreadable, a folder).
std::string ReadFileBytes(const std::filesystem::path& path);

// Lines separated by CR, LF or CR LF; a final line break adds no empty line.
std::vector<std::string> SplitLines(std::string_view bytes);

// Longest line the host-file readers accept [bytes]. No host writes lines
// anywhere near this; a longer one is damage or not a host file, and reading
// it whole would let a file of any size fill memory.
inline constexpr std::size_t kMaxLineBytes = 64 * 1024;

// A line longer than the reader accepts; the message names the file and the
// line number.
class LineTooLong : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Reads the file line by line (CR, LF or CR LF, as SplitLines) without
// holding more than one line: `onLine` gets each line and returns false to
// stop. Throws LineTooLong for a line longer than `maxLineBytes`, and
// std::system_error when the file cannot be opened or read (a folder is
// named as one).
void ReadLines(const std::filesystem::path& path, std::size_t maxLineBytes,
               const std::function<bool(std::string_view line)>& onLine);

// Each line followed by CR LF (so the text ends with a line break).
std::string JoinLinesCrLf(const std::vector<std::string>& lines);

// Writes `bytes` to a temporary file in the target's folder, flushes it to
// disk and renames it over `path`, so that readers see either the old file or
// the new one, never a truncated one. On any failure the temporary file is
// removed, the target is left as it was, and std::system_error (or
// std::filesystem::filesystem_error) is thrown.
//
// The writer keeps what the user set up: a symbolic link stays a link and
// the file it points to gets the content; the new file gets the old one's
// mode bits, extended attributes and access list, or nothing is written
// (platform::CopyFileMetadata), and its owner and group where the process
// may set them. A folder or a device in the target's place is refused
// before anything is written, and so is a file with other names (hard
// links), which the rename would split. Temporary files are named
// ".melodrift-<process>-<random>.tmp" (short, so that any name the file
// system accepts can be written), and leftovers of earlier runs next to the
// target are removed when they are older than an hour or their writer no
// longer runs.
void WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// Several files replaced together, all or none, even when the process dies
// or the power fails in the middle. Commit writes every content to a
// temporary file beside its target and syncs it, gives every old file a
// second name, then writes and syncs an intent record (which files, their
// new and old versions) in the first target's folder (a pointer to it in
// every other folder), and only then renames the new versions over the
// targets one after the other, syncing the folder after each. The old
// versions and the record are removed once every target is final, the
// record last. When a rename fails, the files already replaced get their old
// versions back and the error is thrown; when that rollback fails too,
// nothing more is removed and the error names every file and where its old
// version is kept. A later run that finds the record (RecoverInterruptedCommits)
// finishes or undoes the commit. Each file is written as WriteFileAtomically
// writes it.
class FileTransaction {
  public:
    // Adds the content `path` is to get; a second Add for the same path
    // replaces the first.
    void Add(const std::filesystem::path& path, std::string bytes);
    bool Empty() const { return files_.empty(); }
    // Writes and replaces every file; the transaction is empty afterwards,
    // whether it succeeded or threw.
    void Commit();

  private:
    struct Pending {
        std::filesystem::path path;
        std::string bytes;
    };
    std::vector<Pending> files_;
};

// Finishes or undoes, before anything else is done in `folder`, every
// commit of several files that a run ended in its middle (killed, power
// lost) and whose record is in `folder`: the commit is finished when all its
// new versions can still be renamed, undone when its rollback had begun, so
// that all its files are of one generation. Records of runs still going are
// left alone. Returns a sentence (Japanese) for each record found: which
// files were finished or put back, or what could not be done and where the
// old versions are kept.
std::vector<std::string> RecoverInterruptedCommits(const std::filesystem::path& folder);

// What a run does first in every folder it is about to touch (the plug-in
// file's, the recording's, the voice folder, an output's): RecoverInterrupted-
// Commits in each of `folders` (each once; an empty path is the working
// folder), each sentence handed to `tell`. Returns how many were told.
int RecoverInterruptedCommitsIn(const std::vector<std::filesystem::path>& folders,
                                const std::function<void(const std::string& text)>& tell);

// Where the writers report what they did on their own (a commit recovered
// before a write): the handler gets the sentence; without one it goes to
// stderr.
void SetFileNoticeHandler(std::function<void(const std::string& text)> handler);
void ReportFileNotice(const std::string& text);

// Test seam of the writers: the steps of writing files that can fail.
// Keep: giving the new file what the old one has besides its content (a
// failure is an attribute the new file cannot take); Journal: writing the
// intent record; Restore: putting an old file back; Remove: removing a
// temporary file, an old version or the record.
enum class FileStep {
    Create,
    Write,
    Flush,
    Sync,
    Close,
    Keep,
    Backup,
    Journal,
    Rename,
    Restore,
    Remove
};
// Called before each step with the step; returning true makes the step fail
// as an I/O error would. Throwing SimulatedProcessDeath ends the write there
// as if the process had been killed: nothing is cleaned up or put back.
// Each write step writes at most kWriteChunkBytes.
using FileFaultHook = std::function<bool(FileStep step)>;
struct SimulatedProcessDeath {};
inline constexpr std::size_t kWriteChunkBytes = 64 * 1024;
// Installs the hook for the calling thread (an empty hook removes it).
void SetFileFaultHook(FileFaultHook hook);

// The prefix and suffix of the writers' temporary file names.
inline constexpr std::string_view kTemporaryPrefix = ".melodrift-";
inline constexpr std::string_view kTemporarySuffix = ".tmp";
// Removes the writers' temporary files in `folder` that are older than
// `maxAge` or whose writing process no longer runs; returns how many.
int RemoveStaleTemporaries(const std::filesystem::path& folder,
                           std::chrono::seconds maxAge = std::chrono::hours(1));

// Where a write to `path` lands: `path` itself, or the file at the end of
// its chain of symbolic links (relative links are resolved against the
// link's folder). Throws std::system_error (too many levels) for a loop.
std::filesystem::path WriteTarget(const std::filesystem::path& path);

// A path held as CP932 bytes (from a plug-in file, oto.ini or an edit-state
// file) as a native path: UTF-16 on Windows, UTF-8 elsewhere.
std::filesystem::path NativePath(std::string_view cp932);

// A native path as CP932 bytes, for writing into a file of the host.
std::string PathToCp932(const std::filesystem::path& path);

// A native path as UTF-8, for messages.
std::string PathToUtf8(const std::filesystem::path& path);

// A UTF-8 text (typed by the user, from a dialog or the command line) as a
// native path.
std::filesystem::path Utf8Path(std::string_view utf8);

}  // namespace melodrift
