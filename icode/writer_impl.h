// icode/writer_impl.h - the writer's state, shared by writer.cpp (records,
// sections, close) and writer_types.cpp (the type section).  Not for use
// outside the writer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "icode/writer.h"

namespace zor {

struct IcodeWriter::Impl {
  enum Stage : uint8_t {
    MAIN,           // main record stream
    INITIALIZERS,   // after the first initializer
    SECTIONS,       // close is writing the sections
    CLOSED,
  };

  struct OptionSet {
    uint32_t number = 0;
    std::vector<std::string> texts;
  };

  Impl(FILE *f, TYPE_PKG &t, std::string producer);
  ~Impl();
  Impl(const Impl &) = delete;
  Impl &operator=(const Impl &) = delete;

  FILE *out;
  long start = 0;     // absolute file position of relative position 0
  uint64_t pos = 0;   // relative position of the next byte
  bool io_error = false;
  Stage stage = MAIN;
  IcodeHeader header;

  // Payload of the record being built.
  char *buf = nullptr;
  size_t cap = 0;
  size_t len = 0;

  std::vector<std::string> files;   // file index k at k-1
  std::vector<I_SYMTAB *> globals;  // in table order
  std::vector<I_SYMTAB *> locals;
  std::vector<OptionSet> option_sets;

  // The package every written type belongs to.  The marks `referenced` and
  // `written` are kept in the types themselves; the identifiers of the
  // output are the writer's own (see output_id).
  TYPE_PKG &types;
  std::vector<uint32_t> out_ids;    // output identifier by package identifier; 0: none yet
  std::vector<TYPE *> out_types;    // representative of output identifier k at k-1
  bool writing_types = false;
  bool type_section_done = false;
  bool file_section_done = false;

  // Primitives.
  void grow(size_t more);
  void byte(uint8_t b);
  void short_(long v);
  void word(uint32_t w);
  void uleb(uint32_t v);
  void sleb(int32_t v);
  void text(const char *s);
  void counted(const char *bytes, uint32_t length);
  void position(const SrcPos &p);
  void type_ref(TYPE *t);
  // Marks the representative of `t` referenced and returns its output
  // identifier.
  uint32_t mark_referenced(TYPE *t);
  // The output identifier of a representative, given at its first use.
  uint32_t output_id(TYPE *rep);
  void sym_ref(const I_SYMTAB *sym);
  void end_record(uint8_t tag);
  void raw(const void *data, size_t n);
  void end_tag();   // a lone 255
  uint32_t intern(const char *name);

  void header_record();
  void symbol_record(const I_SYMTAB &sym, uint8_t storage_class);
  void attribute_lists(const I_SYMTAB &sym);
  void tree(BASE_NODE *root);
  void node_fields(BASE_NODE *n);
  void require_main_stream() const;

  // The type section (writer_types.cpp): writes every referenced type that
  // is not written yet, each after the types it refers to; returns whether
  // anything was written.
  bool write_types();
};


} // namespace zor
