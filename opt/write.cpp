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
#include <cstring>
#include <cstdio>
#include <string>
#include <vector>

#include "cfg/bblk.h"
#include "cfg/flowgraph.h"
#include "driver/options.h"
#include "driver/run.h"
#include "icode/record_tags.h"
#include "icode/writer.h"
#include "ir/funinfo.h"
#include "ir/node.h"
#include "ir/node_info.h"
#include "ir/program.h"
#include "ir/symtab.h"
#include "ir/tree_equal.h"
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
    // Rule 1: the number comes from the label record the node refers to
    // (a LABEL of a function never cut into blocks carries it itself).
    if (n->label)
      n->set_label_number(static_cast<uint32_t>(n->label->index));
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

// One statement as its record: inline assembly and pragmas as themselves,
// anything else as a statement record with its normalized tree.
void write_one(IcodeWriter &w, FUNINFO &fi, NODE *&t, SrcPos pos) {
  switch (t->op) {
  case ASM:
    w.inline_asm(t->text() ? t->text() : "", pos);
    break;
  case PPRAGMA:
    if (!t->pragma)
      ir_internal_error();
    w.pragma_record(*t->pragma);
    break;
  default:
    t = wrtree(t, &fi);
    w.statement(pos, t);
    break;
  }
}

// The statement list in program order (a function never cut into blocks),
// label definitions as label records.
void write_statement_list(IcodeWriter &w, FUNINFO &fi) {
  for (STMT &s : fi.statements) {
    if (s.tree->op == LABELDEF)
      w.label(s.tree->label_number());
    else
      write_one(w, fi, s.tree, s.pos);
  }
}


// ------------------------------------------------------------ block output

bool is_never_executed_call(const NODE *t) {
  if (t->op == CALL || t->op == UCALL) {
    const NODE *callee = t->left;
    return callee && callee->op == UAND && callee->left && callee->left->op == NAME &&
           callee->left->sym() && std::strcmp(callee->left->sym()->name(), "_never_executed") == 0;
  }
  if (t->op == MCALL || t->op == UMCALL || t->op == ICALL || t->op == UICALL)
    return t->callee() && std::strcmp(t->callee(), "_never_executed") == 0;
  return false;
}

// A pointer condition compared with its null value.
NODE *truth_value(const FUNINFO &fi, NODE *cond) {
  if (!cond->type || !cond->type->is_pointer())
    return cond;
  NODE *zero = make_node(ICON, nullptr, nullptr, cond->type);
  return make_node(NEQ, cond, zero, int_type_of(fi));
}

// The negation of a condition, simplified: a comparison turns into its
// opposite, !x into x, and anything else x (whose negation is x == 0) is
// written !x.
NODE *negated(const FUNINFO &fi, NODE *cond) {
  const uint32_t neg = cond->op < kNumOps ? negate_op(cond->op) : ILLOP;
  if (op_is_truth(cond->op) && neg != ILLOP && cond->left && cond->right) {
    // NEQ(x, 0) negates to EQ(x, 0), which is !x.
    if (cond->op == NEQ && cond->right->op == ICON && cond->right->icon.value == 0 &&
        cond->right->icon.ext == 0) {
      NODE *x = cond->left;
      cond->left = nullptr;
      erase_tree(cond);
      return make_node(EXCLAIM, x, nullptr, int_type_of(fi));
    }
    cond->op = neg;
    return cond;
  }
  if (cond->op == EXCLAIM && cond->left) {
    NODE *x = cond->left;
    cond->left = nullptr;
    erase_tree(cond);
    return x;
  }
  return make_node(EXCLAIM, cond, nullptr, int_type_of(fi));
}

struct OutStmt {
  NODE *tree;
  SrcPos pos;
};

// The exception dispatch: a SWITCH on a call of the routine that stands for
// the pending exception.
bool is_exception_dispatch(const NODE *sw) {
  const NODE *v = sw->left;
  if (!v)
    return false;
  if (v->op == UCALL || v->op == CALL) {
    const NODE *callee = v->left;
    return callee && callee->op == UAND && callee->left && callee->left->op == NAME &&
           callee->left->sym() &&
           std::strcmp(callee->left->sym()->name(), "__imaginary_exception_predicate") == 0;
  }
  return (v->op == UMCALL || v->op == MCALL) && v->callee() &&
         std::strcmp(v->callee(), "__imaginary_exception_predicate") == 0;
}

// The dispatch is written as its case list alone, followed by a BRANCH to
// its default label: the code generator's handler table has no default
// entry.
void lower_exception_dispatch(const FUNINFO &fi, NODE *sw, SrcPos pos, std::vector<OutStmt> &out) {
  NODE *cases = sw->right;
  NODE *dflt = nullptr;
  if (cases && cases->op == COMMA && cases->right && cases->right->op == DEFAULT) {
    dflt = cases->right;
    sw->right = cases->left;
    cases->left = nullptr;
    cases->right = nullptr;
    erase_tree(cases);
  } else if (cases && cases->op == DEFAULT) {
    dflt = cases;
    sw->right = nullptr;
  }
  if (!sw->right) {
    // Nothing but the default: the dispatch is a jump.
    erase_tree(sw);
  } else {
    out.push_back({sw, pos});
  }
  if (dflt) {
    NODE *br = make_node(BRANCH, dflt->left, nullptr, void_type_of(fi));
    dflt->left = nullptr;
    erase_tree(dflt);
    out.push_back({br, pos});
  }
}

// The statements of `bb` as the file has them: IF becomes CBRANCH and
// BRANCH (or ENDLOOP and BRANCH), and nothing follows a call of
// "_never_executed".  The block's trees are taken over.
std::vector<OutStmt> lower_block(const FUNINFO &fi, BBLK *bb) {
  std::vector<OutStmt> out;
  TYPE *v = void_type_of(fi);
  for (STLIST *s = bb->statements; s; s = s->rest) {
    NODE *t = s->first;
    s->first = nullptr;
    if (t->op == SWITCH && is_exception_dispatch(t)) {
      lower_exception_dispatch(fi, t, s->pos, out);
      continue;
    }
    if (t->op != IF) {
      out.push_back({t, s->pos});
      if (is_never_executed_call(t))
        break;
      continue;
    }
    // The IF's own LABEL leaves go into the new statements, so that the
    // labels they name keep their reference counts.
    NODE *l1 = t->right->left;
    NODE *l2 = t->right->right;
    t->right->left = t->right->right = nullptr;
    BBLK *t1 = label_target(l1);
    BBLK *t2 = label_target(l2);
    NODE *cond = t->left;
    t->left = nullptr;
    erase_tree(t);
    if (cond->op == ENDLOOP) {
      erase_tree(l1);
      out.push_back({cond, s->pos});
      out.push_back({make_node(BRANCH, l2, nullptr, v), s->pos});
      continue;
    }
    cond = truth_value(fi, cond);
    const BBLK *next = bb->next;
    if (t2 == next || (t1 != next && t1->dfn < t2->dfn)) {
      out.push_back({make_node(CBRANCH, negated(fi, cond), l1, v), s->pos});
      out.push_back({make_node(BRANCH, l2, nullptr, v), s->pos});
    } else {
      out.push_back({make_node(CBRANCH, cond, l2, v), s->pos});
      out.push_back({make_node(BRANCH, l1, nullptr, v), s->pos});
    }
  }
  return out;
}

void trace_block(const BBLK *bb) {
  debug_printf("\n++++(WRBBLOCKS): START NEXT BB, UON=%d, DFN=%d\n", static_cast<int>(bb->uon),
               static_cast<int>(bb->dfn));
  for (const LABREC *lab = bb->labels; lab; lab = lab->rest)
    debug_printf("\tLABEL, INDEX=%d, REFCOUNT=%d, NAME=<NONE>\n", static_cast<int>(lab->index),
                 static_cast<int>(lab->refcount));
  debug_printf("\tPREDECESSORS = ( ");
  for (const EDGE *e = bb->predecessors; e; e = e->rest)
    debug_printf("%d ", static_cast<int>(e->bb->dfn));
  debug_printf(")\n");
  debug_printf("\tSUCCESSORS =   ( ");
  for (const EDGE *e = bb->successors; e; e = e->rest)
    debug_printf("%d ", static_cast<int>(e->bb->dfn));
  debug_printf(")\n");
  if (bb->loop_depth)
    debug_printf("\tLOOP DEPTH = %d\n", static_cast<int>(bb->loop_depth));
}


// The blocks along the dfn chain (see write_function_body in write.h).
void write_blocks(IcodeWriter &w, FUNINFO &fi) {
  // Labels beyond a block's first get numbers above the block count, so
  // that every label of the file is distinct.
  int32_t highest = static_cast<int32_t>(fi.bb_count);
  FOR_EACH_BLOCK(bb, fi)
    for (LABREC *lab = bb->labels ? bb->labels->rest : nullptr; lab; lab = lab->rest)
      lab->index = ++highest;

  if (fi.profiling_state == 2 && fi.profiling_branch && !option_vars.no_profile_branch) {
    // The profile counter's set-up branch, to a label of its own.
    const uint32_t number = static_cast<uint32_t>(highest) + 1;
    NODE *leaf = new_node(LABEL, void_type_of(fi));
    leaf->set_label_number(number);
    NODE *br = make_node(BRANCH, leaf, nullptr, leaf->type);
    w.statement(fi.body_pos, wrtree(br, &fi));
    erase_tree(br);
    w.label(number);
  }

  for (BBLK *bb = fi.bb_list; bb; bb = bb->next) {
    if (run.debug_flag)
      trace_block(bb);
    if (!bb->statements)
      continue;
    for (const LABREC *lab = bb->labels; lab; lab = lab->rest) {
      if (lab->refcount == 0)
        continue;
      w.label(static_cast<uint32_t>(lab->index));
      if (run.debug_flag)
        debug_printf("*%d\n", static_cast<int>(lab->index));
    }
    std::vector<OutStmt> out = lower_block(fi, bb);
    const BBLK *next = bb->next;
    size_t i = 0;
    for (; i < out.size(); ++i) {
      NODE *t = out[i].tree;
      if ((t->op == RETURN || t->op == URETURN) && next && next->statements &&
          trees_equal(t, next->statements->first))
        break;
      if (t->op == BRANCH && next && label_target(t->left) == next) {
        if (t->left->label->refcount)
          --t->left->label->refcount;
        break;
      }
      write_one(w, fi, out[i].tree, out[i].pos);
    }
    // The block has been written: its trees go (the function is released
    // after writing).
    for (OutStmt &o : out)
      erase_tree(o.tree);
    delete_statement_list(bb->statements);   // the slots were emptied above
    bb->statements = nullptr;
  }
}

} // namespace

void write_function_body(IcodeWriter &w, FUNINFO &fi) {
  if (!is_written(fi))
    return;
  if (fi.bb_list)
    write_blocks(w, fi);
  else
    write_statement_list(w, fi);   // a function never cut into blocks
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
