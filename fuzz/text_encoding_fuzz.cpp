// The encoding detection of every text file read: any bytes as an oto.ini
// (with and without a declared encoding, "#Charset:" lines read), as an edit
// state, and decoded in each encoding. Decoded text is always valid UTF-8;
// bytes that are valid in the chosen encoding decode without loss.
#include "FuzzSupport.h"

#include "editor/EditState.h"
#include "text/Encoding.h"
#include "voicebank/Voicebank.h"

#include <cstdlib>
#include <exception>
#include <optional>

using namespace melodrift;

namespace {

void CheckDecoding(std::string_view bytes, TextEncoding encoding) {
    const std::string text = DecodeText(bytes, encoding);
    if (!IsValidUtf8(text)) std::abort();
    const std::string_view body =
        bytes.starts_with(kUtf8Bom) ? bytes.substr(kUtf8Bom.size()) : bytes;
    // UTF-8 passes through unchanged; valid CP932 decodes to characters
    // that all have a CP932 form again.
    if (encoding != TextEncoding::ShiftJis && IsValidUtf8(body) && text != body) std::abort();
    if (encoding == TextEncoding::ShiftJis && IsValidShiftJis(body) && !EncodeShiftJis(text))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = fuzz::AsText(data, size);
    for (TextEncoding encoding :
         {TextEncoding::ShiftJis, TextEncoding::Utf8, TextEncoding::Utf8WithBom})
        CheckDecoding(bytes, encoding);

    const TextEncoding stateEncoding = EditStateEncoding(bytes);
    if (bytes.starts_with(kUtf8Bom) != (stateEncoding == TextEncoding::Utf8WithBom)) std::abort();
    if (stateEncoding == TextEncoding::Utf8 && !IsValidUtf8(bytes)) std::abort();

    const std::filesystem::path oto = fuzz::ScratchFolder() / "oto.ini";
    fuzz::WriteBytes(oto, bytes);
    for (const std::optional<TextEncoding> declared :
         {std::optional<TextEncoding>(), std::optional(TextEncoding::Utf8),
          std::optional(TextEncoding::ShiftJis)}) {
        try {
            const TextEncoding found = OtoIniEncoding(oto, declared);
            // A byte order mark decides before anything else.
            if (bytes.starts_with(kUtf8Bom) && found != TextEncoding::Utf8WithBom) std::abort();
        } catch (const std::exception&) {
            // A line longer than any host writes is refused by design.
        }
    }
    return 0;
}
