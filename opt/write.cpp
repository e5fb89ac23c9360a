// opt/write.cpp - the function writer (OPT5/write).
//
// What "output function" writes for one function, in its fixed order, and
// what is written for the program after the last function: top-level pragma
// records, the initializers and the table of global symbols.  Every tree is
// normalized by `wrtree` before it is written.  Needs the function's
// FUNINFO as the reader and the passes left it; the statement trees are
// changed in place by the normalization (labels, calls, conversions,
// profile values), so the function's data is meant to be released after it.
//
// Until the flow graph exists the body is the statement list in program
// order; block output (labels by reference count, IF rewriting, the
// profile-counter branch) takes its place with the flow graph.
#include "opt/write.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/run.h"
#include "icode/record_tags.h"
#include "icode/writer.h"
#include "ir/funinfo.h"
#include "ir/node.h"
#include "ir/node_info.h"
#include "ir/program.h"
#include "ir/symtab.h"
#include "ir/type.h"

namespace zor {

namespace {

// A function whose record carries this flag value is not written.
constexpr uint32_t FI_NOT_WRITTEN = 64;
// The routine flag that turns an MCALL into an ICALL.
constexpr uint32_t kRoutineIntrinsic = 0x80000;
// The byte record of a function that makes no calls: 'L'.
constexpr uint8_t kNoCallsByte = 76;

bool is_written(const FUNINFO &fi) { return fi.symbol && !(fi.flags & FI_NOT_WRITTEN); }

// ------------------------------------------------- symbol-table questions
//
// Rules 4 and 5 of the normalization ask the program's symbol tables which
// symbols are special call targets and which routines carry bit 0x80000 in
// their flags word.  Both answers belong to the built-in function table
// (create_builtin_functions), which does not exist yet: until it does, no
// symbol is a special call target and no routine carries the bit.
bool is_special_call_target(const SYMTAB &sym) {
  static_cast<void>(sym);
  return false;
}

uint32_t routine_flags(const char *name) {
  static_cast<void>(name);
  return 0;
}

bool is_vector_type(const TYPE *t) { return t && t->is_vector(); }

[[noreturn]] void wrtree_error(uint32_t op) {
  char line[128];
  std::snprintf(line, sizeof line, "\n\n   !!! Error in 'wrtree', opcode=%d %s !!!\n",
                static_cast<int>(op), op_mnemonic(op));
  std::fputs(line, stderr);
  debug_printf("%s", line);
  terminate_abnormally(nullptr);
}

// Does the ICON's value need more than 32 bits?  It fits when it equals its
// low 32 bits sign-extended (signed types) or zero-extended (unsigned).
bool icon_needs_lcon(const NODE *n) {
  if (int_width_of(n->type) <= 32)
    return false;
  const __int128 v = n->icon.to_i128();
  const __int128 low = int_type_is_signed(n->type)
                           ? static_cast<__int128>(static_cast<int32_t>(n->icon.low32()))
                           : static_cast<__int128>(n->icon.low32());
  return v != low;
}

// CALL(UAND(NAME f), args) or UCALL(UAND(NAME f)) of a special call target
// f becomes MCALL(args) or UMCALL naming f.
void rewrite_special_call(NODE *n) {
  NODE *callee = n->left;
  if (!callee || callee->op != UAND || !callee->left || callee->left->op != NAME)
    return;
  SYMTAB *target = callee->left->sym();
  if (!target || !is_special_call_target(*target))
    return;
  const std::string name = target->name();
  NODE *args = n->right;
  n->right = nullptr;
  n->left = args;
  erase_tree(callee);
  n->op = args ? MCALL : UMCALL;
  n->set_callee_name(name.c_str());
}

// The normalization of one node (rules 1 to 6 and 8); rule 7 wraps the node
// and is applied by the walk.
void normalize_node(NODE *n) {
  switch (n->op) {
  case LABEL:
    // Rule 1: the number comes from the label record the node refers to.
    // Label records come with the flow graph (cfg/); until then a LABEL
    // carries its number itself and nothing is refreshed.
    break;
  case NAME:
    if (SYMTAB *s = n->sym(); s && s->level == 0)
      s->flag_bits |= SF_REFERENCED;
    break;
  case ICON:
    if (icon_needs_lcon(n))
      n->op = LCON;
    break;
  case CALL:
  case UCALL:
    rewrite_special_call(n);
    break;
  case VRCONV:
    n->op = SCONV;
    break;
  case VSCONV:
    if (!is_vector_type(n->type) || !n->left || !is_vector_type(n->left->type))
      ir_internal_error();
    n->op = SCONV;
    break;
  default:
    break;
  }
  if (n->op == MCALL && n->callee() && (routine_flags(n->callee()) & kRoutineIntrinsic))
    n->op = ICALL;
  if (n->op > kMaxFileOp)
    wrtree_error(n->op);
}

// ------------------------------------------------------------ tracing

void trace_symbol_header() {
  debug_printf("\n-- variable -- size -- offset/class/scqual/aln/otype;\n");
}

void trace_symbol(const SYMTAB &s, uint32_t offset, uint8_t storage_class) {
  debug_printf("%-20s %6u %6u/%u/0x%04x/%u/%u;\n", s.name(), s.size(), offset, storage_class,
               s.flags(), s.alignment(), s.otype ? s.otype->id : 0u);
}

void trace_function_record(const char *label, uint8_t tag, const SrcPos &pos, const char *name) {
  debug_printf("%s\t%d\t%ld\t\t\t;%s\n", label, tag, static_cast<long>(pos.line), name);
}

// ------------------------------------------------------------- symbols

// Class 27 read from a file is kept as class 9; it is written as 27 again.
uint8_t written_class(const SYMTAB &s) {
  if (s.sclass == SC_STORED_27 && s.original_sclass == SC_FILE_27)
    return SC_FILE_27;
  return s.sclass;
}

// What the symbol record carries as offset (the writer decides it the same
// way; this is for the trace).
uint32_t written_offset(const SYMTAB &s) {
  return s.sclass == SC_REGISTER || s.sclass == SC_STORED_27 || s.sclass == SC_CLASS_22
             ? s.offset()
             : 0;
}

void write_local(IcodeWriter &w, SYMTAB &s, uint32_t level) {
  const uint8_t sc = written_class(s);
  if (run.debug_flag)
    trace_symbol(s, written_offset(s), sc);
  w.symbol(s, sc);
  w.enter_local(s, level);
}

// The symbols of the parameter chain at `level`, in the order of their
// serial numbers; at level 1 only those still carrying their creation bit.
std::vector<SYMTAB *> parameters_in_order(const FUNINFO &fi, uint32_t level) {
  std::vector<SYMTAB *> out;
  for (SYMTAB *s : fi.params)
    if (s && s->level == level && (level != 1 || (s->state & SS_CREATED)))
      out.push_back(s);
  std::stable_sort(out.begin(), out.end(),
                   [](const SYMTAB *a, const SYMTAB *b) { return a->serial < b->serial; });
  return out;
}

// ---------------------------------------------- exception-handling table

// The entries without the root entry, numbered again from 1 in table order;
// links to the root or to an entry that is gone become 0.
std::vector<EhtEntry> renumbered_eht(const std::vector<EhtEntry> &table) {
  std::vector<std::pair<uint32_t, uint32_t>> ids;   // old -> new, in table order
  for (const EhtEntry &e : table)
    if (e.kind != EHT_ROOT)
      ids.emplace_back(e.id, static_cast<uint32_t>(ids.size() + 1));
  auto new_id = [&ids](uint32_t old) -> uint32_t {
    for (const auto &p : ids)
      if (p.first == old)
        return p.second;
    return 0;
  };
  std::vector<EhtEntry> out;
  for (const EhtEntry &e : table) {
    if (e.kind == EHT_ROOT)
      continue;
    EhtEntry copy;
    copy.id = static_cast<uint32_t>(out.size() + 1);
    copy.kind = e.kind;
    copy.next = new_id(e.next);
    copy.count = e.count;
    copy.cleanup_pos = e.cleanup_pos;
    copy.cleanup = e.cleanup;   // still owned by the function
    copy.handlers = e.handlers;
    out.push_back(std::move(copy));
  }
  return out;
}

} // namespace

// --------------------------------------------------------------- wrtree

NODE *wrtree(NODE *root, const FUNINFO *fi) {
  const bool profile_values = fi && fi->profiling_state == 2;
  std::vector<NODE **> todo{&root};
  while (!todo.empty()) {
    NODE **slot = todo.back();
    todo.pop_back();
    NODE *n = *slot;
    normalize_node(n);
    // Rule 7: a node that carries a profile-value index is written under an
    // EPVAL of that index.
    if (profile_values && n->op != EPVAL && n->epval >= 0) {
      NODE *e = make_node(EPVAL, n, nullptr, n->type);
      e->epval = n->epval;
      n->epval = -1;
      *slot = e;
    }
    if (n->right)
      todo.push_back(&n->right);
    if (n->left)
      todo.push_back(&n->left);
  }
  return root;
}

// -------------------------------------------------------- the function

void write_function_begin(IcodeWriter &w, FUNINFO &fi) {
  if (!is_written(fi))
    return;
  SYMTAB &fn = *fi.symbol;
  if (fn.level != 0)
    ir_internal_error();

  // 1. Function begin.
  w.function_begin(fi.begin_pos, fn.index());
  if (run.debug_flag)
    trace_function_record("I_BF", TAG_FUNC_BEGIN, fi.begin_pos, fn.name());

  // 2. Dependence edges: no pass records edges between DDNODEs yet (the
  // reader drops tag 58 and DDNODE numbers), so there is none to write.

  // 3. Parameters.
  w.clear_locals();
  if (run.debug_flag)
    trace_symbol_header();
  for (SYMTAB *s : parameters_in_order(fi, 1))
    write_local(w, *s, 1);

  // 4. Body begin.
  w.position_record(TAG_BODY_BEGIN, fi.body_pos);
  if (run.debug_flag)
    trace_function_record("I_EA", TAG_BODY_BEGIN, fi.body_pos, fn.name());

  // 5. Locals, then the parameters that were moved to the body's level.
  // Locals of nested blocks live in the body's scope once written: the
  // writer writes no block records.
  for (SYMTAB *s : fi.locals) {
    if (!s)
      continue;
    if (s->level < 2)
      ir_internal_error();
    write_local(w, *s, 2);
  }
  for (SYMTAB *s : parameters_in_order(fi, 2))
    write_local(w, *s, 2);

  // 6. The current position.
  w.position_record(TAG_POSITION, fi.current_pos);
  if (run.debug_flag)
    trace_function_record("I_EL", TAG_POSITION, fi.current_pos, fn.name());

  // 7. A function without calls.
  if (fi.no_calls)
    w.byte_record(kNoCallsByte);

  // 8. Pending pragmas, announced by "*" (which a reader ignores).
  if (!fi.pending_pragmas.empty()) {
    w.pragma("*");
    for (const std::string &text : fi.pending_pragmas)
      w.pragma(text.c_str());
  }
}

namespace {

// The statement list in program order: label definitions as label records,
// inline assembly and pragma records as themselves, every other statement
// as a statement record with its normalized tree.
void write_statement_list(IcodeWriter &w, FUNINFO &fi) {
  for (STMT &s : fi.statements) {
    const uint32_t op = s.tree->op;
    if (op != LABELDEF && op != ASM && op != PPRAGMA)
      s.tree = wrtree(s.tree, &fi);
  }
  for (const STMT &s : fi.statements) {
    NODE *t = s.tree;
    switch (t->op) {
    case LABELDEF:
      w.label(t->label_number());
      break;
    case ASM:
      w.inline_asm(t->text() ? t->text() : "", s.pos);
      break;
    case PPRAGMA:
      if (!t->pragma)
        ir_internal_error();
      w.pragma_record(*t->pragma);
      break;
    default:
      w.statement(s.pos, t);
      break;
    }
  }
}

} // namespace

void write_function_body(IcodeWriter &w, FUNINFO &fi) {
  if (!is_written(fi))
    return;
  // BLOCK OUTPUT goes here with the flow graph (cfg/): the blocks in the
  // order of the `next` chain, each traced under debug output, its labels
  // written when referenced, IF statements turned into CBRANCH and BRANCH,
  // statements after a call of "_never_executed" dropped, a branch to the
  // next block or a return equal to its first statement left out, and,
  // under profiling state 2, the profile-counter branch at the start of
  // the body.  Until the flow graph exists, the body is the statement list
  // (and a profiling branch the reader set aside is not written).
  write_statement_list(w, fi);
}

void write_function_end(IcodeWriter &w, FUNINFO &fi) {
  if (!is_written(fi))
    return;
  // 10. The exception-handling table, without its root entry.
  if (!fi.eht.empty()) {
    for (EhtEntry &e : fi.eht)
      if (e.cleanup)
        e.cleanup = wrtree(static_cast<NODE *>(e.cleanup), &fi);
    std::vector<EhtEntry> entries = renumbered_eht(fi.eht);
    if (!entries.empty())
      w.exception_table(entries);
  }
  // 11. Function end.
  w.position_record(TAG_FUNC_END, fi.end_pos);
}

// ------------------------------------------------------------ the program

void write_program_data(IcodeWriter &w, PROGRAM &program) {
  // Pragma records met outside functions, in the order read; they belong to
  // the main stream, which the first initializer ends.
  for (const PragmaRecord *rec : program.toplevel_pragmas())
    w.pragma_record(*rec);

  for (const PROGRAM::Initializer &init : program.initializers()) {
    if (!init.symbol)
      continue;
    std::vector<BASE_NODE *> trees;
    for (NODE *t : init.trees)
      trees.push_back(wrtree(t, nullptr));
    w.initializer(*init.symbol, trees);
  }

  // The global symbols, written when the writer closes.  A symbol ref
  // carries the global's index, so the table must be in index order.
  const std::vector<SYMTAB *> &globals = program.globals();
  if (run.debug_flag && !globals.empty())
    trace_symbol_header();
  for (size_t i = 0; i < globals.size(); ++i) {
    SYMTAB &g = *globals[i];
    if (g.level != 0 || g.index() != i)
      ir_internal_error();
    if (run.debug_flag)
      trace_symbol(g, written_offset(g), g.sclass);
    w.add_global(g);
  }
}

} // namespace zor
