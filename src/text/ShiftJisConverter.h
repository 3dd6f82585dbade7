// A CP932 converter kept open for the lines of one file: opening an ICU
// converter per line costs more than converting the line.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace melodrift {

class ShiftJisConverter {
  public:
    ShiftJisConverter();
    ~ShiftJisConverter();
    ShiftJisConverter(const ShiftJisConverter&) = delete;
    ShiftJisConverter& operator=(const ShiftJisConverter&) = delete;

    // As IsValidShiftJis and DecodeText(bytes, TextEncoding::ShiftJis).
    bool IsValid(std::string_view bytes);
    std::string Decode(std::string_view bytes);

  private:
    struct Converters;
    std::unique_ptr<Converters> converters_;
    std::u16string buffer_;
};

}  // namespace melodrift
