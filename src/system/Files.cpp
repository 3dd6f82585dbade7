#include "system/Files.h"

#include "system/Platform.h"
#include "text/CodePage.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <random>
#include <system_error>

namespace melodrift {

namespace fs = std::filesystem;

std::string ReadFileBytes(const fs::path& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec))
        throw std::system_error(std::make_error_code(std::errc::is_a_directory), PathToUtf8(path));
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::system_error(errno ? errno : ENOENT, std::generic_category(), PathToUtf8(path));
    std::string bytes;
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (in.eof()) break;
    }
    if (in.bad()) throw std::system_error(EIO, std::generic_category(), PathToUtf8(path));
    return bytes;
}

std::vector<std::string> SplitLines(std::string_view bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            lines.emplace_back(bytes.substr(start, i - start));
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
            start = i + 1;
        }
        ++i;
    }
    if (start < bytes.size()) lines.emplace_back(bytes.substr(start));
    return lines;
}

void ReadLines(const fs::path& path, std::size_t maxLineBytes,
               const std::function<bool(std::string_view line)>& onLine) {
    std::error_code ec;
    if (fs::is_directory(path, ec))
        throw std::system_error(std::make_error_code(std::errc::is_a_directory), PathToUtf8(path));
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::system_error(errno ? errno : ENOENT, std::generic_category(), PathToUtf8(path));
    std::string line;
    std::size_t lineNumber = 1;
    bool afterCr = false;   // an LF right after a CR ends no second line
    bool pending = false;   // characters (or nothing) after the last line break
    auto tooLong = [&] {
        throw LineTooLong(PathToUtf8(path) + ": line " + std::to_string(lineNumber) + " is longer than " +
                          std::to_string(maxLineBytes) + " bytes (not a file of the host, or damaged)");
    };
    char buffer[1 << 16];
    for (;;) {
        in.read(buffer, sizeof buffer);
        const std::size_t got = static_cast<std::size_t>(in.gcount());
        if (got == 0) break;
        std::size_t start = 0;
        for (std::size_t i = 0; i < got; ++i) {
            const char c = buffer[i];
            if (c != '\r' && c != '\n') {
                afterCr = false;
                continue;
            }
            if (c == '\n' && afterCr) {
                afterCr = false;
                start = i + 1;
                continue;
            }
            if (line.size() + (i - start) > maxLineBytes) tooLong();
            line.append(buffer + start, i - start);
            if (!onLine(line)) return;
            line.clear();
            ++lineNumber;
            pending = false;
            afterCr = c == '\r';
            start = i + 1;
        }
        if (start < got) {
            if (line.size() + (got - start) > maxLineBytes) tooLong();
            line.append(buffer + start, got - start);
            pending = true;
        }
        if (in.eof()) break;
    }
    if (in.bad()) throw std::system_error(EIO, std::generic_category(), PathToUtf8(path));
    if (pending) (void)onLine(line);
}

std::string JoinLinesCrLf(const std::vector<std::string>& lines) {
    std::size_t size = 0;
    for (const auto& line : lines) size += line.size() + 2;
    std::string out;
    out.reserve(size);
    for (const auto& line : lines) {
        out += line;
        out += "\r\n";
    }
    return out;
}

namespace {

thread_local FileFaultHook faultHook;

// True when the test seam makes this step fail.
bool Faulted(FileStep step) { return faultHook && faultHook(step); }

std::system_error WriteError(int error, const fs::path& path) {
    return std::system_error(error != 0 ? error : EIO, std::generic_category(), PathToUtf8(path));
}

// "<process in base 36>-<6 random base-36 digits>": at most 13 characters.
std::string TemporaryName(std::uint32_t processId) {
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string process;
    do {
        process.insert(process.begin(), kDigits[processId % 36]);
        processId /= 36;
    } while (processId != 0);
    thread_local std::mt19937_64 random{std::random_device{}() ^
                                        static_cast<std::uint64_t>(
                                            std::chrono::steady_clock::now().time_since_epoch().count())};
    std::string tag;
    std::uint64_t bits = random();
    for (int i = 0; i < 6; ++i, bits /= 36) tag += kDigits[bits % 36];
    return std::string(kTemporaryPrefix) + process + "-" + tag + std::string(kTemporarySuffix);
}

// The process id in a temporary name of ours, or nothing for another name.
std::optional<std::uint32_t> TemporaryWriter(std::string_view name) {
    if (!name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix)) return std::nullopt;
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

// A new, empty file with a temporary name in `folder`, open for writing.
std::FILE* CreateTemporary(const fs::path& folder, fs::path& temporary) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary = folder / TemporaryName(platform::CurrentProcessId());
        errno = 0;
        std::FILE* file = platform::CreateNewFile(temporary);
        if (file != nullptr || errno != EEXIST) return file;
    }
    return nullptr;
}

void RemoveQuietly(const fs::path& path) {
    if (path.empty()) return;
    std::error_code ignored;
    (void)platform::RemoveFile(path, ignored);
}

// One file of a write on its way: the temporary file holding the new
// content, and (for a transaction) a second name of the old file.
struct PreparedFile {
    fs::path requested;   // as the caller named it, for messages
    fs::path target;      // where the content goes (links followed)
    fs::path temporary;   // the new content, complete and synced
    fs::path backup;      // the old file under a temporary name; empty when none
    bool existed = false;
    bool replaced = false;
};

// Refuses targets that cannot take a file: a folder, a device, a pipe.
void CheckTarget(const fs::path& requested, const fs::path& target, bool& existed) {
    std::error_code ec;
    const fs::file_status status = fs::status(target, ec);
    existed = fs::exists(status);
    if (!existed) return;
    if (fs::is_directory(status))
        throw std::system_error(std::make_error_code(std::errc::is_a_directory), PathToUtf8(requested));
    if (!fs::is_regular_file(status))
        throw std::system_error(std::make_error_code(std::errc::invalid_argument),
                                PathToUtf8(requested) + ": not a regular file");
}

// Writes the new content to a temporary file beside the target, with the
// old file's permissions, owner and attributes, and syncs it.
void WriteTemporary(PreparedFile& file, std::string_view bytes) {
    const fs::path folder = file.target.parent_path();
    (void)RemoveStaleTemporaries(folder.empty() ? fs::path(".") : folder);
    if (Faulted(FileStep::Create)) throw WriteError(EIO, file.requested);
    std::FILE* stream = CreateTemporary(folder, file.temporary);
    if (stream == nullptr) {
        const int error = errno;
        file.temporary.clear();
        throw WriteError(error != 0 ? error : EACCES, file.requested);
    }
    // The permissions first, so that a private file's new content is never
    // readable by others, not even while it is written.
    if (file.existed) {
        std::error_code ec;
        const fs::perms mode = fs::status(file.target, ec).permissions();
        if (!ec) fs::permissions(file.temporary, mode, fs::perm_options::replace, ec);
        platform::CopyOwnerAndAttributes(file.target, stream, file.temporary);
    }
    int error = 0;
    bool ok = true;
    for (std::size_t done = 0; ok && done < bytes.size(); done += kWriteChunkBytes) {
        const std::size_t chunk = std::min(kWriteChunkBytes, bytes.size() - done);
        errno = 0;
        ok = !Faulted(FileStep::Write) && std::fwrite(bytes.data() + done, 1, chunk, stream) == chunk;
        if (!ok) error = errno;
    }
    if (ok) {
        errno = 0;
        ok = !Faulted(FileStep::Flush) && std::fflush(stream) == 0;
        if (!ok) error = errno;
    }
    // On the device before the rename, so that a crash right after the
    // rename cannot leave an empty file in the target's place.
    if (ok) {
        errno = 0;
        ok = !Faulted(FileStep::Sync) && platform::SyncFile(stream);
        if (!ok) error = errno;
    }
    errno = 0;
    const bool closed = std::fclose(stream) == 0 && !Faulted(FileStep::Close);
    if (ok && !closed) error = errno;
    if (!ok || !closed) {
        RemoveQuietly(file.temporary);
        file.temporary.clear();
        throw WriteError(error, file.requested);
    }
}

// A second name of the old file under a temporary name (a hard link, or a
// copy where the file system has none), so that it can be put back.
void KeepOldFile(PreparedFile& file) {
    if (!file.existed) return;
    std::error_code ec;
    if (Faulted(FileStep::Backup)) ec = std::make_error_code(std::errc::io_error);
    for (int attempt = 0; !ec && attempt < 16; ++attempt) {
        file.backup = file.target.parent_path() / TemporaryName(platform::CurrentProcessId());
        fs::create_hard_link(file.target, file.backup, ec);
        if (ec && ec != std::errc::file_exists) {
            ec.clear();
            fs::copy_file(file.target, file.backup, fs::copy_options::none, ec);
        }
        if (ec != std::errc::file_exists) break;
        ec.clear();
    }
    if (ec) {
        file.backup.clear();
        throw fs::filesystem_error("cannot keep the old file while replacing it", file.requested, ec);
    }
}

void Replace(PreparedFile& file) {
    std::error_code ec;
    if (Faulted(FileStep::Rename)) ec = std::make_error_code(std::errc::io_error);
    else platform::RenameOver(file.temporary, file.target, ec);
    if (ec) throw fs::filesystem_error("cannot replace the file", file.requested, ec);
    file.temporary.clear();
    file.replaced = true;
}

// Puts the old files back in place of those already replaced.
void RollBack(std::vector<PreparedFile>& files) {
    for (PreparedFile& file : files) {
        if (!file.replaced) continue;
        std::error_code ec;
        if (!file.backup.empty()) {
            platform::RenameOver(file.backup, file.target, ec);
            if (!ec) file.backup.clear();
        } else if (!file.existed) {
            (void)platform::RemoveFile(file.target, ec);
        }
    }
}

void CleanUp(std::vector<PreparedFile>& files) {
    for (PreparedFile& file : files) {
        RemoveQuietly(file.temporary);
        RemoveQuietly(file.backup);
    }
}

}  // namespace

void SetFileFaultHook(FileFaultHook hook) { faultHook = std::move(hook); }

fs::path WriteTarget(const fs::path& path) {
    fs::path target = path;
    // The limit of the Linux kernel; a longer chain is a loop.
    for (int hop = 0; hop < 40; ++hop) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(target, ec))) return target;
        const fs::path link = fs::read_symlink(target, ec);
        if (ec) return target;
        target = link.is_absolute() ? link : target.parent_path() / link;
    }
    throw std::system_error(std::make_error_code(std::errc::too_many_symbolic_link_levels), PathToUtf8(path));
}

int RemoveStaleTemporaries(const fs::path& folder, std::chrono::seconds maxAge) {
    int removed = 0;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return 0;
    const auto now = fs::file_time_type::clock::now();
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const std::string name = PathToUtf8(it->path().filename());
        const std::optional<std::uint32_t> writer = TemporaryWriter(name);
        if (!writer) continue;
        std::error_code entryError;
        if (!it->is_regular_file(entryError)) continue;
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
    try {
        // Every content is written before any target changes.
        for (const Pending& pending : pendingFiles) {
            if (pending.path.empty())
                throw std::system_error(std::make_error_code(std::errc::invalid_argument), "no file name");
            PreparedFile file;
            file.requested = pending.path;
            file.target = WriteTarget(pending.path);
            CheckTarget(file.requested, file.target, file.existed);
            files.push_back(std::move(file));
            WriteTemporary(files.back(), pending.bytes);
        }
        // A single file needs no way back: its rename either happens or not.
        if (files.size() > 1)
            for (PreparedFile& file : files) KeepOldFile(file);
        for (PreparedFile& file : files) Replace(file);
    } catch (...) {
        RollBack(files);
        CleanUp(files);
        throw;
    }
    CleanUp(files);
    std::vector<fs::path> folders;
    for (const PreparedFile& file : files) {
        const fs::path folder = file.target.parent_path();
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
    }
    for (const fs::path& folder : folders) platform::SyncFolder(folder);
}

void WriteFileAtomically(const fs::path& path, std::string_view bytes) {
    FileTransaction transaction;
    transaction.Add(path, std::string(bytes));
    transaction.Commit();
}

fs::path NativePath(std::string_view cp932) {
#ifdef _WIN32
    std::u16string wide = Cp932ToUtf16(cp932);
    return fs::path(std::wstring(wide.begin(), wide.end()));
#else
    return fs::path(Cp932ToUtf8(cp932));
#endif
}

std::string PathToCp932(const fs::path& path) {
#ifdef _WIN32
    std::wstring wide = path.wstring();
    return Utf16ToCp932(std::u16string(wide.begin(), wide.end()));
#else
    return Utf8ToCp932(path.string());
#endif
}

std::string PathToUtf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

fs::path Utf8Path(std::string_view utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace melodrift
