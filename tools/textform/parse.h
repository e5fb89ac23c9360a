// tools/textform/parse.h - reading the text form into a Listing (zas).
//
// The text is read in one pass, in the order the reader takes a file in,
// so every name is known where it is used.  What the text leaves out is
// filled in: type identifiers (the highest so far plus one, or N for a type
// named %tN), symbol indexes (from the tables, as the reader builds them),
// counts (texts, attribute lists, entries, handlers), keyword fields (their
// defaults), initializer positions; lengths and offsets come when the
// Listing is encoded.  Builtin type names ("int", "uchar", ...) and
// pointers to known types ("*int") that the text uses without defining are
// added to the type section, and file names that positions use without a
// file-name record are added to the file-name section.
//
// Errors stop the parse with a message for "FILE:LINE:COL: error: ...".
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "tools/textform/model.h"

namespace zor::text {

struct ParseError : std::runtime_error {
  ParseError(uint32_t l, uint32_t c, const std::string &msg)
      : std::runtime_error(msg), line(l), column(c) {}
  uint32_t line;
  uint32_t column;
};

Listing parse_listing(const std::string &text);

} // namespace zor::text
