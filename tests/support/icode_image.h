// tests/support/icode_image.h - builds I-code images byte by byte for tests.
//
// IcodeImage appends primitive encodings either straight to the image or,
// between begin(tag) and end(), to the payload of the record being built;
// end() frames the record as tag, uleb payload length, payload.  The header
// writer remembers where its five section offsets lie so that they can be
// filled in once the sections are placed.  Offsets are relative to the start
// of the header, which need not be the start of the image.
//
//   IcodeImage img;
//   img.header();
//   img.begin(TAG_STATEMENT).no_pos().end();
//   img.node(NEQ, kInt).end();           // operands follow as records
//   img.icon_signed(kInt, -1);
//   img.node(FCON, kFloat).text("0x1p+0").end();
//   img.end_stream();
//   img.section_here(IcodeImage::TYPES); ...
//   MemFile f(img.bytes());
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "icode/record_tags.h"

namespace zor::test {

struct HeaderFields {
  uint8_t tag = TAG_HEADER;
  std::string magic = "!<icode>\n";
  int version = -72;
  int check = 1000;
  std::string producer = "test image";
  uint32_t extra = 0;
  // The extra word is written when the version asks for it (>= -83), unless
  // forced either way.
  enum { BY_VERSION, ALWAYS, NEVER } extra_word = BY_VERSION;
};

class IcodeImage {
public:
  enum Section { OPTIONS, INITIALIZERS, TYPES, FILES, GLOBALS };

  // Primitives; they go into the open record's payload, else the image.
  IcodeImage &byte(uint8_t b);
  IcodeImage &flag(bool f) { return byte(f ? 1 : 0); }
  IcodeImage &short_(int v);   // two bytes, low first
  IcodeImage &word(uint32_t w);
  IcodeImage &uleb(uint32_t v);
  IcodeImage &sleb(int32_t v);
  IcodeImage &raw(std::initializer_list<uint8_t> bytes);
  IcodeImage &raw(const std::vector<uint8_t> &bytes);
  IcodeImage &text(std::string_view s);           // with its terminator
  IcodeImage &counted(std::string_view s);        // uleb length, bytes
  IcodeImage &pos(uint32_t file, uint32_t line, uint32_t column);
  IcodeImage &no_pos() { return uleb(0); }
  IcodeImage &type_ref(uint32_t id) { return uleb(id); }
  IcodeImage &sym_ref(uint32_t scope, uint32_t index) { return uleb(scope).uleb(index); }

  // Record framing.
  IcodeImage &begin(uint8_t tag);
  IcodeImage &end();
  IcodeImage &end_stream() { return byte(TAG_END); }   // tag 255

  // Header record: offsets start at 0 and are filled in later.
  IcodeImage &header(const HeaderFields &h = HeaderFields());
  void set_section(Section s, uint32_t offset);
  // Points the section's offset at the current end of the image.
  IcodeImage &section_here(Section s);

  // Node records: begin(101), operator, type ref.  Add the operator's fields
  // and call end(); operand records follow.
  IcodeImage &node(uint32_t op, uint32_t type_id);
  // Complete leaf records.
  IcodeImage &leaf(uint32_t op, uint32_t type_id) { return node(op, type_id).end(); }
  IcodeImage &icon_signed(uint32_t type_id, int32_t v);
  IcodeImage &icon_unsigned(uint32_t type_id, uint32_t v);
  IcodeImage &name(uint32_t type_id, uint32_t scope, uint32_t index);

  // Section and stream records.
  IcodeImage &option_set(uint32_t number, const std::vector<std::string> &texts);
  IcodeImage &file_name(std::string_view name);
  // A symbol record with the common fields; `lists` attribute lists are
  // announced and must follow as attribute_list records.
  struct Symbol {
    std::string name;
    uint32_t size = 32;
    uint32_t offset = 0;
    uint8_t storage_class = 2;
    uint16_t flags = 0;
    uint32_t type = 0;
    uint32_t second_type = 0;
    uint32_t alignment = 32;
    uint8_t lists = 0;
    uint32_t initializer_position = 0;
    uint32_t option_set = 0;
    uint32_t file = 0, line = 0, column = 0;
  };
  IcodeImage &symbol(const Symbol &s);
  IcodeImage &attribute_list(uint8_t tag, uint32_t kind, const std::vector<std::string> &args);

  size_t size() const { return bytes_.size(); }
  // Offset of the next byte relative to the header.
  uint32_t here() const { return static_cast<uint32_t>(bytes_.size() - origin_); }
  const std::vector<uint8_t> &bytes() const { return bytes_; }

private:
  std::vector<uint8_t> &out() { return in_record_ ? payload_ : bytes_; }

  std::vector<uint8_t> bytes_;
  std::vector<uint8_t> payload_;
  uint8_t tag_ = 0;
  bool in_record_ = false;
  size_t origin_ = 0;            // where the header starts
  size_t offset_at_[5] = {};     // image index of each section offset word
  bool have_header_ = false;
};

// A read-only FILE over a copy of some bytes (fmemopen).
class MemFile {
public:
  explicit MemFile(std::vector<uint8_t> bytes);
  ~MemFile();
  MemFile(const MemFile &) = delete;
  MemFile &operator=(const MemFile &) = delete;
  FILE *get() const { return file_; }

private:
  std::vector<uint8_t> bytes_;
  FILE *file_ = nullptr;
};

} // namespace zor::test
