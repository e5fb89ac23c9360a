// tests/support/icode_image.cpp - builds I-code images byte by byte for tests.
#include "tests/support/icode_image.h"

#include <stdexcept>

#include "ir/opcodes.h"

namespace zor::test {

IcodeImage &IcodeImage::byte(uint8_t b) {
  out().push_back(b);
  return *this;
}

IcodeImage &IcodeImage::short_(int v) {
  auto u = static_cast<uint16_t>(v);
  return byte(u & 0xff).byte(u >> 8);
}

IcodeImage &IcodeImage::word(uint32_t w) {
  for (int i = 0; i < 4; ++i)
    byte(static_cast<uint8_t>(w >> (8 * i)));
  return *this;
}

IcodeImage &IcodeImage::uleb(uint32_t v) {
  do {
    uint8_t b = v & 0x7f;
    v >>= 7;
    byte(v ? b | 0x80 : b);
  } while (v);
  return *this;
}

// Stops after the byte whose remaining value is 0 with bit 6 clear, or -1
// with bit 6 set.
IcodeImage &IcodeImage::sleb(int32_t v) {
  int64_t x = v;
  for (;;) {
    uint8_t b = x & 0x7f;
    x >>= 7;
    bool done = (x == 0 && !(b & 0x40)) || (x == -1 && (b & 0x40));
    byte(done ? b : b | 0x80);
    if (done)
      return *this;
  }
}

IcodeImage &IcodeImage::raw(std::initializer_list<uint8_t> bytes) {
  for (uint8_t b : bytes)
    byte(b);
  return *this;
}

IcodeImage &IcodeImage::raw(const std::vector<uint8_t> &bytes) {
  for (uint8_t b : bytes)
    byte(b);
  return *this;
}

IcodeImage &IcodeImage::text(std::string_view s) {
  for (char c : s)
    byte(static_cast<uint8_t>(c));
  return byte(0);
}

IcodeImage &IcodeImage::counted(std::string_view s) {
  uleb(static_cast<uint32_t>(s.size()));
  for (char c : s)
    byte(static_cast<uint8_t>(c));
  return *this;
}

IcodeImage &IcodeImage::pos(uint32_t file, uint32_t line, uint32_t column) {
  uleb(file);
  if (file != 0)
    uleb(line).uleb(column);
  return *this;
}

IcodeImage &IcodeImage::begin(uint8_t tag) {
  if (in_record_)
    throw std::logic_error("IcodeImage: record already open");
  in_record_ = true;
  tag_ = tag;
  payload_.clear();
  return *this;
}

IcodeImage &IcodeImage::end() {
  if (!in_record_)
    throw std::logic_error("IcodeImage: no record open");
  in_record_ = false;
  byte(tag_);
  uleb(static_cast<uint32_t>(payload_.size()));
  bytes_.insert(bytes_.end(), payload_.begin(), payload_.end());
  payload_.clear();
  return *this;
}

IcodeImage &IcodeImage::header(const HeaderFields &h) {
  origin_ = bytes_.size();
  have_header_ = true;
  // Offsets are patched in place later, so the payload is laid out here and
  // the word positions computed from the length field's size.
  begin(h.tag);
  text(h.magic).short_(h.version).short_(h.check);
  size_t first_offset = payload_.size();
  for (int i = 0; i < 5; ++i)
    word(0);
  text(h.producer);
  bool extra = h.extra_word == HeaderFields::ALWAYS ||
               (h.extra_word == HeaderFields::BY_VERSION && h.version >= -83);
  if (extra)
    word(h.extra);
  size_t length = payload_.size();
  size_t length_bytes = 1;
  for (size_t v = length >> 7; v; v >>= 7)
    ++length_bytes;
  size_t payload_start = bytes_.size() + 1 + length_bytes;
  for (int i = 0; i < 5; ++i)
    offset_at_[i] = payload_start + first_offset + 4 * static_cast<size_t>(i);
  return end();
}

void IcodeImage::set_section(Section s, uint32_t offset) {
  if (!have_header_)
    throw std::logic_error("IcodeImage: no header");
  for (int i = 0; i < 4; ++i)
    bytes_[offset_at_[s] + i] = static_cast<uint8_t>(offset >> (8 * i));
}

IcodeImage &IcodeImage::section_here(Section s) {
  set_section(s, here());
  return *this;
}

IcodeImage &IcodeImage::node(uint32_t op, uint32_t type_id) {
  return begin(TAG_NODE).byte(static_cast<uint8_t>(op)).type_ref(type_id);
}

IcodeImage &IcodeImage::icon_signed(uint32_t type_id, int32_t v) {
  return node(ICON, type_id).sleb(v).end();
}

IcodeImage &IcodeImage::icon_unsigned(uint32_t type_id, uint32_t v) {
  return node(ICON, type_id).uleb(v).end();
}

IcodeImage &IcodeImage::name(uint32_t type_id, uint32_t scope, uint32_t index) {
  return node(NAME, type_id).sym_ref(scope, index).end();
}

IcodeImage &IcodeImage::option_set(uint32_t number, const std::vector<std::string> &texts) {
  begin(TAG_OPTION_SET).uleb(number).uleb(static_cast<uint32_t>(texts.size()));
  for (const std::string &t : texts)
    text(t);
  return end();
}

IcodeImage &IcodeImage::file_name(std::string_view name) {
  return begin(TAG_FILE_NAME).text(name).end();
}

IcodeImage &IcodeImage::symbol(const Symbol &s) {
  begin(TAG_SYMBOL).text(s.name).uleb(s.size).uleb(s.offset).byte(s.storage_class);
  short_(s.flags).type_ref(s.type).type_ref(s.second_type).uleb(s.alignment);
  byte(s.lists).uleb(s.initializer_position).uleb(s.option_set);
  return pos(s.file, s.line, s.column).end();
}

IcodeImage &IcodeImage::attribute_list(uint8_t tag, uint32_t kind,
                                       const std::vector<std::string> &args) {
  begin(tag).uleb(kind).uleb(static_cast<uint32_t>(args.size()));
  for (const std::string &a : args)
    text(a);
  return end();
}

// MemFile is in text_check.cpp: it runs every image through the text form,
// which tools built without the library (the fuzz seed writer) do without.

} // namespace zor::test
