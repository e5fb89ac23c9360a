// tests/support/icode_roundtrip.cpp - writing programs and comparing I-code
// files in tests.
#include "tests/support/icode_roundtrip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "icode/writer.h"
#include "ir/funinfo.h"
#include "ir/type.h"
#include "opt/write.h"
#include "tests/support/icode_image.h"
#include "tests/support/recording_client.h"

namespace zor::test {

namespace {

// Storage classes whose offset a written symbol record keeps.
bool keeps_offset(uint8_t sc) { return sc == 4 || sc == 9 || sc == 22; }

// Symbol flags that survive reading (the writer may add others).
constexpr uint16_t kFileFlagMask = 0x19ff;

// A recording client that keeps the option sets and, when asked, records
// symbols with the fields a rewrite changes on purpose made alike.
class DecodingClient final : public RecordingClient {
public:
  DecodingClient(TYPE_PKG &types, bool normalize) : types_(types), normalize_(normalize) {}

  std::vector<std::pair<uint32_t, std::vector<std::string>>> option_sets;

  void option_set(uint32_t number, std::vector<std::string> texts) override {
    option_sets.emplace_back(number, texts);
    RecordingClient::option_set(number, std::move(texts));
  }

  I_SYMTAB *new_symbol(const SymbolRecord &rec) override {
    if (!normalize_)
      return RecordingClient::new_symbol(rec);
    SymbolRecord r = rec;
    r.flags &= kFileFlagMask;
    if (!keeps_offset(r.storage_class))
      r.offset = 0;
    r.initializer_position = 0;
    if (r.type)
      r.type = types_.normalize(r.type);
    return RecordingClient::new_symbol(r);
  }

private:
  TYPE_PKG &types_;
  bool normalize_;
};

// "t<id>" after ':', '=' or ',' is RecordingClient's name of an unnamed
// derived type; it becomes the type's printed form.
std::string name_types(const std::string &line, const TYPE_PKG &types) {
  static const std::regex token("([:=,])t([0-9]+)\\b");
  std::string out;
  auto begin = std::sregex_iterator(line.begin(), line.end(), token);
  size_t last = 0;
  for (auto it = begin; it != std::sregex_iterator(); ++it) {
    const std::smatch &m = *it;
    out.append(line, last, static_cast<size_t>(m.position(0)) - last);
    out += m[1].str();
    const TYPE *t = types.type_by_id(static_cast<uint32_t>(std::stoul(m[2].str())));
    std::string printed = t ? t->print() : "?";
    while (!printed.empty() && printed.back() == ' ')
      printed.pop_back();
    out += "{" + printed + "}";
    last = static_cast<size_t>(m.position(0) + m.length(0));
  }
  out.append(line, last, std::string::npos);
  return out;
}

std::vector<std::string> decode_with(const std::vector<uint8_t> &bytes, bool normalize) {
  TYPE_PKG types;
  DecodingClient client(types, normalize);
  MemFile f(bytes);
  auto reader = IcodeReader::open(f.get(), client, types);
  if (!reader) {
    ADD_FAILURE() << "the reader refuses the header";
    return {};
  }
  reader->set_error_stream(stderr);
  try {
    reader->read_all();
  } catch (const IcodeFatal &e) {
    ADD_FAILURE() << "the reader stops: " << e.what();
  }
  std::vector<std::string> lines;
  for (const std::string &l : client.lines)
    lines.push_back(name_types(l, types));
  return lines;
}

bool starts_with(const std::string &s, const char *prefix) {
  return s.rfind(prefix, 0) == 0;
}

} // namespace

// ------------------------------------------------------------ ScratchFile

ScratchFile::ScratchFile() : file_(std::tmpfile()) {}

ScratchFile::~ScratchFile() {
  if (file_)
    std::fclose(file_);
}

std::vector<uint8_t> ScratchFile::bytes() const {
  std::vector<uint8_t> out;
  std::fflush(file_);
  long here = std::ftell(file_);
  std::rewind(file_);
  int c;
  while ((c = std::fgetc(file_)) != EOF)
    out.push_back(static_cast<uint8_t>(c));
  std::fseek(file_, here, SEEK_SET);
  return out;
}

// ------------------------------------------------------- read and write

ReadProgram read_program(const std::vector<uint8_t> &bytes) {
  ReadProgram r;
  r.program = std::make_unique<PROGRAM>();
  r.file = std::make_unique<MemFile>(bytes);
  r.reader = IcodeReader::open(r.file->get(), *r.program, r.program->types());
  if (!r.reader) {
    ADD_FAILURE() << "the reader refuses the header";
    return r;
  }
  r.reader->read_all();
  return r;
}

std::vector<uint8_t> write_program(PROGRAM &program, const WriteSetup &setup) {
  ScratchFile f;
  auto w = IcodeWriter::open(f.get(), program.types(), setup.producer);
  for (const auto &[number, texts] : setup.option_sets)
    w->add_option_set(number, texts);
  if (!setup.comment.empty())
    w->comment(setup.comment);
  for (FUNINFO *fi : program.functions()) {
    currfunc = fi->symbol;
    currfuninfo = fi;
    write_function_begin(*w, *fi);
    write_function_body(*w, *fi);
    write_function_end(*w, *fi);
    currfunc = nullptr;
    currfuninfo = nullptr;
  }
  write_program_data(*w, program);
  EXPECT_EQ(w->close(), 0);
  std::vector<uint8_t> bytes = f.bytes();

  // Every file written must be one the project's reader accepts.
  PROGRAM check;
  MemFile in(bytes);
  auto reader = IcodeReader::open(in.get(), check, check.types());
  if (!reader) {
    ADD_FAILURE() << "the reader refuses the written header";
  } else {
    try {
      reader->read_all();
    } catch (const IcodeFatal &e) {
      ADD_FAILURE() << "the reader stops on the written file: " << e.what();
    }
  }
  return bytes;
}

std::vector<uint8_t> rewrite(const std::vector<uint8_t> &bytes) {
  WriteSetup setup;
  {
    TYPE_PKG types;
    DecodingClient client(types, false);
    MemFile f(bytes);
    auto reader = IcodeReader::open(f.get(), client, types);
    if (!reader) {
      ADD_FAILURE() << "the reader refuses the header";
      return {};
    }
    setup.producer = reader->header().producer;
    setup.option_sets = client.option_sets;
  }
  ReadProgram program = read_program(bytes);
  return write_program(*program, setup);
}

// ------------------------------------------------------------- compare

std::vector<std::string> decode(const std::vector<uint8_t> &bytes) {
  return decode_with(bytes, false);
}

std::vector<std::string> declarations(const std::vector<std::string> &lines) {
  std::vector<std::string> out;
  bool in_body = false;
  for (const std::string &line : lines) {
    if (line.rfind("body_begin", 0) == 0)
      in_body = true;
    if (line.rfind("function_end", 0) == 0)
      in_body = false;
    if (in_body) {
      bool body_item = false;
      for (const char *prefix : {"statement ", "label ", "asm ", "position", "pragma_record "})
        body_item |= line.rfind(prefix, 0) == 0;
      if (body_item)
        continue;
    }
    out.push_back(line);
  }
  return out;
}

std::vector<std::string> comparable(const std::vector<uint8_t> &bytes) {
  static const std::regex opcode_call(" opcode=[A-Z_0-9]+");
  static const std::regex scope_level("^(set_scope_level \\S+) ([0-9]+)$");
  static const std::regex eht_count("^exception_table [0-9]+$");
  static const std::regex ddnode("ddnode=[0-9]+,[0-9]+,[0-9]+");
  static const std::regex vreg("vreg=-?[0-9]+");
  std::vector<std::string> out;
  bool in_function = false;
  for (std::string line : decode_with(bytes, true)) {
    if (starts_with(line, "function_begin"))
      in_function = true;
    else if (starts_with(line, "function_end"))
      in_function = false;
    // The writer writes its own version; the command line is a comment
    // outside functions; one position update stands for all; nested scopes
    // are flattened into the body.
    if (starts_with(line, "accept_version") || (!in_function && starts_with(line, "asm ")) ||
        starts_with(line, "position ") || starts_with(line, "block_begin") ||
        starts_with(line, "block_end"))
      continue;
    // The root entry of an exception table is not written.
    if (starts_with(line, "  entry ") && line.find(" kind=0 ") != std::string::npos)
      continue;
    line = std::regex_replace(line, eht_count, "exception_table");
    // Operator changes the reader makes (float comparisons) are already
    // made in a written file.
    line = std::regex_replace(line, opcode_call, "");
    // The optimizer's nodes keep no dependence or register numbers.
    line = std::regex_replace(line, ddnode, "ddnode=0,0,0");
    line = std::regex_replace(line, vreg, "vreg=0");
    std::smatch m;
    if (std::regex_match(line, m, scope_level) && std::stoul(m[2].str()) > 2)
      line = m[1].str() + " 2";
    out.push_back(line);
  }
  return out;
}

std::string joined(const std::vector<std::string> &lines) {
  std::string out;
  for (const std::string &l : lines)
    out += l + "\n";
  return out;
}

// ------------------------------------------------------ comment record

namespace {

uint32_t read_uleb(const std::vector<uint8_t> &b, size_t &at) {
  uint32_t v = 0;
  for (int shift = 0; at < b.size(); shift += 7) {
    uint8_t c = b[at++];
    if (shift < 32)
      v |= static_cast<uint32_t>(c & 0x7f) << shift;
    if (!(c & 0x80))
      break;
  }
  return v;
}

} // namespace

size_t header_end(const std::vector<uint8_t> &bytes) {
  size_t at = 1;
  const uint32_t length = read_uleb(bytes, at);
  return at + length;
}

std::vector<RawRecord> main_records(const std::vector<uint8_t> &bytes) {
  std::vector<RawRecord> out;
  size_t at = header_end(bytes);
  while (at < bytes.size() && bytes[at] != TAG_END) {
    RawRecord r;
    r.tag = bytes[at++];
    const uint32_t length = read_uleb(bytes, at);
    const size_t end = std::min(bytes.size(), at + length);
    r.payload.assign(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(end));
    at = end;
    out.push_back(std::move(r));
  }
  return out;
}

std::vector<uint8_t> without_comment(const std::vector<uint8_t> &bytes) {
  std::vector<uint8_t> b = bytes;
  size_t at = 1;
  if (b.empty() || b[0] != TAG_HEADER)
    return b;
  const uint32_t header_length = read_uleb(b, at);
  const size_t payload = at;
  const size_t header_end = payload + header_length;
  const size_t offsets = payload + 10 + 2 + 2;   // magic, version, check value
  if (header_end >= b.size() || b[header_end] != TAG_ASM)
    return b;
  size_t rec = header_end + 1;
  const uint32_t length = read_uleb(b, rec);
  const size_t rec_end = rec + length;
  if (length == 0 || rec_end > b.size() || b[rec_end - 1] != 0)
    return b;   // not a record without position
  const uint32_t removed = static_cast<uint32_t>(rec_end - header_end);
  b.erase(b.begin() + static_cast<long>(header_end), b.begin() + static_cast<long>(rec_end));
  for (int i = 0; i < 5; ++i) {
    size_t w = offsets + 4 * static_cast<size_t>(i);
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k)
      v |= static_cast<uint32_t>(b[w + k]) << (8 * k);
    if (v == 0)
      continue;
    v -= removed;
    for (int k = 0; k < 4; ++k)
      b[w + k] = static_cast<uint8_t>(v >> (8 * k));
  }
  return b;
}

} // namespace zor::test
