// What a replaced file keeps besides its content: owner, group, mode bits,
// extended attributes and access lists (POSIX), attributes and the access
// control list (Windows). See Platform.h.
#include "system/Platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <aclapi.h>
#else
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif
#ifdef __linux__
#include <sys/xattr.h>
#endif

namespace melodrift::platform {

namespace {

#ifndef _WIN32
std::string OctalMode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Sets the mode bits of the open file to `mode`; an item for `lost` when
// the system kept others (it drops set-group-ID for a group the process is
// not in).
std::optional<std::string> SetModeBits(int fd, mode_t mode) {
    // A file system that cannot change modes (FAT, some network shares)
    // refuses even a change to the mode the file has: what counts is the
    // mode it ends up with.
    const int refused = ::fchmod(fd, mode & 07777) == 0 ? 0 : errno;
    struct stat now {};
    if (::fstat(fd, &now) != 0)
        return "the mode bits " + OctalMode(mode) + " (" + std::strerror(errno) + ")";
    if ((now.st_mode & 07777) == (mode & 07777)) return std::nullopt;
    return "the mode bits " + OctalMode(mode) + " (the system kept " + OctalMode(now.st_mode) +
           (refused != 0 ? std::string(": ") + std::strerror(refused) : std::string()) + ")";
}
#endif

#ifdef __linux__
// The names of the file's extended attributes (of the open file when `fd`
// is not -1). A file system without them lists none.
bool AttributeNames(const std::filesystem::path& path, int fd, std::vector<std::string>& names,
                    int& error) {
    names.clear();
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size =
            fd >= 0 ? ::flistxattr(fd, nullptr, 0) : ::listxattr(path.c_str(), nullptr, 0);
        if (size < 0) {
            error = errno;
            return error == ENOTSUP;
        }
        std::string list(static_cast<std::size_t>(size), '\0');
        const ssize_t got = fd >= 0 ? ::flistxattr(fd, list.data(), list.size())
                                    : ::listxattr(path.c_str(), list.data(), list.size());
        if (got < 0 && errno == ERANGE) continue;  // grew in between
        if (got < 0) {
            error = errno;
            return false;
        }
        for (std::size_t start = 0; start < static_cast<std::size_t>(got);) {
            const std::size_t end = list.find('\0', start);
            if (end == std::string::npos || end == start) break;
            names.push_back(list.substr(start, end - start));
            start = end + 1;
        }
        return true;
    }
    error = ERANGE;
    return false;
}

// The value of one attribute; false with `error` set when it cannot be read.
bool AttributeValue(const std::filesystem::path& path, int fd, const std::string& name,
                    std::string& value, int& error) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = fd >= 0 ? ::fgetxattr(fd, name.c_str(), nullptr, 0)
                                     : ::getxattr(path.c_str(), name.c_str(), nullptr, 0);
        if (size < 0) {
            error = errno;
            return false;
        }
        value.assign(static_cast<std::size_t>(size), '\0');
        const ssize_t got =
            fd >= 0 ? ::fgetxattr(fd, name.c_str(), value.data(), value.size())
                    : ::getxattr(path.c_str(), name.c_str(), value.data(), value.size());
        if (got < 0 && errno == ERANGE) continue;
        if (got < 0) {
            error = errno;
            return false;
        }
        value.resize(static_cast<std::size_t>(got));
        return true;
    }
    error = ERANGE;
    return false;
}

// Gives the open copy exactly the original's extended attributes.
void CopyAttributes(const std::filesystem::path& original, int fd, std::vector<std::string>& lost) {
    std::vector<std::string> wanted;
    std::vector<std::string> present;
    int error = 0;
    if (!AttributeNames(original, -1, wanted, error)) {
        lost.push_back(std::string("the list of extended attributes (") + std::strerror(error) +
                       ")");
        return;
    }
    if (!AttributeNames({}, fd, present, error)) present.clear();
    for (const std::string& name : wanted) {
        std::string value;
        if (!AttributeValue(original, -1, name, value, error)) {
            lost.push_back("the extended attribute " + name + " (" + std::strerror(error) + ")");
            continue;
        }
        std::string current;
        int ignored = 0;
        // A label the folder already gave the copy (security.selinux) is
        // left alone when it is the same.
        if (AttributeValue({}, fd, name, current, ignored) && current == value) continue;
        if (::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0)
            lost.push_back("the extended attribute " + name + " (" + std::strerror(errno) + ")");
    }
    for (const std::string& name : present) {
        if (std::find(wanted.begin(), wanted.end(), name) != wanted.end()) continue;
        // An access list inherited from the folder's default would give
        // others rights the original did not give; a label the system
        // insists on is harmless.
        if (::fremovexattr(fd, name.c_str()) != 0 && name.rfind("system.", 0) == 0)
            lost.push_back("no access list beyond the mode bits (" + name + ": " +
                           std::strerror(errno) + ")");
    }
}
#endif

}  // namespace

std::vector<std::string> CopyFileMetadata(const std::filesystem::path& original,
                                          [[maybe_unused]] std::FILE* copy,
                                          const std::filesystem::path& copyPath) {
    std::vector<std::string> lost;
#ifdef _WIN32
    const DWORD attributes = ::GetFileAttributesW(original.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return lost;
    const DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    // SetFileAttributesW sets them all: the read-only attribute the copy got
    // with the permission bits is kept.
    const DWORD current = ::GetFileAttributesW(copyPath.c_str());
    const DWORD readOnly =
        current == INVALID_FILE_ATTRIBUTES ? 0 : current & FILE_ATTRIBUTE_READONLY;
    // The access list: the original's own entries, and the folder's
    // inherited ones unless the original was cut off from them. A volume
    // without access lists (FAT) has none to copy.
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(original.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, &dacl, nullptr, &descriptor) == ERROR_SUCCESS) {
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        (void)::GetSecurityDescriptorControl(descriptor, &control, &revision);
        const SECURITY_INFORMATION inheritance = (control & SE_DACL_PROTECTED) != 0
                                                     ? PROTECTED_DACL_SECURITY_INFORMATION
                                                     : UNPROTECTED_DACL_SECURITY_INFORMATION;
        if (dacl != nullptr) {
            std::wstring target = copyPath.wstring();
            (void)::SetNamedSecurityInfoW(target.data(), SE_FILE_OBJECT,
                                          DACL_SECURITY_INFORMATION | inheritance, nullptr, nullptr,
                                          dacl, nullptr);
        }
        ::LocalFree(descriptor);
    }
    // Last: where an access list also decides the read-only state (Wine
    // maps both to the same permission bits), the list must not undo it.
    if ((kept | readOnly) != 0) (void)::SetFileAttributesW(copyPath.c_str(), kept | readOnly);
#else
    (void)copyPath;
    struct stat info {};
    if (::stat(original.c_str(), &info) != 0) return lost;
    const int fd = ::fileno(copy);
    // Owner and group together (root), else the group alone (a member of
    // it); an ordinary user keeps their own. First, as a change of owner
    // clears the set-user-ID and set-group-ID bits.
    if (::fchown(fd, info.st_uid, info.st_gid) != 0)
        (void)::fchown(fd, static_cast<uid_t>(-1), info.st_gid);
#ifdef __linux__
    CopyAttributes(original, fd, lost);
#endif
    // Last: with an access list, the group bits set its mask, which is then
    // the original's mask.
    if (const auto dropped = SetModeBits(fd, info.st_mode)) lost.push_back(*dropped);
#endif
    return lost;
}

bool CopyModeBits([[maybe_unused]] const std::filesystem::path& original,
                  [[maybe_unused]] std::FILE* copy) {
#ifdef _WIN32
    return true;
#else
    struct stat info {};
    if (::stat(original.c_str(), &info) != 0) return true;
    struct stat now {};
    const int fd = ::fileno(copy);
    if (::fstat(fd, &now) == 0 && (now.st_mode & 07777) == (info.st_mode & 07777)) return true;
    return !SetModeBits(fd, info.st_mode);
#endif
}

std::uintmax_t HardLinkCount(const std::filesystem::path& path) {
#ifdef _WIN32
    HANDLE file = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = ::GetFileInformationByHandle(file, &information) != 0;
    ::CloseHandle(file);
    return known && information.nNumberOfLinks > 0 ? information.nNumberOfLinks : 1;
#else
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || info.st_nlink == 0) return 1;
    return static_cast<std::uintmax_t>(info.st_nlink);
#endif
}

}  // namespace melodrift::platform
