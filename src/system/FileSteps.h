// The steps the file writers share (Transaction.cpp, Journal.cpp): the test
// seam, the names of temporary files, and one file of a commit on its way.
// Internal to the system layer.
#pragma once

#include "system/Files.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace melodrift::filesteps {

// True when the test seam makes this step fail; throws SimulatedProcessDeath
// when the seam ends the "process" there.
bool Faulted(FileStep step);

std::system_error WriteError(int error, const std::filesystem::path& path);

// ".melodrift-<process in base 36>-<6 random base-36 digits><suffix>".
std::string TemporaryName(std::uint32_t processId, std::string_view suffix);
// The process id in such a name with this suffix, or nothing for another name.
std::optional<std::uint32_t> TemporaryWriter(std::string_view name, std::string_view suffix);

void RemoveQuietly(const std::filesystem::path& path);

// One file of a commit on its way: the temporary file holding the new
// content, and (for several files) a second name of the old file.
struct PreparedFile {
    std::filesystem::path requested;  // as the caller named it, for messages
    std::filesystem::path target;     // where the content goes (links followed)
    std::filesystem::path temporary;  // the new content, complete and synced
    std::filesystem::path backup;     // the old file under a temporary name; empty when none
    bool existed = false;
    bool replaced = false;
};

// Refuses targets that cannot take a file: a folder, a device, a pipe.
void CheckTarget(const std::filesystem::path& requested, const std::filesystem::path& target,
                 bool& existed);

// Writes the new content to a temporary file beside the target, with the old
// file's permissions, owner and attributes, and syncs it.
void WriteTemporary(PreparedFile& file, std::string_view bytes);

// A second name of the old file (a hard link, or a synced copy where the file
// system has none), so that it can be put back.
void KeepOldFile(PreparedFile& file);

// The intent record of a commit of several files: written (and synced, with
// its folder) before the first rename, in the first target's folder, with a
// pointer to it in every other folder of the commit. Returns the files
// written, the record first. Throws when it cannot be written.
std::vector<std::filesystem::path> WriteJournal(const std::vector<PreparedFile>& files);

// Removes the record and its pointers; false when one could not be removed.
bool RemoveJournal(const std::vector<std::filesystem::path>& journals);

// The file names of the new and old versions that the records (and the
// records pointed to) in `folder` name: the clean-up of stale temporary
// files leaves them alone.
std::vector<std::filesystem::path> FilesNamedByJournals(const std::filesystem::path& folder);

// While a commit of this process runs, its record is not another run's
// leftover.
void MarkJournalActive(const std::filesystem::path& journal, bool active);

}  // namespace melodrift::filesteps
