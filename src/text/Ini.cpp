#include "text/Ini.h"

#include <system_error>

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wextra"
#endif
// Byte strings only: no UTF-8 validation or wide-character conversion.
#define SI_NO_CONVERSION
// The Debian header keeps the template definitions behind this switch.
#define SI_IMPLEMENTATION
#include <SimpleIni.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace melodrift {

struct IniFile::Impl {
    // Byte strings, case-insensitive names, one value per key (a later
    // duplicate of a key replaces the earlier one), no multi-line values.
    CSimpleIniA ini{false, false, false};
};

namespace {

// SimpleIni writes "\n" line ends on non-Windows platforms; the file format
// wants CR LF everywhere, so every LF is written as CR LF (a lone CR never
// reaches the writer: values cannot hold line breaks).
class CrLfWriter : public CSimpleIniA::OutputWriter {
  public:
    explicit CrLfWriter(std::string& out) : out_(out) {}
    void Write(const char* text) override {
        for (const char* p = text; *p != '\0'; ++p) {
            if (*p == '\n') {
                if (out_.empty() || out_.back() != '\r') out_.push_back('\r');
                out_.push_back('\n');
            } else {
                out_.push_back(*p);
            }
        }
    }

  private:
    std::string& out_;
};

std::string Terminated(std::string_view text) { return std::string(text); }

}  // namespace

IniFile::IniFile() : impl_(std::make_unique<Impl>()) { impl_->ini.SetSpaces(false); }
IniFile::~IniFile() = default;
IniFile::IniFile(IniFile&&) noexcept = default;
IniFile& IniFile::operator=(IniFile&&) noexcept = default;

IniFile IniFile::Parse(std::string_view bytes) {
    IniFile file;
    // The parser works on C strings: a NUL byte would end the text early, so
    // the text is cut at the first one (such a byte never occurs in a text file).
    const std::size_t nul = bytes.find('\0');
    if (nul != std::string_view::npos) bytes = bytes.substr(0, nul);
    if (file.impl_->ini.LoadData(bytes.data(), bytes.size()) < 0) {
        throw std::system_error(std::make_error_code(std::errc::not_enough_memory), "INI parse");
    }
    return file;
}

bool IniFile::HasSection(std::string_view section) const {
    return impl_->ini.GetSectionSize(Terminated(section).c_str()) >= 0;
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
    const char* value =
        impl_->ini.GetValue(Terminated(section).c_str(), Terminated(key).c_str(), nullptr);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

std::string IniFile::Read(std::string_view section, std::string_view key,
                          std::string_view fallback) const {
    auto value = Get(section, key);
    return value ? *value : std::string(fallback);
}

void IniFile::Write(std::string_view section, std::string_view key, std::string_view value) {
    std::string clean(value);
    for (char& c : clean) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    const SI_Error rc =
        impl_->ini.SetValue(Terminated(section).c_str(), Terminated(key).c_str(), clean.c_str());
    if (rc < 0) {
        throw std::system_error(std::make_error_code(std::errc::not_enough_memory), "INI update");
    }
}

std::string IniFile::ToBytes() const {
    std::string out;
    CrLfWriter writer(out);
    impl_->ini.Save(writer, false);
    return out;
}

}  // namespace melodrift
