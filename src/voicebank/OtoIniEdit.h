// Replacing one recording's entries in an oto.ini the user keeps by hand.
//
// A voicebank's oto.ini holds values the user set by ear (decimals such as
// "617.46"), comment and blank lines, and has its own line ends, encoding
// and byte order mark. Putting a recording's entries in must leave all of
// that as it was: the file is edited as bytes, line by line, and only the
// lines that are that recording's entries are taken out; the new entries go
// where the first of them stood (at the end when there was none).
#pragma once

#include "text/Encoding.h"

#include <string>
#include <string_view>
#include <vector>

namespace melodrift {

struct EditedOtoIni {
    std::string Bytes;      // the whole file as it is to be written
    TextEncoding Encoding;  // the encoding those bytes are in
};

// The oto.ini `oldBytes` (read in `encoding`; `existed` false for a folder
// without an oto.ini, `oldBytes` then ignored) with the entries of
// `fileNames` (UTF-8, compared exactly: a recording's name as it was
// written before and as it is written now) replaced by `newLines` (UTF-8).
// Every other line keeps its bytes and its line end; the new lines take the
// file's first line end (CR LF in a file that has none). A new or empty file
// is CP932 unless a line has no CP932 form, then UTF-8 with a byte order mark.
// Throws UnencodableText when a new line does not fit a CP932 file.
EditedOtoIni ReplaceRecordingEntries(std::string_view oldBytes, bool existed, TextEncoding encoding,
                                     const std::vector<std::string>& fileNames,
                                     const std::vector<std::string>& newLines);

}  // namespace melodrift
