// ir/program.cpp - the program context and its I-code client callbacks.
//
// The reader calls these while it decodes a file: symbols are created and
// owned here, trees are built as NODEs, and each function's statements are
// collected in its FUNINFO in program order.  While a function is being read
// it is `currfuninfo`, so that node creation can mark it (calls, control
// registers); outside the per-function work both current pointers are null
// again.
#include "ir/program.h"

#include "ir/node.h"
#include "ir/node_info.h"

namespace zor {

namespace {

// Storage classes of external symbols: a reference (5) and a definition (2).
constexpr uint8_t SC_EXTERN_DEF = 2;
constexpr uint8_t SC_EXTERN_REF = 5;
// A storage class 27 read from a file is kept as 9 and marks the function.
constexpr uint8_t SC_FILE_27 = 27;
constexpr uint8_t SC_STORED_27 = 9;
constexpr uint16_t kFileFlagMask = 0x19ff;

} // namespace

PROGRAM::PROGRAM() : types_(std::make_unique<TYPE_PKG>()) {}

PROGRAM::~PROGRAM() {
  for (Initializer &init : initializers_)
    for (NODE *t : init.trees)
      erase_tree(t);
  for (PragmaRecord *p : toplevel_pragmas_)
    delete p;
  funinfos_.clear();
}

FUNINFO *PROGRAM::funinfo_of(SYMTAB *fn) {
  auto &slot = funinfos_[fn->serial];
  if (!slot) {
    slot = std::make_unique<FUNINFO>();
    slot->symbol = fn;
    fn->funinfo = slot.get();
  }
  return slot.get();
}

bool PROGRAM::accept_version(int, int) { return true; }

// Option sets are taken by the command-line set-up before the program
// context exists; a set met later has nothing to add.
void PROGRAM::option_set(uint32_t, std::vector<std::string>) {}

void PROGRAM::after_types() {}
void PROGRAM::before_stream() {}

void PROGRAM::function_begin(I_SYMTAB *fn, SrcPos pos) {
  auto *sym = dynamic_cast<SYMTAB *>(fn);
  if (!sym)
    ir_internal_error();
  FUNINFO *fi = funinfo_of(sym);
  fi->release_statements();
  fi->file_name = pos.valid() ? pos.file : "NO_PSN_FILE";
  fi->begin_pos = pos;
  fi->current_pos = pos;
  fi->no_calls = true;
  fi->profiling_state = 0;
  fi->scope_level = 1;
  reading_ = fi;
  currfuninfo = fi;
}

void PROGRAM::body_begin(SrcPos pos) {
  if (reading_) {
    reading_->body_pos = pos;
    ++reading_->scope_level;
  }
}

void PROGRAM::block_begin(SrcPos) {
  if (reading_)
    ++reading_->scope_level;
}

void PROGRAM::block_end(SrcPos) {
  if (reading_ && reading_->scope_level > 1)
    --reading_->scope_level;
}

void PROGRAM::function_end(SrcPos pos) {
  if (!reading_)
    return;
  reading_->end_pos = pos;
  reading_->scope_level = 0;
  functions_.push_back(reading_);
  reading_ = nullptr;
  currfuninfo = nullptr;
}

void PROGRAM::position(SrcPos pos) {
  if (reading_)
    reading_->current_pos = pos;
}

// Read-time normalization of a statement tree.  A NAME of an external
// reference is redirected to the external definition of the same name and
// type, so that every pass sees one symbol per global object.
static void normalize_read_tree(NODE *n, const std::vector<SYMTAB *> &globals) {
  while (n) {
    if (n->op == NAME) {
      SYMTAB *s = n->sym();
      if (s && s->level == 0 && s->sclass == SC_EXTERN_REF) {
        for (SYMTAB *g : globals) {
          // Type compatibility comes with the full type package; until then
          // the declared types must be the same object.
          if (g->sclass == SC_EXTERN_DEF && g->name_text == s->name_text &&
              g->type_ == s->type_) {
            n->set_sym(g);
            break;
          }
        }
      }
    }
    if (n->right)
      normalize_read_tree(n->right, globals);
    n = n->left;
  }
}

void PROGRAM::append_statement(NODE *tree, SrcPos pos) {
  if (!reading_) {
    // A statement outside any function has no owner; drop it.
    erase_tree(tree);
    return;
  }
  reading_->statements.push_back({tree, pos});
}

void PROGRAM::statement(BASE_NODE *tree, SrcPos pos) {
  NODE *n = static_cast<NODE *>(tree);
  normalize_read_tree(n, globals_);
  if (reading_)
    reading_->current_pos = pos;
  append_statement(n, pos);
}

void PROGRAM::label(uint32_t number) {
  if (!reading_)
    return;
  auto &stmts = reading_->statements;
  // A function that starts with a branch to its own first label carries
  // profiling set-up: the branch is taken out and kept for the profiling
  // state of the function instead of being a statement.
  if (stmts.size() == 1 && stmts[0].tree->op == BRANCH && stmts[0].tree->left &&
      stmts[0].tree->left->op == LABEL &&
      stmts[0].tree->left->label_number() == number) {
    if (reading_->profiling_branch)
      erase_tree(reading_->profiling_branch);
    reading_->profiling_branch = stmts[0].tree;
    stmts.clear();
    return;
  }
  NODE *def = new_node(LABELDEF, types_->mk_void());
  def->set_label_number(number);
  append_statement(def, reading_->current_pos);
}

void PROGRAM::inline_asm(const std::string &text, SrcPos pos) {
  NODE *n = new_node(ASM, types_->mk_void());
  n->set_scon(text.data(), static_cast<uint32_t>(text.size()));
  append_statement(n, pos);
}

void PROGRAM::pragma(const std::string &text) {
  if (reading_)
    reading_->pending_pragmas.push_back(text);
}

void PROGRAM::pragma_record(PragmaRecord *rec) {
  if (!reading_) {
    toplevel_pragmas_.push_back(rec);
    return;
  }
  NODE *n = new_node(PPRAGMA, types_->mk_void());
  n->pragma = rec;
  append_statement(n, reading_->current_pos);
}

I_SYMTAB *PROGRAM::new_symbol(const SymbolRecord &rec) {
  auto sym = std::make_unique<SYMTAB>();
  sym->name_text = rec.name;
  sym->size_bits = rec.size;
  sym->offset_value = rec.offset;
  sym->sclass = rec.storage_class;
  sym->original_sclass = rec.storage_class;
  sym->flag_bits = rec.flags & kFileFlagMask;
  sym->otype = rec.type;
  sym->type_ = rec.type ? rec.type->normalized() : nullptr;
  sym->second = rec.second_type;
  sym->align = rec.alignment;
  sym->pos = rec.position;
  sym->init_pos = rec.initializer_position;
  sym->option_set_number = rec.option_set;
  sym->serial = ++next_serial_;
  if (sym->sclass == SC_FILE_27) {
    sym->sclass = SC_STORED_27;
    if (reading_)
      reading_->flags |= FI_STORAGE_27;
  }
  SYMTAB *raw = sym.get();
  symbols_.push_back(std::move(sym));
  return raw;
}

// The reader has told the symbol its scope level by now.
void PROGRAM::symbol_complete(I_SYMTAB *sym) {
  auto *s = dynamic_cast<SYMTAB *>(sym);
  if (!s)
    return;
  if (s->level == 0)
    globals_.push_back(s);
  else if (reading_)
    (s->level == 1 ? reading_->params : reading_->locals).push_back(s);
}

void PROGRAM::attribute_list(I_SYMTAB *sym, PragmaRecord *rec) {
  // Optimization overrides reach the optimizer through option sets, never as
  // a symbol's attribute list.
  if (rec->kind == PRG_OPT_OVERRIDE) {
    delete rec;
    ir_internal_error();
  }
  auto *s = dynamic_cast<SYMTAB *>(sym);
  if (!s) {
    delete rec;
    return;
  }
  s->append_attribute_list(rec);
}

void PROGRAM::initializer(I_SYMTAB *sym, std::vector<BASE_NODE *> trees) {
  Initializer init;
  init.symbol = dynamic_cast<SYMTAB *>(sym);
  for (BASE_NODE *t : trees)
    init.trees.push_back(static_cast<NODE *>(t));
  initializers_.push_back(std::move(init));
}

void PROGRAM::exception_table(std::vector<EhtEntry> entries) {
  if (!reading_) {
    for (EhtEntry &e : entries)
      if (e.cleanup)
        erase_tree(static_cast<NODE *>(e.cleanup));
    return;
  }
  for (EhtEntry &e : reading_->eht)
    if (e.cleanup)
      erase_tree(static_cast<NODE *>(e.cleanup));
  reading_->eht = std::move(entries);
}

BASE_NODE *PROGRAM::make_node(uint32_t op, TYPE *type) { return new_node(op, type); }

void PROGRAM::discard_tree(BASE_NODE *tree) { erase_tree(static_cast<NODE *>(tree)); }

} // namespace zor
