// tools/zdis/zdis.cpp - the I-code disassembler.
//
//   zdis FILE [-o OUT]
//
// Prints the text form of an I-code file (docs/icode-text.md) on standard
// output or into OUT.  When the file cannot be read through to its end, or
// the optimizer's reader reports an error for it, zdis prints what it could
// decode, then the reader's message on standard error, and exits with 1.
// It also checks that its listing assembles back into the same file (the
// same bytes when the file lies as the writer lays files out).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/textform/decode.h"
#include "tools/textform/print.h"
#include "tools/textform/tool_io.h"

using namespace zor::text;

namespace {

constexpr char kUsage[] = "Usage: zdis FILE [-o OUT]\n";

std::string trim_newlines(std::string s) {
  while (!s.empty() && s.front() == '\n')
    s.erase(s.begin());
  while (!s.empty() && s.back() == '\n')
    s.pop_back();
  return s;
}

} // namespace

int main(int argc, char **argv) {
  std::string in;
  std::string out = "-";
  if (int rc = parse_tool_args(argc, argv, kUsage, in, out))
    return rc < 0 ? 0 : rc;
  std::string data;
  if (!read_file(in, data)) {
    std::fprintf(stderr, "zdis: cannot read %s: %s\n", in.c_str(), std::strerror(errno));
    return 1;
  }
  std::vector<uint8_t> bytes(data.begin(), data.end());
  Listing listing = decode_image(bytes);
  std::string text = print_listing(listing);
  if (!write_file(out, text.data(), text.size())) {
    std::fprintf(stderr, "zdis: cannot write %s: %s\n", out.c_str(), std::strerror(errno));
    return 1;
  }

  // What the optimizer's reader says about the file.
  std::string error = reader_error(bytes, in);
  if (!error.empty()) {
    std::fputs(error.c_str(), stderr);
    if (error.back() != '\n')
      std::fputc('\n', stderr);
    return 1;
  }
  std::string stop = listing.header_problem;
  uint64_t at = 0;
  for (const Region *r : {&listing.sections[0], &listing.sections[1], &listing.sections[2],
                          &listing.sections[3], &listing.sections[4], &listing.stream})
    if (stop.empty() && !r->problem.empty()) {
      stop = trim_newlines(r->problem);
      at = r->problem_at;
    }
  if (!stop.empty()) {
    std::fprintf(stderr, "zdis: %s: cannot follow the records from 0x%llx: %s\n", in.c_str(),
                 static_cast<unsigned long long>(at), stop.c_str());
    return 1;
  }
  std::string diff = check_round_trip(bytes, listing, text);
  if (!diff.empty()) {
    std::fprintf(stderr, "zdis: %s: internal error: the listing does not give the file back: %s\n",
                 in.c_str(), diff.c_str());
    return 1;
  }
  return 0;
}
