// tools/zcc/lower_decl.cpp - the translation unit, symbols and static
// initializers.
//
// Globals get their symbol on first use, in that order; a definition in the
// unit makes an external definition (class 2) or a static (class 3), a
// declaration alone an external reference (class 5).  Static locals are
// globals of class 3 named after their function.  Static functions that
// nothing uses are not compiled.
//
// A static initializer is flattened to values at bit offsets (bit-fields
// packed into their storage unit) and written in layout order with SKIP
// over the gaps, ending with ENDINIT (docs/icode.md, "Initializers").
#include <clang/AST/RecursiveASTVisitor.h>
#include <llvm/ADT/APFloat.h>

#include "ir/tree_build.h"
#include "tools/zcc/lower.h"

namespace zor::zcc {

using namespace clang;

void unsupported(SourceLocation loc, const std::string &what) { throw Unsupported{loc, what}; }
void source_error(SourceLocation loc, const std::string &what) {
  throw Unsupported{loc, what, true};
}

Lowerer::Lowerer(ASTContext &ctx, Module &out, std::vector<LoopPragma> pragmas)
    : ctx_(ctx), sm_(ctx.getSourceManager()), out_(out), types_(ctx, *out.types),
      pragmas_(std::move(pragmas)) {
  types_.eval_bound = [this](const Expr *e) { return static_cast<int64_t>(eval_int(e)); };
}

SYMTAB *Lowerer::new_symbol(const std::string &name, TYPE *type, uint8_t sclass, SrcPos pos,
                            uint32_t size_bits, uint32_t align_bits) {
  auto s = std::make_unique<SYMTAB>();
  s->name_text = name;
  s->type_ = type;
  s->otype = type;
  s->sclass = sclass;
  s->original_sclass = sclass;
  s->size_bits = size_bits;
  s->align = align_bits;
  s->pos = pos;
  s->state = SS_CREATED;
  SYMTAB *raw = s.get();
  out_.symbols.push_back(std::move(s));
  return raw;
}

// A compound literal at file scope is a static object of its own,
// "__zcc_literal<n>", with its initializer.
SYMTAB *Lowerer::literal_object(const CompoundLiteralExpr *cl) {
  if (auto it = literals_.find(cl); it != literals_.end())
    return it->second;
  SourceLocation loc = cl->getExprLoc();
  TYPE *t = ty(cl->getType(), loc);
  if (t->size == 0)
    unsupported(loc, "object of unknown size");
  SYMTAB *s = new_symbol("__zcc_literal" + std::to_string(literals_.size() + 1), t, SC_STATIC,
                         pos_of(loc), t->size, t->align ? t->align : 16);
  s->level = 0;
  s->table_index = static_cast<uint32_t>(out_.globals.size());
  out_.globals.push_back(s);
  literals_[cl] = s;
  lower_static_init(cl->getType(), cl->getInitializer(), s, loc);
  return s;
}

SYMTAB *Lowerer::global_symbol(const NamedDecl *d) {
  const Decl *key = d->getCanonicalDecl();
  if (auto it = globals_.find(key); it != globals_.end())
    return it->second;
  SourceLocation loc = d->getLocation();
  std::string name = d->getNameAsString();
  SYMTAB *s = nullptr;
  if (const auto *fd = dyn_cast<FunctionDecl>(d)) {
    const FunctionDecl *def = fd->getDefinition();
    uint8_t sc = !def ? SC_EXTERN_REF : def->isExternallyVisible() ? SC_EXTERN_DEF : SC_STATIC;
    const FunctionDecl *typed = def ? def : fd->getMostRecentDecl();
    s = new_symbol(name, ty(typed->getType(), loc), sc, pos_of(loc), 0, 16);
  } else if (const auto *vd = dyn_cast<VarDecl>(d)) {
    const VarDecl *def = vd->getDefinition(ctx_);
    if (!def)
      def = vd->getActingDefinition();   // a tentative definition
    // The type of the definition, unless it leaves the bound open that
    // another declaration gives: `extern int a[3];` then `int a[];`.
    const VarDecl *typed = def ? def : vd->getMostRecentDecl();
    if (typed->getType()->isIncompleteArrayType())
      for (const VarDecl *r : vd->redecls())
        if (!r->getType()->isIncompleteArrayType())
          typed = r;
    TYPE *t = ty(typed->getType(), loc);
    uint8_t sc;
    if (vd->isStaticLocal()) {
      sc = SC_STATIC;
      const auto *fd = dyn_cast<FunctionDecl>(vd->getDeclContext());
      name = "__zcc_" + (fd ? fd->getNameAsString() : std::string("s")) + "_" + name;
    } else {
      sc = !def ? SC_EXTERN_REF : def->isExternallyVisible() ? SC_EXTERN_DEF : SC_STATIC;
    }
    if (t->size == 0 && sc != SC_EXTERN_REF)
      unsupported(loc, "object of unknown size");
    s = new_symbol(name, t, sc, pos_of(loc), t->size, t->align ? t->align : 16);
  } else {
    unsupported(loc, "declaration '" + name + "'");
  }
  s->level = 0;
  s->table_index = static_cast<uint32_t>(out_.globals.size());
  out_.globals.push_back(s);
  globals_[key] = s;
  return s;
}

namespace {

// Every array bound written in the unit, for TypeMapper::note_bound.
// Array bounds as written, and the static assertions (both depend on type
// sizes that only zcc knows).
class BoundCollector : public RecursiveASTVisitor<BoundCollector> {
public:
  explicit BoundCollector(TypeMapper &types) : types_(types) {}
  bool VisitConstantArrayTypeLoc(ConstantArrayTypeLoc tl) {
    if (const Expr *size = tl.getSizeExpr())
      types_.note_bound(tl.getTypePtr(), size);
    return true;
  }
  bool VisitStaticAssertDecl(StaticAssertDecl *d) {
    assertions.push_back(d);
    return true;
  }
  std::vector<const StaticAssertDecl *> assertions;

private:
  TypeMapper &types_;
};

} // namespace

void Lowerer::lower_unit() {
  BoundCollector collector(types_);
  collector.TraverseDecl(ctx_.getTranslationUnitDecl());
  for (const StaticAssertDecl *d : collector.assertions) {
    if (eval_int(d->getAssertExpr()) != 0)
      continue;
    std::string what = "static assertion failed";
    if (const StringLiteral *m = d->getMessage(); m && m->getCharByteWidth() == 1)
      what += ": " + m->getString().str();
    source_error(d->getLocation(), what);
  }
  for (const Decl *d : ctx_.getTranslationUnitDecl()->decls()) {
    if (const auto *fd = dyn_cast<FunctionDecl>(d)) {
      if (!fd->doesThisDeclarationHaveABody())
        continue;
      if (!fd->isExternallyVisible() && !fd->isUsed() && !fd->isReferenced())
        continue;
      lower_function(fd);
    } else if (const auto *vd = dyn_cast<VarDecl>(d)) {
      if (vd->isThisDeclarationADefinition(ctx_) == VarDecl::DeclarationOnly)
        continue;
      SYMTAB *s = global_symbol(vd);
      if (vd->getInit())
        lower_global_init(vd, s);
    }
  }
  check_static_size();
}

void Lowerer::check_static_size() {
  uint64_t units = string_units_;
  const SYMTAB *largest = nullptr;
  for (const SYMTAB *g : out_.globals) {
    if (g->sclass == SC_EXTERN_REF || (g->type() && g->type()->is_func()))
      continue;
    units += g->size() / 16;
    if (!largest || g->size() > largest->size())
      largest = g;
  }
  if (units <= kMaxStaticUnits)
    return;
  SourceLocation loc;
  for (const auto &[decl, sym] : globals_)
    if (sym == largest)
      loc = decl->getLocation();
  unsupported(loc, "static data of " + std::to_string(units) + " units does not fit (at most " +
                       std::to_string(kMaxStaticUnits) + " units, the rest is the stack's)");
}

// ------------------------------------------------------------ initializers

struct Lowerer::InitPieces {
  std::map<uint64_t, NODE *> values;   // bit offset -> value (owned)
  struct Unit {
    TYPE *type = nullptr;
    unsigned __int128 bits = 0;
  };
  std::map<uint64_t, Unit> units;      // bit-field storage units
  ~InitPieces() {
    for (auto &v : values)
      if (v.second)
        erase_tree(v.second);
  }
};

struct Lowerer::AddrConst {
  SYMTAB *sym = nullptr;
  const StringLiteral *str = nullptr;
  int64_t units = 0;
  bool null = false;
};

bool Lowerer::addr_of_lvalue(const Expr *e, AddrConst &a) {
  e = e->IgnoreParens();
  SourceLocation loc = e->getExprLoc();
  if (const auto *dr = dyn_cast<DeclRefExpr>(e)) {
    if (const auto *vd = dyn_cast<VarDecl>(dr->getDecl()); vd && vd->hasGlobalStorage()) {
      a.sym = global_symbol(vd);
      return true;
    }
    if (const auto *fd = dyn_cast<FunctionDecl>(dr->getDecl())) {
      a.sym = global_symbol(fd);
      return true;
    }
    return false;
  }
  if (const auto *sl = dyn_cast<StringLiteral>(e)) {
    a.str = sl;
    return true;
  }
  if (const auto *cl = dyn_cast<CompoundLiteralExpr>(e); cl && cl->isFileScope()) {
    a.sym = literal_object(cl);
    return true;
  }
  if (const auto *me = dyn_cast<MemberExpr>(e)) {
    const auto *f = dyn_cast<FieldDecl>(me->getMemberDecl());
    if (!f)
      return false;
    const MEMBER *m = types_.member(f, loc);
    if (m->bitfield)
      return false;
    bool ok = me->isArrow() ? addr_value(me->getBase(), a) : addr_of_lvalue(me->getBase(), a);
    a.units += m->offset / 16;
    return ok;
  }
  if (const auto *ae = dyn_cast<ArraySubscriptExpr>(e)) {
    std::optional<__int128> idx = try_eval_int(ae->getIdx());
    if (!idx || !addr_value(ae->getBase(), a))
      return false;
    a.units += static_cast<int64_t>(*idx) * static_cast<int64_t>(types_.size_units(ae->getType(), loc));
    return true;
  }
  if (const auto *uo = dyn_cast<UnaryOperator>(e); uo && uo->getOpcode() == UO_Deref)
    return addr_value(uo->getSubExpr(), a);
  if (const auto *ce = dyn_cast<ImplicitCastExpr>(e); ce && ce->getCastKind() == CK_NoOp)
    return addr_of_lvalue(ce->getSubExpr(), a);
  return false;
}

bool Lowerer::addr_value(const Expr *e, AddrConst &a) {
  e = e->IgnoreParens();
  SourceLocation loc = e->getExprLoc();
  if (const auto *ce = dyn_cast<CastExpr>(e)) {
    switch (ce->getCastKind()) {
    case CK_NullToPointer:
      a.null = true;
      return true;
    case CK_IntegralToPointer: {
      std::optional<__int128> v = try_eval_int(ce->getSubExpr());
      if (!v || *v != 0)
        return false;
      a.null = true;
      return true;
    }
    case CK_BitCast:
    case CK_NoOp:
    case CK_LValueToRValue:
      if (ce->getCastKind() == CK_LValueToRValue)
        return false;
      return addr_value(ce->getSubExpr(), a);
    case CK_ArrayToPointerDecay:
    case CK_FunctionToPointerDecay:
      return addr_of_lvalue(ce->getSubExpr(), a);
    default:
      return false;
    }
  }
  if (const auto *uo = dyn_cast<UnaryOperator>(e); uo && uo->getOpcode() == UO_AddrOf)
    return addr_of_lvalue(uo->getSubExpr(), a);
  if (const auto *bo = dyn_cast<BinaryOperator>(e);
      bo && (bo->getOpcode() == BO_Add || bo->getOpcode() == BO_Sub)) {
    const Expr *p = bo->getLHS(), *i = bo->getRHS();
    if (!p->getType()->isPointerType())
      std::swap(p, i);
    if (!p->getType()->isPointerType() || i->getType()->isPointerType())
      return false;
    std::optional<__int128> k = try_eval_int(i);
    if (!k || !addr_value(p, a))
      return false;
    int64_t step = static_cast<int64_t>(*k) *
                   static_cast<int64_t>(types_.size_units(p->getType()->getPointeeType(), loc));
    a.units += bo->getOpcode() == BO_Sub ? -step : step;
    return true;
  }
  if (std::optional<__int128> v = try_eval_int(e); v && *v == 0) {
    a.null = true;
    return true;
  }
  return false;
}

NODE *Lowerer::address_constant(const Expr *e, TYPE *type) {
  AddrConst a;
  if (!addr_value(e, a))
    unsupported(e->getExprLoc(), "initializer is not a constant address");
  TYPE *int_t = types_.int_type(IK_INT);
  if (a.null)
    return icon(a.units, type);
  NODE *base;
  if (a.str) {
    base = string_literal(a.str);
    base->type = type;
  } else {
    base = mk_unary(UAND, mk_name(a.sym, a.sym->type()), type);
  }
  if (a.units == 0)
    return base;
  NODE *off = mk_binary(PMCONV, icon(a.units < 0 ? -a.units : a.units, int_t), icon(16, int_t), int_t);
  return mk_binary(a.units < 0 ? MINUS : PLUS, base, off, type);
}

void Lowerer::collect_init(InitPieces &p, uint64_t offset, QualType qt, const Expr *e) {
  SourceLocation loc = e->getExprLoc();
  e = e->IgnoreParens();
  if (const auto *c = dyn_cast<ConstantExpr>(e))
    e = c->getSubExpr()->IgnoreParens();
  TYPE *t = ty(qt, loc);
  if (isa<ImplicitValueInitExpr>(e))
    return;   // zero
  if (const auto *cl = dyn_cast<CompoundLiteralExpr>(e->IgnoreImpCasts());
      cl && !qt->isPointerType())
    return collect_init(p, offset, qt, cl->getInitializer());   // (struct s){...}
  if (const auto *il = dyn_cast<InitListExpr>(e)) {
    if (qt->isArrayType()) {
      if (il->isStringLiteralInit())
        return collect_init(p, offset, qt, il->getInit(0));
      QualType et = cast<ArrayType>(qt->getAsArrayTypeUnsafe())->getElementType();
      uint64_t es = types_.size_bits(et, loc);
      for (unsigned i = 0; i < il->getNumInits(); ++i)
        collect_init(p, offset + i * es, et, il->getInit(i));
      return;
    }
    if (const RecordType *rt = qt->getAs<RecordType>()) {
      const RecordDecl *rd = rt->getDecl()->getDefinition();
      if (rd->isUnion()) {
        const FieldDecl *f = il->getInitializedFieldInUnion();
        if (f && il->getNumInits() == 1) {
          const MEMBER *m = types_.member(f, loc);
          if (m->bitfield) {
            std::optional<__int128> v = try_eval_int(il->getInit(0));
            if (!v)
              unsupported(loc, "bit-field initializer is not a constant");
            InitPieces::Unit &u = p.units[offset];
            u.type = m->type;
            unsigned __int128 mask = (static_cast<unsigned __int128>(1) << m->bitfield) - 1;
            u.bits |= static_cast<unsigned __int128>(*v) & mask;
            return;
          }
          collect_init(p, offset + m->offset, f->getType(), il->getInit(0));
        }
        return;
      }
      unsigned idx = 0;
      for (const FieldDecl *f : rd->fields()) {
        if (f->isUnnamedBitfield())
          continue;
        if (idx >= il->getNumInits())
          break;
        const Expr *init = il->getInit(idx++);
        const MEMBER *m = types_.member(f, loc);
        if (m->bitfield) {
          if (isa<ImplicitValueInitExpr>(init->IgnoreParens()))
            continue;   // zero
          std::optional<__int128> v = try_eval_int(init);
          if (!v)
            unsupported(init->getExprLoc(), "bit-field initializer is not a constant");
          uint64_t unit = offset + types_.bitfield_unit(f, loc);
          InitPieces::Unit &u = p.units[unit];
          u.type = m->type;
          unsigned __int128 mask = (static_cast<unsigned __int128>(1) << m->bitfield) - 1;
          u.bits |= (static_cast<unsigned __int128>(*v) & mask)
                    << (offset + m->offset - unit);
          continue;
        }
        collect_init(p, offset + m->offset, f->getType(), init);
      }
      return;
    }
    if (il->getNumInits() == 1)
      return collect_init(p, offset, qt, il->getInit(0));
    unsupported(loc, "initializer list for a scalar");
  }
  if (const auto *sl = dyn_cast<StringLiteral>(e); sl && qt->isArrayType()) {
    if (sl->getCharByteWidth() != 1)
      unsupported(loc, "wide string literal");
    QualType et = cast<ArrayType>(qt->getAsArrayTypeUnsafe())->getElementType();
    TYPE *ct = ty(et, loc);
    uint64_t n = t->count;
    llvm::StringRef bytes = sl->getBytes();
    for (uint64_t i = 0; i < n && i < bytes.size(); ++i)
      if (bytes[i] != 0)
        p.values[offset + i * 16] = icon(static_cast<unsigned char>(bytes[i]), ct);
    return;
  }
  if (t->is_csu() || t->is_array())
    unsupported(loc, "aggregate initializer that is not a list");
  if (t->is_complex()) {
    // The real part, then the imaginary part after it.
    Expr::EvalResult r;
    if (!e->EvaluateAsRValue(r, ctx_) || !(r.Val.isComplexFloat() || r.Val.isComplexInt()))
      unsupported(loc, "complex initializer is not a constant");
    TYPE *part = t->getr()->base;
    for (int k = 0; k < 2; ++k) {
      NODE *v;
      if (r.Val.isComplexFloat()) {
        llvm::APFloat f = k ? r.Val.getComplexFloatImag() : r.Val.getComplexFloatReal();
        bool lost = false;
        f.convert(llvm::APFloat::IEEEdouble(), llvm::APFloat::rmNearestTiesToEven, &lost);
        v = mk_fcon(f.convertToDouble(), part);
      } else {
        const llvm::APSInt &i = k ? r.Val.getComplexIntImag() : r.Val.getComplexIntReal();
        v = icon(static_cast<__int128>(i.getSExtValue()), part);
      }
      if (NODE *&slot = p.values[offset + k * part->size]; slot)
        erase_tree(slot);
      p.values[offset + k * part->size] = v;
    }
    return;
  }
  NODE *value;
  if (t->is_floating()) {
    llvm::APFloat f(0.0);
    // NaN and infinities (0.0f / 0.0f, 1.0f / 0.0f) are constants in C.
    if (!e->EvaluateAsFloat(f, ctx_, Expr::SE_AllowUndefinedBehavior))
      unsupported(loc, "floating initializer is not a constant");
    bool lost = false;
    f.convert(llvm::APFloat::IEEEdouble(), llvm::APFloat::rmNearestTiesToEven, &lost);
    value = mk_fcon(f.convertToDouble(), t);
  } else if (t->is_pointer()) {
    value = address_constant(e, t);
  } else if (std::optional<__int128> v = try_eval_int(e)) {
    value = icon(*v, t);
  } else {
    unsupported(loc, "initializer is not a constant");
  }
  if (NODE *&slot = p.values[offset]; slot)
    erase_tree(slot);
  p.values[offset] = value;
}

void Lowerer::lower_global_init(const VarDecl *vd, SYMTAB *sym) {
  lower_static_init(vd->getType(), vd->getInit(), sym, vd->getLocation());
}

// The initializer section of a static object from its C initializer.
void Lowerer::lower_static_init(QualType qt, const Expr *init_expr, SYMTAB *sym,
                                SourceLocation where) {
  InitPieces p;
  collect_init(p, 0, qt, init_expr);
  // Merge values and bit-field units in offset order.
  std::map<uint64_t, NODE *> all;
  for (auto &v : p.values) {
    all[v.first] = v.second;
    v.second = nullptr;
  }
  for (auto &u : p.units) {
    if (all.count(u.first))
      unsupported(where, "overlapping initializers");
    all[u.first] = icon(static_cast<__int128>(u.second.bits), u.second.type);
  }
  InitializerOut init;
  init.symbol = sym;
  uint64_t cur = 0;
  for (auto &v : all) {
    if (v.first < cur) {
      erase_tree(v.second);
      continue;   // a later member of a union overlapping an earlier one
    }
    if (v.first > cur) {
      NODE *skip = new_node(SKIP, types_.void_type());
      skip->set_skip_number(static_cast<uint32_t>(v.first - cur));
      init.trees.push_back(skip);
    }
    init.trees.push_back(v.second);
    cur = v.first + v.second->type->size;
  }
  init.trees.push_back(new_node(ENDINIT, types_.void_type()));
  out_.initializers.push_back(std::move(init));
}

// ------------------------------------------------------------ functions

void Lowerer::lower_function(const FunctionDecl *fd) {
  SourceLocation loc = fd->getLocation();
  SYMTAB *sym = global_symbol(fd);
  out_.functions.emplace_back();
  FunctionOut &f = out_.functions.back();
  fn_ = &f;
  fdecl_ = fd;
  locals_.clear();
  vla_vars_.clear();
  vla_counts_.clear();
  labels_.clear();
  label_count_ = 0;   // labels are numbered per function
  f.symbol = sym;
  const Stmt *body = fd->getBody();
  f.begin = pos_of(loc);
  f.body = pos_of(body->getBeginLoc());
  f.end = pos_of(body->getEndLoc());
  cur_pos_ = f.body;
  unsigned i = 0;
  for (const ParmVarDecl *p : fd->parameters()) {
    TYPE *t = ty(p->getType(), p->getLocation());
    std::string name = p->getNameAsString();
    if (name.empty())
      name = "__zcc_p" + std::to_string(i);
    SYMTAB *s = new_symbol(name, t, SC_AUTO, pos_of(p->getLocation()), t->size,
                           t->align ? t->align : 16);
    f.params.push_back(s);
    locals_[p] = s;
    ++i;
  }
  // The bounds of variably modified parameters (`double a[n][m]`) are
  // evaluated once, on entry.
  for (const ParmVarDecl *p : fd->parameters())
    if (p->getType()->isVariablyModifiedType())
      save_vla_counts(p->getType(), f.body);
  lower_stmt(body);
  if (!last_is_jump() || f.items.back().tree->op == BRANCH) {
    TYPE *rt = ty(fd->getReturnType(), loc);
    if (fd->isMain() && rt->is_integral())
      emit(mk_binary(RETURN, icon(0, rt), nop(), rt), f.end);
    else
      emit(mk_unary(URETURN, nop(), types_.void_type()), f.end);
  }
  fn_ = nullptr;
  fdecl_ = nullptr;
}

} // namespace zor::zcc
