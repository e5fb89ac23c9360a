// tests/support/text_check.cpp - the text form's round trip over test images,
// and MemFile, which applies it to every image a test reads.
#include "tests/support/text_check.h"

#include <cstdio>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/icode_image.h"
#include "tools/textform/decode.h"
#include "tools/textform/print.h"
#include "tools/textform/tool_io.h"

namespace zor::test {

void expect_text_round_trip(const std::vector<uint8_t> &bytes) {
  if (bytes.empty() || bytes[0] != 8)   // not a header record
    return;
  text::Listing l = text::decode_image(bytes);
  std::string listing = text::print_listing(l);
  if (!l.have_header || !l.header_problem.empty() || !l.stream.problem.empty())
    return;
  for (const text::Region &r : l.sections)
    if (!r.problem.empty())
      return;
  std::string diff = text::check_round_trip(bytes, l, listing);
  if (!diff.empty())
    ADD_FAILURE() << "the text form of this test's image does not give it back: " << diff
                  << "\n" << listing;
}

MemFile::MemFile(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
  // Every image a test reads is also checked through the text form.
  expect_text_round_trip(bytes_);
  if (bytes_.empty()) {
    // fmemopen refuses an empty buffer on some C libraries.
    file_ = std::tmpfile();
    return;
  }
  file_ = fmemopen(bytes_.data(), bytes_.size(), "rb");
}

MemFile::~MemFile() {
  if (file_)
    std::fclose(file_);
}

} // namespace zor::test
