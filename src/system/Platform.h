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
// system allows it; nothing on Windows, where a rename is journalled). False
// when the system reports that it failed.
bool SyncFolder(const std::filesystem::path& folder);

// Hands the written data of the file at `path` to the device.
bool SyncPath(const std::filesystem::path& path);

// Gives `copy` (open for writing at `copyPath`) what `original` has besides
// its content, before the rename that puts it in the original's place:
// - POSIX: the owner and group where the process may set them (a user may
//   only pick a group they belong to, root anything; best effort), every
//   extended attribute (Linux; the POSIX ACL is the attribute
//   system.posix_acl_access), none that the original lacks (an ACL the new
//   file inherited from its folder's default ACL is removed), and last the
//   exact mode bits, set-group-ID and sticky included; with an ACL the
//   group bits are its mask, so the group gains nothing.
// - Windows: the file attributes (hidden, system, archive, not indexed) and
//   the access control list (DACL), best effort.
// Returns what could not be kept, one item per entry (empty when the new
// file has all of it): an attribute that cannot be set on the new file, a
// mode bit the system dropped.
std::vector<std::string> CopyFileMetadata(const std::filesystem::path& original, std::FILE* copy,
                                          const std::filesystem::path& copyPath);

// Sets the mode bits of `copy` to those of `original` again: writing to a
// file may drop its set-user-ID and set-group-ID bits. False when they
// differ afterwards. Nothing on Windows.
bool CopyModeBits(const std::filesystem::path& original, std::FILE* copy);

// How many names (hard links) the file has; 1 when the system cannot tell.
std::uintmax_t HardLinkCount(const std::filesystem::path& path);

// Renames `from` over `to`, replacing it in one step. On Windows a target
// that another program holds open without delete sharing refuses the rename
// (sharing violation, access denied) until it is closed: the rename is tried
// again every 50 ms for about a second before `ec` reports the failure. A
// read-only target is replaced there too, as POSIX replaces a file whatever
// its mode (the new file brings the attributes it is to have).
void RenameOver(const std::filesystem::path& from, const std::filesystem::path& to,
                std::error_code& ec);

// Removes the file at `path`; true when one was removed, false with `ec`
// clear when there was none. On Windows also a file with the read-only
// attribute, which DeleteFileW refuses, as POSIX removes a file whatever
// its mode.
bool RemoveFile(const std::filesystem::path& path, std::error_code& ec);

// An exclusive advisory lock (flock, LockFileEx) held through an open lock
// file; -1 when none is held.
struct HeldLock {
    std::intptr_t handle = -1;
};

// Takes the lock on the lock file at `path` (created when missing) without
// waiting. No value, with `ec` clear, while another holder has it; no value
// with `ec` set when the file cannot be opened or locked. A lock file that a
// releasing holder removed in the meantime is opened again.
std::optional<HeldLock> TryLockFile(const std::filesystem::path& path, std::error_code& ec);

// Removes the lock file and gives the lock up. Holders that wait open the
// file anew, so that no two hold locks on different files of one name.
void UnlockFile(HeldLock lock, const std::filesystem::path& path);

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
