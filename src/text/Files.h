// Files and paths: reading whole files as bytes, line splitting, the atomic
// replace-file writer, and the one place where a path read from a file (CP932
// bytes) becomes a native path. These are the only platform-specific helpers.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace melodrift {

// The whole file as bytes. Throws std::system_error when it cannot be opened
// or read (missing, unreadable, a folder).
std::string ReadFileBytes(const std::filesystem::path& path);

// Lines separated by CR, LF or CR LF; a final line break adds no empty line.
std::vector<std::string> SplitLines(std::string_view bytes);

// Each line followed by CR LF (so the text ends with a line break).
std::string JoinLinesCrLf(const std::vector<std::string>& lines);

// Writes `bytes` to a temporary file in the target's folder, flushes it to
// disk and renames it over `path`, so that readers see either the old file or
// the new one, never a truncated one. On any failure the temporary file is
// removed, the target is left as it was, and std::system_error (or
// std::filesystem::filesystem_error) is thrown.
void WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// A path held as CP932 bytes (from a plug-in file, oto.ini or an edit-state
// file) as a native path: UTF-16 on Windows, UTF-8 elsewhere.
std::filesystem::path NativePath(std::string_view cp932);

// A native path as CP932 bytes, for writing into a file of the host.
std::string PathToCp932(const std::filesystem::path& path);

// A native path as UTF-8, for messages.
std::string PathToUtf8(const std::filesystem::path& path);

// A UTF-8 text (typed by the user, from a dialog or the command line) as a
// native path.
std::filesystem::path Utf8Path(std::string_view utf8);

}  // namespace melodrift
