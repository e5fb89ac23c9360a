// icode/reader_impl.h - the reader's state, shared by its source files.
//
// Private to icode/: reader.cpp decodes the header, sections, main stream and
// trees; type_records.cpp decodes the type records and keeps the type map.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "icode/byte_stream.h"
#include "icode/reader.h"

namespace zor {

struct IcodeReader::Impl {
  // What the type map holds for one identifier.
  struct TypeEntry {
    TYPE *type = nullptr;
    uint8_t open_groups = 0;   // attribute groups still to come
    uint16_t open_mask = 0;    // bit g: group g is open
  };

  Impl(FILE *f, IcodeClient &c, TYPE_PKG &t) : in(f), client(c), types(t) {}

  ByteStream in;
  IcodeClient &client;
  TYPE_PKG &types;   // for the type-record decoder
  IcodeHeader header;
  FILE *err = stderr;
  uint32_t depth = 0;   // scope depth
  std::vector<I_SYMTAB *> globals;
  std::vector<I_SYMTAB *> locals;
  std::vector<std::unique_ptr<std::string>> files;   // file index k at k-1
  std::unordered_map<uint32_t, TypeEntry> type_map;

  bool read_header();
  template <class PerRecord> void read_section(uint32_t offset, PerRecord per_record);
  void read_option_sets();
  void read_main_stream();
  void read_record(uint8_t tag, uint32_t length);

  SrcPos pos();
  SrcPos to_pos(const RawPos &r) const;
  TYPE *type_ref() { return lookup_type(in.type_ref()); }
  TYPE *lookup_type(uint32_t id) const;
  I_SYMTAB *global_or_fail(uint32_t index) const;
  void enter_symbol(I_SYMTAB *sym);

  void read_texts(uint32_t count, std::vector<std::string> &texts);
  void read_symbol();
  PragmaRecord *read_pragma_record();
  void read_initializer();
  void read_eht();

  BASE_NODE *read_tree(bool header_read);
  BASE_NODE *read_node(bool header_read, unsigned &operands);
  void read_node_fields(BASE_NODE *n, uint32_t op, TYPE *type);

  // ---- type records (type_records.cpp)
  // One type record whose payload has `length` bytes.
  void read_type_record(uint32_t length);
  // Binds `id` to `t`, which expects `open_groups` attribute groups; a type
  // with none is completed first (and may become an equal held type).
  void bind(uint32_t id, TYPE *t, uint8_t open_groups);
  // The entry of a bound identifier ("invalid forward reference" if none).
  TypeEntry &bound_entry(uint32_t id);
};

} // namespace zor
