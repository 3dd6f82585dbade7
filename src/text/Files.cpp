#include "text/Files.h"

#include "text/CodePage.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

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

// Flushes the C stream's data to the device before the rename, so that a
// crash right after the rename cannot leave an empty file in its place.
bool SyncToDisk(std::FILE* file) {
    if (std::fflush(file) != 0) return false;
#ifdef _WIN32
    return _commit(_fileno(file)) == 0;
#else
    return ::fsync(::fileno(file)) == 0;
#endif
}

fs::path TemporarySibling(const fs::path& target) {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    fs::path name = target.filename();
    name += ".tmp" + std::to_string(stamp % 1000000007) + "-" + std::to_string(counter++);
    return target.parent_path() / name;
}

}  // namespace

void WriteFileAtomically(const fs::path& path, std::string_view bytes) {
    if (path.empty()) throw std::system_error(std::make_error_code(std::errc::invalid_argument), "no file name");
    const fs::path temporary = TemporarySibling(path);
#ifdef _WIN32
    std::FILE* file = _wfopen(temporary.c_str(), L"wbx");
#else
    std::FILE* file = std::fopen(temporary.c_str(), "wbx");
#endif
    if (!file) throw std::system_error(errno ? errno : EACCES, std::generic_category(), PathToUtf8(path));
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && SyncToDisk(file);
    const int savedErrno = errno;
    const bool closed = std::fclose(file) == 0;
    std::error_code ec;
    if (!written || !closed) {
        fs::remove(temporary, ec);
        throw std::system_error(savedErrno ? savedErrno : EIO, std::generic_category(), PathToUtf8(path));
    }
    fs::rename(temporary, path, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        throw fs::filesystem_error("cannot replace the file", path, ec);
    }
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
