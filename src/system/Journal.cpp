// The intent record of a commit of several files, and the recovery of a
// commit that a run left in its middle (killed, power lost, a disk gone bad).
//
// The record is written and synced, with its folder, after every new
// version is complete on disk beside its target and every old file has a
// second name, and before the first rename. It names each target, its new
// version and its old version. A later run tells from what is on disk how
// far the commit got: a new version that is gone was renamed over its
// target; an old version that is gone while its new one is gone too was put
// back by a rollback. It then finishes the commit (renames the new versions
// still there) or, when the rollback had begun, puts every old file back.
// Either way all files end up of one generation; the record goes last.
#include "system/FileSteps.h"
#include "system/Files.h"
#include "system/Platform.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <mutex>
#include <set>

namespace melodrift {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kJournalSuffix = ".journal";
constexpr std::string_view kRecordHeader = "melodrift commit record 1";
constexpr std::string_view kPointerHeader = "melodrift commit pointer 1";
// A record this old is never a running commit's, whatever process has its
// writer's id now.
constexpr auto kLiveRecordAge = std::chrono::hours(1);

struct RecordedFile {
    fs::path target;
    fs::path fresh;   // the new version
    fs::path backup;  // the old version; empty when the target did not exist
};

struct Record {
    bool complete = false;  // ends with its "end" line
    bool pointer = false;
    std::uint32_t writer = 0;
    fs::path record;  // a pointer's record
    std::vector<RecordedFile> files;
    std::vector<fs::path> pointers;
};

std::mutex activeMutex;
std::set<fs::path>& ActiveRecords() {
    static std::set<fs::path> records;
    return records;
}

// Paths are written as UTF-8 with "%", CR and LF escaped, one per line.
std::string Escape(const fs::path& path) {
    std::string out;
    for (char c : PathToUtf8(path)) {
        if (c == '%')
            out += "%25";
        else if (c == '\n')
            out += "%0A";
        else if (c == '\r')
            out += "%0D";
        else
            out += c;
    }
    return out;
}

fs::path Unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::string_view code = text.substr(i, 3);
        const char c = code == "%25" ? '%' : code == "%0A" ? '\n' : code == "%0D" ? '\r' : '\0';
        if (c != '\0') {
            out += c;
            i += 2;
        } else {
            out += text[i];
        }
    }
    return Utf8Path(out);
}

Record ParseRecord(const fs::path& path) {
    Record record;
    std::string bytes;
    try {
        bytes = ReadFileBytes(path);
    } catch (const std::exception&) {
        return record;
    }
    const std::vector<std::string> lines = SplitLines(bytes);
    if (lines.empty()) return record;
    record.pointer = lines[0] == kPointerHeader;
    if (!record.pointer && lines[0] != kRecordHeader) return record;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const std::size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string_view value = space == std::string::npos
                                           ? std::string_view()
                                           : std::string_view(line).substr(space + 1);
        if (key == "end")
            record.complete = true;
        else if (key == "writer")
            record.writer =
                static_cast<std::uint32_t>(std::strtoul(std::string(value).c_str(), nullptr, 10));
        else if (key == "record")
            record.record = Unescape(value);
        else if (key == "file")
            record.files.push_back({Unescape(value), {}, {}});
        else if (key == "new" && !record.files.empty())
            record.files.back().fresh = Unescape(value);
        else if (key == "old" && !record.files.empty() && !value.empty())
            record.files.back().backup = Unescape(value);
        else if (key == "pointer")
            record.pointers.push_back(Unescape(value));
    }
    return record;
}

// Writes a small file and syncs it and its folder.
void WriteSynced(const fs::path& path, const std::string& text) {
    if (filesteps::Faulted(FileStep::Journal)) throw filesteps::WriteError(EIO, path);
    std::FILE* file = platform::CreateNewFile(path);
    if (file == nullptr) throw filesteps::WriteError(errno, path);
    const bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size() &&
                    std::fflush(file) == 0 && platform::SyncFile(file);
    const int error = errno;
    if (std::fclose(file) != 0 || !ok) {
        filesteps::RemoveQuietly(path);
        throw filesteps::WriteError(error, path);
    }
    if (!platform::SyncFolder(path.parent_path())) {
        filesteps::RemoveQuietly(path);
        throw filesteps::WriteError(EIO, path.parent_path());
    }
}

bool Exists(const fs::path& path) {
    std::error_code ec;
    return !path.empty() && fs::exists(fs::symlink_status(path, ec));
}

bool Live(const fs::path& recordPath, const Record& record) {
    if (record.writer == platform::CurrentProcessId()) {
        const std::lock_guard lock(activeMutex);
        return ActiveRecords().count(recordPath) != 0;
    }
    std::error_code ec;
    const auto written = fs::last_write_time(recordPath, ec);
    if (!ec && fs::file_time_type::clock::now() - written > kLiveRecordAge) return false;
    return platform::ProcessMayBeRunning(record.writer);
}

std::string TargetList(const Record& record) {
    std::string list;
    for (const RecordedFile& file : record.files)
        list += (list.empty() ? "" : "、") + PathToUtf8(file.target);
    return list;
}

// Finishes or undoes the commit of a complete record whose writer is gone;
// returns what it did, for the user.
std::string Recover(const fs::path& recordPath, const Record& record) {
    bool allRenamed = true;
    bool rollingBack = false;
    for (const RecordedFile& file : record.files) {
        const bool renamed = !Exists(file.fresh);
        allRenamed = allRenamed && renamed;
        if (renamed && (file.backup.empty() ? !Exists(file.target) : !Exists(file.backup)))
            rollingBack = true;
    }
    // A rollback starts only after a rename failed, so a new version is
    // still there; with every one renamed, only the old versions are left.
    if (allRenamed) rollingBack = false;
    std::vector<std::string> problems;
    auto note = [&](const fs::path& path, const std::error_code& ec) {
        if (ec) problems.push_back(PathToUtf8(path) + ": " + ec.message());
    };
    for (const RecordedFile& file : record.files) {
        std::error_code ec;
        const bool renamed = !Exists(file.fresh);
        if (rollingBack) {
            if (renamed && !file.backup.empty() && Exists(file.backup)) {
                if (filesteps::Faulted(FileStep::Restore))
                    ec = std::make_error_code(std::errc::io_error);
                else
                    platform::RenameOver(file.backup, file.target, ec);
            } else if (renamed && file.backup.empty()) {
                (void)platform::RemoveFile(file.target, ec);
            }
        } else if (!renamed) {
            if (filesteps::Faulted(FileStep::Rename))
                ec = std::make_error_code(std::errc::io_error);
            else
                platform::RenameOver(file.fresh, file.target, ec);
        }
        note(file.target, ec);
        (void)platform::SyncFolder(file.target.parent_path());
    }
    if (problems.empty()) {
        // Every target is final: what is left of the other generation goes.
        for (const RecordedFile& file : record.files) {
            for (const fs::path& path : {file.fresh, file.backup}) {
                if (!Exists(path)) continue;
                std::error_code ec;
                if (filesteps::Faulted(FileStep::Remove))
                    ec = std::make_error_code(std::errc::io_error);
                else
                    (void)platform::RemoveFile(path, ec);
                note(path, ec);
            }
        }
    }
    if (problems.empty()) {
        std::vector<fs::path> journals{recordPath};
        journals.insert(journals.end(), record.pointers.begin(), record.pointers.end());
        if (!filesteps::RemoveJournal(journals))
            problems.push_back(PathToUtf8(recordPath) + ": cannot be removed");
    }
    if (!problems.empty()) {
        std::string text = "前回途中で終わった書き込みを片付けられませんでした（";
        for (std::size_t i = 0; i < problems.size(); ++i) text += (i ? "; " : "") + problems[i];
        text += "）。記録 " + PathToUtf8(recordPath) + " を残しています。";
        for (const RecordedFile& file : record.files)
            if (Exists(file.backup))
                text +=
                    "\n" + PathToUtf8(file.target) + " の元のファイル: " + PathToUtf8(file.backup);
        return text;
    }
    return rollingBack ? "前回途中で終わった書き込みを取り消し、元のファイルに戻しました: " +
                             TargetList(record)
                       : "前回途中で終わった書き込みを完了しました: " + TargetList(record);
}

// The journal files (records and pointers) in `folder`.
std::vector<fs::path> JournalsIn(const fs::path& folder) {
    std::vector<fs::path> found;
    std::error_code ec;
    fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = PathToUtf8(it->path().filename());
        if (filesteps::TemporaryWriter(name, kJournalSuffix)) found.push_back(it->path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

namespace filesteps {

std::vector<fs::path> WriteJournal(const std::vector<PreparedFile>& files) {
    std::vector<fs::path> folders;
    for (const PreparedFile& file : files) {
        std::error_code ec;
        const fs::path folder = fs::absolute(file.target, ec).parent_path();
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    }
    const std::uint32_t self = platform::CurrentProcessId();
    std::vector<fs::path> journals;
    for (const fs::path& folder : folders)
        journals.push_back(folder / TemporaryName(self, kJournalSuffix));
    std::string record = std::string(kRecordHeader) + "\nwriter " + std::to_string(self) + "\n";
    for (const PreparedFile& file : files) {
        std::error_code ec;
        record += "file " + Escape(fs::absolute(file.target, ec)) + "\n";
        record += "new " + Escape(fs::absolute(file.temporary, ec)) + "\n";
        record += "old " +
                  (file.backup.empty() ? std::string() : Escape(fs::absolute(file.backup, ec))) +
                  "\n";
    }
    for (std::size_t i = 1; i < journals.size(); ++i)
        record += "pointer " + Escape(journals[i]) + "\n";
    record += "end\n";
    std::vector<fs::path> written;
    try {
        WriteSynced(journals[0], record);
        written.push_back(journals[0]);
        for (std::size_t i = 1; i < journals.size(); ++i) {
            WriteSynced(journals[i], std::string(kPointerHeader) + "\nrecord " +
                                         Escape(journals[0]) + "\nend\n");
            written.push_back(journals[i]);
        }
    } catch (const SimulatedProcessDeath&) {
        throw;
    } catch (...) {
        (void)RemoveJournal(written);
        throw;
    }
    return journals;
}

bool RemoveJournal(const std::vector<fs::path>& journals) {
    bool removed = true;
    for (const fs::path& journal : journals) {
        std::error_code ec;
        if (Faulted(FileStep::Remove))
            ec = std::make_error_code(std::errc::io_error);
        else
            (void)platform::RemoveFile(journal, ec);
        if (ec) {
            removed = false;
            break;  // the record first: a pointer left alone is harmless
        }
        (void)platform::SyncFolder(journal.parent_path());
    }
    return removed;
}

void MarkJournalActive(const fs::path& journal, bool active) {
    const std::lock_guard lock(activeMutex);
    if (active)
        ActiveRecords().insert(journal);
    else
        ActiveRecords().erase(journal);
}

std::vector<fs::path> FilesNamedByJournals(const fs::path& folder) {
    std::vector<fs::path> names;
    for (const fs::path& journal : JournalsIn(folder)) {
        Record record = ParseRecord(journal);
        if (record.pointer) record = ParseRecord(record.record);
        for (const RecordedFile& file : record.files) {
            names.push_back(file.fresh.filename());
            if (!file.backup.empty()) names.push_back(file.backup.filename());
        }
    }
    return names;
}

}  // namespace filesteps

std::vector<std::string> RecoverInterruptedCommits(const fs::path& folder) {
    std::vector<std::string> notices;
    for (const fs::path& journal : JournalsIn(folder)) {
        const Record found = ParseRecord(journal);
        if (!Exists(journal)) continue;  // removed with an earlier record
        fs::path recordPath = journal;
        Record record = found;
        if (found.pointer) {
            recordPath = found.record;
            record = ParseRecord(recordPath);
            if (!Exists(recordPath)) {
                // Its record is gone, so its commit is over.
                if (found.complete) filesteps::RemoveQuietly(journal);
                continue;
            }
        }
        if (Live(recordPath, record)) continue;
        if (!record.complete) {
            // Cut short while it was written: no file was renamed yet, and
            // the temporary files go with the usual clean-up.
            filesteps::RemoveQuietly(recordPath);
            continue;
        }
        notices.push_back(Recover(recordPath, record));
    }
    return notices;
}

int RecoverInterruptedCommitsIn(const std::vector<fs::path>& folders,
                                const std::function<void(const std::string& text)>& tell) {
    std::vector<fs::path> seen;
    int told = 0;
    for (const fs::path& folder : folders) {
        std::error_code ec;
        const fs::path where = fs::absolute(folder.empty() ? fs::path(".") : folder, ec);
        const fs::path key = (ec ? folder : where).lexically_normal();
        if (std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
        seen.push_back(key);
        for (const std::string& notice : RecoverInterruptedCommits(key)) {
            tell(notice);
            ++told;
        }
    }
    return told;
}

}  // namespace melodrift
