#include "text/Platform.h"

#include <cerrno>
#include <system_error>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <io.h>
#include <process.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif
#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

namespace melodrift::platform {

std::uint32_t CurrentProcessId() {
#ifdef _WIN32
    return static_cast<std::uint32_t>(::GetCurrentProcessId());
#else
    return static_cast<std::uint32_t>(::getpid());
#endif
}

bool ProcessMayBeRunning(std::uint32_t processId) {
#ifdef _WIN32
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(processId));
    if (process == nullptr) return ::GetLastError() != ERROR_INVALID_PARAMETER;
    const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    ::CloseHandle(process);
    return running;
#else
    if (processId == 0 || processId > 0x7FFFFFFFU) return true;
    // Signal 0 only asks whether the process exists; EPERM means it does.
    return ::kill(static_cast<pid_t>(processId), 0) == 0 || errno != ESRCH;
#endif
}

std::FILE* CreateNewFile(const std::filesystem::path& path) {
#ifdef _WIN32
    return ::_wfopen(path.c_str(), L"wbx");
#else
    return std::fopen(path.c_str(), "wbx");
#endif
}

bool SyncFile(std::FILE* file) {
#ifdef _WIN32
    return ::_commit(::_fileno(file)) == 0;
#else
    return ::fsync(::fileno(file)) == 0;
#endif
}

void SyncFolder([[maybe_unused]] const std::filesystem::path& folder) {
#ifndef _WIN32
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    (void)::fsync(fd);
    ::close(fd);
#endif
}

void CopyOwnerAndAttributes(const std::filesystem::path& original, [[maybe_unused]] std::FILE* copy,
                            [[maybe_unused]] const std::filesystem::path& copyPath) {
#ifdef _WIN32
    const DWORD attributes = ::GetFileAttributesW(original.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    const DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                     FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (kept != 0) (void)::SetFileAttributesW(copyPath.c_str(), kept);
#else
    struct stat info {};
    if (::stat(original.c_str(), &info) != 0) return;
    const int fd = ::fileno(copy);
    // Owner and group together (root), else the group alone (a member of
    // it); an ordinary user keeps their own.
    if (::fchown(fd, info.st_uid, info.st_gid) != 0) (void)::fchown(fd, static_cast<uid_t>(-1), info.st_gid);
#endif
}

std::optional<std::filesystem::path> ExecutablePath() {
#if defined(_WIN32)
    std::wstring buffer(32768, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) return std::nullopt;
    buffer.resize(length);
    return std::filesystem::path(buffer);
#elif defined(__APPLE__)
    char buffer[4096];
    std::uint32_t size = sizeof buffer;
    if (::_NSGetExecutablePath(buffer, &size) != 0) return std::nullopt;
    std::error_code ec;
    std::filesystem::path path = std::filesystem::weakly_canonical(buffer, ec);
    return ec ? std::filesystem::path(buffer) : path;
#else
    std::error_code ec;
    std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::nullopt;
    return path;
#endif
}

}  // namespace melodrift::platform
