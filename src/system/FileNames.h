// Finding a file by the name a host file gives it, on any file system. Banks
// made on Windows name their files without regard to case ("OTO.INI",
// "A.wav" for "a.wav"), and macOS hands Unicode names back decomposed (NFD)
// where the host file has them composed (NFC), or the other way round.
#pragma once

#include "text/CodePage.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace melodrift {

// Whether the system's file names ignore case (Windows: "A.WAV" names
// "a.wav"); macOS may too, but case-sensitive volumes exist there.
#ifdef _WIN32
inline constexpr bool kFileNamesIgnoreCase = true;
#else
inline constexpr bool kFileNamesIgnoreCase = false;
#endif

// FoldedFileName (text/CodePage.h) gives the form names are compared in.

// The name in Unicode's composed form (NFC), the form Windows and the hosts
// store and look names up in; macOS and its zip files hand names out
// decomposed (NFD: "が" as "か" + U+3099). Case is kept.
std::string ComposedFileName(std::string_view utf8);

// The entry of `folder` for `name`: folder / name when that exists; else
// the entry whose name folds to the same form (the smallest such name, so the
// choice does not depend on the listing's order); else nothing.
std::optional<std::filesystem::path> FindInFolder(const std::filesystem::path& folder,
                                                  std::string_view nameUtf8);

// `path` itself when it exists; else the path with each part that does not
// exist replaced by the entry FindInFolder finds for it, as long as one is
// found; else `path` unchanged.
std::filesystem::path FindExistingPath(const std::filesystem::path& path);

}  // namespace melodrift
