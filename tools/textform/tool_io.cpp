// tools/textform/tool_io.cpp - files and checks for zas and zdis.
#include "tools/textform/tool_io.h"

#include <cerrno>
#include <cstdio>
#include <memory>

#include "icode/reader.h"
#include "ir/program.h"
#include "tools/textform/decode.h"
#include "tools/textform/encode.h"
#include "tools/textform/parse.h"
#include "tools/textform/print.h"

namespace zor::text {

int parse_tool_args(int argc, char **argv, const char *usage, std::string &in,
                    std::string &out) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-o" && i + 1 < argc) {
      out = argv[++i];
    } else if (a == "-h" || a == "--help") {
      std::fputs(usage, stderr);
      return -1;
    } else if ((a.size() > 1 && a[0] == '-') || !in.empty()) {
      std::fputs(usage, stderr);
      return 1;
    } else {
      in = a;
    }
  }
  if (in.empty()) {
    std::fputs(usage, stderr);
    return 1;
  }
  return 0;
}

bool read_file(const std::string &path, std::string &out) {
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f)
    return false;
  out.clear();
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
    out.append(buf, n);
  bool ok = !std::ferror(f);
  int saved = errno;
  std::fclose(f);
  errno = saved;
  return ok;
}

bool write_file(const std::string &path, const void *data, size_t size) {
  if (path == "-")
    return std::fwrite(data, 1, size, stdout) == size && std::fflush(stdout) == 0;
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f)
    return false;
  bool ok = std::fwrite(data, 1, size, f) == size;
  int saved = errno;
  if (std::fclose(f) != 0)
    ok = false;
  else
    errno = saved;
  return ok;
}

std::string reader_error(const std::vector<uint8_t> &bytes, const std::string &file_name) {
  std::vector<uint8_t> copy = bytes;
  FILE *f = copy.empty() ? std::tmpfile() : fmemopen(copy.data(), copy.size(), "rb");
  if (!f)
    return "cannot read the image";
  FILE *sink = std::fopen("/dev/null", "w");
  std::string msg;
  {
    PROGRAM program;
    std::unique_ptr<IcodeReader> reader;
    try {
      reader = IcodeReader::open(f, program, program.types());
      if (!reader) {
        msg = "\n>> Error when opening input icode file : " + file_name + ", Aborting\n";
      } else {
        if (sink)
          reader->set_error_stream(sink);
        reader->read_all();
      }
    } catch (const IcodeFatal &e) {
      msg = e.what();
    }
  }
  if (sink)
    std::fclose(sink);
  std::fclose(f);
  return msg;
}

namespace {

std::string first_difference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
  size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i])
    ++i;
  char buf[96];
  std::snprintf(buf, sizeof buf, "the bytes differ from offset 0x%zx (%zu bytes, reassembled %zu)",
                i, a.size(), b.size());
  return buf;
}

// The text without comments and blank lines: what must agree between a
// listing and the listing of its reassembled file.
std::string without_comments(const std::string &text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    size_t end = text.find('\n', i);
    if (end == std::string::npos)
      end = text.size();
    std::string line = text.substr(i, end - i);
    bool in_string = false;
    size_t cut = line.size();
    for (size_t k = 0; k < line.size(); ++k) {
      if (line[k] == '\\' && in_string) {
        ++k;
        continue;
      }
      if (line[k] == '"')
        in_string = !in_string;
      if (line[k] == ';' && !in_string) {
        cut = k;
        break;
      }
    }
    line.resize(cut);
    while (!line.empty() && line.back() == ' ')
      line.pop_back();
    if (!line.empty())
      out += line + "\n";
    i = end + 1;
  }
  return out;
}

} // namespace

std::string check_round_trip(const std::vector<uint8_t> &bytes, const Listing &listing,
                             const std::string &text) {
  std::vector<uint8_t> again;
  try {
    again = encode_listing(parse_listing(text));
  } catch (const ParseError &e) {
    return "the listing does not assemble: line " + std::to_string(e.line) + ":" +
           std::to_string(e.column) + ": " + e.what();
  } catch (const std::exception &e) {
    return std::string("the listing does not assemble: ") + e.what();
  }
  if (listing.writer_layout)
    return again == bytes ? "" : first_difference(bytes, again);
  std::string text2 = print_listing(decode_image(again));
  if (without_comments(text2) != without_comments(text))
    return "the reassembled file lists differently";
  return "";
}

} // namespace zor::text
