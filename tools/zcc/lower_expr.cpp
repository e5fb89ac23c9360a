// tools/zcc/lower_expr.cpp - expressions to trees.
//
// Clang's tree already carries C's conversions as implicit casts; each
// becomes the conversion node the trees expect (SCONV, PCONV, ACONV, UAND of
// a function), with the ZOR types.  Pointer arithmetic scales through PMCONV
// and PVCONV with the element size in bits.  Structure values are
// designators, calls or structure assignments; where a designator is needed
// for a structure that is only a value, the value is copied into a
// temporary first.
#include <filesystem>

#include <llvm/ADT/SmallString.h>

#include "ir/tree_build.h"
#include "tools/zcc/lower.h"

namespace zor::zcc {

using namespace clang;

namespace {

bool is_assigning(uint32_t op) {
  switch (op) {
  case ASG: case STASG: case PLUSASG: case MINUSASG: case MULTASG: case DIVASG:
  case MODASG: case ANDBASG: case ORBASG: case XORBASG: case SLLASG: case SRLASG:
  case PLUSPLUS: case MINMIN: case CALL: case UCALL:
    return true;
  default:
    return false;
  }
}

bool is_truth_op(uint32_t op) {
  switch (op) {
  case EQ: case NEQ: case LE: case LT: case GE: case GT:
  case ULE: case ULT: case UGE: case UGT: case ANDAND: case OROR: case EXCLAIM:
    return true;
  default:
    return false;
  }
}

// The comparison with its result inverted, for integer and pointer
// operands (floating comparisons are not inverted: NaN).
uint32_t inverted_comparison(uint32_t op) {
  switch (op) {
  case EQ: return NEQ;
  case NEQ: return EQ;
  case LT: return GE;
  case GE: return LT;
  case LE: return GT;
  case GT: return LE;
  case ULT: return UGE;
  case UGE: return ULT;
  case ULE: return UGT;
  case UGT: return ULE;
  default: return 0;
  }
}

} // namespace

NODE *Lowerer::icon(__int128 v, TYPE *t) {
  NODE *n = new_node(ICON, t);
  n->icon = fit_int_to_type(v, t);
  return n;
}

NODE *Lowerer::nop() { return new_node(NOP, types_.void_type()); }

bool Lowerer::side_effect_free(const NODE *n) const {
  if (!n)
    return true;
  if (is_assigning(n->op))
    return false;
  return side_effect_free(n->left) && side_effect_free(n->right);
}

SYMTAB *Lowerer::new_temp(TYPE *t) {
  SYMTAB *s = new_symbol("__zcc_t" + std::to_string(++temp_count_), t, SC_AUTO, cur_pos_, t->size,
                         t->align ? t->align : 16);
  fn_->locals.push_back(s);
  return s;
}

NODE *Lowerer::seq(std::vector<NODE *> pre, NODE *last) {
  for (auto it = pre.rbegin(); it != pre.rend(); ++it)
    last = mk_binary(COMMAOP, *it, last, last->type);
  return last;
}

bool Lowerer::is_struct_type(QualType t) const { return t->isStructureOrClassType() || t->isUnionType(); }

// A designator equal to `lv` whose operands have no side effects, so that it
// can be used twice; what had them is evaluated once into temporaries by
// the trees appended to `pre`.
NODE *Lowerer::stable_lvalue(NODE *lv, std::vector<NODE *> &pre, SourceLocation loc) {
  if (side_effect_free(lv))
    return lv;
  auto into_temp = [&](NODE *value) {
    SYMTAB *t = new_temp(value->type);
    pre.push_back(mk_binary(ASG, mk_name(t), value, value->type));
    return mk_name(t);
  };
  switch (lv->op) {
  case STDOT: {
    NODE *base = stable_lvalue(lv->left, pre, loc);
    lv->left = base;
    return lv;
  }
  case STREF:
    lv->left = into_temp(lv->left);
    return lv;
  case UMULT:
    lv->left = into_temp(lv->left);
    return lv;
  default:
    unsupported(loc, "assignment to this kind of operand");
  }
}

SrcPos Lowerer::pos_of(SourceLocation loc) {
  if (loc.isInvalid())
    return cur_pos_;
  PresumedLoc p = sm_.getPresumedLoc(sm_.getExpansionLoc(loc));
  if (p.isInvalid())
    return cur_pos_;
  std::string name = p.getFilename();
  // Files under the working directory are named relative to it.
  if (cwd_.empty()) {
    std::error_code ec;
    cwd_ = std::filesystem::current_path(ec).string() + "/";
  }
  if (name.size() > cwd_.size() && name.compare(0, cwd_.size(), cwd_) == 0)
    name = name.substr(cwd_.size());
  auto it = file_ids_.find(name);
  if (it == file_ids_.end()) {
    out_.file_names.push_back(name);
    it = file_ids_.emplace(name, out_.file_names.back().c_str()).first;
  }
  return SrcPos{it->second, p.getLine(), p.getColumn()};
}

// ------------------------------------------------------------ conversions

NODE *Lowerer::convert(NODE *n, TYPE *to, SourceLocation loc) {
  TYPE *from = n->type;
  if (from == to || to->is_void())
    return n;
  if (to->is_csu() || to->is_array() || to->is_func())
    unsupported(loc, "conversion to " + to->print());
  if (n->op == ICON && (to->is_integral() || to->is_pointer())) {
    bool to_bool = to->is_integral() && to->getr()->subkind == IK_BOOL;
    __int128 v = n->icon.to_i128();
    n->type = to;
    n->icon = fit_int_to_type(to_bool ? (v != 0) : v, to);
    return n;
  }
  if (to->is_pointer())
    return mk_unary(PCONV, n, to);
  return mk_unary(SCONV, n, to);
}

NODE *Lowerer::truth(NODE *n) {
  if (is_truth_op(n->op))
    return n;
  TYPE *int_t = types_.int_type(IK_INT);
  NODE *zero;
  if (n->type->is_complex()) {
    TYPE *part = n->type->getr()->base;
    auto z = [&] { return part->is_floating() ? mk_fcon(0.0, part) : icon(0, part); };
    zero = mk_binary(COMPLEX, z(), z(), n->type);
  } else if (n->type->is_floating()) {
    zero = mk_fcon(0.0, n->type);
  } else {
    zero = icon(0, n->type);
  }
  return mk_binary(NEQ, n, zero, int_t);
}

NODE *Lowerer::negate(NODE *n) {
  if (n->op == EXCLAIM) {
    NODE *inner = n->left;
    n->left = nullptr;
    erase_tree(n);
    return truth(inner);
  }
  if (uint32_t inv = inverted_comparison(n->op);
      inv && n->left && !n->left->type->is_floating() && !n->right->type->is_floating()) {
    n->op = inv;
    return n;
  }
  return mk_unary(EXCLAIM, n, types_.int_type(IK_INT));
}

NODE *Lowerer::cond(const Expr *e) { return truth(rvalue(e)); }

NODE *Lowerer::lower_cast(const CastExpr *ce) {
  const Expr *sub = ce->getSubExpr();
  SourceLocation loc = ce->getExprLoc();
  switch (ce->getCastKind()) {
  case CK_LValueToRValue:
    return lvalue(sub);
  case CK_NoOp:
  case CK_ToVoid:
    return rvalue(sub);
  case CK_ArrayToPointerDecay: {
    const Expr *inner = sub->IgnoreParens();
    if (const auto *sl = dyn_cast<StringLiteral>(inner))
      return string_literal(sl);
    if (const auto *pe = dyn_cast<PredefinedExpr>(inner))
      return string_literal(pe->getFunctionName());
    if (is_vla(inner))
      return convert(vla_address(inner), ty(ce->getType(), loc), loc);
    return mk_unary(ACONV, lvalue(sub), ty(ce->getType(), loc));
  }
  case CK_FunctionToPointerDecay:
  case CK_BuiltinFnToFnPtr:   // a builtin that is a runtime function
    return mk_unary(UAND, lvalue(sub), ty(ce->getType(), loc));
  case CK_NullToPointer:
    return icon(0, ty(ce->getType(), loc));
  case CK_BitCast:
  case CK_IntegralToPointer:
  case CK_PointerToIntegral:
  case CK_PointerToBoolean:
  case CK_IntegralCast:
  case CK_IntegralToBoolean:
  case CK_IntegralToFloating:
  case CK_FloatingToIntegral:
  case CK_FloatingToBoolean:
  case CK_FloatingCast:
  case CK_BooleanToSignedIntegral:
  // Complex conversions: SCONV takes a real value to a complex one (0
  // imaginary part), a complex one to its real part, or between parts.
  case CK_FloatingRealToComplex:
  case CK_FloatingComplexToReal:
  case CK_FloatingComplexCast:
  case CK_FloatingComplexToIntegralComplex:
  case CK_IntegralRealToComplex:
  case CK_IntegralComplexToReal:
  case CK_IntegralComplexCast:
  case CK_IntegralComplexToFloatingComplex:
  case CK_FloatingComplexToBoolean:
  case CK_IntegralComplexToBoolean: {
    TYPE *to = ty(ce->getType(), loc);
    NODE *v = rvalue(sub);
    const CastKind k = ce->getCastKind();
    if ((k == CK_PointerToBoolean || k == CK_FloatingToBoolean ||
         k == CK_FloatingComplexToBoolean || k == CK_IntegralComplexToBoolean) &&
        to->is_integral())
      return convert(truth(v), to, loc);
    return convert(v, to, loc);
  }
  default:
    unsupported(loc, std::string("conversion '") + ce->getCastKindName() + "'");
  }
}

// ------------------------------------------------------------ designators

NODE *Lowerer::field_leaf(const FieldDecl *f, SourceLocation loc) {
  const MEMBER *m = types_.member(f, loc);
  TYPE *st = types_.record_type(f->getParent(), loc);
  NODE *n = new_node(FIELD, m->type);
  n->set_field(1, m, st);
  return n;
}

NODE *Lowerer::member(const MemberExpr *me) {
  SourceLocation loc = me->getExprLoc();
  const auto *f = dyn_cast<FieldDecl>(me->getMemberDecl());
  if (!f)
    unsupported(loc, "member that is not a data member");
  TYPE *t = ty(me->getType(), loc);
  NODE *field = field_leaf(f, loc);
  if (me->isArrow())
    return mk_binary(STREF, rvalue(me->getBase()), field, t);
  NODE *base = lvalue(me->getBase());
  if (base->op == UMULT) {
    // (*p).m is p->m.
    NODE *p = base->left;
    base->left = nullptr;
    erase_tree(base);
    return mk_binary(STREF, p, field, t);
  }
  return mk_binary(STDOT, base, field, t);
}

NODE *Lowerer::pointer_offset(NODE *ptr, NODE *index, QualType pointee, bool minus,
                              SourceLocation loc) {
  TYPE *int_t = types_.int_type(IK_INT);
  index = convert(index, int_t, loc);
  if (index->op == ICON && index->icon.is_zero()) {
    erase_tree(index);
    return ptr;
  }
  return mk_binary(minus ? MINUS : PLUS, ptr, scaled_index(index, pointee, loc), ptr->type);
}

// PMCONV(index, size of pointee in bits): the offset of index elements.  A
// variable-length row's size is known only at run time: PMCONV(index *
// units, 16).
NODE *Lowerer::scaled_index(NODE *index, QualType pointee, SourceLocation loc) {
  TYPE *int_t = types_.int_type(IK_INT);
  if (pointee->isVariablyModifiedType()) {
    NODE *units = convert(vla_units(pointee, loc), int_t, loc);
    return mk_binary(PMCONV, mk_binary(MULT, index, units, int_t), icon(16, int_t), int_t);
  }
  uint64_t bits = types_.size_bits(pointee, loc);
  return mk_binary(PMCONV, index, icon(static_cast<int64_t>(bits), int_t), int_t);
}

NODE *Lowerer::subscript(const ArraySubscriptExpr *ae) {
  SourceLocation loc = ae->getExprLoc();
  const Expr *base = ae->getBase();
  const Expr *idx = ae->getIdx();
  if (!base->getType()->isPointerType())
    unsupported(loc, "subscript of a non-pointer");
  NODE *p = pointer_offset(rvalue(base), rvalue(idx), ae->getType(), false, loc);
  return mk_unary(UMULT, p, ty(ae->getType(), loc));
}

NODE *Lowerer::string_literal(const StringLiteral *sl) {
  SourceLocation loc = sl->getBeginLoc();
  if (sl->getCharByteWidth() != 1)
    unsupported(loc, "wide string literal");
  llvm::StringRef bytes = sl->getBytes();
  TYPE *char_t = types_.int_type(IK_CHAR);
  NODE *n = new_node(SCON, types_.pointer_to(char_t));
  n->set_scon(bytes.data(), static_cast<uint32_t>(bytes.size()));
  string_units_ += bytes.size() + 1;
  return n;
}

NODE *Lowerer::lvalue(const Expr *e) {
  e = e->IgnoreParens();
  SourceLocation loc = e->getExprLoc();
  if (const auto *cl = dyn_cast<CompoundLiteralExpr>(e))
    return compound_literal(cl);
  if (is_vla(e))
    unsupported(loc, "this use of a variable-length array");
  if (const auto *dr = dyn_cast<DeclRefExpr>(e)) {
    const ValueDecl *d = dr->getDecl();
    if (const auto *vd = dyn_cast<VarDecl>(d)) {
      SYMTAB *s = nullptr;
      if (auto it = locals_.find(vd); it != locals_.end())
        s = it->second;
      else if (vd->hasGlobalStorage())
        s = global_symbol(vd);
      if (!s)
        unsupported(loc, "reference to '" + vd->getNameAsString() + "'");
      return mk_name(s, s->type());
    }
    if (const auto *fd = dyn_cast<FunctionDecl>(d))
      return mk_name(global_symbol(fd), ty(fd->getType(), loc));
    unsupported(loc, "reference to '" + d->getNameAsString() + "'");
  }
  if (const auto *uo = dyn_cast<UnaryOperator>(e); uo && uo->getOpcode() == UO_Deref) {
    NODE *p = rvalue(uo->getSubExpr());
    TYPE *t = ty(e->getType(), loc);
    if (p->op == UAND && p->left->type == t) {
      NODE *inner = p->left;
      p->left = nullptr;
      erase_tree(p);
      return inner;
    }
    return mk_unary(UMULT, p, t);
  }
  if (const auto *uo = dyn_cast<UnaryOperator>(e);
      uo && (uo->getOpcode() == UO_Real || uo->getOpcode() == UO_Imag))
    return complex_part(uo);
  if (const auto *me = dyn_cast<MemberExpr>(e))
    return member(me);
  if (const auto *ae = dyn_cast<ArraySubscriptExpr>(e))
    return subscript(ae);
  if (const auto *ce = dyn_cast<ImplicitCastExpr>(e); ce && ce->getCastKind() == CK_NoOp)
    return lvalue(ce->getSubExpr());
  if (is_struct_type(e->getType())) {
    // A structure value (a call, an assignment, a conditional): copied
    // into a temporary, whose designator stands for it.
    NODE *v = rvalue(e);
    if (v->op == NAME || v->op == UMULT || v->op == STDOT || v->op == STREF)
      return v;
    SYMTAB *t = new_temp(v->type);
    NODE *copy = mk_binary(STASG, mk_name(t), v, v->type);
    TYPE *pt = types_.pointer_to(v->type);
    NODE *addr = mk_binary(COMMAOP, copy, mk_unary(UAND, mk_name(t), pt), pt);
    return mk_unary(UMULT, addr, v->type);
  }
  if (const auto *sl = dyn_cast<StringLiteral>(e)) {
    // "abc" as an array: the characters the SCON points to.
    NODE *p = string_literal(sl);
    TYPE *t = ty(e->getType(), loc);
    TYPE *pt = types_.pointer_to(t);
    return mk_unary(UMULT, convert(p, pt, loc), t);
  }
  unsupported(loc, std::string("designator '") + e->getStmtClassName() + "'");
}

// ------------------------------------------------------------ operators

NODE *Lowerer::unary(const UnaryOperator *uo) {
  SourceLocation loc = uo->getExprLoc();
  const Expr *sub = uo->getSubExpr();
  TYPE *t = ty(uo->getType(), loc);
  switch (uo->getOpcode()) {
  case UO_Plus:
    return rvalue(sub);
  case UO_Minus: {
    NODE *v = rvalue(sub);
    if (v->op == ICON) {
      __int128 x = v->icon.to_i128();
      erase_tree(v);
      return icon(-x, t);
    }
    return mk_unary(UMINUS, v, t);
  }
  case UO_Not:
    if (sub->getType()->isAnyComplexType()) {
      // ~z (GNU): the conjugate, COMPLEX(REAL(z), -IMAG(z)) of z taken once.
      NODE *z = rvalue(sub);
      SYMTAB *tmp = new_temp(z->type);
      TYPE *part = z->type->getr()->base;
      NODE *set = mk_binary(ASG, mk_name(tmp), z, z->type);
      NODE *conj = mk_binary(COMPLEX, mk_unary(REAL, mk_name(tmp), part),
                             mk_unary(UMINUS, mk_unary(IMAG, mk_name(tmp), part), part), t);
      return seq({set}, conj);
    }
    return mk_unary(NOTB, rvalue(sub), t);
  case UO_Real:
  case UO_Imag:
    return complex_part(uo);
  case UO_Extension:
    return rvalue(sub);
  case UO_LNot:
    return negate(truth(rvalue(sub)));
  case UO_Deref:
    return lvalue(uo);
  case UO_AddrOf: {
    if (is_vla(sub))
      return convert(vla_address(sub), t, loc);
    NODE *lv = lvalue(sub);
    if (lv->op == UMULT) {
      NODE *p = lv->left;
      lv->left = nullptr;
      erase_tree(lv);
      return convert(p, t, loc);
    }
    if (lv->op == STDOT || lv->op == STREF) {
      if (lv->right->member && lv->right->member->bitfield)
        unsupported(loc, "address of a bit-field");
    }
    return mk_unary(UAND, lv, t);
  }
  case UO_PostInc:
  case UO_PostDec:
  case UO_PreInc:
  case UO_PreDec: {
    bool inc = uo->isIncrementOp();
    bool post = uo->isPostfix();
    NODE *lv = lvalue(sub);
    TYPE *lt = lv->type;
    NODE *step;
    if (sub->getType()->isPointerType()) {
      QualType pointee = sub->getType()->getPointeeType();
      TYPE *int_t = types_.int_type(IK_INT);
      if (!post)
        step = scaled_index(icon(1, int_t), pointee, loc);
      else if (pointee->isVariablyModifiedType())
        step = convert(vla_units(pointee, loc), int_t, loc);
      else
        step = icon(static_cast<int64_t>(types_.size_units(pointee, loc)), int_t);
    } else if (lt->is_floating()) {
      step = mk_fcon(1.0, lt);
    } else if (lt->is_integral() && lt->getr()->subkind == IK_BOOL) {
      unsupported(loc, "increment of a _Bool");
    } else {
      step = icon(1, lt);
    }
    if (post)
      return mk_binary(inc ? PLUSPLUS : MINMIN, lv, step, lt);
    return mk_binary(inc ? PLUSASG : MINUSASG, lv, step, lt);
  }
  default:
    unsupported(loc, std::string("operator '") + UnaryOperator::getOpcodeStr(uo->getOpcode()).str() +
                         "'");
  }
}

namespace {

uint32_t arith_op(BinaryOperatorKind k) {
  switch (k) {
  case BO_Mul: return MULT;
  case BO_Div: return DIV;
  case BO_Rem: return MOD;
  case BO_Add: return PLUS;
  case BO_Sub: return MINUS;
  case BO_Shl: return SLL;
  case BO_Shr: return SRL;
  case BO_And: return ANDB;
  case BO_Or: return ORB;
  case BO_Xor: return XORB;
  case BO_MulAssign: return MULT;
  case BO_DivAssign: return DIV;
  case BO_RemAssign: return MOD;
  case BO_AddAssign: return PLUS;
  case BO_SubAssign: return MINUS;
  case BO_ShlAssign: return SLL;
  case BO_ShrAssign: return SRL;
  case BO_AndAssign: return ANDB;
  case BO_OrAssign: return ORB;
  case BO_XorAssign: return XORB;
  default: return 0;
  }
}

uint32_t assign_op(uint32_t op) {
  switch (op) {
  case MULT: return MULTASG;
  case DIV: return DIVASG;
  case MOD: return MODASG;
  case PLUS: return PLUSASG;
  case MINUS: return MINUSASG;
  case SLL: return SLLASG;
  case SRL: return SRLASG;
  case ANDB: return ANDBASG;
  case ORB: return ORBASG;
  case XORB: return XORBASG;
  default: return 0;
  }
}

uint32_t comparison_op(BinaryOperatorKind k, bool is_unsigned) {
  switch (k) {
  case BO_EQ: return EQ;
  case BO_NE: return NEQ;
  case BO_LT: return is_unsigned ? ULT : LT;
  case BO_LE: return is_unsigned ? ULE : LE;
  case BO_GT: return is_unsigned ? UGT : GT;
  case BO_GE: return is_unsigned ? UGE : GE;
  default: return 0;
  }
}

} // namespace

NODE *Lowerer::binary(const BinaryOperator *bo) {
  if (const auto *ca = dyn_cast<CompoundAssignOperator>(bo))
    return compound_assign(ca);
  SourceLocation loc = bo->getExprLoc();
  const Expr *l = bo->getLHS();
  const Expr *r = bo->getRHS();
  TYPE *t = ty(bo->getType(), loc);
  TYPE *int_t = types_.int_type(IK_INT);
  BinaryOperatorKind k = bo->getOpcode();
  switch (k) {
  case BO_Comma: {
    NODE *a = rvalue(l);
    NODE *b = rvalue(r);
    return mk_binary(COMMAOP, a, b, b->type);
  }
  case BO_LAnd:
  case BO_LOr: {
    NODE *a = rvalue(l);
    NODE *b = rvalue(r);
    return mk_binary(k == BO_LAnd ? ANDAND : OROR, a, b, int_t);
  }
  case BO_Assign: {
    NODE *lv = lvalue(l);
    if (is_struct_type(l->getType())) {
      NODE *v = rvalue(r);
      return mk_binary(STASG, lv, v, lv->type);
    }
    NODE *v = convert(rvalue(r), lv->type, loc);
    return mk_binary(ASG, lv, v, lv->type);
  }
  case BO_EQ: case BO_NE: case BO_LT: case BO_LE: case BO_GT: case BO_GE: {
    NODE *a = rvalue(l);
    NODE *b = rvalue(r);
    QualType lt = l->getType();
    bool is_unsigned = lt->isPointerType() || lt->isUnsignedIntegerOrEnumerationType();
    if (lt->isPointerType() && b->type != a->type)
      b = convert(b, a->type, loc);
    return mk_binary(comparison_op(k, is_unsigned), a, b, int_t);
  }
  case BO_Add:
  case BO_Sub: {
    QualType lt = l->getType(), rt = r->getType();
    if (lt->isPointerType() && rt->isPointerType()) {
      // p - q: the difference in units, divided by the element size.
      NODE *a = rvalue(l);
      NODE *b = convert(rvalue(r), a->type, loc);
      NODE *diff = mk_binary(MINUS, a, b, a->type);
      if (lt->getPointeeType()->isVariablyModifiedType()) {
        NODE *units = convert(vla_units(lt->getPointeeType(), loc), int_t, loc);
        return mk_binary(DIV, mk_binary(PVCONV, diff, icon(16, int_t), int_t), units, t);
      }
      uint64_t bits = types_.size_bits(lt->getPointeeType(), loc);
      return mk_binary(PVCONV, diff, icon(static_cast<int64_t>(bits), int_t), t);
    }
    if (lt->isPointerType())
      return pointer_offset(rvalue(l), rvalue(r), lt->getPointeeType(), k == BO_Sub, loc);
    if (rt->isPointerType())
      return pointer_offset(rvalue(r), rvalue(l), rt->getPointeeType(), false, loc);
    break;
  }
  default:
    break;
  }
  uint32_t op = arith_op(k);
  if (!op)
    unsupported(loc, "operator '" + BinaryOperator::getOpcodeStr(k).str() + "'");
  NODE *a = convert(rvalue(l), t, loc);
  NODE *b = rvalue(r);
  if (op != SLL && op != SRL)
    b = convert(b, t, loc);
  return mk_binary(op, a, b, t);
}

// `lhs op= rhs`.  When the operation is done in the type of the left
// operand the tree is the compound assignment itself; when C computes it in
// another type and the result could differ (division and remainder in a
// wider or differently signed type, floating computations), it becomes
// lhs = (T)((C)lhs op rhs) with the designator evaluated once.
NODE *Lowerer::compound_assign(const CompoundAssignOperator *ca) {
  SourceLocation loc = ca->getExprLoc();
  const Expr *l = ca->getLHS();
  const Expr *r = ca->getRHS();
  uint32_t op = arith_op(ca->getOpcode());
  NODE *lv = lvalue(l);
  TYPE *lt = lv->type;
  if (l->getType()->isPointerType()) {
    NODE *idx = convert(rvalue(r), types_.int_type(IK_INT), loc);
    NODE *scaled = scaled_index(idx, l->getType()->getPointeeType(), loc);
    return mk_binary(op == PLUS ? PLUSASG : MINUSASG, lv, scaled, lt);
  }
  TYPE *ct = ty(ca->getComputationLHSType(), loc);
  TYPE *rt = ty(ca->getComputationResultType(), loc);
  bool same_kind = ct == lt && !lt->is_complex();   // no compound complex operators
  if (!same_kind && lt->is_integral() && ct->is_integral()) {
    bool width_only = op != DIV && op != MOD;   // wrapping operations and shifts
    same_kind = width_only;
  }
  if (same_kind) {
    NODE *v = rvalue(r);
    if (op != SLL && op != SRL)
      v = convert(v, lt, loc);
    return mk_binary(assign_op(op), lv, v, lt);
  }
  std::vector<NODE *> pre;
  lv = stable_lvalue(lv, pre, loc);
  NODE *old = convert(copy_node(lv, false, true), ct, loc);
  NODE *v = rvalue(r);
  if (op != SLL && op != SRL)
    v = convert(v, ct, loc);
  NODE *result = convert(mk_binary(op, old, v, rt), lt, loc);
  return seq(std::move(pre), mk_binary(ASG, lv, result, lt));
}

// A compound literal in a function is a temporary of the function,
// initialized each time the expression is evaluated:
// UMULT(COMMAOP(initializations, UAND(t))).  The initializations are the
// statements a declaration of t would get, taken back from the body.
NODE *Lowerer::compound_literal(const CompoundLiteralExpr *cl) {
  SourceLocation loc = cl->getExprLoc();
  if (cl->isFileScope() || !fn_)
    unsupported(loc, "compound literal outside a function");
  QualType qt = cl->getType();
  TYPE *t = ty(qt, loc);
  if (t->size == 0)
    unsupported(loc, "object of unknown size");
  SYMTAB *tmp = new_temp(t);
  const size_t at = fn_->items.size();
  init_object(mk_name(tmp, t), qt, cl->getInitializer(), cur_pos_);
  std::vector<NODE *> inits;
  for (size_t i = at; i < fn_->items.size(); ++i)
    inits.push_back(fn_->items[i].tree);
  fn_->items.resize(at);
  if (inits.empty())
    return mk_name(tmp, t);
  TYPE *pt = types_.pointer_to(t);
  return mk_unary(UMULT, seq(std::move(inits), mk_unary(UAND, mk_name(tmp, t), pt)), t);
}

bool Lowerer::is_vla(const Expr *e) const {
  QualType t = e->getType();
  return t->isVariablyModifiedType() && t->isArrayType();
}

// The units a variably modified type takes, computed at run time: the
// counts kept in temporaries (or, for a bound no declaration evaluated, its
// expression) times the element's units.
NODE *Lowerer::vla_units(QualType t, SourceLocation loc) {
  TYPE *size_t_type = types_.int_type(IK_UINT);
  const ArrayType *at = ctx_.getAsArrayType(t);
  if (!at || !t->isVariablyModifiedType())
    return icon(static_cast<int64_t>(types_.size_units(t, loc)), size_t_type);
  NODE *count;
  if (const auto *vat = dyn_cast<VariableArrayType>(at)) {
    if (auto it = vla_counts_.find(vat); it != vla_counts_.end())
      count = mk_name(it->second);
    else if (vat->getSizeExpr())
      count = convert(rvalue(vat->getSizeExpr()), size_t_type, loc);
    else
      unsupported(loc, "variable-length array of unspecified size");
  } else if (const auto *cat = dyn_cast<ConstantArrayType>(at)) {
    count = icon(static_cast<int64_t>(types_.array_count(cat, loc)), size_t_type);
  } else {
    unsupported(loc, "array of unknown size");
  }
  return mk_binary(MULT, count, vla_units(at->getElementType(), loc), size_t_type);
}

// The address of an expression of variably modified array type, as a
// pointer to its innermost element.
NODE *Lowerer::vla_address(const Expr *e) {
  e = e->IgnoreParens();
  SourceLocation loc = e->getExprLoc();
  if (const auto *dr = dyn_cast<DeclRefExpr>(e)) {
    const auto *vd = dyn_cast<VarDecl>(dr->getDecl());
    if (vd && vla_vars_.count(vd))
      return mk_name(locals_.at(vd));
  }
  if (const auto *ae = dyn_cast<ArraySubscriptExpr>(e))
    return pointer_offset(rvalue(ae->getBase()), rvalue(ae->getIdx()), ae->getType(), false, loc);
  if (const auto *uo = dyn_cast<UnaryOperator>(e); uo && uo->getOpcode() == UO_Deref)
    return rvalue(uo->getSubExpr());
  unsupported(loc, "this use of a variable-length array");
}

// ({ declarations and statements; value; }) (GNU): the statements run where
// the expression stands, as the left operands of COMMAOPs; the value is the
// last expression's.  Only straight-line statements can be values so: a
// body with labels or jumps (an if, a loop) is refused.
NODE *Lowerer::statement_expression(const StmtExpr *se) {
  SourceLocation loc = se->getExprLoc();
  const CompoundStmt *cs = se->getSubStmt();
  if (is_struct_type(se->getType()))
    unsupported(loc, "statement expression of structure type");
  const size_t at = fn_->items.size();
  const SrcPos saved_pos = cur_pos_;
  NODE *value = nullptr;
  for (const Stmt *st : cs->body()) {
    if (st == cs->body_back() && isa<Expr>(st) && !se->getType()->isVoidType()) {
      value = rvalue(cast<Expr>(st));
      break;
    }
    lower_stmt(st);
  }
  cur_pos_ = saved_pos;
  std::vector<NODE *> effects;
  bool straight = true;
  for (size_t i = at; i < fn_->items.size(); ++i) {
    const NODE *t = fn_->items[i].tree;
    if (fn_->items[i].kind != BodyItem::STATEMENT || !t || t->op == BRANCH ||
        t->op == CBRANCH || t->op == RETURN || t->op == URETURN || t->op == SWITCH ||
        t->op == ASSERT)
      straight = false;
    else
      effects.push_back(fn_->items[i].tree);
  }
  if (!straight)
    unsupported(loc, "statement expression with control flow");
  fn_->items.resize(at);
  if (!value)
    value = nop();
  return effects.empty() ? value : seq(std::move(effects), value);
}

// __real__ z and __imag__ z: REAL and IMAG of the complex value, which are
// designators when z is one.  Of a real value they are the value and 0.
NODE *Lowerer::complex_part(const UnaryOperator *uo) {
  SourceLocation loc = uo->getExprLoc();
  const Expr *sub = uo->getSubExpr();
  TYPE *t = ty(uo->getType(), loc);
  const bool real = uo->getOpcode() == UO_Real;
  if (!sub->getType()->isAnyComplexType()) {
    if (real)
      return convert(rvalue(sub), t, loc);
    NODE *effects = rvalue(sub);
    NODE *zero = t->is_floating() ? mk_fcon(0.0, t) : icon(0, t);
    return seq({effects}, zero);
  }
  NODE *z = sub->isLValue() ? lvalue(sub) : rvalue(sub);
  return mk_unary(real ? REAL : IMAG, z, t);
}

// ------------------------------------------------------------ calls

NODE *Lowerer::call(const CallExpr *ce) {
  SourceLocation loc = ce->getExprLoc();
  if (const FunctionDecl *fd = ce->getDirectCallee()) {
    std::string name = fd->getNameAsString();
    if (name == "_nassert")
      unsupported(loc, "_nassert used as a value");
    if (fd->getBuiltinID() && name.rfind("__builtin", 0) == 0 && !is_runtime_builtin(name)) {
      if (NODE *n = builtin_call(ce, name))
        return n;
      unsupported(loc, "builtin function '" + name + "'");
    }
  }
  NODE *callee = rvalue(ce->getCallee());
  TYPE *t = ty(ce->getType(), loc);
  std::vector<NODE *> args;
  for (const Expr *a : ce->arguments()) {
    if (is_struct_type(a->getType())) {
      NODE *lv = lvalue(a);
      args.push_back(mk_unary(STARG, lv, lv->type));
    } else {
      args.push_back(rvalue(a));
    }
  }
  if (args.empty()) {
    NODE *n = mk_unary(UCALL, callee, t);
    n->set_ucall(0);
    return n;
  }
  NODE *list = args[0];
  for (size_t i = 1; i < args.size(); ++i)
    list = mk_binary(COMMA, list, args[i], types_.void_type());
  NODE *n = mk_binary(CALL, callee, list, t);
  n->set_call(static_cast<uint32_t>(args.size()), 0);
  return n;
}

// The bit builtins are calls of zrun's runtime functions of the same name.
bool Lowerer::is_runtime_builtin(const std::string &name) {
  static const char *const kNames[] = {
      "__builtin_popcount", "__builtin_popcountl", "__builtin_popcountll",
      "__builtin_clz",      "__builtin_clzl",      "__builtin_clzll",
      "__builtin_ctz",      "__builtin_ctzl",      "__builtin_ctzll",
      "__builtin_parity",   "__builtin_parityl",   "__builtin_parityll",
      "__builtin_ffs",      "__builtin_ffsl",      "__builtin_ffsll",
      "__builtin_bswap16",  "__builtin_bswap32",   "__builtin_bswap64"};
  for (const char *n : kNames)
    if (name == n)
      return true;
  return false;
}

// The builtins zcc knows: branch hints, and the variable argument lists.
// A variable argument list is a `char *` (clang's va_list on the i386
// target) into the variadic area that zrun gives a call of a variadic
// function: consecutive slots of the arguments after the named ones, each
// its size rounded up to 2 units.  va_start takes the area's address from
// the intrinsic "__va_start"; va_arg steps over one slot and loads from
// it; va_end does nothing; va_copy copies the pointer.
NODE *Lowerer::builtin_call(const CallExpr *ce, const std::string &name) {
  SourceLocation loc = ce->getExprLoc();
  // A branch hint is its first operand's value; an unreachable point is
  // nothing (as a statement it writes none).
  if (name == "__builtin_expect")
    return convert(rvalue(ce->getArg(0)), ty(ce->getType(), loc), loc);
  if (name == "__builtin_va_end" || name == "__builtin_unreachable")
    return nop();
  if (name != "__builtin_va_start" && name != "__builtin_va_copy")
    return nullptr;
  const Expr *list = ce->getArg(0)->IgnoreImpCasts();
  if (!list->getType()->isPointerType())
    unsupported(loc, "va_list that is not a pointer");
  NODE *lv = lvalue(list);
  NODE *value;
  if (name == "__builtin_va_start") {
    value = new_node(UICALL, lv->type);
    value->set_callee_name("__va_start");
  } else {
    value = convert(rvalue(ce->getArg(1)), lv->type, loc);
  }
  return mk_binary(ASG, lv, value, lv->type);
}

NODE *Lowerer::va_arg(const VAArgExpr *va) {
  SourceLocation loc = va->getExprLoc();
  const Expr *list = va->getSubExpr()->IgnoreImpCasts();
  if (!list->getType()->isPointerType())
    unsupported(loc, "va_list that is not a pointer");
  TYPE *t = ty(va->getType(), loc);
  TYPE *int_t = types_.int_type(IK_INT);
  const int64_t slot = static_cast<int64_t>((types_.size_units(va->getType(), loc) + 1) & ~uint64_t{1});
  std::vector<NODE *> pre;
  NODE *lv = stable_lvalue(lvalue(list), pre, loc);
  auto units = [&] { return mk_binary(PMCONV, icon(slot, int_t), icon(16, int_t), int_t); };
  // (T *)((ap += slot) - slot)
  NODE *next = mk_binary(PLUSASG, lv, units(), lv->type);
  NODE *at = mk_binary(MINUS, next, units(), lv->type);
  return seq(std::move(pre), mk_unary(UMULT, convert(at, types_.pointer_to(t), loc), t));
}

// ------------------------------------------------------------ values

NODE *Lowerer::rvalue(const Expr *e) {
  SourceLocation loc = e->getExprLoc();
  e = e->IgnoreParens();
  if (const auto *c = dyn_cast<ConstantExpr>(e))
    return rvalue(c->getSubExpr());
  if (const auto *il = dyn_cast<IntegerLiteral>(e)) {
    TYPE *t = ty(il->getType(), loc);
    llvm::APInt v = il->getValue();
    return icon(t->is_signed() ? static_cast<__int128>(v.getSExtValue())
                               : static_cast<__int128>(v.getZExtValue()),
                t);
  }
  if (const auto *cl = dyn_cast<CharacterLiteral>(e))
    return icon(static_cast<__int128>(static_cast<int32_t>(cl->getValue())), ty(cl->getType(), loc));
  if (const auto *fl = dyn_cast<FloatingLiteral>(e))
    return mk_fcon(fl->getValueAsApproximateDouble(), ty(fl->getType(), loc));
  if (const auto *im = dyn_cast<ImaginaryLiteral>(e)) {
    // 2.0i: COMPLEX(0, 2.0)
    TYPE *t = ty(im->getType(), loc);
    TYPE *part = t->getr()->base;
    NODE *zero = part->is_floating() ? mk_fcon(0.0, part) : icon(0, part);
    return mk_binary(COMPLEX, zero, convert(rvalue(im->getSubExpr()), part, loc), t);
  }
  if (const auto *dr = dyn_cast<DeclRefExpr>(e)) {
    if (isa<EnumConstantDecl>(dr->getDecl()))
      return icon(eval_int(e), ty(e->getType(), loc));
    return lvalue(e);
  }
  if (const auto *ce = dyn_cast<CastExpr>(e))
    return lower_cast(ce);
  if (const auto *uo = dyn_cast<UnaryOperator>(e))
    return unary(uo);
  if (const auto *bo = dyn_cast<BinaryOperator>(e))
    return binary(bo);
  if (const auto *co = dyn_cast<ConditionalOperator>(e)) {
    TYPE *t = ty(co->getType(), loc);
    NODE *c = rvalue(co->getCond());
    if (is_struct_type(co->getType())) {
      TYPE *pt = types_.pointer_to(t);
      NODE *a = mk_unary(UAND, lvalue(co->getTrueExpr()), pt);
      NODE *b = mk_unary(UAND, lvalue(co->getFalseExpr()), pt);
      NODE *q = mk_binary(QUEST, c, mk_binary(COLON, a, b, pt), pt);
      return mk_unary(UMULT, q, t);
    }
    NODE *a = convert(rvalue(co->getTrueExpr()), t, loc);
    NODE *b = convert(rvalue(co->getFalseExpr()), t, loc);
    return mk_binary(QUEST, c, mk_binary(COLON, a, b, t), t);
  }
  if (const auto *ce = dyn_cast<CallExpr>(e))
    return call(ce);
  if (isa<MemberExpr>(e) || isa<ArraySubscriptExpr>(e))
    return lvalue(e);
  if (const auto *ue = dyn_cast<UnaryExprOrTypeTraitExpr>(e);
      ue && ue->getKind() == UETT_SizeOf && ue->getTypeOfArgument()->isVariablyModifiedType() &&
      ue->getTypeOfArgument()->isArrayType())
    return convert(vla_units(ue->getTypeOfArgument(), loc), ty(ue->getType(), loc), loc);
  if (isa<UnaryExprOrTypeTraitExpr>(e) || isa<OffsetOfExpr>(e))
    return icon(eval_int(e), ty(e->getType(), loc));
  if (isa<ImplicitValueInitExpr>(e)) {
    TYPE *t = ty(e->getType(), loc);
    if (t->is_floating())
      return mk_fcon(0.0, t);
    if (t->is_integral() || t->is_pointer())
      return icon(0, t);
    unsupported(loc, "aggregate value");
  }
  if (const auto *sl = dyn_cast<StringLiteral>(e))
    return string_literal(sl);
  if (const auto *bco = dyn_cast<BinaryConditionalOperator>(e)) {
    // a ?: b is t = a, t ? t : b with a evaluated once.
    TYPE *t = ty(bco->getType(), loc);
    NODE *a = rvalue(bco->getCommon());
    SYMTAB *tmp = new_temp(a->type);
    NODE *set = mk_binary(ASG, mk_name(tmp), a, a->type);
    NODE *pick = mk_binary(COLON, convert(mk_name(tmp), t, loc),
                           convert(rvalue(bco->getFalseExpr()), t, loc), t);
    return seq({set}, mk_binary(QUEST, truth(mk_name(tmp)), pick, t));
  }
  if (const auto *se = dyn_cast<StmtExpr>(e))
    return statement_expression(se);
  if (isa<CompoundLiteralExpr>(e))
    return lvalue(e);
  if (const auto *va = dyn_cast<VAArgExpr>(e))
    return va_arg(va);
  unsupported(loc, std::string("expression '") + e->getStmtClassName() + "'");
}

} // namespace zor::zcc
