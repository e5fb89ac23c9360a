// tools/zcc/lower_stmt.cpp - statements to statement lists with labels.
//
// Control flow is lowered to labels, BRANCH and CBRANCH (which jumps when
// its condition is false), in the shapes docs/icode.md gives under
// "Lowering of control flow".  Local variables of every block are symbols
// of the function's body; initialized ones become assignments at their
// declaration.  Loop pragmas found right before a loop become pragma
// records in front of it; `_nassert(e);` becomes ASSERT(e).
#include "ir/tree_build.h"
#include "tools/zcc/lower.h"

namespace zor::zcc {

using namespace clang;

void Lowerer::emit(NODE *tree, SrcPos pos) {
  BodyItem it;
  it.kind = BodyItem::STATEMENT;
  it.tree = tree;
  it.pos = pos;
  fn_->items.push_back(std::move(it));
}

void Lowerer::emit_label(uint32_t label) {
  BodyItem it;
  it.kind = BodyItem::LABEL;
  it.label = label;
  fn_->items.push_back(std::move(it));
}

void Lowerer::emit_branch(uint32_t label, SrcPos pos) {
  NODE *l = new_node(LABEL, types_.void_type());
  l->set_label_number(label);
  emit(mk_unary(BRANCH, l, types_.void_type()), pos);
}

void Lowerer::branch_if_false(NODE *c, uint32_t label, SrcPos pos) {
  NODE *l = new_node(LABEL, types_.void_type());
  l->set_label_number(label);
  emit(mk_binary(CBRANCH, c, l, types_.void_type()), pos);
}

uint32_t Lowerer::label_of(const LabelDecl *ld) {
  auto it = labels_.find(ld);
  if (it != labels_.end())
    return it->second;
  uint32_t l = new_label();
  labels_[ld] = l;
  return l;
}

bool Lowerer::last_is_jump() const {
  if (fn_->items.empty() || fn_->items.back().kind != BodyItem::STATEMENT ||
      !fn_->items.back().tree)
    return false;   // a switch whose cases are not known yet is no jump
  uint32_t op = fn_->items.back().tree->op;
  return op == BRANCH || op == RETURN || op == URETURN;
}

// Loop pragmas written before `s` (and after everything lowered so far)
// become the pragma records of `s` when it is a loop; before any other
// statement they are dropped with a warning.
void Lowerer::emit_pragmas_before(const Stmt *s) {
  SourceLocation at = sm_.getExpansionLoc(s->getBeginLoc());
  const bool is_loop = isa<ForStmt>(s) || isa<WhileStmt>(s) || isa<DoStmt>(s);
  while (next_pragma_ < pragmas_.size()) {
    LoopPragma &p = pragmas_[next_pragma_];
    SourceLocation ploc = sm_.getExpansionLoc(p.loc);
    if (sm_.getFileID(ploc) != sm_.getFileID(at) || !sm_.isBeforeInTranslationUnit(ploc, at))
      break;
    ++next_pragma_;
    if (!is_loop) {
      SrcPos pp = pos_of(p.loc);
      std::fprintf(stderr, "zcc: %s:%u:%u: warning: #pragma %s does not precede a loop; ignored\n",
                   pp.file ? pp.file : "?", pp.line, pp.column, p.name.c_str());
      continue;
    }
    loop_pragmas_.push_back(std::make_unique<PragmaRecord>(p.kind, p.args));
  }
}

// The loop's pragma records go right before its top label (after the
// initialization of a for loop).
void Lowerer::emit_loop_pragmas() {
  for (std::unique_ptr<PragmaRecord> &rec : loop_pragmas_) {
    BodyItem it;
    it.kind = BodyItem::PRAGMA;
    it.pragma = std::move(rec);
    fn_->items.push_back(std::move(it));
  }
  loop_pragmas_.clear();
}

// ------------------------------------------------------------ locals

void Lowerer::zero_object(NODE *lv, QualType qt, SrcPos pos) {
  SourceLocation loc;
  TYPE *t = lv->type;
  if (t->is_array()) {
    QualType et = cast<ArrayType>(qt->getAsArrayTypeUnsafe())->getElementType();
    TYPE *pt = types_.pointer_to(t->getr()->base);
    for (uint32_t i = 0; i < t->getr()->count; ++i) {
      NODE *base = mk_unary(ACONV, copy_node(lv, false, true), pt);
      NODE *elem = mk_unary(UMULT, pointer_offset(base, icon(i, types_.int_type(IK_INT)), et,
                                                  false, loc),
                            t->getr()->base);
      zero_object(elem, et, pos);
    }
    erase_tree(lv);
    return;
  }
  if (t->is_csu()) {
    const RecordDecl *rd = qt->getAs<RecordType>()->getDecl()->getDefinition();
    for (const FieldDecl *f : rd->fields()) {
      if (f->isUnnamedBitfield())
        continue;
      NODE *m = mk_binary(STDOT, copy_node(lv, false, true), field_leaf(f, loc),
                          ty(f->getType(), loc));
      zero_object(m, f->getType(), pos);
      if (rd->isUnion())
        break;
    }
    erase_tree(lv);
    return;
  }
  NODE *zero = t->is_floating() ? mk_fcon(0.0, t) : icon(0, t);
  emit(mk_binary(ASG, lv, zero, t), pos);
}

// Initializes the object `lv` designates (owned) from `e`, one assignment
// per scalar, members and elements in order, the ones without a value
// set to zero.
void Lowerer::init_object(NODE *lv, QualType qt, const Expr *e, SrcPos pos) {
  SourceLocation loc = e->getExprLoc();
  e = e->IgnoreParens();
  if (const auto *c = dyn_cast<ConstantExpr>(e))
    e = c->getSubExpr()->IgnoreParens();
  TYPE *t = lv->type;
  if (isa<ImplicitValueInitExpr>(e))
    return zero_object(lv, qt, pos);
  if (const auto *il = dyn_cast<InitListExpr>(e)) {
    if (t->is_array()) {
      if (il->isStringLiteralInit())
        return init_object(lv, qt, il->getInit(0), pos);
      QualType et = cast<ArrayType>(qt->getAsArrayTypeUnsafe())->getElementType();
      TYPE *pt = types_.pointer_to(t->getr()->base);
      for (uint32_t i = 0; i < t->getr()->count; ++i) {
        NODE *base = mk_unary(ACONV, copy_node(lv, false, true), pt);
        NODE *elem = mk_unary(
            UMULT, pointer_offset(base, icon(i, types_.int_type(IK_INT)), et, false, loc),
            t->getr()->base);
        if (i < il->getNumInits())
          init_object(elem, et, il->getInit(i), pos);
        else
          zero_object(elem, et, pos);
      }
      erase_tree(lv);
      return;
    }
    if (t->is_csu()) {
      const RecordDecl *rd = qt->getAs<RecordType>()->getDecl()->getDefinition();
      if (rd->isUnion()) {
        const FieldDecl *f = il->getInitializedFieldInUnion();
        if (f && il->getNumInits() == 1) {
          NODE *m = mk_binary(STDOT, lv, field_leaf(f, loc), ty(f->getType(), loc));
          return init_object(m, f->getType(), il->getInit(0), pos);
        }
        return zero_object(lv, qt, pos);
      }
      unsigned idx = 0;
      for (const FieldDecl *f : rd->fields()) {
        if (f->isUnnamedBitfield())
          continue;
        NODE *m = mk_binary(STDOT, copy_node(lv, false, true), field_leaf(f, loc),
                            ty(f->getType(), loc));
        if (idx < il->getNumInits())
          init_object(m, f->getType(), il->getInit(idx++), pos);
        else
          zero_object(m, f->getType(), pos);
      }
      erase_tree(lv);
      return;
    }
    if (il->getNumInits() == 1)
      return init_object(lv, qt, il->getInit(0), pos);
    unsupported(loc, "initializer list for a scalar");
  }
  if (const auto *sl = dyn_cast<StringLiteral>(e); sl && t->is_array()) {
    if (sl->getCharByteWidth() != 1)
      unsupported(loc, "wide string literal");
    llvm::StringRef bytes = sl->getBytes();
    TYPE *ct = t->getr()->base;
    TYPE *pt = types_.pointer_to(ct);
    QualType et = cast<ArrayType>(qt->getAsArrayTypeUnsafe())->getElementType();
    for (uint32_t i = 0; i < t->getr()->count; ++i) {
      NODE *base = mk_unary(ACONV, copy_node(lv, false, true), pt);
      NODE *elem = mk_unary(
          UMULT, pointer_offset(base, icon(i, types_.int_type(IK_INT)), et, false, loc), ct);
      unsigned char c = i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0;
      emit(mk_binary(ASG, elem, icon(c, ct), ct), pos);
    }
    erase_tree(lv);
    return;
  }
  if (t->is_csu()) {
    emit(mk_binary(STASG, lv, rvalue(e), t), pos);
    return;
  }
  if (t->is_array())
    unsupported(loc, "array initialized from an expression");
  emit(mk_binary(ASG, lv, convert(rvalue(e), t, loc), t), pos);
}

// `T a[n][m]...`: the counts are evaluated once into temporaries, and `a`
// is a pointer to the units the whole array takes, which the intrinsic
// "__vla_alloc" gives from the function's frame.  The storage lasts until
// the function returns or the declaration runs again (the earlier instance
// is then dead).
void Lowerer::lower_vla_decl(const VarDecl *vd) {
  SourceLocation loc = vd->getLocation();
  if (vd->getInit())
    unsupported(loc, "initialized variable-length array");
  QualType qt = vd->getType();
  SrcPos pos = pos_of(loc);
  save_vla_counts(qt, pos);
  QualType elem = qt;
  while (elem->isArrayType())
    elem = ctx_.getAsArrayType(elem)->getElementType();
  TYPE *pt = types_.pointer_to(ty(elem, loc));
  SYMTAB *s = new_symbol(vd->getNameAsString(), pt, SC_AUTO, pos, pt->size, pt->align ? pt->align : 16);
  fn_->locals.push_back(s);
  locals_[vd] = s;
  vla_vars_.insert(vd);
  NODE *alloc = new_node(ICALL, pt);
  alloc->set_callee_name("__vla_alloc");
  alloc->left = vla_units(qt, loc);
  emit(mk_binary(ASG, mk_name(s), alloc, pt), pos);
}

// Evaluates the element count of every variable-length array level of t
// (through pointers) into a temporary, outermost first.
void Lowerer::save_vla_counts(QualType t, SrcPos pos) {
  for (;;) {
    if (const auto *pt = t->getAs<PointerType>()) {
      t = pt->getPointeeType();
      continue;
    }
    const ArrayType *at = ctx_.getAsArrayType(t);
    if (!at)
      return;
    if (const auto *vat = dyn_cast<VariableArrayType>(at)) {
      if (!vla_counts_.count(vat) && vat->getSizeExpr()) {
        TYPE *size_t_type = types_.int_type(IK_UINT);
        SYMTAB *count = new_temp(size_t_type);
        emit(mk_binary(ASG, mk_name(count),
                       convert(rvalue(vat->getSizeExpr()), size_t_type, vat->getSizeExpr()->getExprLoc()),
                       size_t_type),
             pos);
        vla_counts_[vat] = count;
      }
    }
    t = at->getElementType();
  }
}

void Lowerer::lower_local_decl(const VarDecl *vd) {
  SourceLocation loc = vd->getLocation();
  if (vd->hasExternalStorage()) {
    global_symbol(vd);
    return;
  }
  if (vd->isStaticLocal()) {
    SYMTAB *s = global_symbol(vd);
    if (vd->getInit())
      lower_global_init(vd, s);
    return;
  }
  if (vd->getType()->isVariablyModifiedType() && vd->getType()->isArrayType())
    return lower_vla_decl(vd);
  TYPE *t = ty(vd->getType(), loc);
  if (t->size == 0)
    unsupported(loc, "object of unknown size");
  SYMTAB *s = new_symbol(vd->getNameAsString(), t, SC_AUTO, pos_of(loc), t->size,
                         t->align ? t->align : 16);
  fn_->locals.push_back(s);
  locals_[vd] = s;
  if (vd->getType()->isVariablyModifiedType())
    save_vla_counts(vd->getType(), pos_of(loc));   // a pointer to a VLA
  if (const Expr *init = vd->getInit())
    init_object(mk_name(s), vd->getType(), init, pos_of(loc));
}

// ------------------------------------------------------------ statements

void Lowerer::lower_compound(const CompoundStmt *cs) {
  for (const Stmt *s : cs->body())
    lower_stmt(s);
}

void Lowerer::lower_if(const IfStmt *s) {
  SrcPos pos = pos_of(s->getBeginLoc());
  uint32_t else_label = new_label();
  branch_if_false(cond(s->getCond()), else_label, pos);
  lower_stmt(s->getThen());
  if (const Stmt *e = s->getElse()) {
    uint32_t end = new_label();
    if (!last_is_jump())
      emit_branch(end, pos_of(s->getElseLoc()));
    emit_label(else_label);
    lower_stmt(e);
    emit_label(end);
  } else {
    emit_label(else_label);
  }
}

void Lowerer::lower_while(const WhileStmt *s) {
  SrcPos pos = pos_of(s->getBeginLoc());
  uint32_t top = new_label(), end = new_label();
  emit_loop_pragmas();
  emit_label(top);
  branch_if_false(cond(s->getCond()), end, pos);
  loop_body(s->getBody(), end, top);
  emit_branch(top, pos);
  emit_label(end);
}

// A loop's body, with `break` going to brk and `continue` to cont.
void Lowerer::loop_body(const Stmt *body, uint32_t brk, uint32_t cont) {
  break_labels_.push_back(brk);
  continue_labels_.push_back(cont);
  lower_stmt(body);
  break_labels_.pop_back();
  continue_labels_.pop_back();
}

void Lowerer::lower_do(const DoStmt *s) {
  uint32_t top = new_label(), cont = new_label(), end = new_label();
  emit_loop_pragmas();
  emit_label(top);
  loop_body(s->getBody(), end, cont);
  emit_label(cont);
  // Back to the top while the condition holds: CBRANCH jumps on false.
  branch_if_false(negate(cond(s->getCond())), top, pos_of(s->getCond()->getBeginLoc()));
  emit_label(end);
}

void Lowerer::lower_for(const ForStmt *s) {
  SrcPos pos = pos_of(s->getBeginLoc());
  if (const Stmt *init = s->getInit()) {
    std::vector<std::unique_ptr<PragmaRecord>> mine = std::move(loop_pragmas_);
    loop_pragmas_.clear();
    lower_stmt(init);
    loop_pragmas_ = std::move(mine);
  }
  uint32_t top = new_label(), cont = new_label(), end = new_label();
  emit_loop_pragmas();
  emit_label(top);
  if (const Expr *c = s->getCond())
    branch_if_false(cond(c), end, pos_of(c->getBeginLoc()));
  loop_body(s->getBody(), end, cont);
  emit_label(cont);
  if (const Expr *inc = s->getInc())
    emit(rvalue(inc), pos_of(inc->getBeginLoc()));
  emit_branch(top, pos);
  emit_label(end);
}

void Lowerer::lower_switch(const SwitchStmt *s) {
  SrcPos pos = pos_of(s->getBeginLoc());
  SourceLocation loc = s->getBeginLoc();
  NODE *value = rvalue(s->getCond());
  SwitchCtx ctx;
  ctx.type = value->type;
  uint32_t end = new_label();
  size_t at = fn_->items.size();
  emit(nullptr, pos);   // the SWITCH, made once its cases are known
  switches_.push_back(&ctx);
  break_labels_.push_back(end);
  lower_stmt(s->getBody());
  break_labels_.pop_back();
  switches_.pop_back();
  emit_label(end);

  std::vector<NODE *> items;
  std::set<__int128> seen;
  for (auto &[v, label] : ctx.cases) {
    if (!seen.insert(v).second)
      unsupported(loc, "case values that coincide on this target");
    NODE *l = new_node(LABEL, types_.void_type());
    l->set_label_number(label);
    items.push_back(mk_binary(CASE, icon(v, ctx.type), l, types_.void_type()));
  }
  NODE *dl = new_node(LABEL, types_.void_type());
  dl->set_label_number(ctx.default_label ? ctx.default_label : end);
  items.push_back(mk_unary(DEFAULT, dl, types_.void_type()));
  NODE *list = items[0];
  for (size_t i = 1; i < items.size(); ++i)
    list = mk_binary(COMMA, list, items[i], types_.void_type());
  NODE *sw = mk_binary(SWITCH, value, list, types_.void_type());
  sw->set_switch_number(static_cast<uint32_t>(ctx.cases.size()));
  fn_->items[at].tree = sw;
}

void Lowerer::lower_return(const ReturnStmt *s) {
  SrcPos pos = pos_of(s->getBeginLoc());
  const Expr *v = s->getRetValue();
  if (!v) {
    emit(mk_unary(URETURN, nop(), types_.void_type()), pos);
    return;
  }
  TYPE *rt = ty(fdecl_->getReturnType(), s->getBeginLoc());
  if (rt->is_void()) {
    emit(rvalue(v), pos);
    emit(mk_unary(URETURN, nop(), types_.void_type()), pos);
    return;
  }
  NODE *value = rt->is_csu() ? rvalue(v) : convert(rvalue(v), rt, s->getBeginLoc());
  emit(mk_binary(RETURN, value, nop(), rt), pos);
}

void Lowerer::lower_stmt(const Stmt *s) {
  if (!s)
    return;
  emit_pragmas_before(s);
  SrcPos pos = pos_of(s->getBeginLoc());
  cur_pos_ = pos;
  SourceLocation loc = s->getBeginLoc();
  if (const auto *cs = dyn_cast<CompoundStmt>(s))
    return lower_compound(cs);
  if (const auto *ds = dyn_cast<DeclStmt>(s)) {
    for (const Decl *d : ds->decls()) {
      if (const auto *vd = dyn_cast<VarDecl>(d))
        lower_local_decl(vd);
      else if (const auto *td = dyn_cast<TypedefNameDecl>(d);
               td && td->getUnderlyingType()->isVariablyModifiedType())
        save_vla_counts(td->getUnderlyingType(), pos);   // bounds fixed here, as C says
    }
    return;
  }
  if (isa<NullStmt>(s))
    return;
  if (const auto *e = dyn_cast<Expr>(s)) {
    if (const auto *ce = dyn_cast<CallExpr>(e->IgnoreParens())) {
      const FunctionDecl *fd = ce->getDirectCallee();
      if (fd && fd->getName() == "_nassert" && ce->getNumArgs() == 1) {
        emit(mk_unary(ASSERT, cond(ce->getArg(0)), types_.void_type()), pos);
        return;
      }
      if (fd && (fd->getName() == "__builtin_va_end" || fd->getName() == "__builtin_unreachable"))
        return;   // no statement: nothing to do at run time
    }
    emit(rvalue(e), pos);
    return;
  }
  if (const auto *is = dyn_cast<IfStmt>(s))
    return lower_if(is);
  if (const auto *ws = dyn_cast<WhileStmt>(s))
    return lower_while(ws);
  if (const auto *dstmt = dyn_cast<DoStmt>(s))
    return lower_do(dstmt);
  if (const auto *fs = dyn_cast<ForStmt>(s))
    return lower_for(fs);
  if (const auto *ss = dyn_cast<SwitchStmt>(s))
    return lower_switch(ss);
  if (const auto *rs = dyn_cast<ReturnStmt>(s))
    return lower_return(rs);
  if (isa<BreakStmt>(s)) {
    if (break_labels_.empty())
      unsupported(loc, "break outside a loop or switch");
    return emit_branch(break_labels_.back(), pos);
  }
  if (isa<ContinueStmt>(s)) {
    if (continue_labels_.empty())
      unsupported(loc, "continue outside a loop");
    return emit_branch(continue_labels_.back(), pos);
  }
  if (const auto *gs = dyn_cast<GotoStmt>(s))
    return emit_branch(label_of(gs->getLabel()), pos);
  if (const auto *ls = dyn_cast<LabelStmt>(s)) {
    emit_label(label_of(ls->getDecl()));
    return lower_stmt(ls->getSubStmt());
  }
  if (const auto *cs = dyn_cast<CaseStmt>(s)) {
    if (switches_.empty())
      unsupported(loc, "case outside a switch");
    SwitchCtx *sw = switches_.back();
    __int128 v = fit_int_to_type(eval_int(cs->getLHS()), sw->type).to_i128();
    // A range `case lo ... hi:` (GNU) is one case per value, up to a limit.
    __int128 hi = v;
    if (cs->getRHS()) {
      hi = fit_int_to_type(eval_int(cs->getRHS()), sw->type).to_i128();
      if (hi - v >= kMaxCaseRange)
        unsupported(loc, "case range of more than " + std::to_string(kMaxCaseRange) + " values");
    }
    uint32_t l = new_label();
    for (__int128 k = v; k <= hi; ++k)
      sw->cases.emplace_back(k, l);
    emit_label(l);
    return lower_stmt(cs->getSubStmt());
  }
  if (const auto *ds = dyn_cast<DefaultStmt>(s)) {
    if (switches_.empty())
      unsupported(loc, "default outside a switch");
    uint32_t l = new_label();
    switches_.back()->default_label = l;
    emit_label(l);
    return lower_stmt(ds->getSubStmt());
  }
  if (const auto *as = dyn_cast<AttributedStmt>(s))
    return lower_stmt(as->getSubStmt());
  if (isa<AsmStmt>(s))
    unsupported(loc, "inline assembly");
  if (isa<IndirectGotoStmt>(s))
    unsupported(loc, "computed goto");
  unsupported(loc, std::string("statement '") + s->getStmtClassName() + "'");
}

} // namespace zor::zcc
