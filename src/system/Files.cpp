#include "system/Files.h"

#include "text/CodePage.h"

#include <cerrno>
#include <fstream>
#include <system_error>

namespace melodrift {

namespace fs = std::filesystem;

namespace {

// The file opened for binary reading; a folder or a file that cannot be
// opened throws std::system_error naming the path (EISDIR, or the errno).
std::ifstream OpenForReading(const fs::path& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec))
        throw std::system_error(std::make_error_code(std::errc::is_a_directory), PathToUtf8(path));
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::system_error(errno ? errno : ENOENT, std::generic_category(), PathToUtf8(path));
    return in;
}

}  // namespace

std::string ReadFileBytes(const fs::path& path) {
    std::ifstream in = OpenForReading(path);
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
    std::ifstream in = OpenForReading(path);
    std::string line;
    std::size_t lineNumber = 1;
    bool afterCr = false;  // an LF right after a CR ends no second line
    bool pending = false;  // characters (or nothing) after the last line break
    auto tooLong = [&] {
        throw LineTooLong(PathToUtf8(path) + ": line " + std::to_string(lineNumber) +
                          " is longer than " + std::to_string(maxLineBytes) +
                          " bytes (not a file of the host, or damaged)");
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
    throw std::system_error(std::make_error_code(std::errc::too_many_symbolic_link_levels),
                            PathToUtf8(path));
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
