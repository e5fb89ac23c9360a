// ir/symtab.h - symbols.
//
// A SYMTAB describes one named object of the program: variable, parameter,
// function or compiler-made temporary.  The reader and writer reach it
// through I_SYMTAB.  Symbols are owned by the program (ir/program.h).
#pragma once

#include <cstdint>
#include <string>

#include "icode/i_symtab.h"

namespace zor {

class TYPE;
class FUNINFO;

// Symbol flag bits.
enum : uint16_t {
  SF_CREGISTER = 0x0010,   // control-register variable
  SF_REGISTER = 0x0080,    // register variable
  SF_REFERENCED = 0x8000,  // global referenced by the written output
};

class SYMTAB final : public I_SYMTAB {
public:
  std::string name_text;
  uint32_t size_bits = 0;
  uint32_t offset_value = 0;
  uint8_t sclass = 0;
  uint8_t original_sclass = 0;
  uint16_t flag_bits = 0;
  TYPE *type_ = nullptr;       // normalized type
  TYPE *otype = nullptr;       // declared type as read
  TYPE *second = nullptr;
  uint32_t align = 0;
  SrcPos pos;
  PragmaRecord *attrs = nullptr;   // owned chain
  uint32_t level = 0;
  uint32_t table_index = 0;
  uint32_t init_pos = 0;
  uint32_t option_set_number = 0;
  uint32_t serial = 0;
  FUNINFO *funinfo = nullptr;      // for functions

  SYMTAB() = default;
  SYMTAB(const SYMTAB &) = delete;
  SYMTAB &operator=(const SYMTAB &) = delete;
  ~SYMTAB() override { delete attrs; }

  const char *name() const override { return name_text.c_str(); }
  uint32_t size() const override { return size_bits; }
  uint32_t offset() const override { return offset_value; }
  uint8_t storage_class() const override { return sclass; }
  uint16_t flags() const override { return flag_bits; }
  TYPE *type() const override { return type_; }
  TYPE *second_type() const override { return second; }
  uint32_t alignment() const override { return align; }
  SrcPos position() const override { return pos; }
  const PragmaRecord *attribute_lists() const override { return attrs; }
  uint32_t attribute_list_count() const override {
    uint32_t n = 0;
    for (const PragmaRecord *r = attrs; r; r = r->next)
      ++n;
    return n;
  }
  uint32_t initializer_position() const override { return init_pos; }
  uint32_t option_set() const override { return option_set_number; }
  uint32_t scope_level() const override { return level; }
  uint32_t index() const override { return table_index; }
  void set_scope_level(uint32_t l) override { level = l; }
  void set_index(uint32_t i) override { table_index = i; }
  void set_initializer_position(uint32_t p) override { init_pos = p; }

  // Appends an attribute list at the end of the chain (file order).
  void append_attribute_list(PragmaRecord *rec) {
    PragmaRecord **p = &attrs;
    while (*p)
      p = &(*p)->next;
    *p = rec;
  }
};

} // namespace zor
