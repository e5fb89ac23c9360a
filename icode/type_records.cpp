// icode/type_records.cpp - the type records of the declaration part.
//
// A type record is the identifier, a kind byte and the kind's fields
// (docs/icode.md, ir/type.h).  Defining kinds build a type through the type
// package and bind the identifier; kinds 254 and 255 open and close an
// attribute group of a bound type; member kinds append to the list of the
// group that is open.  A type expecting groups is completed when its last
// group closes, and the identifier is then rebound to the equal type the
// package may already hold.
//
// Each record's payload is taken whole (never more than the file holds) and
// decoded from memory, so a malformed record can neither read into the next
// one nor run the reader off the file.
#include <algorithm>
#include <utility>

#include "icode/reader_impl.h"
#include "ir/demangle.h"
#include "ir/type.h"

namespace zor {

namespace {

constexpr uint8_t kOpenGroupKind = 254;
constexpr uint8_t kCloseGroupKind = 255;
constexpr uint8_t kVoidKind = 49;

// One record's payload.  Reading past its end is an invalid record.
class RecordCursor {
public:
  explicit RecordCursor(std::vector<uint8_t> bytes) : b_(std::move(bytes)) {}

  uint8_t byte() {
    if (p_ >= b_.size())
      throw IcodeFatal(kInvalidRecord);
    return b_[p_++];
  }
  bool flag() { return byte() != 0; }

  uint32_t uleb() {
    uint32_t value = 0;
    unsigned shift = 0;
    for (;;) {
      uint8_t c = byte();
      if (shift < 32) {
        value |= static_cast<uint32_t>(c & 0x7f) << shift;
        shift += 7;
      }
      if (!(c & 0x80))
        return value;
    }
  }

  // Sign-extended from bit 6 of the last byte when fewer than 32 bits were
  // read, as the stream reader does.
  int32_t sleb() {
    uint32_t value = 0;
    unsigned shift = 0;
    uint8_t c;
    do {
      c = byte();
      if (shift < 32) {
        value |= static_cast<uint32_t>(c & 0x7f) << shift;
        shift += 7;
      }
    } while (c & 0x80);
    if (shift < 32 && (c & 0x40))
      value |= ~0u << shift;
    return static_cast<int32_t>(value);
  }

  std::string text() {
    auto zero = std::find(b_.begin() + static_cast<std::ptrdiff_t>(p_), b_.end(), 0);
    if (zero == b_.end())
      throw IcodeFatal(kInvalidRecord);
    size_t end = static_cast<size_t>(zero - b_.begin());
    std::string s(reinterpret_cast<const char *>(b_.data() + p_), end - p_);
    p_ = end + 1;
    return s;
  }

  RawPos pos() {
    RawPos r;
    r.file = uleb();
    if (r.file != 0) {
      r.line = uleb();
      r.column = uleb();
    }
    return r;
  }

private:
  std::vector<uint8_t> b_;
  size_t p_ = 0;
};

// The special flag of a named type in files older than -81: set when the
// name without its first character is an encoded name that demangles to
// something else.
uint8_t derived_special_flag(const std::string &name) {
  if (name.size() < 2)
    return 0;
  std::string encoded = name.substr(1), plain;
  return try_demangle(encoded.c_str(), plain) && plain != encoded ? 1 : 0;
}

void check_depth(const TYPE *t) {
  if (t->depth > kMaxTypeDepth)
    throw IcodeFatal(kInvalidRecord);
}

// Decodes one type record on behalf of the reader.
class TypeRecordReader {
public:
  TypeRecordReader(IcodeReader::Impl &rd, std::vector<uint8_t> payload)
      : rd_(rd), c_(std::move(payload)), version_(rd.header.version) {}

  void read() {
    const uint32_t id = c_.uleb();
    const uint8_t kind = c_.byte();
    if (kind == kOpenGroupKind) {
      open_group(id, c_.byte());
      return;
    }
    if (kind == kCloseGroupKind) {
      close_group(id, c_.byte());
      return;
    }
    int group = member_kind_group(kind);
    if (group >= 0) {
      read_member(id, kind, static_cast<unsigned>(group));
      return;
    }
    if (id == 0)
      throw IcodeFatal(kInvalidRecord);
    uint8_t open_groups = 0;
    TYPE *t = define(kind, open_groups);
    check_depth(t);
    rd_.bind(id, t, open_groups);
  }

private:
  TYPE *ref() { return rd_.lookup_type(c_.uleb()); }
  // A type ref that must name a type.
  TYPE *required_ref() {
    TYPE *t = ref();
    if (!t)
      throw IcodeFatal(kInvalidRecord);
    return t;
  }
  SrcPos pos() { return rd_.to_pos(c_.pos()); }
  uint8_t special_flag(const std::string &name) {
    return version_ >= -81 ? (c_.flag() ? 1 : 0) : derived_special_flag(name);
  }

  TYPE *define(uint8_t kind, uint8_t &open_groups);
  TYPE *define_csu(bool full_form, uint8_t &open_groups);
  void open_group(uint32_t id, uint8_t group);
  void close_group(uint32_t id, uint8_t group);
  void read_member(uint32_t id, uint8_t kind, unsigned group);

  IcodeReader::Impl &rd_;
  RecordCursor c_;
  int version_;
};

TYPE *TypeRecordReader::define(uint8_t kind, uint8_t &open_groups) {
  TYPE_PKG &types = rd_.types;
  static const IntKind kIntKinds[] = {IK_BOOL, IK_CHAR, IK_UCHAR, IK_WCHAR, IK_SHORT,
                                      IK_USHORT, IK_INT, IK_UINT, IK_LONG, IK_ULONG};
  if (kind <= 9 || kind == 50 || kind == 51) {
    IntKind k = kind <= 9 ? kIntKinds[kind] : kind == 50 ? IK_LLONG : IK_ULLONG;
    bool explicit_sign = c_.flag();
    uint32_t size = c_.uleb();
    uint32_t align = c_.uleb();
    uint8_t aux = c_.flag() ? 1 : 0;
    aux |= c_.flag() ? 2 : 0;
    return types.mk_integral(k, size, align, explicit_sign, aux);
  }
  switch (kind) {
  case 10: case 11: case 12: {
    uint32_t size = c_.uleb();
    uint32_t align = c_.uleb();
    return types.mk_floating(static_cast<FloatKind>(kind - 10), size, align);
  }
  case 13: {
    auto scale = static_cast<int8_t>(c_.byte());
    uint8_t aux = c_.flag() ? 1 : 0;
    TYPE *base = required_ref();
    uint32_t size = c_.uleb();
    uint32_t align = c_.uleb();
    return types.mk_fixed(base, scale, size, align, aux);
  }
  case 36: {
    c_.uleb();   // size and alignment derive from the part type
    c_.uleb();
    return types.mk_complex(required_ref());
  }
  case 15: case 16: {
    TYPE *to = required_ref();
    uint32_t size = c_.uleb();
    uint32_t align = c_.uleb();
    return kind == 15 ? types.mk_pointer(to, size, align) : types.mk_reference(to, size, align);
  }
  case 17: {
    TYPE *base = required_ref();
    uint32_t quals = c_.uleb();
    uint32_t size = c_.uleb();
    uint32_t align = c_.uleb();
    return types.mk_qualified(base, quals, size, align);
  }
  case 14: {
    std::string name = c_.text();
    TYPE *base = required_ref();
    uint32_t size = c_.uleb();
    uint32_t align = c_.uleb();
    uint8_t aux = c_.flag() ? 1 : 0;
    uint8_t flag_byte = c_.flag() ? 1 : 0;
    SrcPos p = pos();
    return types.mk_typedef(name, base, size, align, flag_byte, aux, p);
  }
  case 18: {
    TYPE *elem = required_ref();
    uint32_t count = c_.uleb();
    uint32_t size = c_.uleb();
    uint32_t align = c_.uleb();
    bool complete = c_.flag();
    uint8_t flag_byte = c_.flag() ? 1 : 0;
    bool vector = version_ >= -76 ? c_.flag() : false;
    if (version_ >= -75 && version_ < -73)
      c_.flag();   // carried by those versions only, and meaningless
    return types.mk_array(elem, count, size, align, complete, flag_byte, vector);
  }
  case 19: {
    TYPE *to = required_ref();
    TYPE *cls = required_ref();
    uint32_t size = c_.uleb();
    uint32_t align = c_.uleb();
    return types.mk_ptr_to_member(to, cls, size, align);
  }
  case 20: {
    TYPE *result = required_ref();
    bool has_params = c_.flag();
    bool varargs = c_.flag();
    uint8_t aux_byte = c_.byte();
    uint8_t aux = c_.flag() ? 1 : 0;
    TYPE *t = types.mk_function(result, has_params, varargs, {}, false);
    t->aux_byte = aux_byte;
    t->aux_flags = aux;
    t->groups = 1u << kParamGroup;
    open_groups = 1;
    return t;
  }
  case 22: {
    std::string name = c_.text();
    uint32_t size = c_.uleb();
    uint32_t align = c_.uleb();
    TYPE *integral = required_ref();
    if (integral->getr()->kind != TK_INTEGRAL)
      throw IcodeFatal(kInvalidRecord);
    uint8_t special = special_flag(name);
    SrcPos p = pos();
    TYPE *t = types.mk_enum(name, integral, size, align);
    t->flag_byte = special;
    t->pos = p;
    t->groups = 1u << kEnumeratorGroup;
    open_groups = 1;
    return t;
  }
  case 24:
    return define_csu(false, open_groups);
  case 25:
    return define_csu(true, open_groups);
  case kVoidKind:
    return types.mk_void();
  default:
    throw IcodeFatal(kInvalidRecord);
  }
}

// Kinds 24 and 25: a structure, union or class.
TYPE *TypeRecordReader::define_csu(bool full_form, uint8_t &open_groups) {
  static const TypeKind kVarieties[] = {TK_STRUCT, TK_UNION, TK_CLASS};
  uint8_t variety = c_.byte();
  if (variety > 2)
    throw IcodeFatal(kInvalidRecord);
  std::string name = c_.text();
  bool complete = c_.flag();
  uint8_t aux = c_.flag() ? 1 : 0;
  uint32_t size = c_.uleb();
  uint32_t align = c_.uleb();
  uint32_t number = 0;
  uint16_t groups = 0;
  if (full_form) {
    number = c_.uleb();
    for (uint8_t g : kFullFormGroupOrder)
      if (c_.flag())
        groups |= static_cast<uint16_t>(1u << g);
  } else if (c_.flag()) {
    groups = 1u << kDataMemberGroup;
  }
  if (version_ >= -84 && c_.flag())
    aux |= 2;
  uint8_t special = special_flag(name);
  SrcPos p = pos();

  TYPE *t = rd_.types.mk_csu(kVarieties[variety], name, size, align, complete);
  t->aux_flags = aux;
  t->aux_number = number;
  t->full_form = full_form;
  t->groups = groups;
  t->flag_byte = special;
  t->pos = p;
  t->union_flag = variety == 1 && version_ < -80;
  for (unsigned g = 0; g < kGroupCount; ++g)
    open_groups = static_cast<uint8_t>(open_groups + ((groups >> g) & 1));
  return t;
}

// Opening a group, checked in this order: the type must still expect
// groups; a function's parameters or an enumeration's enumerators given
// before, or a class group already filled, are duplicates; a group the type
// does not carry is unexpected.
void TypeRecordReader::open_group(uint32_t id, uint8_t group) {
  IcodeReader::Impl::TypeEntry &e = rd_.bound_entry(id);
  if (e.open_groups == 0)
    type_fatal(kUnexpectedTypeAttribute);
  TYPE *t = e.type;
  switch (t->kind) {
  case TK_FUNCTION:
    if (group == kParamGroup && !t->params.empty())
      type_fatal(kDuplicateFunctionParameters);
    if (group != kParamGroup)
      type_fatal(kUnexpectedTypeAttribute);
    break;
  case TK_ENUM:
    if (group == kEnumeratorGroup && !t->enumerators.empty())
      type_fatal(kDuplicateEnumerators);
    if (group != kEnumeratorGroup)
      type_fatal(kUnexpectedTypeAttribute);
    break;
  case TK_CLASS:
  case TK_STRUCT:
  case TK_UNION: {
    if (group >= kGroupCount || group == kEnumeratorGroup || !((t->groups >> group) & 1))
      type_fatal(kUnexpectedTypeAttribute);
    bool filled = group == kParamGroup        ? !t->params.empty()
                  : group == kDataMemberGroup ? !t->members.empty()
                                              : !t->attrs[group].empty();
    if (filled)
      type_fatal(kDuplicateCsuAttributes);
    break;
  }
  default:
    type_fatal(kUnexpectedTypeAttribute);
  }
  e.open_mask = static_cast<uint16_t>(e.open_mask | (1u << group));
}

// Closing the last expected group completes the type.
void TypeRecordReader::close_group(uint32_t id, uint8_t group) {
  IcodeReader::Impl::TypeEntry &e = rd_.bound_entry(id);
  if (group >= kGroupCount || !((e.open_mask >> group) & 1) || e.open_groups == 0)
    type_fatal(kUnexpectedTypeAttribute);
  e.open_mask = static_cast<uint16_t>(e.open_mask & ~(1u << group));
  if (--e.open_groups == 0) {
    check_depth(e.type);
    e.type = rd_.types.complete(e.type);
  }
}

void TypeRecordReader::read_member(uint32_t id, uint8_t kind, unsigned group) {
  IcodeReader::Impl::TypeEntry &e = rd_.bound_entry(id);
  if (!((e.open_mask >> group) & 1))
    type_fatal(kUnexpectedTypeAttribute);
  TYPE *t = e.type;
  TYPE *named = nullptr;
  switch (kind) {
  case 21: {
    PARAM p;
    p.type = named = required_ref();
    p.flag = c_.flag();
    p.number = c_.uleb();
    p.name = c_.text();
    t->params.push_back(std::move(p));
    break;
  }
  case 23: {
    ENUMERATOR en;
    en.name = c_.text();
    if (t->base && t->base->is_signed())
      en.value = c_.sleb();
    else
      en.value = c_.uleb();
    en.pos = pos();
    t->enumerators.push_back(std::move(en));
    break;
  }
  case 28: {
    MEMBER m;
    m.id = c_.uleb();
    m.name = c_.text();
    m.type = named = required_ref();
    m.flag = c_.byte();
    m.offset = c_.sleb();
    if (version_ >= -74) {
      m.fti = c_.byte();
      if (m.fti) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "fti:%x", m.fti);
        m.extra_name = buf;
      }
    }
    if (version_ < -85) {
      m.mflags[0] = c_.flag();
      m.bitfield = c_.uleb();
      m.mflags[1] = c_.flag();
    } else {
      m.bitfield = c_.uleb();
      m.mflags[0] = c_.flag();
      m.mflags[1] = c_.flag();
      m.mflags[2] = c_.flag();
    }
    m.pos = pos();
    t->members.push_back(std::move(m));
    break;
  }
  default: {   // 29..35
    CSU_ATTR a;
    if (kind == 31 || kind == 34 || kind == 35)
      a.text = c_.text();
    a.type = named = ref();
    if (kind == 29) {
      a.number = c_.sleb();
      a.byte = c_.byte();
      a.flags[0] = c_.flag();
    } else if (kind == 30 || kind == 34) {
      a.byte = c_.byte();
    } else if (kind == 35) {
      a.byte = c_.byte();
      a.number = c_.sleb();
      for (bool &f : a.flags)
        f = c_.flag();
    }
    t->attrs[group].push_back(std::move(a));
    break;
  }
  }
  if (named) {
    t->depth = std::max(t->depth, named->depth + 1);
    check_depth(t);
  }
}

} // namespace

// The payload of a record of `length` bytes (fewer when the file ends).
void IcodeReader::Impl::read_type_record(uint32_t length) {
  std::vector<uint8_t> payload;
  uint64_t n = std::min<uint64_t>(length, in.remaining());
  payload.reserve(static_cast<size_t>(std::min<uint64_t>(n, 1u << 20)));
  for (uint64_t i = 0; i < n; ++i) {
    uint8_t b = in.byte();
    if (in.eof())
      break;
    payload.push_back(b);
  }
  TypeRecordReader(*this, std::move(payload)).read();
}

void IcodeReader::Impl::bind(uint32_t id, TYPE *t, uint8_t open_groups) {
  TypeEntry &e = type_map[id];
  if (e.type)
    type_fatal(kTypeTwice);
  if (open_groups == 0)
    t = types.complete(t);
  e.type = t;
  e.open_groups = open_groups;
  e.open_mask = 0;
}

IcodeReader::Impl::TypeEntry &IcodeReader::Impl::bound_entry(uint32_t id) {
  auto it = type_map.find(id);
  if (it == type_map.end() || !it->second.type)
    type_fatal(kForwardReference);
  return it->second;
}

} // namespace zor
