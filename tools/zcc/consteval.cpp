// tools/zcc/consteval.cpp - integer constant expressions in ZOR terms.
//
// Clang folds constant expressions for its own target (8-bit char, 4-byte
// int), so every value that depends on type sizes or widths - sizeof,
// offsetof, alignof, casts to char or short, enumerators defined by them,
// array bounds and case labels - is evaluated here again: each
// sub-expression's value is cut to the width of its ZOR type and extended by
// its signedness, as the machine does.
#include <map>

#include "tools/zcc/lower.h"

namespace zor::zcc {

using namespace clang;

namespace {

__int128 fit(__int128 v, TYPE *t) { return fit_int_to_type(v, t).to_i128(); }

} // namespace

__int128 Lowerer::eval_int(const Expr *e) {
  if (std::optional<__int128> v = try_eval_int(e))
    return *v;
  unsupported(e->getExprLoc(), "expression is not an integer constant");
}

std::optional<__int128> Lowerer::try_eval_int(const Expr *e) {
  SourceLocation loc = e->getExprLoc();
  e = e->IgnoreParens();
  if (const auto *c = dyn_cast<ConstantExpr>(e))
    return try_eval_int(c->getSubExpr());
  QualType qt = e->getType();
  if (!qt->isIntegerType() && !qt->isPointerType())
    return std::nullopt;
  TYPE *t = ty(qt, loc);
  if (const auto *il = dyn_cast<IntegerLiteral>(e)) {
    llvm::APInt v = il->getValue();
    return fit(qt->isSignedIntegerType() ? static_cast<__int128>(v.getSExtValue())
                                          : static_cast<__int128>(v.getZExtValue()),
               t);
  }
  if (const auto *cl = dyn_cast<CharacterLiteral>(e))
    return fit(static_cast<int32_t>(cl->getValue()), t);
  if (const auto *dr = dyn_cast<DeclRefExpr>(e)) {
    const auto *ec = dyn_cast<EnumConstantDecl>(dr->getDecl());
    if (!ec)
      return std::nullopt;
    // An enumerator is its initializer, or one more than the one before.
    const auto *ed = cast<EnumDecl>(ec->getDeclContext());
    __int128 value = 0;
    for (const EnumConstantDecl *x : ed->enumerators()) {
      if (const Expr *init = x->getInitExpr())
        value = eval_int(init);
      else if (x != *ed->enumerator_begin())
        value += 1;
      if (x == ec)
        return fit(value, t);
    }
    return std::nullopt;
  }
  if (const auto *ce = dyn_cast<CastExpr>(e)) {
    switch (ce->getCastKind()) {
    case CK_IntegralCast:
    case CK_NoOp:
    case CK_NullToPointer:
    case CK_IntegralToPointer:
      if (std::optional<__int128> v = try_eval_int(ce->getSubExpr()))
        return fit(*v, t);
      return std::nullopt;
    case CK_IntegralToBoolean:
      if (std::optional<__int128> v = try_eval_int(ce->getSubExpr()))
        return *v != 0;
      return std::nullopt;
    default:
      return std::nullopt;
    }
  }
  if (const auto *ue = dyn_cast<UnaryExprOrTypeTraitExpr>(e)) {
    QualType arg = ue->isArgumentType() ? ue->getArgumentType() : ue->getArgumentExpr()->getType();
    switch (ue->getKind()) {
    case UETT_SizeOf:
      return fit(static_cast<__int128>(types_.size_units(arg, loc)), t);
    case UETT_AlignOf:
    case UETT_PreferredAlignOf:
      return fit(static_cast<__int128>(types_.align_bits(arg, loc) / 16), t);
    default:
      unsupported(loc, "type trait");
    }
  }
  if (const auto *oe = dyn_cast<OffsetOfExpr>(e)) {
    QualType cur = oe->getTypeSourceInfo()->getType();
    __int128 units = 0;
    for (unsigned i = 0; i < oe->getNumComponents(); ++i) {
      const OffsetOfNode &c = oe->getComponent(i);
      switch (c.getKind()) {
      case OffsetOfNode::Field: {
        const FieldDecl *f = c.getField();
        const MEMBER *m = types_.member(f, loc);
        if (m->bitfield)
          unsupported(loc, "offsetof a bit-field");
        units += m->offset / 16;
        cur = f->getType();
        break;
      }
      case OffsetOfNode::Array: {
        const ArrayType *at = cur->getAsArrayTypeUnsafe();
        if (!at)
          return std::nullopt;
        __int128 idx = eval_int(oe->getIndexExpr(c.getArrayExprIndex()));
        units += idx * static_cast<__int128>(types_.size_units(at->getElementType(), loc));
        cur = at->getElementType();
        break;
      }
      default:
        unsupported(loc, "offsetof through a base class");
      }
    }
    return fit(units, t);
  }
  if (const auto *uo = dyn_cast<UnaryOperator>(e)) {
    std::optional<__int128> v = try_eval_int(uo->getSubExpr());
    if (!v)
      return std::nullopt;
    switch (uo->getOpcode()) {
    case UO_Plus: return fit(*v, t);
    case UO_Minus: return fit(-*v, t);
    case UO_Not: return fit(~*v, t);
    case UO_LNot: return *v == 0;
    default: return std::nullopt;
    }
  }
  if (const auto *co = dyn_cast<ConditionalOperator>(e)) {
    std::optional<__int128> c = try_eval_int(co->getCond());
    if (!c)
      return std::nullopt;
    std::optional<__int128> v = try_eval_int(*c ? co->getTrueExpr() : co->getFalseExpr());
    if (!v)
      return std::nullopt;
    return fit(*v, t);
  }
  if (const auto *bo = dyn_cast<BinaryOperator>(e)) {
    if (isa<CompoundAssignOperator>(bo) || bo->isAssignmentOp())
      return std::nullopt;
    BinaryOperatorKind k = bo->getOpcode();
    std::optional<__int128> a = try_eval_int(bo->getLHS());
    if (!a)
      return std::nullopt;
    if (k == BO_LAnd && *a == 0)
      return 0;
    if (k == BO_LOr && *a != 0)
      return 1;
    std::optional<__int128> b = try_eval_int(bo->getRHS());
    if (!b)
      return std::nullopt;
    if (bo->getLHS()->getType()->isPointerType())
      return std::nullopt;
    TYPE *lt = ty(bo->getLHS()->getType(), loc);
    const bool lsigned = lt->is_signed();
    const uint32_t width = int_width_of(t);
    switch (k) {
    case BO_Mul: return fit(*a * *b, t);
    case BO_Add: return fit(*a + *b, t);
    case BO_Sub: return fit(*a - *b, t);
    case BO_Div:
    case BO_Rem:
      if (*b == 0)
        return std::nullopt;
      return fit(k == BO_Div ? *a / *b : *a % *b, t);
    case BO_Shl:
    case BO_Shr: {
      if (*b < 0)
        return std::nullopt;
      if (*b >= width) {
        if (k == BO_Shr && lsigned && *a < 0)
          return fit(-1, t);
        return 0;
      }
      return fit(k == BO_Shl ? *a << static_cast<int>(*b) : *a >> static_cast<int>(*b), t);
    }
    case BO_And: return fit(*a & *b, t);
    case BO_Or: return fit(*a | *b, t);
    case BO_Xor: return fit(*a ^ *b, t);
    case BO_LT: return *a < *b;
    case BO_GT: return *a > *b;
    case BO_LE: return *a <= *b;
    case BO_GE: return *a >= *b;
    case BO_EQ: return *a == *b;
    case BO_NE: return *a != *b;
    case BO_LAnd: return *b != 0;
    case BO_LOr: return *b != 0;
    case BO_Comma: return fit(*b, t);
    default: return std::nullopt;
    }
  }
  return std::nullopt;
}

} // namespace zor::zcc
