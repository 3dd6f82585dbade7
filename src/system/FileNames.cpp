#include "system/FileNames.h"

#include "system/Files.h"

#include <system_error>

namespace melodrift {

namespace fs = std::filesystem;

// FoldedFileName is in text/CodePage.cpp (ICU) or text/CodePageWindows.cpp.

std::optional<fs::path> FindInFolder(const fs::path& folder, std::string_view nameUtf8) {
    std::error_code ec;
    const fs::path exact = folder / Utf8Path(nameUtf8);
    if (fs::exists(fs::symlink_status(exact, ec))) return exact;
    const std::string wanted = FoldedFileName(nameUtf8);
    std::optional<fs::path> found;
    std::string foundName;
    fs::directory_iterator entries(folder, fs::directory_options::skip_permission_denied, ec);
    const fs::directory_iterator end;
    while (!ec && entries != end) {
        const std::string name = PathToUtf8(entries->path().filename());
        if (FoldedFileName(name) == wanted && (!found || name < foundName)) {
            found = entries->path();
            foundName = name;
        }
        entries.increment(ec);
    }
    return found;
}

fs::path FindExistingPath(const fs::path& path) {
    std::error_code ec;
    if (path.empty() || fs::exists(path, ec)) return path;
    fs::path resolved;
    bool first = true;
    for (const fs::path& part : path) {
        if (first) {
            resolved = part;  // the root name or the first relative part
            first = false;
            if (part.has_root_name() || part.has_root_directory() || fs::exists(part, ec)) continue;
            if (auto found = FindInFolder(".", PathToUtf8(part))) resolved = found->filename();
            continue;
        }
        const fs::path next = resolved / part;
        if (fs::exists(next, ec) || part == "." || part == "..") {
            resolved = next;
            continue;
        }
        std::optional<fs::path> found = FindInFolder(resolved, PathToUtf8(part));
        if (!found) return path;
        resolved = *found;
    }
    return resolved;
}

}  // namespace melodrift
