// ir/symtab.h - symbols.
//
// A SYMTAB describes one named object of the program: variable, parameter,
// function or compiler-made temporary.  The reader and writer reach it
// through I_SYMTAB.  Symbols are owned by the program (ir/program.h), which
// also creates them from symbol records (the creation rules are there).
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
// The bits of a symbol record's flags that survive reading.
constexpr uint16_t kFileFlagMask = 0x19ff;
// Added to a global's flags below level 3 when its type is not const:
// with bit 4 or bit 7 set, else without either.
constexpr uint16_t kGlobalFlagsRegister = 0xc000;
constexpr uint16_t kGlobalFlagsPlain = 0xe000;

// Storage classes.
enum : uint8_t {
  SC_AUTO = 1,
  SC_EXTERN_DEF = 2,   // external definition
  SC_STATIC = 3,
  SC_REGISTER = 4,
  SC_EXTERN_REF = 5,   // external reference
  SC_STORED_27 = 9,    // class 27 of a file is kept as 9
  SC_CLASS_17 = 17,
  SC_CLASS_22 = 22,
  SC_FILE_27 = 27,
};

// Symbol state bits.
enum : uint8_t {
  SS_NOT_REGISTER_LIKE = 0x01,   // storage class none of 4, 17 and 22
  SS_CREATED = 0x04,             // set at creation
};

// Names the optimizer makes.  A temporary's name begins with "$O"; "$O"
// followed by one of the temporary letters and digits only is a temporary
// of that letter's kind.
constexpr char kTempPrefix[] = "$O";
constexpr char kTempLetterPlain = 'T';   // temporaries of the passes
constexpr char kTempLetterCse = 'C';     // common-subexpression temporaries
constexpr char kImplicitStateName[] = "__MCALL_implicit_state__";

bool is_temp_name(const char *name);
// The letter of a "$O<letter><digits>" temporary, else 0.
char temp_kind(const char *name);

// The optimization level in force for symbol creation: the current
// function's option set, else the file-level one.  The driver installs its
// level query at start-up; the default answers 1.
extern int (*ir_opt_level)();

class SYMTAB final : public I_SYMTAB {
public:
  std::string name_text;
  uint32_t size_bits = 0;
  uint32_t offset_value = 0;
  uint8_t sclass = 0;
  uint8_t original_sclass = 0;     // the class as first read
  uint16_t flag_bits = 0;
  TYPE *type_ = nullptr;           // normalized type
  TYPE *otype = nullptr;           // declared type as read
  TYPE *second = nullptr;
  uint32_t align = 0;
  SrcPos pos;
  PragmaRecord *attrs = nullptr;   // owned chain
  uint32_t level = 0;              // 0 for globals, the block depth for locals
  uint32_t table_index = 0;
  uint32_t init_pos = 0;
  uint32_t option_set_number = 0;
  SYMTAB *next_local = nullptr;    // chain of the scope's symbols
  uint32_t serial = 0;             // program-wide creation number
  int32_t aux_word = -1;
  uint8_t state = 0;               // SS_* bits; others are pass data
  uintptr_t pass_data[8] = {};     // cleared at creation; the passes' own
  // Live variables (opt/live.h): the symbol's candidate number in the
  // function being analysed (-1: takes no part) and the reads the last
  // dead-assignment walk counted.
  int16_t candidate_number = -1;
  int32_t use_count = 0;
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

// The symbol printer: "cregister" when flag bit 4 is set, "register" for
// flag bit 7 or class 4, "extern" for classes 2 and 5, "static" for 3, else
// "".
const char *storage_word(const SYMTAB &s);
// "static int counter" style: the storage word, the declared type's print
// form and the name (demangled when it is an encoded C++ name).
std::string symbol_declaration(const SYMTAB &s);

} // namespace zor
