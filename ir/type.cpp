// ir/type.cpp - type descriptors and the type package.
#include "ir/type.h"

namespace zor {

bool TYPE::is_signed() const {
  const TYPE *t = getr();
  switch (t->kind) {
  case TK_INTEGRAL:
    switch (t->subkind) {
    case IK_CHAR: case IK_SHORT: case IK_INT: case IK_LONG: case IK_LLONG:
      return true;
    default:
      return false;
    }
  case TK_FLOATING:
    return true;
  default:
    return false;
  }
}

const MEMBER *TYPE::member_by_id(uint32_t member_id) const {
  for (const MEMBER &m : getr()->members)
    if (m.id == member_id)
      return &m;
  return nullptr;
}

TYPE *TYPE::normalized() {
  TYPE *r = getr();
  if (r->kind == TK_INTEGRAL && r->pkg)
    return r->pkg->mk_int(static_cast<IntKind>(r->subkind));
  if (r->kind == TK_ENUM && r->base)
    return r->base->normalized();
  return this;
}

DataModel DataModel::zor() {
  DataModel dm{};
  //                      bool char uchar wchar short ushort int uint long ulong llong ullong
  const uint32_t sz[] = {16, 16, 16, 16, 16, 16, 32, 32, 32, 32, 64, 64};
  for (unsigned i = 0; i < IK_COUNT; ++i) {
    dm.int_size[i] = sz[i];
    dm.int_align[i] = sz[i] > 32 ? 32 : sz[i];
  }
  dm.float_size[FK_FLOAT] = 32;
  dm.float_size[FK_DOUBLE] = 32;
  dm.float_size[FK_LDOUBLE] = 64;
  dm.float_align[FK_FLOAT] = 32;
  dm.float_align[FK_DOUBLE] = 32;
  dm.float_align[FK_LDOUBLE] = 32;
  dm.pointer_size = 16;
  dm.pointer_align = 16;
  return dm;
}

TYPE_PKG::TYPE_PKG(const DataModel &dm) {
  void_ = make(TK_VOID, 0, 0);
  for (unsigned i = 0; i < IK_COUNT; ++i) {
    ints_[i] = make(TK_INTEGRAL, dm.int_size[i], dm.int_align[i]);
    ints_[i]->subkind = i;
  }
  for (unsigned i = 0; i < FK_COUNT; ++i) {
    floats_[i] = make(TK_FLOATING, dm.float_size[i], dm.float_align[i]);
    floats_[i]->subkind = i;
  }
}

TYPE *TYPE_PKG::make(TypeKind k, uint32_t size, uint32_t align) {
  all_.push_back(std::make_unique<TYPE>(k, size, align));
  TYPE *t = all_.back().get();
  t->pkg = this;
  t->id = static_cast<uint32_t>(all_.size());
  t->complete = true;
  return t;
}

TYPE *TYPE_PKG::mk_pointer(TYPE *to, uint32_t size, uint32_t align) {
  TYPE *t = make(TK_POINTER, size, align);
  t->base = to;
  return t;
}

TYPE *TYPE_PKG::mk_qualified(TYPE *base, uint32_t qualifiers) {
  TYPE *t = make(TK_QUALIFIED, base->size, base->align);
  t->base = base;
  t->qualifiers = qualifiers;
  t->resolved = base->getr();
  return t;
}

TYPE *TYPE_PKG::mk_typedef(const std::string &name, TYPE *base) {
  TYPE *t = make(TK_TYPEDEF, base->size, base->align);
  t->base = base;
  t->name = name;
  t->resolved = base->getr();
  return t;
}

TYPE *TYPE_PKG::mk_function(TYPE *result) {
  TYPE *t = make(TK_FUNCTION, 0, 0);
  t->base = result;
  return t;
}

TYPE *TYPE_PKG::mk_struct(TypeKind k, const std::string &name, uint32_t size,
                          uint32_t align, std::vector<MEMBER> members) {
  TYPE *t = make(k, size, align);
  t->name = name;
  t->members = std::move(members);
  return t;
}

} // namespace zor
