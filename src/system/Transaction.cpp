// The writers: one file replaced atomically, several replaced together
// through an intent record (Journal.cpp), and the clean-up of what earlier
// runs left behind.
#include "system/FileSteps.h"
#include "system/Files.h"
#include "system/Platform.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace melodrift {

namespace fs = std::filesystem;

namespace filesteps {

namespace {

thread_local FileFaultHook faultHook;

// A new, empty file with a temporary name in `folder`, open for writing.
std::FILE* CreateTemporary(const fs::path& folder, fs::path& temporary) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary = folder / TemporaryName(platform::CurrentProcessId(), kTemporarySuffix);
        errno = 0;
        std::FILE* file = platform::CreateNewFile(temporary);
        if (file != nullptr || errno != EEXIST) return file;
    }
    return nullptr;
}

// The folder a file is in, "." for a bare name.
fs::path FolderOf(const fs::path& file) {
    const fs::path folder = file.parent_path();
    return folder.empty() ? fs::path(".") : folder;
}

}  // namespace

bool Faulted(FileStep step) { return faultHook && faultHook(step); }

std::system_error WriteError(int error, const fs::path& path) {
    return std::system_error(error != 0 ? error : EIO, std::generic_category(), PathToUtf8(path));
}

std::string TemporaryName(std::uint32_t processId, std::string_view suffix) {
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string process;
    do {
        process.insert(process.begin(), kDigits[processId % 36]);
        processId /= 36;
    } while (processId != 0);
    thread_local std::mt19937_64 random{
        std::random_device{}() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())};
    std::string tag;
    std::uint64_t bits = random();
    for (int i = 0; i < 6; ++i, bits /= 36) tag += kDigits[bits % 36];
    return std::string(kTemporaryPrefix) + process + "-" + tag + std::string(suffix);
}

std::optional<std::uint32_t> TemporaryWriter(std::string_view name, std::string_view suffix) {
    if (!name.starts_with(kTemporaryPrefix) || !name.ends_with(suffix)) return std::nullopt;
    name.remove_prefix(kTemporaryPrefix.size());
    const std::size_t dash = name.find('-');
    if (dash == std::string_view::npos || dash == 0 || dash > 7) return std::nullopt;
    std::uint64_t processId = 0;
    for (char c : name.substr(0, dash)) {
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'z' ? c - 'a' + 10 : -1;
        if (digit < 0) return std::nullopt;
        processId = processId * 36 + static_cast<std::uint64_t>(digit);
    }
    if (processId > 0xFFFFFFFFU) return std::nullopt;
    return static_cast<std::uint32_t>(processId);
}

void RemoveQuietly(const fs::path& path) {
    if (path.empty()) return;
    std::error_code ignored;
    (void)platform::RemoveFile(path, ignored);
}

void CheckTarget(const fs::path& requested, const fs::path& target, bool& existed) {
    std::error_code ec;
    const fs::file_status status = fs::status(target, ec);
    existed = fs::exists(status);
    if (!existed) return;
    if (fs::is_directory(status))
        throw std::system_error(std::make_error_code(std::errc::is_a_directory),
                                PathToUtf8(requested));
    if (!fs::is_regular_file(status))
        throw std::system_error(std::make_error_code(std::errc::invalid_argument),
                                PathToUtf8(requested) + ": not a regular file");
}

void WriteTemporary(PreparedFile& file, std::string_view bytes) {
    const fs::path folder = FolderOf(file.target);
    for (const std::string& notice : RecoverInterruptedCommits(folder)) ReportFileNotice(notice);
    (void)RemoveStaleTemporaries(folder);
    // A file with other names (hard links) would be split by the rename: the
    // other names would keep the old content. It is refused instead.
    if (file.existed) {
        const std::uintmax_t names = platform::HardLinkCount(file.target);
        if (names > 1)
            throw std::system_error(
                std::make_error_code(std::errc::too_many_links),
                PathToUtf8(file.requested) + " has " + std::to_string(names) +
                    " names (hard links), and replacing it would leave the others with the old "
                    "content; nothing was written (make it a file of its own with a copy)");
    }
    if (Faulted(FileStep::Create)) throw WriteError(EIO, file.requested);
    std::FILE* stream = CreateTemporary(file.target.parent_path(), file.temporary);
    if (stream == nullptr) {
        const int error = errno;
        file.temporary.clear();
        throw WriteError(error != 0 ? error : EACCES, file.requested);
    }
    // A process that dies leaves its file closed by the system; the test
    // seam's death does the same.
    struct CloseOnDeath {
        std::FILE*& stream;
        ~CloseOnDeath() {
            if (stream != nullptr) std::fclose(stream);
        }
    } closeOnDeath{stream};
    // The permissions first, so that a private file's new content is never
    // readable by others, not even while it is written. What the new file
    // cannot be given (an extended attribute, an access list, a mode bit)
    // would be lost with the old file: the write is refused instead.
    if (file.existed) {
        std::error_code ec;
        const fs::perms mode = fs::status(file.target, ec).permissions();
        if (!ec) fs::permissions(file.temporary, mode, fs::perm_options::replace, ec);
        std::vector<std::string> lost =
            platform::CopyFileMetadata(file.target, stream, file.temporary);
        if (Faulted(FileStep::Keep)) lost.push_back("an extended attribute (simulated)");
        if (!lost.empty()) {
            std::string text = PathToUtf8(file.requested) + ": the new file cannot be given ";
            for (std::size_t i = 0; i < lost.size(); ++i) text += (i ? ", " : "") + lost[i];
            text += " that the old one has; nothing was written";
            std::FILE* closing = stream;
            stream = nullptr;
            std::fclose(closing);
            RemoveQuietly(file.temporary);
            file.temporary.clear();
            throw std::system_error(std::make_error_code(std::errc::not_supported), text);
        }
    }
    int error = 0;
    bool ok = true;
    for (std::size_t done = 0; ok && done < bytes.size(); done += kWriteChunkBytes) {
        const std::size_t chunk = std::min(kWriteChunkBytes, bytes.size() - done);
        errno = 0;
        ok = !Faulted(FileStep::Write) &&
             std::fwrite(bytes.data() + done, 1, chunk, stream) == chunk;
        if (!ok) error = errno;
    }
    if (ok) {
        errno = 0;
        ok = !Faulted(FileStep::Flush) && std::fflush(stream) == 0;
        if (!ok) error = errno;
    }
    // Writing may have dropped the set-user-ID and set-group-ID bits.
    if (ok && file.existed && !platform::CopyModeBits(file.target, stream)) {
        ok = false;
        error = EPERM;
    }
    // On the device before the rename, so that a crash right after the
    // rename cannot leave an empty file in the target's place.
    if (ok) {
        errno = 0;
        ok = !Faulted(FileStep::Sync) && platform::SyncFile(stream);
        if (!ok) error = errno;
    }
    errno = 0;
    std::FILE* closing = stream;
    stream = nullptr;
    const bool closed = std::fclose(closing) == 0 && !Faulted(FileStep::Close);
    if (ok && !closed) error = errno;
    if (!ok || !closed) {
        RemoveQuietly(file.temporary);
        file.temporary.clear();
        throw WriteError(error, file.requested);
    }
}

void KeepOldFile(PreparedFile& file) {
    if (!file.existed) return;
    std::error_code ec;
    if (Faulted(FileStep::Backup)) ec = std::make_error_code(std::errc::io_error);
    for (int attempt = 0; !ec && attempt < 16; ++attempt) {
        file.backup = file.target.parent_path() /
                      TemporaryName(platform::CurrentProcessId(), kTemporarySuffix);
        fs::create_hard_link(file.target, file.backup, ec);
        if (ec && ec != std::errc::file_exists) {
            ec.clear();
            fs::copy_file(file.target, file.backup, fs::copy_options::none, ec);
            if (!ec && !platform::SyncPath(file.backup))
                ec = std::make_error_code(std::errc::io_error);
        }
        if (ec != std::errc::file_exists) break;
        ec.clear();
    }
    if (ec) {
        RemoveQuietly(file.backup);
        file.backup.clear();
        throw fs::filesystem_error("cannot keep the old file while replacing it", file.requested,
                                   ec);
    }
}

}  // namespace filesteps

using namespace filesteps;

namespace {

std::function<void(const std::string&)>& NoticeHandler() {
    static std::function<void(const std::string&)> handler;
    return handler;
}

// Renames the new content over the target and makes the rename durable.
void Replace(PreparedFile& file) {
    std::error_code ec;
    if (Faulted(FileStep::Rename))
        ec = std::make_error_code(std::errc::io_error);
    else
        platform::RenameOver(file.temporary, file.target, ec);
    if (ec) throw fs::filesystem_error("cannot replace the file", file.requested, ec);
    file.temporary.clear();
    file.replaced = true;
    (void)platform::SyncFolder(FolderOf(file.target));
}

// Puts the old files back in place of those already replaced; returns a
// line for each file that could not be put back, naming where its old
// version is.
std::vector<std::string> RollBack(std::vector<PreparedFile>& files) {
    std::vector<std::string> failed;
    for (PreparedFile& file : files) {
        if (!file.replaced) continue;
        std::error_code ec;
        if (Faulted(FileStep::Restore))
            ec = std::make_error_code(std::errc::io_error);
        else if (!file.backup.empty())
            platform::RenameOver(file.backup, file.target, ec);
        else if (!file.existed)
            (void)platform::RemoveFile(file.target, ec);
        if (ec) {
            failed.push_back(PathToUtf8(file.requested) + " (" + ec.message() + "): " +
                             (file.existed ? "its old version is kept as " + PathToUtf8(file.backup)
                                           : std::string("it did not exist before")));
            continue;
        }
        file.backup.clear();
        file.replaced = false;
        (void)platform::SyncFolder(FolderOf(file.target));
    }
    return failed;
}

// Removes the temporary files and second names; false when one stays.
bool CleanUp(std::vector<PreparedFile>& files) {
    bool clean = true;
    for (PreparedFile& file : files) {
        for (fs::path* path : {&file.temporary, &file.backup}) {
            if (path->empty()) continue;
            std::error_code ec;
            if (Faulted(FileStep::Remove))
                ec = std::make_error_code(std::errc::io_error);
            else
                (void)platform::RemoveFile(*path, ec);
            if (ec)
                clean = false;
            else
                path->clear();
        }
    }
    return clean;
}

}  // namespace

void SetFileFaultHook(FileFaultHook hook) { faultHook = std::move(hook); }

void SetFileNoticeHandler(std::function<void(const std::string& text)> handler) {
    NoticeHandler() = std::move(handler);
}

void ReportFileNotice(const std::string& text) {
    if (NoticeHandler())
        NoticeHandler()(text);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}

int RemoveStaleTemporaries(const fs::path& folder, std::chrono::seconds maxAge) {
    int removed = 0;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return 0;
    const std::vector<fs::path> kept = FilesNamedByJournals(folder);
    const auto now = fs::file_time_type::clock::now();
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const std::string name = PathToUtf8(it->path().filename());
        const std::optional<std::uint32_t> writer = TemporaryWriter(name, kTemporarySuffix);
        if (!writer) continue;
        std::error_code entryError;
        if (!it->is_regular_file(entryError)) continue;
        // The new or old version of a file in an unfinished commit.
        if (std::find(kept.begin(), kept.end(), it->path().filename()) != kept.end()) continue;
        const auto written = it->last_write_time(entryError);
        if (entryError) continue;
        const bool old = now - written > maxAge;
        if (old || !platform::ProcessMayBeRunning(*writer)) {
            if (platform::RemoveFile(it->path(), entryError)) ++removed;
        }
    }
    return removed;
}

void FileTransaction::Add(const fs::path& path, std::string bytes) {
    for (Pending& pending : files_) {
        if (pending.path == path) {
            pending.bytes = std::move(bytes);
            return;
        }
    }
    files_.push_back({path, std::move(bytes)});
}

void FileTransaction::Commit() {
    std::vector<Pending> pendingFiles = std::move(files_);
    files_.clear();
    std::vector<PreparedFile> files;
    files.reserve(pendingFiles.size());
    std::vector<fs::path> journals;
    // While the commit runs (and not after it ended, even by a simulated
    // death), its record is this process' own.
    struct ActiveRecord {
        const std::vector<fs::path>& journals;
        ~ActiveRecord() {
            if (!journals.empty()) MarkJournalActive(journals.front(), false);
        }
    } activeRecord{journals};
    try {
        // Every content is written before any target changes.
        for (const Pending& pending : pendingFiles) {
            if (pending.path.empty())
                throw std::system_error(std::make_error_code(std::errc::invalid_argument),
                                        "no file name");
            PreparedFile file;
            file.requested = pending.path;
            file.target = WriteTarget(pending.path);
            CheckTarget(file.requested, file.target, file.existed);
            files.push_back(std::move(file));
            WriteTemporary(files.back(), pending.bytes);
        }
        // A single file needs no way back: its rename either happens or not.
        if (files.size() > 1) {
            for (PreparedFile& file : files) KeepOldFile(file);
            journals = WriteJournal(files);
            MarkJournalActive(journals.front(), true);
        }
        for (PreparedFile& file : files) Replace(file);
    } catch (const SimulatedProcessDeath&) {
        throw;  // nothing is cleaned up: the files stay as a killed process leaves them
    } catch (const std::exception& error) {
        const std::vector<std::string> failed = RollBack(files);
        if (failed.empty()) {
            if (CleanUp(files) && !journals.empty()) (void)RemoveJournal(journals);
            throw;
        }
        // Every old and new version and the record stay: a later run in the
        // folder finishes the commit, so that all files are of one generation.
        std::string text = std::string(error.what()) + "; these files could not be put back:";
        for (const std::string& line : failed) text += "\n  " + line;
        if (!journals.empty())
            text += "\nthe record of the change is " + PathToUtf8(journals.front());
        throw std::system_error(std::make_error_code(std::errc::io_error), text);
    }
    // Old versions go only once every file is final; the record goes last.
    // When one cannot be removed, the record stays and a later run removes
    // what is left.
    if (CleanUp(files) && !journals.empty()) (void)RemoveJournal(journals);
}

}  // namespace melodrift
