#include "system/Platform.h"

#include "text/CodePage.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <system_error>
#include <thread>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <shellapi.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
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
    // _O_EXCL rather than fopen's "x" mode, which the older C runtime
    // (msvcrt.dll, MinGW's default) does not know.
    const int fd =
        ::_wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    std::FILE* file = ::_fdopen(fd, "wb");
    if (file == nullptr) {
        const int error = errno;
        ::_close(fd);
        errno = error;
    }
    return file;
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

bool SyncFolder([[maybe_unused]] const std::filesystem::path& folder) {
#ifndef _WIN32
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    // Some file systems cannot sync a folder (EINVAL): nothing to wait for.
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return synced;
#else
    return true;
#endif
}

bool SyncPath(const std::filesystem::path& path) {
#ifdef _WIN32
    const int fd = ::_wopen(path.c_str(), _O_RDWR | _O_BINARY);
    if (fd < 0) return false;
    const bool synced = ::_commit(fd) == 0;
    ::_close(fd);
    return synced;
#else
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
#endif
}

#ifdef _WIN32
namespace {

// Windows refuses to replace or delete a read-only file. When `error` is that
// refusal, the attribute is lifted and `operation` tried once more; when that
// fails too the attribute is put back. ERROR_SUCCESS when it was done, else
// the error that stands.
DWORD RetryWithoutReadOnly(const std::filesystem::path& target, DWORD error,
                           const std::function<bool()>& operation) {
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (error != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_READONLY) == 0 || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return error;
    const DWORD cleared = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (!::SetFileAttributesW(target.c_str(), cleared == 0 ? FILE_ATTRIBUTE_NORMAL : cleared))
        return error;
    if (operation()) return ERROR_SUCCESS;
    error = ::GetLastError();
    (void)::SetFileAttributesW(target.c_str(), attributes);
    return error;
}

}  // namespace
#endif

void RenameOver(const std::filesystem::path& from, const std::filesystem::path& to,
                std::error_code& ec) {
    ec.clear();
#ifdef _WIN32
    // 20 tries 50 ms apart: a reader that has the target open briefly (a
    // host, a virus scanner, an indexer) is waited for; one that keeps it
    // open is reported.
    constexpr int kTries = 20;
    constexpr auto kPause = std::chrono::milliseconds(50);
    for (int attempt = 1;; ++attempt) {
        if (::MoveFileExW(from.c_str(), to.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return;
        const DWORD error = RetryWithoutReadOnly(to, ::GetLastError(), [&] {
            return ::MoveFileExW(from.c_str(), to.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
        });
        if (error == ERROR_SUCCESS) return;
        const bool busy = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
                          error == ERROR_LOCK_VIOLATION;
        if (!busy || attempt == kTries) {
            ec.assign(static_cast<int>(error), std::system_category());
            return;
        }
        std::this_thread::sleep_for(kPause);
    }
#else
    std::filesystem::rename(from, to, ec);
#endif
}

bool RemoveFile(const std::filesystem::path& path, std::error_code& ec) {
    ec.clear();
#ifdef _WIN32
    if (::DeleteFileW(path.c_str())) return true;
    const DWORD error = RetryWithoutReadOnly(path, ::GetLastError(),
                                             [&] { return ::DeleteFileW(path.c_str()) != 0; });
    if (error == ERROR_SUCCESS) return true;
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return false;
    ec.assign(static_cast<int>(error), std::system_category());
    return false;
#else
    return std::filesystem::remove(path, ec);
#endif
}

std::optional<HeldLock> TryLockFile(const std::filesystem::path& path, std::error_code& ec) {
    ec.clear();
#ifdef _WIN32
    // Removed when its last handle closes; a holder that waits opens it anew.
    HANDLE file =
        ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        // A file being removed by its last holder refuses new handles.
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)
            ec.assign(static_cast<int>(error), std::system_category());
        return std::nullopt;
    }
    OVERLAPPED whole{};
    if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(file);
        if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING)
            ec.assign(static_cast<int>(error), std::system_category());
        return std::nullopt;
    }
    return HeldLock{reinterpret_cast<std::intptr_t>(file)};
#else
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        ec.assign(errno, std::generic_category());
        return std::nullopt;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error != EWOULDBLOCK) ec.assign(error, std::generic_category());
        return std::nullopt;
    }
    // The holder before may have removed the file after this one opened
    // it: a lock on a removed file locks nothing.
    struct stat held {};
    struct stat named {};
    if (::fstat(fd, &held) != 0 || ::stat(path.c_str(), &named) != 0 ||
        held.st_ino != named.st_ino || held.st_dev != named.st_dev) {
        ::close(fd);
        return std::nullopt;
    }
    return HeldLock{fd};
#endif
}

void UnlockFile(HeldLock lock, [[maybe_unused]] const std::filesystem::path& path) {
    if (lock.handle < 0) return;
#ifdef _WIN32
    ::CloseHandle(reinterpret_cast<HANDLE>(lock.handle));
#else
    (void)::unlink(path.c_str());
    ::close(static_cast<int>(lock.handle));
#endif
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
#ifdef _WIN32
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide != nullptr) {
        std::vector<std::string> args;
        for (int i = 1; i < count; ++i) {
            const std::wstring_view arg(wide[i]);
            args.push_back(Utf16ToUtf8(std::u16string(arg.begin(), arg.end())));
        }
        ::LocalFree(wide);
        return args;
    }
#endif
    if (argc < 1) return {};
    return std::vector<std::string>(argv + 1, argv + argc);
}

void UseUtf8Console() {
#ifdef _WIN32
    // The console's code page outlives the program: the one it had is put
    // back at exit, so the shell the user typed in is left as it was.
    static UINT previous = 0;
    previous = ::GetConsoleOutputCP();  // 0: no console
    if (previous == 0 || previous == CP_UTF8 || !::SetConsoleOutputCP(CP_UTF8)) return;
    std::atexit([] { (void)::SetConsoleOutputCP(previous); });
#endif
}

std::optional<std::filesystem::path> ExecutablePath() {
#if defined(_WIN32)
    std::wstring buffer(32768, L'\0');
    const DWORD length =
        ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
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
