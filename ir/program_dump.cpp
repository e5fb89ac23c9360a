// ir/program_dump.cpp - the whole program as read, for the debug output.
#include "ir/program_dump.h"

#include <string>

#include "ir/demangle.h"
#include "ir/node.h"
#include "ir/program.h"
#include "ir/symtab.h"
#include "ir/tree_print.h"
#include "ir/type.h"

namespace zor {

namespace {

std::string pos_text(const SrcPos &p) {
  if (!p.valid())
    return "-";
  return std::string(p.file) + ":" + std::to_string(p.line) + ":" + std::to_string(p.column);
}

void dump_symbol(FILE *out, const SYMTAB &s) {
  std::string plain = demangle(s.name());
  std::fprintf(out, "  [%u] %s", s.table_index, symbol_declaration(s).c_str());
  if (plain != s.name_text)
    std::fprintf(out, "  <%s>", s.name());
  std::fprintf(out, "\n      size %u offset %u class %u flags 0x%04x align %u level %u "
                    "optset %u serial %u type #%u at %s\n",
               s.size_bits, s.offset_value, s.sclass, s.flag_bits, s.align, s.level,
               s.option_set_number, s.serial, s.type_ ? s.type_->id : 0u, pos_text(s.pos).c_str());
}

void dump_types(FILE *out, const TYPE_PKG &types) {
  std::fprintf(out, "\n---- types\n");
  for (uint32_t id = 1; id <= types.type_count(); ++id) {
    TYPE *t = types.type_by_id(id);
    if (!t)
      continue;
    std::fprintf(out, "  #%u %s", id, t->print(true).c_str());
    if (t->next_equiv)
      std::fprintf(out, " == #%u", t->representative()->id);
    if (!t->frozen)
      std::fprintf(out, " (incomplete)");
    std::fprintf(out, "\n");
  }
}

void dump_function(FILE *out, const FUNINFO &fi) {
  std::fprintf(out, "\n==== FUNCTION %s (%s)\n", demangle(fi.symbol->name()).c_str(),
               fi.file_name.c_str());
  std::fprintf(out, "  parameters:\n");
  for (const SYMTAB *p : fi.params)
    dump_symbol(out, *p);
  std::fprintf(out, "  locals:\n");
  for (const SYMTAB *l : fi.locals)
    dump_symbol(out, *l);
  std::fprintf(out, "  statements (%zu):\n", fi.statements.size());
  for (const STMT &s : fi.statements) {
    if (s.pos.valid())
      std::fprintf(out, "; line %u\n", s.pos.line);
    std::fputs(tree_dump(s.tree).c_str(), out);
  }
}

} // namespace

void dump_program(const PROGRAM &program, FILE *out) {
  std::fprintf(out, "\n==== PROGRAM AS READ\n");
  dump_types(out, program.types());
  std::fprintf(out, "\n---- globals\n");
  for (const SYMTAB *g : program.globals())
    dump_symbol(out, *g);
  for (const FUNINFO *fi : program.functions())
    dump_function(out, *fi);
  program.types().db_stats(out);
  program.print_interned_stats(out);
}

void debug_dump_program(const PROGRAM &program) {
  if (FILE *out = ir_debug_stream ? ir_debug_stream() : nullptr) {
    dump_program(program, out);
    std::fflush(out);
  }
}

} // namespace zor
