// ir/type.cpp - type descriptors: construction checks, resolution and the
// kind-specific queries, predicates and the print forms.  The package that
// makes and owns types is in ir/type_pkg.cpp.
#include "ir/type.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "icode/reader.h"

namespace zor {

// ------------------------------------------------------------ fatal errors

void throw_type_fatal(const char *message) { throw IcodeFatal(std::string(message) + "\n"); }

void (*type_fatal_hook)(const char *message) = throw_type_fatal;

void type_fatal(const char *message) {
  if (type_fatal_hook)
    type_fatal_hook(message);
  std::fputs(message, stderr);
  std::fputc('\n', stderr);
  std::abort();
}

namespace {

constexpr const char *kIntNames[IK_COUNT] = {
    "bool ", "char ", "unsigned char ", "wchar_t ", "short ", "unsigned short ",
    "int ", "unsigned ", "long ", "unsigned long ", "long long ", "unsigned long long ",
};
constexpr const char *kFloatNames[FK_COUNT] = {"float ", "double ", "long double "};
constexpr const char *kQualifierNames[8] = {
    "const", "volatile", "packed", "near", "far", "ioport", "restrict", "onchip",
};
constexpr uint8_t kGroupMemberKinds[kGroupCount] = {21, 23, 29, 30, 31, 32, 33, 28, 34, 35};

// A complex type's part must be one of these varieties.
bool valid_complex_part(const TYPE *part) {
  if (!part || part->kind > kMaxTypeKind)
    return false;
  const TYPE *r = part->resolved;
  if (r->kind == TK_INTEGRAL)
    return r->subkind == IK_CHAR || r->subkind == IK_SHORT || r->subkind == IK_INT ||
           r->subkind == IK_LONG || r->subkind == IK_LLONG;
  if (r->kind == TK_FLOATING)
    return r->subkind == FK_FLOAT || r->subkind == FK_DOUBLE;
  return false;
}

} // namespace

uint8_t group_member_kind(unsigned group) {
  return group < kGroupCount ? kGroupMemberKinds[group] : 0;
}

int member_kind_group(uint8_t record_kind) {
  for (unsigned g = 0; g < kGroupCount; ++g)
    if (kGroupMemberKinds[g] == record_kind)
      return static_cast<int>(g);
  return -1;
}

// -------------------------------------------------------------------- TYPE

TYPE::TYPE(TypeKind k, uint32_t sz, uint32_t al) : kind(k), size(sz), align(al) {
  if (k > TK_ENUM || k == TK_COMPLEX)
    type_fatal("Bad type kind:  TYPE::TYPE(KIND)");
}

TYPE::TYPE(TypeKind k, const char *name, int sz, int al)
    : kind(k), size(static_cast<uint32_t>(sz)), align(static_cast<uint32_t>(al)) {
  if (k < TK_CLASS || k > TK_UNION)
    type_fatal("Bad type kind:  TYPE::TYPE(KIND, const char *, int, int)");
  name_text = name ? name : "";
}

TYPE::TYPE(TYPE *part) : kind(TK_COMPLEX) {
  if (!valid_complex_part(part))
    type_fatal("Bad complex part_type: TYPE::TYPE(TYPE *i_part_type)");
  base = part;
  size = 2 * part->size;
  align = part->align;
  depth = part->depth + 1;
}

TYPE *TYPE::get() const {
  if (kind != TK_QUALIFIED && kind != TK_TYPEDEF)
    type_fatal("Bad kind:  TYPE::get()");
  return base;
}

TYPE *TYPE::getr_csu() const {
  TYPE *r = getr();
  if (r->kind < TK_CLASS || r->kind > TK_UNION)
    type_fatal("Bad kind:  TYPE::getr_csu()");
  return r;
}

TYPE *TYPE::type_pointed_to() const {
  TYPE *r = getr();
  if (r->kind != TK_POINTER && r->kind != TK_PTR_TO_MEMBER)
    type_fatal("Bad kind:  TYPE::type_pointed_to");
  return r->base;
}

TYPE *TYPE::underlying_type() const {
  TYPE *r = getr();
  if (r->kind != TK_ENUM && r->kind != TK_FIXED)
    type_fatal("Bad kind:  TYPE::underlying_type");
  return r->base;
}

TYPE *TYPE::elem_type() const {
  TYPE *r = getr();
  if (r->kind != TK_ARRAY)
    type_fatal("Bad kind:  TYPE::elem_type()");
  if (!r->pkg || !r->base)
    type_fatal("orphan type:  TYPE::elem_type()");
  return r->base;
}

TYPE *TYPE::part_type() const {
  TYPE *r = getr();
  if (r->kind != TK_COMPLEX)
    type_fatal("Bad kind:  TYPE::part_type()");
  return r->base;
}

const std::string &TYPE::name() const {
  if (kind == TK_TYPEDEF)
    return name_text;
  const TYPE *r = getr();
  if (r->kind != TK_ENUM && (r->kind < TK_CLASS || r->kind > TK_UNION))
    type_fatal("Bad kind:  TYPE::name");
  return r->name_text;
}

void TYPE::set_is_complete(bool complete) {
  if (kind != TK_ARRAY && (kind < TK_CLASS || kind > TK_UNION))
    type_fatal("Bad kind:  TYPE::set_is_complete");
  is_complete = complete;
}

uint32_t TYPE::num_elem() const {
  const TYPE *r = getr();
  return r->kind == TK_ARRAY ? r->count : 1;
}

EKind TYPE::ekind() const {
  const TYPE *r = getr();
  if (r->kind == TK_ENUM || r->kind == TK_FIXED)
    r = r->base ? r->base->getr() : r;
  switch (r->kind) {
  case TK_VOID:
    return EK_VOID;
  case TK_INTEGRAL:
    if (r->subkind >= IK_COUNT)
      type_fatal("Bad kind: TYPE::ekind()");
    if (r->subkind == IK_BOOL)
      return EK_BOOL;
    if (r->size <= 16)
      return r->is_signed() ? EK_S16 : EK_U16;
    if (r->size <= 32)
      return r->is_signed() ? EK_S32 : EK_U32;
    return r->is_signed() ? EK_S64 : EK_U64;
  case TK_FLOATING:
    if (r->subkind >= FK_COUNT)
      type_fatal("Bad fkind: TYPE::ekind()");
    return r->size <= 32 ? EK_F32 : EK_F64;
  case TK_POINTER:
  case TK_REFERENCE:
  case TK_PTR_TO_MEMBER:
    return EK_PTR;
  default:
    type_fatal("unhandled type kind: TYPE::ekind()");
  }
}

uint32_t TYPE::qualifier_bits() const {
  uint32_t bits = 0;
  for (const TYPE *t = this; t;) {
    if (t->kind == TK_QUALIFIED)
      bits |= t->qualifiers;
    else if (t->kind != TK_TYPEDEF)
      break;
    t = t->base;
  }
  return bits;
}

const MEMBER *TYPE::member_by_id(uint32_t member_id) const {
  const TYPE *r = getr();
  if (r->kind < TK_CLASS || r->kind > TK_UNION)
    return nullptr;
  for (const MEMBER &m : r->members)
    if (m.id == member_id)
      return &m;
  return nullptr;
}

bool TYPE::is_scalar() const {
  switch (rkind()) {
  case TK_INTEGRAL: case TK_FLOATING: case TK_FIXED: case TK_COMPLEX: case TK_POINTER:
  case TK_REFERENCE: case TK_PTR_TO_MEMBER: case TK_ENUM:
    return true;
  default:
    return false;
  }
}

bool TYPE::is_signed() const {
  const TYPE *t = getr();
  while ((t->kind == TK_ENUM || t->kind == TK_FIXED || (t->kind == TK_ARRAY && t->vector)) &&
         t->base)
    t = t->base->getr();
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

bool TYPE::is_struct_vector() const {
  const TYPE *r = getr();
  if (r->kind != TK_STRUCT || r->members.empty())
    return false;
  const TYPE *e = r->members[0].type ? r->members[0].type->getr() : nullptr;
  if (!e || (e->kind != TK_INTEGRAL && e->kind != TK_FLOATING) || e->size == 0)
    return false;
  for (size_t i = 0; i < r->members.size(); ++i) {
    const MEMBER &m = r->members[i];
    const TYPE *mt = m.type ? m.type->getr() : nullptr;
    if (!mt || mt->kind != e->kind || mt->subkind != e->subkind || mt->size != e->size ||
        m.bitfield != 0 || static_cast<uint64_t>(m.offset) != i * uint64_t{e->size})
      return false;
  }
  return r->size == r->members.size() * uint64_t{e->size};
}

TYPE *TYPE::normalized() { return pkg ? pkg->normalize(this) : this; }

uint8_t TYPE::record_kind() const {
  switch (kind) {
  case TK_VOID: return 49;
  case TK_INTEGRAL:
    return subkind == IK_LLONG ? 50 : subkind == IK_ULLONG ? 51 : static_cast<uint8_t>(subkind);
  case TK_FLOATING: return static_cast<uint8_t>(10 + subkind);
  case TK_FIXED: return 13;
  case TK_COMPLEX: return 36;
  case TK_POINTER: return 15;
  case TK_REFERENCE: return 16;
  case TK_QUALIFIED: return 17;
  case TK_TYPEDEF: return 14;
  case TK_ARRAY: return 18;
  case TK_PTR_TO_MEMBER: return 19;
  case TK_FUNCTION: return 20;
  case TK_ENUM: return 22;
  case TK_CLASS: case TK_STRUCT: case TK_UNION:
    return full_form || (groups & ~(1u << kDataMemberGroup)) ? 25 : 24;
  }
  type_fatal("Bad kind: TYPE::print()");
}

uint8_t TYPE::csu_variety() const {
  switch (kind) {
  case TK_STRUCT: return 0;
  case TK_UNION: return 1;
  case TK_CLASS: return 2;
  default: type_fatal("Bad kind:  TYPE::getr_csu()");
  }
}

// ---------------------------------------------------------------- printing

std::string TYPE::print(bool full) const {
  std::string out;
  print_into(out, full);
  return out;
}

void TYPE::print(FILE *out, bool full) const { std::fputs(print(full).c_str(), out); }

void TYPE::print_into(std::string &out, bool full) const {
  switch (kind) {
  case TK_VOID:
    out += "void ";
    return;
  case TK_INTEGRAL:
    if (subkind >= IK_COUNT)
      type_fatal("Bad kind: TYPE::print()");
    if (explicit_sign)
      out += "[ExplSign] ";
    out += kIntNames[subkind];
    return;
  case TK_FLOATING:
    if (subkind >= FK_COUNT)
      type_fatal("Bad fkind: TYPE::print()");
    out += kFloatNames[subkind];
    return;
  case TK_FIXED:
    base->print_into(out, false);
    out += " [FxtPt:" + std::to_string(scale) + "] ";
    return;
  case TK_COMPLEX: {
    const TYPE *p = base ? base->getr() : nullptr;
    if (p && p->kind == TK_INTEGRAL) {
      switch (p->subkind) {
      case IK_CHAR: out += "cchar "; return;
      case IK_SHORT: out += "cshort "; return;
      case IK_INT: out += "cint "; return;
      case IK_LONG: out += "clong "; return;
      case IK_LLONG: out += "cllong "; return;
      default: break;
      }
    } else if (p && p->kind == TK_FLOATING && p->subkind <= FK_DOUBLE) {
      out += p->subkind == FK_FLOAT ? "cfloat " : "cdouble ";
      return;
    }
    type_fatal("Bad parttype: TYPE::print()");
  }
  case TK_POINTER:
  case TK_REFERENCE:
    out += kind == TK_POINTER ? "(*" : "(&";
    base->print_into(out, false);
    out += ") ";
    return;
  case TK_QUALIFIED:
    for (unsigned i = 0; i < 8; ++i)
      if (qualifiers & (1u << i))
        out += std::string(kQualifierNames[i]) + " ";
    base->print_into(out, false);
    return;
  case TK_TYPEDEF:
    out += name_text + " ";
    return;
  case TK_ARRAY:
    base->print_into(out, false);
    if (vector)
      out += "<[" + std::to_string(count) + "]> ";
    else
      out += is_complete ? "[" + std::to_string(count) + "] " : "[] ";
    return;
  case TK_PTR_TO_MEMBER:
    out += "(";
    class_type->print_into(out, false);
    out += "::*";
    base->print_into(out, false);
    out += ") ";
    return;
  case TK_FUNCTION:
    if (base)
      base->print_into(out, false);
    out += "(";
    for (size_t i = 0; i < params.size(); ++i) {
      if (i)
        out += ", ";
      if (params[i].type)
        params[i].type->print_into(out, false);
    }
    if (varargs)
      out += params.empty() ? "..." : ", ...";
    out += ") ";
    return;
  case TK_ENUM:
    out += "enum " + name_text + " ";
    if (full) {
      out += "{";
      for (size_t i = 0; i < enumerators.size(); ++i)
        out += (i ? ", " : "") + enumerators[i].name + "=" + std::to_string(enumerators[i].value);
      out += "} ";
    }
    return;
  case TK_CLASS:
  case TK_STRUCT:
  case TK_UNION:
    out += kind == TK_CLASS ? "class " : kind == TK_STRUCT ? "struct " : "union ";
    out += name_text + " ";
    if (full) {
      out += "{\n";
      char buf[32];
      for (const MEMBER &m : members) {
        std::snprintf(buf, sizeof buf, "off:%3d ", m.offset);
        out += "    ";
        out += buf;
        if (m.bitfield) {
          std::snprintf(buf, sizeof buf, "bitfld(%2d) ", m.bitfield);
          out += buf;
        }
        if (m.type)
          m.type->print_into(out, false);
        out += m.name + ";\n";
      }
      out += "} ";
    }
    return;
  }
  type_fatal("Bad kind: TYPE::print()");
}

// --------------------------------------------------------------- DataModel

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

} // namespace zor
