// ir/type_pkg.cpp - the type package: basic types, makers, completion and
// sharing, normal forms, promotions, compatibility and equivalence, removal
// and statistics.
//
// The package owns every type in its registry (identifier = index + 1).  Two
// tables speed up the two kinds of sharing it does: `frozen_` finds a held
// type exactly equal to one being completed (the reader's rebinding), and
// `canon_` finds the canonical normal form of a rebuilt type.  Both are
// keyed by a hash of the type's own fields and searched in registration
// order, so sharing never depends on addresses.
#include "ir/type.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>

namespace zor {

namespace {

bool same_pos(const SrcPos &a, const SrcPos &b) {
  if (a.line != b.line || a.column != b.column)
    return false;
  if (!a.file || !b.file)
    return a.file == b.file;
  return std::strcmp(a.file, b.file) == 0;
}

// ---- hashing (FNV-1a over the fields)

struct Hash {
  uint64_t h = 1469598103934665603ull;
  void add(uint64_t v) {
    for (int i = 0; i < 8; ++i) {
      h ^= (v >> (8 * i)) & 0xff;
      h *= 1099511628211ull;
    }
  }
  void add(const std::string &s) {
    add(s.size());
    for (unsigned char c : s) {
      h ^= c;
      h *= 1099511628211ull;
    }
  }
};

// The fields every comparison of this file looks at besides the types named.
void hash_own_fields(Hash &h, const TYPE *t) {
  h.add(t->kind);
  h.add(t->size);
  h.add(t->align);
  h.add(t->subkind);
  h.add(t->qualifiers);
  h.add(t->count);
  h.add(static_cast<uint32_t>(t->scale));
  h.add((t->explicit_sign ? 1u : 0u) | (t->is_complete ? 2u : 0u) | (t->vector ? 4u : 0u) |
        (t->has_params ? 8u : 0u) | (t->varargs ? 16u : 0u) | (t->full_form ? 32u : 0u) |
        (t->union_flag ? 64u : 0u));
  h.add(t->flag_byte);
  h.add(t->aux_flags);
  h.add(t->aux_byte);
  h.add(t->aux_number);
  h.add(t->groups);
  h.add(t->name_text);
  h.add(t->params.size());
  h.add(t->enumerators.size());
  h.add(t->members.size());
}

bool same_own_fields(const TYPE *a, const TYPE *b) {
  return a->kind == b->kind && a->size == b->size && a->align == b->align &&
         a->subkind == b->subkind && a->qualifiers == b->qualifiers && a->count == b->count &&
         a->scale == b->scale && a->explicit_sign == b->explicit_sign &&
         a->is_complete == b->is_complete && a->vector == b->vector &&
         a->has_params == b->has_params && a->varargs == b->varargs &&
         a->full_form == b->full_form && a->union_flag == b->union_flag &&
         a->flag_byte == b->flag_byte && a->aux_flags == b->aux_flags &&
         a->aux_byte == b->aux_byte && a->aux_number == b->aux_number &&
         a->groups == b->groups && a->name_text == b->name_text && same_pos(a->pos, b->pos) &&
         a->params.size() == b->params.size() && a->enumerators.size() == b->enumerators.size() &&
         a->members.size() == b->members.size();
}

// What a type contributes to the hash of a type that names it.  Classes,
// enumerations and functions (which may still be open) and types not yet
// frozen count by the fields fixed when they are made; other types by their
// shape, so that equal chains of derived types hash alike and unequal ones
// mostly apart.
uint64_t named_hash(const TYPE *u) {
  if (!u)
    return 0;
  bool aggregate = u->kind == TK_FUNCTION || u->kind == TK_ENUM ||
                   (u->kind >= TK_CLASS && u->kind <= TK_UNION);
  if (u->frozen && !aggregate)
    return u->shape;
  Hash h;
  h.add(u->kind);
  h.add(u->size);
  h.add(u->align);
  h.add(u->name_text);
  return h.h;
}

// Hash invariant under exact_types (equal types hash alike).
uint64_t exact_hash(const TYPE *t) {
  Hash h;
  hash_own_fields(h, t);
  h.add(named_hash(t->base));
  h.add(named_hash(t->class_type));
  for (const PARAM &p : t->params)
    h.add(named_hash(p.type));
  for (const MEMBER &m : t->members)
    h.add(named_hash(m.type));
  for (const auto &list : t->attrs) {
    h.add(list.size());
    for (const CSU_ATTR &a : list)
      h.add(named_hash(a.type));
  }
  return h.h;
}

// Hash of a rebuilt normal form: types named count by their identity.
uint64_t canon_hash(const TYPE *t) {
  Hash h;
  hash_own_fields(h, t);
  h.add(t->base ? t->base->id : 0u);
  h.add(t->class_type ? t->class_type->id : 0u);
  for (const PARAM &p : t->params)
    h.add(p.type ? p.type->id : 0u);
  return h.h;
}

// Same fields, types named by identity (for normal forms, whose parts are
// canonical already).
bool canon_equal(const TYPE *a, const TYPE *b) {
  if (!same_own_fields(a, b) || a->base != b->base || a->class_type != b->class_type)
    return false;
  for (size_t i = 0; i < a->params.size(); ++i) {
    const PARAM &p = a->params[i], &q = b->params[i];
    if (p.type != q.type || p.flag != q.flag || p.number != q.number || p.name != q.name)
      return false;
  }
  return true;
}

// exact_types with the pairs of classes assumed equal while their members
// are compared (a class refers to itself through its members).
class ExactCompare {
public:
  bool equal(TYPE *a, TYPE *b) {
    if (a == b)
      return true;
    if (!a || !b)
      return false;
    if (a->kind > kMaxTypeKind || b->kind > kMaxTypeKind)
      type_fatal("unhandled type kind: exact_types()");
    if (!a->frozen || !b->frozen || a->kind != b->kind)
      return false;
    if (a->representative() == b->representative())
      return true;
    for (const auto &p : assumed_)
      if ((p.first == a && p.second == b) || (p.first == b && p.second == a))
        return true;
    if (!same_own_fields(a, b))
      return false;
    for (size_t g = 0; g < kGroupCount; ++g)
      if (a->attrs[g].size() != b->attrs[g].size())
        return false;
    assumed_.emplace_back(a, b);
    bool same = equal(a->base, b->base) && equal(a->class_type, b->class_type) &&
                same_groups(a, b);
    assumed_.pop_back();
    return same;
  }

private:
  bool same_groups(const TYPE *a, const TYPE *b) {
    for (size_t i = 0; i < a->params.size(); ++i) {
      const PARAM &p = a->params[i], &q = b->params[i];
      if (p.flag != q.flag || p.number != q.number || p.name != q.name || !equal(p.type, q.type))
        return false;
    }
    for (size_t i = 0; i < a->enumerators.size(); ++i) {
      const ENUMERATOR &p = a->enumerators[i], &q = b->enumerators[i];
      if (p.name != q.name || p.value != q.value || !same_pos(p.pos, q.pos))
        return false;
    }
    for (size_t i = 0; i < a->members.size(); ++i) {
      const MEMBER &p = a->members[i], &q = b->members[i];
      if (p.id != q.id || p.name != q.name || p.flag != q.flag || p.offset != q.offset ||
          p.fti != q.fti || p.extra_name != q.extra_name || p.bitfield != q.bitfield ||
          p.mflags[0] != q.mflags[0] || p.mflags[1] != q.mflags[1] ||
          p.mflags[2] != q.mflags[2] || !same_pos(p.pos, q.pos) || !equal(p.type, q.type))
        return false;
    }
    for (size_t g = 0; g < kGroupCount; ++g) {
      for (size_t i = 0; i < a->attrs[g].size(); ++i) {
        const CSU_ATTR &p = a->attrs[g][i], &q = b->attrs[g][i];
        if (p.text != q.text || p.number != q.number || p.byte != q.byte ||
            !std::equal(std::begin(p.flags), std::end(p.flags), std::begin(q.flags)) ||
            !equal(p.type, q.type))
          return false;
      }
    }
    return true;
  }

  std::vector<std::pair<TYPE *, TYPE *>> assumed_;
};

uint32_t depth_of(const TYPE *t) { return t ? t->depth : 0; }
} // namespace

// ---------------------------------------------------------------- TYPE_PKG

TYPE_PKG::TYPE_PKG(const DataModel &dm) : dm_(dm) {
  void_ = complete(tp_alloc(TK_VOID, 0, 0));
  for (unsigned i = 0; i < IK_COUNT; ++i) {
    TYPE *t = tp_alloc(TK_INTEGRAL, dm.int_size[i], dm.int_align[i]);
    t->subkind = i;
    ints_[i] = complete(t);
  }
  for (unsigned i = 0; i < FK_COUNT; ++i) {
    TYPE *t = tp_alloc(TK_FLOATING, dm.float_size[i], dm.float_align[i]);
    t->subkind = i;
    floats_[i] = complete(t);
  }
}

TYPE_PKG::~TYPE_PKG() = default;

// Zeroed memory for one type, constructed and registered.
TYPE *TYPE_PKG::tp_alloc(TypeKind k, uint32_t size, uint32_t align) {
  std::unique_ptr<TYPE> t;
  try {
    t = std::make_unique<TYPE>(k, size, align);
  } catch (const std::bad_alloc &) {
    type_fatal("Out of memory: tp_alloc()");
  }
  return register_type(std::move(t));
}

TYPE *TYPE_PKG::tp_alloc_csu(TypeKind k, const std::string &name, uint32_t size,
                             uint32_t align) {
  std::unique_ptr<TYPE> t;
  try {
    t = std::make_unique<TYPE>(k, name.c_str(), static_cast<int>(size), static_cast<int>(align));
  } catch (const std::bad_alloc &) {
    type_fatal("Out of memory: tp_alloc()");
  }
  return register_type(std::move(t));
}

TYPE *TYPE_PKG::register_type(std::unique_ptr<TYPE> t) {
  try {
    all_.push_back(std::move(t));
  } catch (const std::bad_alloc &) {
    type_fatal("Out of memory: tp_alloc()");
  }
  TYPE *r = all_.back().get();
  r->pkg = this;
  r->id = static_cast<uint32_t>(all_.size());
  bytes_ += sizeof(TYPE);
  return r;
}

void TYPE_PKG::note_based(TYPE *t, TYPE *on) {
  if (!on)
    return;
  on->based.push_back(t);
  t->depth = std::max(t->depth, on->depth + 1);
}

TYPE *TYPE_PKG::mk_int(IntKind k) const {
  if (k >= IK_COUNT)
    type_fatal("Bad kind: TYPE_PKG::mk_int");
  return ints_[k];
}

TYPE *TYPE_PKG::mk_fltpt(FloatKind k) const {
  if (k >= FK_COUNT)
    type_fatal("Bad fltpt_kind: TYPE_PKG::mk_fltpt");
  return floats_[k];
}

namespace {

// The integral type behind t (an enumeration's base); fatal with msg for
// anything else.
const TYPE *integral_of(const TYPE *t, const char *msg) {
  const TYPE *r = t ? t->getr() : nullptr;
  if (r && r->kind == TK_ENUM && r->base)
    r = r->base->getr();
  if (!r || r->kind != TK_INTEGRAL)
    type_fatal(msg);
  return r;
}

} // namespace

TYPE *TYPE_PKG::mk_signed(const TYPE *t) const {
  const TYPE *r = integral_of(t, "Bad kind: TYPE_PKG::mk_signed()");
  switch (r->subkind) {
  case IK_CHAR: case IK_UCHAR: return ints_[IK_CHAR];
  case IK_WCHAR: case IK_SHORT: case IK_USHORT: return ints_[IK_SHORT];
  case IK_INT: case IK_UINT: return ints_[IK_INT];
  case IK_LONG: case IK_ULONG: return ints_[IK_LONG];
  case IK_LLONG: case IK_ULLONG: return ints_[IK_LLONG];
  default: type_fatal("Bad kind: TYPE_PKG::mk_signed()");
  }
}

TYPE *TYPE_PKG::mk_unsigned(const TYPE *t) const {
  const TYPE *r = integral_of(t, "Bad kind: TYPE_PKG::mk_unsigned()");
  switch (r->subkind) {
  case IK_BOOL: return ints_[IK_BOOL];
  case IK_CHAR: case IK_UCHAR: return ints_[IK_UCHAR];
  case IK_WCHAR: return ints_[IK_WCHAR];
  case IK_SHORT: case IK_USHORT: return ints_[IK_USHORT];
  case IK_INT: case IK_UINT: return ints_[IK_UINT];
  case IK_LONG: case IK_ULONG: return ints_[IK_ULONG];
  case IK_LLONG: case IK_ULLONG: return ints_[IK_ULLONG];
  default: type_fatal("Bad kind: TYPE_PKG::mk_unsigned()");
  }
}

// ------------------------------------------------------------------ makers

TYPE *TYPE_PKG::mk_integral(IntKind k, uint32_t size, uint32_t align, bool explicit_sign,
                            uint8_t aux_flags) {
  if (k >= IK_COUNT)
    type_fatal("Bad kind: TYPE_PKG::mk_int");
  TYPE *t = tp_alloc(TK_INTEGRAL, size, align);
  t->subkind = k;
  t->explicit_sign = explicit_sign;
  t->aux_flags = aux_flags;
  return complete(t);
}

TYPE *TYPE_PKG::mk_floating(FloatKind k, uint32_t size, uint32_t align) {
  if (k >= FK_COUNT)
    type_fatal("Bad fltpt_kind: TYPE_PKG::mk_fltpt");
  TYPE *t = tp_alloc(TK_FLOATING, size, align);
  t->subkind = k;
  return complete(t);
}

TYPE *TYPE_PKG::mk_fixed(TYPE *base, int32_t scale, uint32_t size, uint32_t align,
                         uint8_t aux_flags) {
  TYPE *t = tp_alloc(TK_FIXED, size, align);
  t->base = base;
  t->scale = scale;
  t->aux_flags = aux_flags;
  note_based(t, base);
  return complete(t);
}

TYPE *TYPE_PKG::mk_complex(TYPE *part) {
  std::unique_ptr<TYPE> t;
  try {
    t = std::make_unique<TYPE>(part);
  } catch (const std::bad_alloc &) {
    type_fatal("Out of memory: tp_alloc()");
  }
  TYPE *r = register_type(std::move(t));
  note_based(r, part);
  return complete(r);
}

TYPE *TYPE_PKG::mk_pointer(TYPE *to, uint32_t size, uint32_t align) {
  TYPE *t = tp_alloc(TK_POINTER, size, align);
  t->base = to;
  note_based(t, to);
  return complete(t);
}

TYPE *TYPE_PKG::mk_reference(TYPE *to, uint32_t size, uint32_t align) {
  TYPE *t = tp_alloc(TK_REFERENCE, size, align);
  t->base = to;
  note_based(t, to);
  return complete(t);
}

TYPE *TYPE_PKG::mk_qualified(TYPE *base, uint32_t qualifiers) {
  return mk_qualified(base, qualifiers, base ? base->size : 0, base ? base->align : 0);
}

TYPE *TYPE_PKG::mk_qualified(TYPE *base, uint32_t qualifiers, uint32_t size, uint32_t align) {
  TYPE *t = tp_alloc(TK_QUALIFIED, size, align);
  t->base = base;
  t->qualifiers = qualifiers;
  if (base)
    t->resolved = base->getr();
  note_based(t, base);
  return complete(t);
}

TYPE *TYPE_PKG::mk_typedef(const std::string &name, TYPE *base) {
  return mk_typedef(name, base, base ? base->size : 0, base ? base->align : 0, 0, 0, SrcPos());
}

TYPE *TYPE_PKG::mk_typedef(const std::string &name, TYPE *base, uint32_t size, uint32_t align,
                           uint8_t flag_byte, uint8_t aux_flags, SrcPos pos) {
  TYPE *t = tp_alloc(TK_TYPEDEF, size, align);
  t->name_text = name;
  t->base = base;
  t->flag_byte = flag_byte;
  t->aux_flags = aux_flags;
  t->pos = pos;
  if (base)
    t->resolved = base->getr();
  note_based(t, base);
  return complete(t);
}

TYPE *TYPE_PKG::mk_array(TYPE *elem, uint32_t count, uint32_t size, uint32_t align,
                         bool complete_array, uint8_t flag_byte, bool vector) {
  TYPE *t = tp_alloc(TK_ARRAY, size, align);
  t->base = elem;
  t->count = count;
  t->is_complete = complete_array;
  t->flag_byte = flag_byte;
  t->vector = vector;
  note_based(t, elem);
  return complete(t);
}

TYPE *TYPE_PKG::mk_vector(TYPE *elem, uint32_t count) {
  uint32_t esize = elem ? elem->size : 0;
  TYPE *t = tp_alloc(TK_ARRAY, esize * count, elem ? elem->align : 0);
  t->base = elem;
  t->count = count;
  t->is_complete = true;
  t->vector = true;
  note_based(t, elem);
  return complete(t);
}

TYPE *TYPE_PKG::mk_ptr_to_member(TYPE *to, TYPE *cls, uint32_t size, uint32_t align) {
  TYPE *t = tp_alloc(TK_PTR_TO_MEMBER, size, align);
  t->base = to;
  t->class_type = cls;
  note_based(t, to);
  note_based(t, cls);
  return complete(t);
}

TYPE *TYPE_PKG::mk_function(TYPE *result, bool has_params, bool varargs,
                            std::vector<PARAM> params, bool freeze) {
  TYPE *t = tp_alloc(TK_FUNCTION, 0, 0);
  t->base = result;
  t->has_params = has_params;
  t->varargs = varargs;
  t->params = std::move(params);
  note_based(t, result);
  for (const PARAM &p : t->params)
    t->depth = std::max(t->depth, depth_of(p.type) + 1);
  if (!t->params.empty())
    t->groups |= 1u << kParamGroup;
  return freeze ? complete(t) : t;
}

TYPE *TYPE_PKG::mk_enum(const std::string &name, TYPE *int_type, uint32_t size,
                        uint32_t align) {
  TYPE *t = tp_alloc(TK_ENUM, size, align);
  t->name_text = name;
  t->base = int_type;
  note_based(t, int_type);
  return t;
}

TYPE *TYPE_PKG::mk_csu(TypeKind k, const std::string &name, uint32_t size, uint32_t align,
                       bool complete_csu) {
  TYPE *t = tp_alloc_csu(k, name, size, align);
  t->is_complete = complete_csu;
  return t;
}

TYPE *TYPE_PKG::mk_struct(TypeKind k, const std::string &name, uint32_t size, uint32_t align,
                          std::vector<MEMBER> members) {
  TYPE *t = mk_csu(k, name, size, align, true);
  t->members = std::move(members);
  if (!t->members.empty())
    t->groups |= 1u << kDataMemberGroup;
  for (const MEMBER &m : t->members)
    t->depth = std::max(t->depth, depth_of(m.type) + 1);
  return complete(t);
}

TYPE *TYPE_PKG::complete(TYPE *t) {
  if (t->frozen)
    return t;
  t->frozen = true;
  t->shape = exact_hash(t);
  std::vector<TYPE *> &bucket = frozen_[t->shape];
  for (TYPE *held : bucket) {
    if (held != t && exact_types(held, t)) {
      t->next_equiv = held;
      return held;
    }
  }
  bucket.push_back(t);
  return t;
}

// ------------------------------------------------------------ normal forms

TYPE *TYPE_PKG::normalize(TYPE *t) {
  if (!t)
    return nullptr;
  if (t->norm)
    return t->norm;
  TYPE *n = nullptr;
  switch (t->kind) {
  case TK_VOID:
  case TK_FIXED:
  case TK_PTR_TO_MEMBER:
  case TK_ENUM:
  case TK_CLASS:
  case TK_STRUCT:
  case TK_UNION:
    n = t;
    break;
  case TK_INTEGRAL:
    n = t->subkind < IK_COUNT ? ints_[t->subkind] : t;
    break;
  case TK_FLOATING:
    n = t->subkind < FK_COUNT ? floats_[t->subkind] : t;
    break;
  case TK_TYPEDEF:
    n = t->base ? normalize(t->base) : t;
    break;
  case TK_COMPLEX:
  case TK_POINTER:
  case TK_REFERENCE:
  case TK_QUALIFIED:
  case TK_ARRAY:
  case TK_FUNCTION:
    n = normalize_rebuilt(t);
    break;
  default:
    type_fatal("Tried to normalize unknown type kind");
  }
  // A type still being built may gain parameters; its form is not kept.
  if (t->frozen)
    t->norm = n;
  return n;
}

// The kinds rebuilt from normalized parts: one canonical type per result.
TYPE *TYPE_PKG::normalize_rebuilt(TYPE *t) {
  TYPE fields(TK_VOID, t->size, t->align);
  fields.kind = t->kind;
  fields.qualifiers = t->qualifiers;
  fields.count = t->count;
  fields.is_complete = t->is_complete;
  fields.vector = t->vector;
  fields.flag_byte = t->flag_byte;
  fields.has_params = t->has_params;
  fields.varargs = t->varargs;
  fields.aux_flags = t->aux_flags;
  fields.aux_byte = t->aux_byte;
  fields.groups = t->groups;
  fields.base = normalize(t->base);
  if (t->kind == TK_QUALIFIED && fields.base && fields.base->kind == TK_QUALIFIED) {
    fields.qualifiers |= fields.base->qualifiers;
    fields.base = fields.base->base;
  }
  fields.params = t->params;
  for (PARAM &p : fields.params)
    p.type = normalize(p.type);
  return canonical(&fields, t);
}

TYPE *TYPE_PKG::canonical(TYPE *f, TYPE *self) {
  std::vector<TYPE *> &bucket = canon_[canon_hash(f)];
  for (TYPE *c : bucket)
    if (canon_equal(c, f))
      return c;
  if (self && self->frozen && canon_equal(self, f)) {   // already normal
    bucket.push_back(self);
    return self;
  }
  TYPE *n;
  if (f->kind == TK_COMPLEX) {
    std::unique_ptr<TYPE> t;
    try {
      t = std::make_unique<TYPE>(f->base);
    } catch (const std::bad_alloc &) {
      type_fatal("Out of memory: tp_alloc()");
    }
    n = register_type(std::move(t));
  } else {
    n = tp_alloc(f->kind, f->size, f->align);
  }
  n->qualifiers = f->qualifiers;
  n->count = f->count;
  n->is_complete = f->is_complete;
  n->vector = f->vector;
  n->flag_byte = f->flag_byte;
  n->has_params = f->has_params;
  n->varargs = f->varargs;
  n->aux_flags = f->aux_flags;
  n->aux_byte = f->aux_byte;
  n->groups = f->groups;
  n->base = f->base;
  n->params = f->params;
  if (n->kind == TK_QUALIFIED && n->base)
    n->resolved = n->base->getr();
  note_based(n, n->base);
  for (const PARAM &p : n->params)
    n->depth = std::max(n->depth, depth_of(p.type) + 1);
  n->frozen = true;
  n->shape = exact_hash(n);
  n->norm = n;
  bucket.push_back(n);
  return n;
}

// ---------------------------------------------------- promotions, equality

TYPE *TYPE_PKG::c_integral_promotions(TYPE *t) {
  if (!t || !t->pkg)
    type_fatal("Unregistered type:  c_integral_promotions()");
  TYPE *e = t;
  if (e->getr()->kind == TK_ENUM && e->getr()->base)
    e = e->getr()->base;
  const TYPE *r = e->getr();
  if (r->kind != TK_INTEGRAL)
    return t;
  switch (r->subkind) {
  case IK_CHAR: case IK_WCHAR: case IK_SHORT: case IK_INT:
    return ints_[IK_INT];
  case IK_UCHAR: case IK_USHORT: case IK_UINT:
    return r->size != ints_[IK_INT]->size ? ints_[IK_INT] : ints_[IK_UINT];
  default:
    return e;
  }
}

namespace {

// Step 2 of compatible_types: typedefs, and with the flag qualifiers that
// change neither size nor alignment, are looked through.
TYPE *strip_for_compat(TYPE *t, bool look_through) {
  for (;;) {
    if (t->kind == TK_TYPEDEF && t->base)
      t = t->base;
    else if (look_through && t->kind == TK_QUALIFIED && t->base && t->size == t->base->size &&
             t->align == t->base->align)
      t = t->base;
    else
      return t;
  }
}

bool is_csu_kind(uint32_t k) { return k >= TK_CLASS && k <= TK_UNION; }

} // namespace

bool TYPE_PKG::compatible_types(TYPE *a, TYPE *b, bool lt) {
  if (!a || !b || !a->pkg || !b->pkg)
    return false;
  if (a == b)
    return true;
  a = strip_for_compat(a, lt);
  b = strip_for_compat(b, lt);
  if (a == b)
    return true;
  if (a->kind > kMaxTypeKind || b->kind > kMaxTypeKind)
    type_fatal("unhandled type: compatible_types()");
  if (a->kind != b->kind)
    return false;
  const bool same_layout = a->size == b->size && a->align == b->align;
  if (is_csu_kind(a->kind)) {
    if (a->is_complete && b->is_complete && !same_layout)
      return false;
  } else if (a->kind == TK_ARRAY) {
    if (a->vector != b->vector)
      return false;
    if (a->flag_byte || b->flag_byte) {
      if (!same_layout)
        return false;
    } else if (a->is_complete && b->is_complete && a->size != b->size) {
      return false;
    }
  } else if (!same_layout) {
    return false;
  }

  switch (a->kind) {
  case TK_VOID:
    return true;
  case TK_INTEGRAL:
    if (a->subkind != b->subkind)
      return false;
    if (a->subkind == IK_CHAR || a->subkind == IK_UCHAR)
      return a->explicit_sign == b->explicit_sign;
    return true;
  case TK_FLOATING:
    return a->subkind == b->subkind;
  case TK_FIXED:
    return exact_types(a->base, b->base) && a->scale == b->scale;
  case TK_COMPLEX:
  case TK_POINTER:
  case TK_REFERENCE:
    return compatible_types(a->base, b->base, lt);
  case TK_PTR_TO_MEMBER:
    return compatible_types(a->base, b->base, lt) &&
           compatible_types(a->class_type, b->class_type, lt);
  case TK_ARRAY:
    if (a->flag_byte || b->flag_byte) {
      if (a->is_complete != b->is_complete || a->count != b->count)
        return false;
    } else if (a->is_complete && b->is_complete && a->count != b->count) {
      return false;
    }
    return compatible_types(a->base, b->base, lt);
  case TK_QUALIFIED:
    return a->qualifiers == b->qualifiers && compatible_types(a->base, b->base, lt);
  case TK_ENUM:
  case TK_CLASS:
  case TK_STRUCT:
  case TK_UNION:
    return a->name_text == b->name_text;
  case TK_FUNCTION: {
    if (!compatible_types(a->base, b->base, lt))
      return false;
    if (a->has_params && b->has_params) {
      if (a->varargs != b->varargs || a->params.size() != b->params.size())
        return false;
      for (size_t i = 0; i < a->params.size(); ++i)
        if (!compatible_types(a->params[i].type, b->params[i].type, lt))
          return false;
      return true;
    }
    if (a->has_params || b->has_params) {
      const TYPE *with = a->has_params ? a : b;
      if (with->varargs)
        return false;
      for (const PARAM &p : with->params)
        if (!p.type || !compatible_types(p.type, c_integral_promotions(p.type), lt))
          return false;
      return true;
    }
    return true;
  }
  case TK_TYPEDEF:
    return false;   // looked through above; only an empty typedef is left
  }
  type_fatal("unhandled type: compatible_types()");
}

bool TYPE_PKG::equiv_mtypes(TYPE *a, TYPE *b) {
  if (a == b)
    return true;
  if (!a || !b)
    return false;
  a = a->getr();
  b = b->getr();
  if (a->kind == TK_ENUM && a->base)
    a = a->base->getr();
  if (b->kind == TK_ENUM && b->base)
    b = b->base->getr();
  if (a == b)
    return true;
  auto pointer_like = [](uint32_t k) { return k == TK_POINTER || k == TK_REFERENCE; };
  if (pointer_like(a->kind) && pointer_like(b->kind))
    return a->size == b->size;
  if (a->kind > kMaxTypeKind || b->kind > kMaxTypeKind)
    type_fatal("unhandled type kind: equiv_mtypes()");
  if (a->kind != b->kind)
    return false;
  switch (a->kind) {
  case TK_VOID:
    return true;
  case TK_INTEGRAL:
    return a->size == b->size && a->is_signed() == b->is_signed();
  case TK_FLOATING:
  case TK_PTR_TO_MEMBER:
    return a->size == b->size;
  case TK_FIXED:
  case TK_FUNCTION:
    return exact_types(a, b);
  case TK_COMPLEX:
    return a->size == b->size && equiv_mtypes(a->base, b->base);
  case TK_ARRAY:
    return a->count == b->count && a->vector == b->vector && equiv_mtypes(a->base, b->base);
  case TK_CLASS:
  case TK_STRUCT:
  case TK_UNION:
    return a->size == b->size && a->align == b->align && a->name_text == b->name_text;
  default:
    type_fatal("unhandled type kind: equiv_mtypes()");
  }
}

bool TYPE_PKG::exact_types(TYPE *a, TYPE *b) { return ExactCompare().equal(a, b); }

TYPE *TYPE_PKG::base_type(TYPE *t) const {
  switch (t->kind) {
  case TK_VOID: case TK_INTEGRAL: case TK_FLOATING: case TK_FIXED: case TK_COMPLEX:
  case TK_ENUM: case TK_CLASS: case TK_STRUCT: case TK_UNION:
    return void_;
  case TK_POINTER: case TK_PTR_TO_MEMBER: case TK_REFERENCE: case TK_QUALIFIED:
  case TK_TYPEDEF: case TK_ARRAY: case TK_FUNCTION:
    return t->base;
  }
  type_fatal("bad kind:  TYPE_PKG::base_type()");
}

std::vector<TYPE *> TYPE_PKG::create_subparts(TYPE *t) const {
  TYPE *r = t->getr();
  if (r->kind != TK_COMPLEX)
    type_fatal("bad kind: TYPE::create_subparts");
  return {r->base, r->base};
}

bool TYPE_PKG::type_frozen(const TYPE *t) const {
  if (t->kind > kMaxTypeKind)
    type_fatal("bad kind: type_frozen()");
  return t->frozen;
}

// ----------------------------------------------------------------- removal

void TYPE_PKG::delete_type_tree(TYPE *t, bool recursive) {
  if (!t || t->pkg != this)
    return;
  if (!recursive && !t->based.empty())
    type_fatal("Nonrecusive type tree delete with nonempty based list:  "
               "TYPE_PKG::delete_type_tree");
  // The basic types stay: the package hands them out for its whole life.
  if (t == void_ || std::find(std::begin(ints_), std::end(ints_), t) != std::end(ints_) ||
      std::find(std::begin(floats_), std::end(floats_), t) != std::end(floats_))
    return;
  while (!t->based.empty())
    delete_type_tree(t->based.back(), true);
  for (TYPE *on : {t->base, t->class_type}) {
    if (!on)
      continue;
    auto &list = on->based;
    auto it = std::find(list.begin(), list.end(), t);
    if (it != list.end())
      list.erase(it);
  }
  for (auto *table : {&frozen_, &canon_})
    for (auto &bucket : *table)
      bucket.second.erase(std::remove(bucket.second.begin(), bucket.second.end(), t),
                          bucket.second.end());
  for (auto &u : all_) {
    if (!u || u.get() == t)
      continue;
    if (u->norm == t)
      u->norm = nullptr;
    if (u->next_equiv == t)
      u->next_equiv = t->next_equiv;
  }
  bytes_ -= sizeof(TYPE);
  all_[t->id - 1].reset();
}

// ------------------------------------------------------------- statistics

void TYPE_PKG::db_stats(FILE *out) const {
  static const char *const kKindNames[kMaxTypeKind + 1] = {
      "void", "integral", "floating", "fixed", "complex", "pointer", "reference", "qualified",
      "typedef", "array", "ptr-to-mem", "function", "enum", "class", "struct", "union",
  };
  uint32_t counts[kMaxTypeKind + 1] = {};
  uint32_t live = 0;
  for (const auto &t : all_) {
    if (!t)
      continue;
    if (t->kind > kMaxTypeKind)
      type_fatal("bad type: TYPE_PKG::db_stats()");
    ++counts[t->kind];
    ++live;
  }
  std::fprintf(out, "\nType package: %u types, %zu bytes allocated\n", live, bytes_);
  for (uint32_t k = 0; k <= kMaxTypeKind; ++k)
    if (counts[k])
      std::fprintf(out, "  %-11s %u\n", kKindNames[k], counts[k]);
}

} // namespace zor
