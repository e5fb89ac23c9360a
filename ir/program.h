// ir/program.h - the program context: everything the reader builds for a run.
//
// PROGRAM is the optimizer's I-code client.  It owns the type package, every
// symbol, the global list, the functions in the order the reader delivered
// them and, per function, the statement list read for it.  It is created by
// the command-line set-up after the option sets are built and destroyed at
// the end of main.
//
// A symbol record becomes a SYMTAB by these rules:
//   1. `otype` is the declared type; `type` its normal form, except that an
//      enumeration gives its integral type's normal form, qualified as the
//      enumeration was;
//   2. the file's flags keep the bits of 0x19ff; a global whose type is not
//      const gets 0xc000 (with flag bit 4 or 7) or 0xe000 (without) when the
//      level in force (ir_opt_level) is below 3;
//   3. a non-function whose size differs from its declared type's size is an
//      internal error ("otype->is_func() || size == otype->size()");
//   4. storage class 27 is kept as 9 and marks the function being read;
//   5. a function symbol gets its FUNINFO, a nested one joins the current
//      scope of the function being read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "icode/reader.h"
#include "ir/funinfo.h"
#include "ir/symtab.h"
#include "ir/type.h"

namespace zor {

class NODE;

class PROGRAM final : public IcodeClient {
public:
  PROGRAM();
  ~PROGRAM() override;
  PROGRAM(const PROGRAM &) = delete;
  PROGRAM &operator=(const PROGRAM &) = delete;

  TYPE_PKG &types() { return *types_; }
  const TYPE_PKG &types() const { return *types_; }
  const std::vector<SYMTAB *> &globals() const { return globals_; }
  const std::vector<FUNINFO *> &functions() const { return functions_; }

  // The FUNINFO of a function symbol, created on first request; the symbol
  // is interned (given a serial number) when it has none yet.
  FUNINFO *funinfo_of(SYMTAB *fn);

  // Symbols the optimizer makes.  A temporary "$O<letter><n>" of the current
  // function (currfuninfo, which must be set) in its current scope, of
  // storage class 1, appended to its locals.
  SYMTAB *new_temporary(char letter, TYPE *type);
  // The implicit-state symbol "__MCALL_implicit_state__" (a static int of
  // level 0, made on first request; not on the list of globals).
  SYMTAB *implicit_state_symbol();

  // Interned-symbol table: every symbol the program made, by serial number,
  // with its FUNINFO or none.  Prints "\n%u interned symbols;  load factor
  // %.2f, max load factor %.2f, %d with NULL funinfo.\n".
  size_t interned_count() const { return interned_.size(); }
  void print_interned_stats(FILE *out) const;

  // A global's initializer trees, in the order read (ENDINIT last).
  struct Initializer {
    SYMTAB *symbol = nullptr;
    std::vector<NODE *> trees;
  };
  const std::vector<Initializer> &initializers() const { return initializers_; }
  // Pragma records met outside functions; the writer copies them through.
  const std::vector<PragmaRecord *> &toplevel_pragmas() const { return toplevel_pragmas_; }

  // IcodeClient.
  bool accept_version(int version, int check) override;
  void option_set(uint32_t number, std::vector<std::string> texts) override;
  void after_types() override;
  void before_stream() override;
  void function_begin(I_SYMTAB *fn, SrcPos pos) override;
  void body_begin(SrcPos pos) override;
  void block_begin(SrcPos pos) override;
  void block_end(SrcPos pos) override;
  void function_end(SrcPos pos) override;
  void position(SrcPos pos) override;
  void statement(BASE_NODE *tree, SrcPos pos) override;
  void label(uint32_t number) override;
  void inline_asm(const std::string &text, SrcPos pos) override;
  void pragma(const std::string &text) override;
  void pragma_record(PragmaRecord *rec) override;
  I_SYMTAB *new_symbol(const SymbolRecord &rec) override;
  void symbol_complete(I_SYMTAB *sym) override;
  void attribute_list(I_SYMTAB *sym, PragmaRecord *rec) override;
  void initializer(I_SYMTAB *sym, std::vector<BASE_NODE *> trees) override;
  void exception_table(std::vector<EhtEntry> entries) override;
  BASE_NODE *make_node(uint32_t op, TYPE *type) override;
  void discard_tree(BASE_NODE *tree) override;

private:
  struct Interned {
    SYMTAB *symbol = nullptr;
    std::unique_ptr<FUNINFO> funinfo;
  };

  std::unique_ptr<TYPE_PKG> types_;
  std::vector<std::unique_ptr<SYMTAB>> symbols_;
  std::vector<SYMTAB *> globals_;
  std::vector<FUNINFO *> functions_;
  std::unordered_map<uint32_t, Interned> interned_;   // by symbol serial
  SYMTAB *implicit_state_ = nullptr;
  uint32_t next_temp_ = 0;
  std::vector<Initializer> initializers_;
  std::vector<PragmaRecord *> toplevel_pragmas_;             // owned
  FUNINFO *reading_ = nullptr;      // the function being read
  uint32_t next_serial_ = 0;

  void append_statement(NODE *tree, SrcPos pos);
  SYMTAB *add_symbol(std::unique_ptr<SYMTAB> sym);
  TYPE *symbol_type(TYPE *declared);
  void normalize_read_tree(NODE *n);
  NODE *unwrap_profile_values(NODE *n);
};

} // namespace zor
