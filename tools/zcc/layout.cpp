// tools/zcc/layout.cpp - ZOR types, sizes and structure layout.
//
// Clang's own sizes are those of a 32-bit target with 8-bit char; none of
// them is used.  Basic types come from the type package's data model; arrays
// count their elements (bounds written as expressions are evaluated by zcc);
// structures are laid out here: members in declaration order at offsets
// aligned to their alignment, bit-fields packed from the least significant
// bit of a storage unit of their declared type, a field that does not fit in
// what is left of the unit starting a new one.  Typedefs and qualifiers are
// looked through: the I-code carries the plain types.
#include <clang/AST/Attr.h>

#include "tools/zcc/lower.h"

namespace zor::zcc {

using namespace clang;

TypeMapper::TypeMapper(ASTContext &ctx, TYPE_PKG &pkg) : ctx_(ctx), pkg_(pkg) {}

TYPE *TypeMapper::map_builtin(const BuiltinType *bt, SourceLocation loc) {
  switch (bt->getKind()) {
  case BuiltinType::Void: return pkg_.mk_void();
  case BuiltinType::Bool: return pkg_.mk_int(IK_BOOL);
  case BuiltinType::Char_S:
  case BuiltinType::SChar: return pkg_.mk_int(IK_CHAR);
  case BuiltinType::Char_U:
  case BuiltinType::UChar: return pkg_.mk_int(IK_UCHAR);
  case BuiltinType::Short: return pkg_.mk_int(IK_SHORT);
  case BuiltinType::UShort: return pkg_.mk_int(IK_USHORT);
  case BuiltinType::Int: return pkg_.mk_int(IK_INT);
  case BuiltinType::UInt: return pkg_.mk_int(IK_UINT);
  case BuiltinType::Long: return pkg_.mk_int(IK_LONG);
  case BuiltinType::ULong: return pkg_.mk_int(IK_ULONG);
  case BuiltinType::LongLong: return pkg_.mk_int(IK_LLONG);
  case BuiltinType::ULongLong: return pkg_.mk_int(IK_ULLONG);
  case BuiltinType::Float: return pkg_.mk_fltpt(FK_FLOAT);
  case BuiltinType::Double: return pkg_.mk_fltpt(FK_DOUBLE);
  case BuiltinType::LongDouble: return pkg_.mk_fltpt(FK_LDOUBLE);
  default:
    unsupported(loc, std::string("type '") + bt->getName(ctx_.getPrintingPolicy()).str() + "'");
  }
}

void TypeMapper::note_bound(const ConstantArrayType *t, const Expr *size) {
  const Type *key = t->getCanonicalTypeInternal().getTypePtr();
  int64_t n = eval_bound(size);
  if (n < 0)
    unsupported(size->getExprLoc(), "array of negative size");
  auto [it, fresh] = bounds_.emplace(key, static_cast<uint64_t>(n));
  if (!fresh && it->second != static_cast<uint64_t>(n))
    ambiguous_bounds_.insert(key);
}

uint64_t TypeMapper::array_count(const ArrayType *at, SourceLocation loc) {
  if (const auto *ca = dyn_cast<ConstantArrayType>(at)) {
    const Type *key = ca->getCanonicalTypeInternal().getTypePtr();
    if (ambiguous_bounds_.count(key))
      unsupported(loc, "arrays whose bounds differ on this target but not for clang ('" +
                           QualType(ca, 0).getAsString() + "')");
    if (auto it = bounds_.find(key); it != bounds_.end())
      return it->second;
    return ca->getSize().getZExtValue();
  }
  if (isa<IncompleteArrayType>(at))
    return 0;
  unsupported(loc, "variable-length array");
}

// A volatile object keeps its qualifier, so that the optimizer neither
// drops nor merges its accesses.
TYPE *TypeMapper::map(QualType qt, SourceLocation loc) {
  if (qt.isNull())
    unsupported(loc, "expression without a type");
  TYPE *t = map_unqualified(qt, loc);
  if (qt.isVolatileQualified() && !qt->isArrayType())
    t = pkg_.mk_qualified(t, Q_VOLATILE);
  return t;
}

TYPE *TypeMapper::map_unqualified(QualType qt, SourceLocation loc) {
  // Look through sugar step by step: an array bound written as an
  // expression lives on the sugared type only.
  for (;;) {
    QualType next = qt.getSingleStepDesugaredType(ctx_);
    if (next == qt)
      break;
    qt = next;
  }
  const Type *t = qt.getTypePtr();
  if (const auto *bt = dyn_cast<BuiltinType>(t))
    return map_builtin(bt, loc);
  if (const auto *pt = dyn_cast<PointerType>(t)) {
    // A pointer to a variable-length array points to its innermost element:
    // arithmetic on it scales by sizes zcc computes at run time.
    QualType pointee = pt->getPointeeType();
    while (pointee->isVariablyModifiedType() && pointee->isArrayType())
      pointee = ctx_.getAsArrayType(pointee)->getElementType();
    return pkg_.mk_pointer(map(pointee, loc));
  }
  if (const auto *at = dyn_cast<ArrayType>(t)) {
    TYPE *elem = map(at->getElementType(), loc);
    uint64_t count = array_count(at, loc);
    uint64_t bits = count * elem->size;
    if (bits > 65536ull * 16)
      unsupported(loc, "object larger than 65536 units");
    return pkg_.mk_array(elem, static_cast<uint32_t>(count), static_cast<uint32_t>(bits),
                         elem->align, !isa<IncompleteArrayType>(at));
  }
  if (const auto *et = dyn_cast<EnumType>(t)) {
    // Enumerations are their integral type: clang picks int or unsigned
    // int for them on this target, which is what the ZOR has as well.
    return map(et->getDecl()->getIntegerType(), loc);
  }
  if (const auto *rt = dyn_cast<RecordType>(t))
    return record_type(rt->getDecl(), loc);
  if (const auto *ft = dyn_cast<FunctionType>(t)) {
    TYPE *result = map(ft->getReturnType(), loc);
    std::vector<PARAM> params;
    bool varargs = false;
    bool proto = false;
    if (const auto *fp = dyn_cast<FunctionProtoType>(ft)) {
      proto = true;
      varargs = fp->isVariadic();
      uint32_t i = 0;
      for (QualType p : fp->getParamTypes()) {
        PARAM prm;
        prm.type = map(p, loc);
        prm.number = i++;
        params.push_back(prm);
      }
    }
    return pkg_.mk_function(result, proto, varargs, std::move(params));
  }
  if (const auto *ct = dyn_cast<ComplexType>(t)) {
    // The parts a complex type may have: float and double (both 32 bits),
    // and the signed integer types.
    TYPE *part = map(ct->getElementType(), loc);
    const TYPE *r = part->getr();
    const bool ok = r->kind == TK_FLOATING ? r->subkind != FK_LDOUBLE
                                           : r->kind == TK_INTEGRAL && part->is_signed() &&
                                                 r->subkind != IK_BOOL;
    if (!ok)
      unsupported(loc, "complex type of '" + ct->getElementType().getAsString() + "'");
    return pkg_.mk_complex(part);
  }
  if (isa<VectorType>(t))
    unsupported(loc, "vector type");
  unsupported(loc, std::string("type '") + qt.getAsString() + "'");
}

uint64_t TypeMapper::size_bits(QualType t, SourceLocation loc) {
  if (t->isVoidType() || t->isFunctionType())
    return 16;   // GNU: sizeof(void) and sizeof of a function are 1
  if (t->isIncompleteType())
    unsupported(loc, "size of an incomplete type");
  return map(t, loc)->size;
}

uint32_t TypeMapper::align_bits(QualType t, SourceLocation loc) {
  TYPE *zt = map(t, loc);
  return zt->align ? zt->align : 16;
}

TYPE *TypeMapper::record_type(const RecordDecl *rd, SourceLocation loc) {
  return layout(rd, loc).type;
}

const MEMBER *TypeMapper::member(const FieldDecl *f, SourceLocation loc) {
  const Layout &l = layout(f->getParent(), loc);
  auto it = l.members.find(f);
  if (it == l.members.end())
    unsupported(loc, "member '" + f->getNameAsString() + "'");
  return it->second;
}

uint64_t TypeMapper::bitfield_unit(const FieldDecl *f, SourceLocation loc) {
  const Layout &l = layout(f->getParent(), loc);
  auto it = l.units.find(f);
  if (it == l.units.end())
    unsupported(loc, "bit-field '" + f->getNameAsString() + "'");
  return it->second;
}

namespace {

uint64_t round_up(uint64_t v, uint64_t a) { return a ? (v + a - 1) / a * a : v; }

} // namespace

const TypeMapper::Layout &TypeMapper::layout(const RecordDecl *rd, SourceLocation loc) {
  if (auto it = layouts_.find(rd); it != layouts_.end())
    return it->second;
  const RecordDecl *def = rd->getDefinition();
  if (!def) {
    // An incomplete structure: only pointers to it are usable.
    Layout &l = layouts_[rd];
    l.type = pkg_.mk_csu(rd->isUnion() ? TK_UNION : TK_STRUCT, rd->getNameAsString(), 0, 16,
                         false);
    l.type = pkg_.complete(l.type);
    return l;
  }
  if (def != rd)
    return layouts_[rd] = layout(def, loc);
  // Packing (__attribute__((packed)), #pragma pack(n)) caps the alignment
  // of the scalar members; no member can start inside a unit, so the least
  // alignment is one unit.
  uint64_t max_align = UINT64_MAX;
  if (def->hasAttr<PackedAttr>())
    max_align = 16;
  if (const auto *pack = def->getAttr<MaxFieldAlignmentAttr>())
    max_align = std::min<uint64_t>(max_align, std::max<uint64_t>(16, pack->getAlignment()));
  const bool is_union = def->isUnion();
  std::string name = def->getNameAsString();
  // The structure is registered before its members are mapped, so that a
  // member can point to it.
  TYPE *st = pkg_.mk_csu(is_union ? TK_UNION : TK_STRUCT, name, 0, 16, true);
  {
    Layout &l = layouts_[def];
    l.type = st;
  }

  std::vector<MEMBER> members;
  std::vector<const FieldDecl *> fields;
  std::map<const FieldDecl *, uint64_t> units;
  uint64_t offset = 0, size = 0, align = 16;
  // The open bit-field storage unit: start, size in bits, bits used.
  uint64_t unit_start = 0, unit_size = 0, unit_used = 0;
  bool unit_open = false;
  uint32_t id = 0;
  for (const FieldDecl *f : def->fields()) {
    SourceLocation floc = f->getLocation();
    QualType ft = f->getType();
    // A flexible array member is an array of no elements at the end: it
    // takes no room, and accesses through it go past the structure into
    // the object the program allocated for it.
    TYPE *mt = map(ft, floc);
    uint64_t msize = mt->size;
    // Bit-fields keep their storage units aligned to the declared type,
    // and structure members their own alignment, since the storage unit
    // of a bit-field is found by aligning its offset down (docs/icode.md).
    const bool packable = !f->isBitField() && !ft->getBaseElementTypeUnsafe()->isRecordType();
    uint64_t malign = mt->align ? mt->align : 16;
    if (packable)
      malign = std::min<uint64_t>(malign, f->hasAttr<PackedAttr>() ? 16 : max_align);
    MEMBER m;
    m.id = ++id;
    m.name = f->getNameAsString();
    m.type = mt;
    m.pos = SrcPos{};
    if (f->isBitField()) {
      const Expr *we = f->getBitWidth();
      int64_t width = eval_bound ? eval_bound(we) : static_cast<int64_t>(f->getBitWidthValue(ctx_));
      if (width < 0 || static_cast<uint64_t>(width) > msize)
        unsupported(floc, "bit-field wider than its type");
      if (!mt->is_integral())
        unsupported(floc, "bit-field of non-integral type");
      if (is_union) {
        if (width > 0) {
          m.offset = 0;
          units[f] = 0;
          m.bitfield = static_cast<uint32_t>(width);
          members.push_back(m);
          fields.push_back(f);
        }
        size = std::max(size, msize);
        align = std::max(align, malign);
        continue;
      }
      if (width == 0) {
        // A zero-width bit-field closes the unit.
        unit_open = false;
        offset = round_up(offset, malign);
        continue;
      }
      if (!unit_open || unit_size != msize || unit_used + width > unit_size) {
        unit_start = round_up(offset, malign);
        unit_size = msize;
        unit_used = 0;
        unit_open = true;
        offset = unit_start + unit_size;
      }
      m.offset = static_cast<int32_t>(unit_start + unit_used);
      units[f] = unit_start;
      m.bitfield = static_cast<uint32_t>(width);
      unit_used += width;
      align = std::max(align, malign);
      if (f->getName().empty())
        continue;   // an unnamed bit-field only takes room
      members.push_back(m);
      fields.push_back(f);
      continue;
    }
    unit_open = false;
    if (is_union) {
      m.offset = 0;
      size = std::max(size, msize);
    } else {
      offset = round_up(offset, malign);
      m.offset = static_cast<int32_t>(offset);
      offset += msize;
    }
    align = std::max(align, malign);
    members.push_back(m);
    fields.push_back(f);
  }
  if (!is_union)
    size = offset;
  size = round_up(size, align);
  if (size == 0)
    size = 16;   // an empty structure still takes a unit
  if (size > 65536ull * 16)
    unsupported(loc, "object larger than 65536 units");
  st->size = static_cast<uint32_t>(size);
  st->align = static_cast<uint32_t>(align);
  st->members = std::move(members);
  if (!st->members.empty())
    st->groups |= 1u << kDataMemberGroup;
  TYPE *done = pkg_.complete(st);
  Layout &l = layouts_[def];
  l.type = done;
  for (size_t i = 0; i < fields.size(); ++i)
    l.members[fields[i]] = &done->members[i];
  l.units = std::move(units);
  return l;
}

} // namespace zor::zcc
