// INI files as the Windows private-profile functions read and write them:
// "[section]" lines and "key=value" lines, names compared without regard to
// ASCII case, values as byte strings (CP932). Reading accepts blanks around
// "=" and CR, LF or CR LF line ends; writing updates the file's entries in
// place, keeps every section and key it does not touch (in their order),
// writes "key=value" without blanks and ends every line with CR LF.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace melodrift {

class IniFile {
  public:
    IniFile();
    ~IniFile();
    IniFile(IniFile&&) noexcept;
    IniFile& operator=(IniFile&&) noexcept;
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    // Parses the bytes of an INI file (any line ends). Lines that are neither
    // sections nor entries are kept only where they are comments.
    static IniFile Parse(std::string_view bytes);

    bool HasSection(std::string_view section) const;
    // The value of key in section, trimmed of blanks; nothing when the key is
    // missing.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    // The value, or `fallback` when the key is missing.
    std::string Read(std::string_view section, std::string_view key,
                     std::string_view fallback) const;

    // Sets key in section: replaces the value where the key exists, else adds
    // the key at the end of the section (the section at the end of the file
    // when it is new). Line breaks in the value become blanks, so a value can
    // never start a new entry.
    void Write(std::string_view section, std::string_view key, std::string_view value);

    // The whole file as bytes, CR LF line ends.
    std::string ToBytes() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace melodrift
