// The few operating-system calls the file helpers need that the C++ library
// does not offer. Everything platform-specific in the program lives here (and
// in Terminal.cpp); callers stay portable.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace melodrift::platform {

// The running process' id.
std::uint32_t CurrentProcessId();

// False only when no process with this id runs on this machine; true when
// it runs or when that cannot be told (no right to ask, unknown system).
bool ProcessMayBeRunning(std::uint32_t processId);

// Creates `path` for writing, failing when anything is there already.
// Null (with errno set) on failure.
std::FILE* CreateNewFile(const std::filesystem::path& path);

// Hands the stream's written data to the device (fsync, _commit).
bool SyncFile(std::FILE* file);

// Makes the last renames in `folder` durable (fsync of the folder where the
// system allows it; nothing on Windows, where a rename is journalled).
void SyncFolder(const std::filesystem::path& folder);

// Gives `copy` the owner and group of `original` where the process may set
// them (POSIX; a user may only pick a group they belong to, root anything),
// and on Windows the file attributes (hidden, system, archive, not
// indexed). Best effort: what the system refuses stays as it is.
void CopyOwnerAndAttributes(const std::filesystem::path& original, std::FILE* copy,
                            const std::filesystem::path& copyPath);

// Renames `from` over `to`, replacing it in one step. On Windows a target
// that another program holds open without delete sharing refuses the rename
// (sharing violation, access denied) until it is closed: the rename is tried
// again every 50 ms for about a second before `ec` reports the failure. A
// read-only target is replaced there too, as POSIX replaces a file whatever
// its mode (the new file brings the attributes it is to have).
void RenameOver(const std::filesystem::path& from, const std::filesystem::path& to, std::error_code& ec);

// Removes the file at `path`; true when one was removed, false with `ec`
// clear when there was none. On Windows also a file with the read-only
// attribute, which DeleteFileW refuses, as POSIX removes a file whatever
// its mode.
bool RemoveFile(const std::filesystem::path& path, std::error_code& ec);

// The program's arguments after its name, as UTF-8. On Windows they come
// from the UTF-16 command line: `argv` holds them in the ANSI code page,
// where a name outside it is lost.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Makes a Windows console show the program's UTF-8 output as text (output
// code page 65001, the previous one back at exit); nothing elsewhere, or
// without a console.
void UseUtf8Console();

// The running program's own file, or nothing when the system does not say.
std::optional<std::filesystem::path> ExecutablePath();

}  // namespace melodrift::platform
