// tools/textform/defaults.cpp - default field values of the text form.
#include "tools/textform/defaults.h"

#include "ir/type.h"

namespace zor::text {
namespace {

// The data model's integral variety of an integral record kind.
int int_variety(int kind) {
  if (kind >= 0 && kind <= 9)
    return kind;
  if (kind == 50)
    return IK_LLONG;
  if (kind == 51)
    return IK_ULLONG;
  return -1;
}

// The type named by the form's first type field.
const TypeInfo *first_type(const Form &form, const std::vector<Field> &fields,
                           const std::vector<int> &slots, const Context &ctx) {
  for (size_t i = 0; i < form.fields.size(); ++i)
    if (form.fields[i].ft == FT::Type && slots[i] >= 0 &&
        static_cast<size_t>(slots[i]) < fields.size())
      return ctx.type(fields[slots[i]].num);
  return nullptr;
}

// The value of the form's first positional number field (an array's count).
uint32_t first_count(const Form &form, const std::vector<Field> &fields,
                     const std::vector<int> &slots) {
  for (size_t i = 0; i < form.fields.size(); ++i)
    if (form.fields[i].ft == FT::Num && !form.fields[i].name && slots[i] >= 0 &&
        static_cast<size_t>(slots[i]) < fields.size())
      return fields[slots[i]].num;
  return 0;
}

} // namespace

bool field_default(const Form &form, size_t ff, const std::vector<Field> &fields,
                   const std::vector<int> &slots, const Context &ctx, Field &out) {
  const FieldForm &f = form.fields[ff];
  out = Field();
  out.enc = field_enc(f.ft, false);
  static const DataModel dm = DataModel::zor();
  const TypeInfo *base = nullptr;
  switch (f.def) {
  case Def::Req:
  case Def::AttrCount:
  case Def::InitPos:
  case Def::Derived:
    return false;
  case Def::Zero:
    if (out.enc == Enc::Flags9)
      out.str.assign(9, '\0');
    return true;
  case Def::Two: out.num = 2; return true;
  case Def::NoPos:
  case Def::NoType: return true;
  case Def::IntSize:
  case Def::IntAlign: {
    int v = int_variety(form.kind);
    if (v >= 0)
      out.num = f.def == Def::IntSize ? dm.int_size[v] : dm.int_align[v];
    return true;
  }
  case Def::FloatSize:
  case Def::FloatAlign:
    if (form.kind >= 10 && form.kind <= 12)
      out.num = f.def == Def::FloatSize ? dm.float_size[form.kind - 10]
                                        : dm.float_align[form.kind - 10];
    return true;
  case Def::Ptr: out.num = 16; return true;
  case Def::BaseSize:
  case Def::BaseAlign:
  case Def::ArraySize:
  case Def::ComplexSize:
  case Def::SymSize:
  case Def::SymAlign:
    base = first_type(form, fields, slots, ctx);
    if (!base)
      return true;
    if (f.def == Def::BaseAlign || f.def == Def::SymAlign)
      out.num = base->align;
    else if (f.def == Def::ArraySize)
      out.num = base->size * first_count(form, fields, slots);
    else if (f.def == Def::ComplexSize)
      out.num = 2 * base->size;
    else
      out.num = base->size;
    return true;
  }
  return false;
}

bool same_field(const Field &a, const Field &b) {
  switch (a.enc) {
  case Enc::Pos:
    return a.pos.file == b.pos.file &&
           (a.pos.file == 0 || (a.pos.line == b.pos.line && a.pos.column == b.pos.column));
  case Enc::Text:
  case Enc::Counted:
  case Enc::Blob:
  case Enc::Flags9: return a.str == b.str;
  case Enc::Texts: return a.texts == b.texts && a.num == b.num;
  case Enc::Shorts: return a.shorts == b.shorts;
  default: return a.num == b.num;
  }
}

} // namespace zor::text
