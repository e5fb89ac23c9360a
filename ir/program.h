// ir/program.h - the program context: everything the reader builds for a run.
//
// PROGRAM is the optimizer's I-code client.  It owns the type package, every
// symbol, the global list, the functions in the order the reader delivered
// them and, per function, the statement list read for it.  It is created by
// the command-line set-up after the option sets are built and destroyed at
// the end of main.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
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
  const std::vector<SYMTAB *> &globals() const { return globals_; }
  const std::vector<FUNINFO *> &functions() const { return functions_; }

  // The FUNINFO of a function symbol, created on first request.
  FUNINFO *funinfo_of(SYMTAB *fn);

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
  std::unique_ptr<TYPE_PKG> types_;
  std::vector<std::unique_ptr<SYMTAB>> symbols_;
  std::vector<SYMTAB *> globals_;
  std::vector<FUNINFO *> functions_;
  std::map<uint32_t, std::unique_ptr<FUNINFO>> funinfos_;   // by symbol serial
  std::vector<Initializer> initializers_;
  std::vector<PragmaRecord *> toplevel_pragmas_;             // owned
  FUNINFO *reading_ = nullptr;      // the function being read
  uint32_t next_serial_ = 0;

  void append_statement(NODE *tree, SrcPos pos);
};

} // namespace zor
