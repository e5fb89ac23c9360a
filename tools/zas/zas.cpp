// tools/zas/zas.cpp - the I-code assembler.
//
//   zas FILE.ict [-o OUT.if]
//
// Assembles the text form of I-code (docs/icode-text.md) into an I-code
// file.  The output is FILE's stem plus ".if" unless -o names it ("-" is
// standard output).  Errors in the text are reported as
// "FILE:LINE:COL: error: ..." and end the run with exit code 1; no output
// file is written then.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "icode/reader.h"
#include "tools/textform/encode.h"
#include "tools/textform/parse.h"
#include "tools/textform/tool_io.h"

using namespace zor::text;

namespace {

constexpr char kUsage[] = "Usage: zas FILE.ict [-o OUT.if]\n";

// The name cut at its last '.', unless a path separator follows that dot.
std::string stem(const std::string &name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.find_first_of("/\\", dot) != std::string::npos)
    return name;
  return name.substr(0, dot);
}

} // namespace

int main(int argc, char **argv) {
  std::string in;
  std::string out;
  if (int rc = parse_tool_args(argc, argv, kUsage, in, out))
    return rc < 0 ? 0 : rc;
  if (out.empty())
    out = stem(in) + ".if";
  std::string text;
  if (!read_file(in, text)) {
    std::fprintf(stderr, "zas: cannot read %s: %s\n", in.c_str(), std::strerror(errno));
    return 1;
  }
  std::vector<uint8_t> bytes;
  try {
    bytes = encode_listing(parse_listing(text));
  } catch (const ParseError &e) {
    std::fprintf(stderr, "%s:%u:%u: error: %s\n", in.c_str(), e.line, e.column, e.what());
    return 1;
  } catch (const zor::IcodeFatal &e) {
    std::string msg = e.what();
    while (!msg.empty() && (msg.front() == '\n' || msg.front() == '>' || msg.front() == ' '))
      msg.erase(msg.begin());
    while (!msg.empty() && msg.back() == '\n')
      msg.pop_back();
    std::fprintf(stderr, "%s: error: %s\n", in.c_str(), msg.c_str());
    return 1;
  }
  if (!write_file(out, bytes.data(), bytes.size())) {
    std::fprintf(stderr, "zas: cannot write %s: %s\n", out.c_str(), std::strerror(errno));
    return 1;
  }
  return 0;
}
