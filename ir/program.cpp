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

PROGRAM::PROGRAM() : types_(std::make_unique<TYPE_PKG>()) {}

PROGRAM::~PROGRAM() {
  for (Initializer &init : initializers_)
    for (NODE *t : init.trees)
      erase_tree(t);
  for (PragmaRecord *p : toplevel_pragmas_)
    delete p;
  if (currfuninfo && reading_ == currfuninfo) {
    currfuninfo = nullptr;
    currfunc = nullptr;
  }
  interned_.clear();
}

SYMTAB *PROGRAM::add_symbol(std::unique_ptr<SYMTAB> sym) {
  SYMTAB *raw = sym.get();
  raw->serial = ++next_serial_;
  symbols_.push_back(std::move(sym));
  interned_[raw->serial].symbol = raw;
  return raw;
}

FUNINFO *PROGRAM::funinfo_of(SYMTAB *fn) {
  if (fn->serial == 0)
    fn->serial = ++next_serial_;
  Interned &entry = interned_[fn->serial];
  entry.symbol = fn;
  if (!entry.funinfo) {
    entry.funinfo = std::make_unique<FUNINFO>();
    entry.funinfo->symbol = fn;
    entry.funinfo->types = types_.get();
    fn->funinfo = entry.funinfo.get();
  }
  return entry.funinfo.get();
}

void PROGRAM::print_interned_stats(FILE *out) const {
  int without = 0;
  for (const auto &entry : interned_)
    if (!entry.second.funinfo)
      ++without;
  std::fprintf(out, "\n%u interned symbols;  load factor %.2f, max load factor %.2f, %d with NULL funinfo.\n",
               static_cast<unsigned>(interned_.size()), static_cast<double>(interned_.load_factor()),
               static_cast<double>(interned_.max_load_factor()), without);
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
  fi->params.clear();
  fi->locals.clear();
  fi->file_name = pos.valid() ? pos.file : "NO_PSN_FILE";
  fi->begin_pos = pos;
  fi->current_pos = pos;
  fi->no_calls = true;
  fi->profiling_state = 0;
  fi->begin_scopes();
  reading_ = fi;
  currfuninfo = fi;
  currfunc = sym;
}

void PROGRAM::body_begin(SrcPos pos) {
  if (reading_) {
    reading_->body_pos = pos;
    reading_->open_scope();
  }
}

void PROGRAM::block_begin(SrcPos) {
  if (reading_)
    reading_->open_scope();
}

void PROGRAM::block_end(SrcPos) {
  if (reading_)
    reading_->close_scope();
}

void PROGRAM::function_end(SrcPos pos) {
  if (!reading_)
    return;
  reading_->end_pos = pos;
  reading_->close_all_scopes();
  if (!reading_->listed) {
    reading_->listed = true;
    functions_.push_back(reading_);
  }
  reading_ = nullptr;
  currfuninfo = nullptr;
  currfunc = nullptr;
}

void PROGRAM::position(SrcPos pos) {
  if (reading_)
    reading_->current_pos = pos;
}

// Read-time normalization of a statement tree (OPT5/read).  A NAME of an
// external reference is redirected to the first external definition of the
// same name and a compatible declared type, so that every pass sees one
// symbol per global object.  The walk follows first operands iteratively
// and second operands recursively, as the trees are built.
// A profile value read as EPVAL(x) becomes x carrying the EPVAL index (the
// passes never see EPVAL; the writer puts it back under profiling state 2).
NODE *PROGRAM::unwrap_profile_values(NODE *n) {
  NODE *root = n;
  NODE **slot = &root;
  while (*slot) {
    NODE *x = *slot;
    if (x->op == EPVAL && x->left) {
      NODE *inner = x->left;
      inner->epval = x->epval;
      x->left = nullptr;
      erase_tree(x);
      *slot = inner;
      if (reading_)
        reading_->profiling_state = 2;
      continue;
    }
    if (x->right)
      x->right = unwrap_profile_values(x->right);
    slot = &x->left;
  }
  return root;
}

void PROGRAM::normalize_read_tree(NODE *n) {
  while (n) {
    if (n->op == NAME) {
      SYMTAB *s = n->sym();
      if (s && s->level == 0 && s->sclass == SC_EXTERN_REF) {
        for (SYMTAB *g : globals_) {
          if (g->sclass == SC_EXTERN_DEF && g->name_text == s->name_text &&
              types_->compatible_types(g->otype, s->otype)) {
            n->set_sym(g);
            break;
          }
        }
      }
    }
    if (n->right)
      normalize_read_tree(n->right);
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
  NODE *n = unwrap_profile_values(static_cast<NODE *>(tree));
  normalize_read_tree(n);
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

// The type a symbol carries: the declared type's normal form; an
// enumeration gives its integral type's normal form with the enumeration's
// qualifiers.
TYPE *PROGRAM::symbol_type(TYPE *declared) {
  TYPE *t = types_->normalize(declared);
  if (!t || t->getr()->kind != TK_ENUM || !t->getr()->base)
    return t;
  uint32_t quals = t->qualifier_bits();
  TYPE *integral = types_->normalize(t->getr()->base);
  if (!quals)
    return integral;
  return types_->normalize(types_->mk_qualified(integral, quals));
}

I_SYMTAB *PROGRAM::new_symbol(const SymbolRecord &rec) {
  TYPE *type = symbol_type(rec.type);
  if (rec.type && !rec.type->is_func() && rec.size != rec.type->size) {
    std::fputs("\nAssertion failed: otype->is_func() || size == otype->size()\n", stderr);
    ir_internal_error();
  }
  auto sym = std::make_unique<SYMTAB>();
  sym->name_text = rec.name;
  sym->size_bits = rec.size;
  sym->offset_value = rec.offset;
  sym->sclass = rec.storage_class;
  sym->original_sclass = rec.storage_class;
  sym->flag_bits = rec.flags & kFileFlagMask;
  if (rec.scope_level == 0 && !(type && type->is_const()) && ir_opt_level() < 3)
    sym->flag_bits |= (sym->flag_bits & (SF_CREGISTER | SF_REGISTER)) ? kGlobalFlagsRegister
                                                                        : kGlobalFlagsPlain;
  sym->type_ = type;
  sym->otype = rec.type;
  sym->second = rec.second_type;
  sym->align = rec.alignment;
  sym->pos = rec.position;
  sym->level = rec.scope_level;
  sym->init_pos = rec.initializer_position;
  sym->option_set_number = rec.option_set;
  sym->state = SS_CREATED;
  if (sym->sclass != SC_REGISTER && sym->sclass != SC_CLASS_17 && sym->sclass != SC_CLASS_22)
    sym->state |= SS_NOT_REGISTER_LIKE;
  if (sym->sclass == SC_FILE_27) {
    sym->sclass = SC_STORED_27;
    if (reading_)
      reading_->flags |= FI_STORAGE_27;
  }
  SYMTAB *raw = add_symbol(std::move(sym));
  if (type && type->is_func())
    funinfo_of(raw);
  if (raw->level > 0 && reading_)
    reading_->register_local(raw);
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

SYMTAB *PROGRAM::new_temporary(char letter, TYPE *type) {
  FUNINFO *fi = currfuninfo;
  if (!fi || !type)
    ir_internal_error();
  auto sym = std::make_unique<SYMTAB>();
  sym->name_text = std::string(kTempPrefix) + letter + std::to_string(++next_temp_);
  sym->size_bits = type->size;
  sym->sclass = SC_AUTO;
  sym->original_sclass = SC_AUTO;
  sym->otype = type;
  sym->type_ = symbol_type(type);
  sym->align = type->align;
  sym->level = fi->scope_level > 1 ? fi->scope_level : 2;
  sym->table_index = static_cast<uint32_t>(fi->params.size() + fi->locals.size());
  sym->state = SS_CREATED | SS_NOT_REGISTER_LIKE;
  SYMTAB *raw = add_symbol(std::move(sym));
  fi->register_local(raw);
  fi->locals.push_back(raw);
  return raw;
}

SYMTAB *PROGRAM::implicit_state_symbol() {
  if (implicit_state_)
    return implicit_state_;
  TYPE *t = types_->mk_int(IK_INT);
  auto sym = std::make_unique<SYMTAB>();
  sym->name_text = kImplicitStateName;
  sym->size_bits = t->size;
  sym->sclass = SC_STATIC;
  sym->original_sclass = SC_STATIC;
  sym->otype = t;
  sym->type_ = t;
  sym->align = t->align;
  sym->state = SS_CREATED | SS_NOT_REGISTER_LIKE;
  implicit_state_ = add_symbol(std::move(sym));
  return implicit_state_;
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
  reading_->eht_size = static_cast<uint32_t>(reading_->eht.size());
}

BASE_NODE *PROGRAM::make_node(uint32_t op, TYPE *type) { return new_node(op, type); }

void PROGRAM::discard_tree(BASE_NODE *tree) { erase_tree(static_cast<NODE *>(tree)); }

} // namespace zor
