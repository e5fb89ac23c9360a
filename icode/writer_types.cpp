// icode/writer_types.cpp - the type section of the I-code writer.
//
// Every referenced type that is not written yet goes out as a type record
// (tag 116), in the order of its output identifier (first reference), each
// after the types its record refers to, so that every type ref in the
// section names an earlier record.  Only representatives are referenced
// (type refs go through the chain of equivalent types), so only they are
// written.
//
// Members go out as attribute groups after their owner's defining record: a
// kind-254 record with the group number, the member records, a kind-255
// record with the group number.  A structure can refer to itself through
// its members because its defining record binds it before its groups are
// read.  The walk therefore writes the types that members refer to only
// after the owner's defining record, starting a new "chain" there; a type
// met again inside its own chain can never be ordered (a cycle that passes
// through no group) and is refused.
//
// The walk uses an explicit stack, so long chains of derived types cannot
// exhaust the machine stack.
#include <unordered_map>

#include "icode/record_tags.h"
#include "icode/writer_impl.h"
#include "ir/type.h"

namespace zor {

namespace {

constexpr uint8_t kOpenGroup = 254;
constexpr uint8_t kCloseGroup = 255;

bool is_csu_kind(TypeKind k) { return k == TK_CLASS || k == TK_STRUCT || k == TK_UNION; }

// ------------------------------------------------- what a type refers to

// Types the defining record names: the base (pointed-to, referred,
// qualified or typedef base, element, result, integral type of an
// enumeration, fixed-point base, complex part) and the class of a pointer to
// member.
void record_refs(const TYPE *t, std::vector<TYPE *> &out) {
  if (t->base)
    out.push_back(t->base);
  if (t->class_type)
    out.push_back(t->class_type);
}

// Types the members name (written after the defining record).
void member_refs(const TYPE *t, std::vector<TYPE *> &out) {
  for (const PARAM &p : t->params)
    if (p.type)
      out.push_back(p.type);
  for (const MEMBER &m : t->members)
    if (m.type)
      out.push_back(m.type);
  for (const std::vector<CSU_ATTR> &group : t->attrs)
    for (const CSU_ATTR &a : group)
      if (a.type)
        out.push_back(a.type);
}

// Is attribute group g written for t?  A function always carries its
// parameter group and an enumeration its enumerator group (the reader
// expects exactly one of each); a class the groups it announces.
bool carries_group(const TYPE *t, unsigned g) {
  if (t->kind == TK_FUNCTION)
    return g == kParamGroup;
  if (t->kind == TK_ENUM)
    return g == kEnumeratorGroup;
  if (is_csu_kind(t->kind))
    return (t->groups >> g) & 1;
  return false;
}

bool has_groups(const TYPE *t) {
  for (unsigned g = 0; g < kGroupCount; ++g)
    if (carries_group(t, g))
      return true;
  return false;
}

// --------------------------------------------------- defining records
//
// One writer per record kind; each writes the fields after the identifier
// and the kind byte, in the order of the type record table (ir/type.h).

using W = IcodeWriter::Impl;

void write_integral(W &w, const TYPE *t) {
  w.byte(t->explicit_sign);
  w.uleb(t->size);
  w.uleb(t->align);
  w.byte(t->aux_flags & 1);
  w.byte((t->aux_flags >> 1) & 1);
}

void write_floating(W &w, const TYPE *t) {
  w.uleb(t->size);
  w.uleb(t->align);
}

void write_fixed(W &w, const TYPE *t) {
  w.byte(static_cast<uint8_t>(static_cast<int8_t>(t->scale)));
  w.byte(t->aux_flags & 1);
  w.type_ref(t->base);
  w.uleb(t->size);
  w.uleb(t->align);
}

void write_complex(W &w, const TYPE *t) {
  w.uleb(t->size);
  w.uleb(t->align);
  w.type_ref(t->base);
}

void write_pointer(W &w, const TYPE *t) {   // pointers and references
  w.type_ref(t->base);
  w.uleb(t->size);
  w.uleb(t->align);
}

void write_qualified(W &w, const TYPE *t) {
  w.type_ref(t->base);
  w.uleb(t->qualifiers);
  w.uleb(t->size);
  w.uleb(t->align);
}

void write_typedef(W &w, const TYPE *t) {
  w.text(t->name_text.c_str());
  w.type_ref(t->base);
  w.uleb(t->size);
  w.uleb(t->align);
  w.byte(t->aux_flags & 1);
  w.byte(t->flag_byte != 0);
  w.position(t->pos);
}

// The vector flag is always written: this writer's version (-72) has it,
// and no flag follows it.
void write_array(W &w, const TYPE *t) {
  w.type_ref(t->base);
  w.uleb(t->count);
  w.uleb(t->size);
  w.uleb(t->align);
  w.byte(t->is_complete);
  w.byte(t->flag_byte != 0);
  w.byte(t->vector);
}

void write_ptr_to_member(W &w, const TYPE *t) {
  w.type_ref(t->base);
  w.type_ref(t->class_type);
  w.uleb(t->size);
  w.uleb(t->align);
}

void write_function(W &w, const TYPE *t) {
  w.type_ref(t->base);
  w.byte(t->has_params);
  w.byte(t->varargs);
  w.byte(t->aux_byte);
  w.byte(t->aux_flags & 1);
}

void write_enum(W &w, const TYPE *t) {
  w.text(t->name_text.c_str());
  w.uleb(t->size);
  w.uleb(t->align);
  w.type_ref(t->base);
  w.byte(t->flag_byte != 0);
  w.position(t->pos);
}

// Kind 24 announces only the data members; kind 25 announces each group
// with one of nine flags (groups 2 to 9, then 0).
void write_csu(W &w, const TYPE *t, uint8_t record_kind) {
  w.byte(t->csu_variety());
  w.text(t->name_text.c_str());
  w.byte(t->is_complete);
  w.byte(t->aux_flags & 1);
  w.uleb(t->size);
  w.uleb(t->align);
  if (record_kind == 25) {
    w.uleb(t->aux_number);
    for (uint8_t g : kFullFormGroupOrder)
      w.byte(carries_group(t, g));
  } else {
    w.byte(carries_group(t, kDataMemberGroup));
  }
  w.byte((t->aux_flags >> 1) & 1);   // version -84 and newer
  w.byte(t->flag_byte != 0);
  w.position(t->pos);
}

void write_defining_record(W &w, TYPE *t) {
  const uint8_t rk = t->record_kind();
  w.uleb(w.output_id(t));
  w.byte(rk);
  switch (t->kind) {
  case TK_VOID: break;
  case TK_INTEGRAL: write_integral(w, t); break;
  case TK_FLOATING: write_floating(w, t); break;
  case TK_FIXED: write_fixed(w, t); break;
  case TK_COMPLEX: write_complex(w, t); break;
  case TK_POINTER:
  case TK_REFERENCE: write_pointer(w, t); break;
  case TK_QUALIFIED: write_qualified(w, t); break;
  case TK_TYPEDEF: write_typedef(w, t); break;
  case TK_ARRAY: write_array(w, t); break;
  case TK_PTR_TO_MEMBER: write_ptr_to_member(w, t); break;
  case TK_FUNCTION: write_function(w, t); break;
  case TK_ENUM: write_enum(w, t); break;
  case TK_CLASS:
  case TK_STRUCT:
  case TK_UNION: write_csu(w, t, rk); break;
  }
  w.end_record(TAG_TYPE);
}

// ------------------------------------------------------ member records

void write_param(W &w, const PARAM &p) {
  w.type_ref(p.type);
  w.byte(p.flag);
  w.uleb(p.number);
  w.text(p.name.c_str());
}

void write_enumerator(W &w, const TYPE *owner, const ENUMERATOR &e) {
  w.text(e.name.c_str());
  if (owner->base && owner->base->is_signed())
    w.sleb(static_cast<int32_t>(e.value));
  else
    w.uleb(static_cast<uint32_t>(e.value));
  w.position(e.pos);
}

// The field order of version -72 (a byte after the offset, then the
// bit-field width and three flags).
void write_data_member(W &w, const MEMBER &m) {
  w.uleb(m.id);
  w.text(m.name.c_str());
  w.type_ref(m.type);
  w.byte(m.flag);
  w.sleb(m.offset);
  w.byte(m.fti);
  w.uleb(m.bitfield);
  w.byte(m.mflags[0]);
  w.byte(m.mflags[1]);
  w.byte(m.mflags[2]);
  w.position(m.pos);
}

// Groups 2 to 6, 8 and 9 of a class (member kinds 29 to 35).
void write_csu_attr(W &w, uint8_t member_kind, const CSU_ATTR &a) {
  switch (member_kind) {
  case 29:
    w.type_ref(a.type);
    w.sleb(a.number);
    w.byte(a.byte);
    w.byte(a.flags[0]);
    break;
  case 30:
    w.type_ref(a.type);
    w.byte(a.byte);
    break;
  case 31:
    w.text(a.text.c_str());
    w.type_ref(a.type);
    break;
  case 32:
  case 33:
    w.type_ref(a.type);
    break;
  case 34:
    w.text(a.text.c_str());
    w.type_ref(a.type);
    w.byte(a.byte);
    break;
  case 35:
    w.text(a.text.c_str());
    w.type_ref(a.type);
    w.byte(a.byte);
    w.sleb(a.number);
    for (bool f : a.flags)
      w.byte(f);
    break;
  default:
    break;
  }
}

void group_marker(W &w, TYPE *t, uint8_t marker, unsigned group) {
  w.uleb(w.output_id(t));
  w.byte(marker);
  w.byte(static_cast<uint8_t>(group));
  w.end_record(TAG_TYPE);
}

void write_group(W &w, TYPE *t, unsigned g) {
  const uint8_t member_kind = group_member_kind(g);
  group_marker(w, t, kOpenGroup, g);
  auto begin_member = [&] {
    w.uleb(w.output_id(t));
    w.byte(member_kind);
  };
  if (g == kParamGroup) {
    for (const PARAM &p : t->params) {
      begin_member();
      write_param(w, p);
      w.end_record(TAG_TYPE);
    }
  } else if (g == kEnumeratorGroup) {
    for (const ENUMERATOR &e : t->enumerators) {
      begin_member();
      write_enumerator(w, t, e);
      w.end_record(TAG_TYPE);
    }
  } else if (g == kDataMemberGroup) {
    for (const MEMBER &m : t->members) {
      begin_member();
      write_data_member(w, m);
      w.end_record(TAG_TYPE);
    }
  } else {
    for (const CSU_ATTR &a : t->attrs[g]) {
      begin_member();
      write_csu_attr(w, member_kind, a);
      w.end_record(TAG_TYPE);
    }
  }
  group_marker(w, t, kCloseGroup, g);
}

// A class writes its groups in the order its defining record announces
// them; a function its parameters, an enumeration its enumerators.
void write_groups(W &w, TYPE *t) {
  if (is_csu_kind(t->kind) && t->record_kind() == 25) {
    for (uint8_t g : kFullFormGroupOrder)
      if (carries_group(t, g))
        write_group(w, t, g);
    return;
  }
  for (unsigned g = 0; g < kGroupCount; ++g)
    if (carries_group(t, g))
      write_group(w, t, g);
}

} // namespace

// ------------------------------------------------------------ the walk

bool IcodeWriter::Impl::write_types() {
  enum Phase : uint8_t { VISIT, DEFINE, GROUPS };
  struct Work {
    TYPE *type;
    Phase phase;
    uint32_t chain;
  };

  bool any = false;
  std::vector<Work> stack;
  std::vector<TYPE *> refs;
  std::unordered_map<uint32_t, uint32_t> pending;   // identifier -> chain; looked up only
  uint32_t chains = 0;
  // Types written as dependencies join out_types while it is walked.
  for (size_t k = 0; k < out_types.size(); ++k) {
    TYPE *root = out_types[k];
    if (!root->referenced || root->written)
      continue;
    stack.push_back({root, VISIT, chains++});
    while (!stack.empty()) {
      const Work item = stack.back();
      stack.pop_back();
      TYPE *t = item.type;
      switch (item.phase) {
      case VISIT: {
        if (t->written)
          break;
        auto it = pending.find(t->id);
        if (it != pending.end() && it->second == item.chain)
          throw std::logic_error("I-code writer: types refer to each other in a cycle");
        pending[t->id] = item.chain;
        stack.push_back({t, DEFINE, item.chain});
        refs.clear();
        record_refs(t, refs);
        for (size_t i = refs.size(); i-- > 0;)
          stack.push_back({refs[i]->representative(), VISIT, item.chain});
        break;
      }
      case DEFINE: {
        pending.erase(t->id);
        if (t->written)
          break;
        write_defining_record(*this, t);
        t->written = 1;
        t->referenced = 1;
        any = true;
        if (!has_groups(t))
          break;
        stack.push_back({t, GROUPS, 0});
        const uint32_t chain = chains++;
        refs.clear();
        member_refs(t, refs);
        for (size_t i = refs.size(); i-- > 0;)
          stack.push_back({refs[i]->representative(), VISIT, chain});
        break;
      }
      case GROUPS:
        write_groups(*this, t);
        break;
      }
    }
  }
  return any;
}

} // namespace zor
