// tools/textform/print.h - the text form of a Listing (what zdis prints).
//
// The listing follows the order in which the reader takes a file in: the
// header line, the sections (option sets, file names, types, global symbols,
// initializers), then the main stream.  Records print one per line, as their
// keyword, positional fields and the keyword fields that differ from their
// defaults; trees print as s-expressions, on one line when they fit in 80
// columns and one operand per line otherwise, with the statement's C-like
// source form as a comment.  docs/icode-text.md describes the format.
#pragma once

#include <string>

#include "tools/textform/model.h"

namespace zor::text {

struct PrintOptions {
  // Comments: offsets, indexes, source forms, notes on odd records.
  bool comments = true;
};

std::string print_listing(const Listing &listing, const PrintOptions &opt = {});

} // namespace zor::text
