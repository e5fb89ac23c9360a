// tests/support/text_check.h - every I-code image a test builds goes through
// the text form too.
//
// MemFile (icode_image.h) calls expect_text_round_trip() on the bytes it is
// given: when they are an image the text form's decoder follows to its end,
// the listing zdis would print must assemble back into the same bytes (the
// same listing, for an image laid out otherwise than the writer lays files
// out); a test fails otherwise.  Byte strings that are not whole images are
// passed over.
#pragma once

#include <cstdint>
#include <vector>

namespace zor::test {

void expect_text_round_trip(const std::vector<uint8_t> &bytes);

} // namespace zor::test
