// ir/type.h - type descriptors and the type package.
//
// Every node, symbol and type record refers to a TYPE.  Types are made,
// registered and owned by the package TYPE_PKG; nothing else frees them.
// Sizes and alignments are in bits.  A TYPE "resolves" (getr) to itself unless
// it is a typedef or a qualified type, which resolve to the type they name;
// the predicates (is_integral, is_pointer, ...) look at the resolved type.
//
// Life of a type: a maker allocates and constructs it and registers it (which
// gives it its identifier `id`); the attribute groups of functions,
// enumerations and classes are then filled in; complete() freezes it and may
// hand back an equal type the package already holds.  In that case the new
// type is linked in front of the held one on the chain of equivalent types
// (`next_equiv`); the last type on a chain is its representative, the one
// the I-code writer writes for every type of the chain.
//
// Record layouts and fields.  The I-code type records (docs/icode.md) map
// onto the fields below, in record order:
//
//   kind 0-9,50,51 integral  flag explicit_sign, uleb size, uleb align,
//                            flag aux_flags bit 0, flag aux_flags bit 1
//   kind 10-12 floating      uleb size, uleb align                (subkind)
//   kind 13 fixed point      signed byte scale, flag aux_flags bit 0,
//                            ref base, uleb size, uleb align
//   kind 14 typedef          text name_text, ref base, uleb size, uleb align,
//                            flag aux_flags bit 0, flag flag_byte, pos
//   kind 15/16 pointer/ref   ref base, uleb size, uleb align
//   kind 17 qualified        ref base, uleb qualifiers, uleb size, uleb align
//   kind 18 array            ref base (element), uleb count, uleb size,
//                            uleb align, flag is_complete, flag flag_byte,
//                            flag vector (-76 on; always written)
//   kind 19 ptr to member    ref base (pointed-to), ref class_type, uleb size,
//                            uleb align
//   kind 20 function         ref base (result), flag has_params, flag varargs,
//                            byte aux_byte, flag aux_flags bit 0;
//                            group 0: params
//   kind 22 enumeration      text name_text, uleb size, uleb align,
//                            ref base (integral type), flag flag_byte, pos;
//                            group 1: enumerators
//   kind 24/25 class         byte variety (csu_variety()), text name_text,
//                            flag is_complete, flag aux_flags bit 0,
//                            uleb size, uleb align,
//                            [25: uleb aux_number, nine flags (groups 2..9, 0)]
//                            [24: flag (group 7 follows)]
//                            flag aux_flags bit 1 (-84 on), flag flag_byte,
//                            pos; groups: params (0), members (7), attrs[g]
//   kind 36 complex          uleb size, uleb align, ref base (part type)
//   kind 49 void             -
//
// record_kind() gives the kind byte to write; `groups` has bit g set for each
// attribute group the type carries.  The writer uses `written`, `referenced`
// and representative(); the reader and the package never touch the first two.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "icode/position.h"

namespace zor {

enum TypeKind : uint32_t {
  TK_VOID = 0,
  TK_INTEGRAL = 1,
  TK_FLOATING = 2,
  TK_FIXED = 3,
  TK_COMPLEX = 4,
  TK_POINTER = 5,
  TK_REFERENCE = 6,
  TK_QUALIFIED = 7,
  TK_TYPEDEF = 8,
  TK_ARRAY = 9,
  TK_PTR_TO_MEMBER = 10,
  TK_FUNCTION = 11,
  TK_ENUM = 12,
  TK_CLASS = 13,
  TK_STRUCT = 14,
  TK_UNION = 15,
};
constexpr uint32_t kMaxTypeKind = TK_UNION;

// Integral varieties in the package's order (the subkind of TK_INTEGRAL).
enum IntKind : uint32_t {
  IK_BOOL, IK_CHAR, IK_UCHAR, IK_WCHAR, IK_SHORT, IK_USHORT,
  IK_INT, IK_UINT, IK_LONG, IK_ULONG, IK_LLONG, IK_ULLONG,
  IK_COUNT
};

enum FloatKind : uint32_t { FK_FLOAT, FK_DOUBLE, FK_LDOUBLE, FK_COUNT };

// Qualifier bits of a TK_QUALIFIED type.
enum : uint32_t {
  Q_CONST = 1, Q_VOLATILE = 2, Q_PACKED = 4, Q_NEAR = 8,
  Q_FAR = 16, Q_IOPORT = 32, Q_RESTRICT = 64, Q_ONCHIP = 128,
};

// Machine element kinds (ekind): the representation of a scalar value.
enum EKind : uint32_t {
  EK_VOID, EK_BOOL, EK_S16, EK_U16, EK_S32, EK_U32, EK_S64, EK_U64,
  EK_F32, EK_F64, EK_PTR,
};

// ------------------------------------------------------------ fatal errors

// Every failure of the type system goes through type_fatal(message).  The
// hook decides how the run stops; it must not return.  The default throws
// IcodeFatal whose text is the message followed by a newline, which the
// driver prints on standard error before it exits with code 1; inside the
// reader this also releases the partial trees.
extern void (*type_fatal_hook)(const char *message);
[[noreturn]] void type_fatal(const char *message);
void throw_type_fatal(const char *message);   // the default hook

// Deepest type nesting the reader accepts (see TYPE::depth).
constexpr uint32_t kMaxTypeDepth = 1000;

class TYPE;
class TYPE_PKG;

// --------------------------------------------------------- attribute groups

// Group numbers and the member record kind of each group.
constexpr uint8_t kParamGroup = 0;
constexpr uint8_t kEnumeratorGroup = 1;
constexpr uint8_t kDataMemberGroup = 7;
constexpr unsigned kGroupCount = 10;
// Member record kind of group g (0..9): 21, 23, 29, 30, 31, 32, 33, 28, 34, 35.
uint8_t group_member_kind(unsigned group);
// The group a member record kind belongs to, or -1.
int member_kind_group(uint8_t record_kind);
// The order of the nine group flags of a kind-25 record.
constexpr uint8_t kFullFormGroupOrder[9] = {2, 3, 4, 5, 6, 7, 8, 9, 0};

// Group 0, record kind 21: ref type, flag, uleb number, text name.  The
// parameters of a function type, and a class attribute group.
struct PARAM {
  TYPE *type = nullptr;
  bool flag = false;
  uint32_t number = 0;
  std::string name;
};

// Group 1, record kind 23: text name, value, pos.  The value is an sleb when
// the enumeration's integral type is signed (kept sign-extended), else a uleb.
struct ENUMERATOR {
  std::string name;
  int64_t value = 0;
  SrcPos pos;
};

// Group 7, record kind 28: a data member.  Record order: uleb id, text name,
// ref type, byte flag, sleb offset, byte fti (-74 on), then uleb bitfield,
// flag mflags[0], flag mflags[1], flag mflags[2] (files older than -85:
// flag mflags[0], uleb bitfield, flag mflags[1]), pos.  `id` is the member
// identifier FIELD records carry; `bitfield` is the width of a bit-field (0
// for a plain member); `extra_name` is "fti:%x" of a non-zero fti.
struct MEMBER {
  uint32_t id = 0;
  std::string name;
  TYPE *type = nullptr;
  uint8_t flag = 0;       // the member record's flag byte
  int32_t offset = 0;     // in bits
  uint8_t fti = 0;
  std::string extra_name;
  uint32_t bitfield = 0;
  bool mflags[3] = {};
  SrcPos pos;
};

// Groups 2..6, 8, 9 of a class (record kinds 29..35), fields in record order:
//   29: ref type, sleb number, byte byte, flag flags[0]
//   30: ref type, byte byte
//   31: text text, ref type
//   32, 33: ref type
//   34: text text, ref type, byte byte
//   35: text text, ref type, byte byte, sleb number, flags[0..3]
struct CSU_ATTR {
  std::string text;
  TYPE *type = nullptr;
  int32_t number = 0;
  uint8_t byte = 0;
  bool flags[4] = {};
};

// -------------------------------------------------------------------- TYPE

class TYPE {
public:
  // Kinds 0..12 (any but the classes).
  TYPE(TypeKind k, uint32_t size, uint32_t align);
  // Classes, structures and unions.
  TYPE(TypeKind k, const char *name, int size, int align);
  // A complex type of the given part type (its size and alignment derive
  // from the part).
  explicit TYPE(TYPE *part);
  TYPE(const TYPE &) = delete;
  TYPE &operator=(const TYPE &) = delete;

  uint32_t id = 0;          // 0 until registered with a package
  TypeKind kind;
  uint32_t size = 0;        // bits
  uint32_t align = 0;       // bits
  TYPE_PKG *pkg = nullptr;  // owner; null while unregistered
  bool frozen = false;      // construction complete (complete() was called)
  TYPE *resolved = this;    // typedefs and qualifiers looked through
  SrcPos pos;               // typedefs, enumerations, classes
  TYPE *norm = nullptr;     // normalized form, filled on first request
  uint8_t written = 0;      // the writer's marks
  uint8_t referenced = 0;
  TYPE *next_equiv = nullptr;   // chain of equivalent types (see above)
  uint8_t flag_byte = 0;    // typedefs, arrays, enumerations, classes
  uint32_t depth = 1;       // nesting estimate: 1 + that of the types named
  uint64_t shape = 0;       // the package's hash of a frozen type's fields

  // Kind-specific payload; see the record table at the top.
  uint32_t subkind = 0;     // IntKind or FloatKind
  TYPE *base = nullptr;     // pointed-to, referred, qualified or typedef base,
                            // element, result, enumeration's integral type,
                            // fixed-point base, complex part
  TYPE *class_type = nullptr;   // pointer to member
  uint32_t qualifiers = 0;
  uint32_t count = 0;       // array or vector elements
  int32_t scale = 0;        // fixed point
  bool explicit_sign = false;   // integral: "signed char" style
  bool is_complete = false;     // arrays and classes
  bool vector = false;          // arrays: a vector type
  bool has_params = false;      // functions: prototyped
  bool varargs = false;         // functions: variable argument list
  bool full_form = false;       // classes: read from (or to be written as) kind 25
  bool union_flag = false;      // unions read from files older than -80
  uint8_t aux_flags = 0;        // further record flags, see the table
  uint8_t aux_byte = 0;
  uint32_t aux_number = 0;
  uint16_t groups = 0;          // bit g: attribute group g is carried
  std::string name_text;        // typedefs, enumerations, classes
  std::vector<PARAM> params;            // group 0
  std::vector<ENUMERATOR> enumerators;  // group 1
  std::vector<MEMBER> members;          // group 7
  std::vector<CSU_ATTR> attrs[kGroupCount];   // groups 2..6, 8, 9
  std::vector<TYPE *> based;    // types the package made on this one

  // ---- resolution and payload access (fatal on a kind that has none)
  TYPE *getr() const {
    if (kind > kMaxTypeKind)
      type_fatal("Bad kind:  TYPE::getr()");
    return resolved;
  }
  TypeKind rkind() const { return getr()->kind; }
  TYPE *get() const;            // one step through a typedef or qualifier
  TYPE *getr_csu() const;       // the resolved class, structure or union
  TYPE *type_pointed_to() const;
  TYPE *underlying_type() const;   // enumeration: integral type; fixed: base
  TYPE *elem_type() const;
  TYPE *part_type() const;
  const std::string &name() const;
  void set_is_complete(bool complete);
  uint32_t num_elem() const;    // arrays and vectors: count; else 1
  EKind ekind() const;
  // Qualifier bits collected through typedefs and qualified types.
  uint32_t qualifier_bits() const;
  const MEMBER *member_by_id(uint32_t member_id) const;

  // ---- predicates on the resolved type
  bool is_void() const { return rkind() == TK_VOID; }
  bool is_integral() const { return rkind() == TK_INTEGRAL; }
  bool is_floating() const { return rkind() == TK_FLOATING; }
  bool is_fixed() const { return rkind() == TK_FIXED; }
  bool is_complex() const { return rkind() == TK_COMPLEX; }
  bool is_pointer() const { return rkind() == TK_POINTER; }
  bool is_reference() const { return rkind() == TK_REFERENCE; }
  bool is_array() const { return rkind() == TK_ARRAY; }
  bool is_vector() const { return is_array() && getr()->vector; }
  bool is_ptr_to_member() const { return rkind() == TK_PTR_TO_MEMBER; }
  bool is_func() const { return rkind() == TK_FUNCTION; }
  bool is_enum() const { return rkind() == TK_ENUM; }
  bool is_class() const { return rkind() == TK_CLASS; }
  bool is_struct() const { return rkind() == TK_STRUCT; }
  bool is_union() const { return rkind() == TK_UNION; }
  bool is_csu() const { return rkind() >= TK_CLASS && rkind() <= TK_UNION; }
  // Integral, floating, fixed, complex, pointer, reference, pointer to
  // member or enumeration.
  bool is_scalar() const;
  bool is_const() const { return (qualifier_bits() & Q_CONST) != 0; }
  bool is_volatile() const { return (qualifier_bits() & Q_VOLATILE) != 0; }
  // Signed varieties: char, short, int, long, long long and the floating
  // types (plain char counts as signed); enumerations by their integral type,
  // vectors by their element, fixed point by its base.
  bool is_signed() const;
  // A structure whose data members all have one arithmetic type, laid out
  // one after the other without gaps or bit-fields (a vector in disguise).
  bool is_struct_vector() const;

  // ---- normal form (cached in `norm`; see TYPE_PKG::normalize)
  TYPE *normalized();

  // ---- chain of equivalent types
  TYPE *representative() {
    TYPE *t = this;
    while (t->next_equiv)
      t = t->next_equiv;
    return t;
  }

  // ---- writing it back
  // The kind byte of this type's defining record.
  uint8_t record_kind() const;
  // Classes: 0 structure, 1 union, 2 class.
  uint8_t csu_variety() const;

  // ---- printing: the forms of the kind table ("int ", "(*char ) ", ...);
  // `full` adds enumerators and class members.
  std::string print(bool full = false) const;
  void print(FILE *out, bool full = false) const;

private:
  void print_into(std::string &out, bool full) const;
};

// Sizes and alignments of the target's basic types, in bits.
struct DataModel {
  uint32_t int_size[IK_COUNT];
  uint32_t int_align[IK_COUNT];
  uint32_t float_size[FK_COUNT];
  uint32_t float_align[FK_COUNT];
  uint32_t pointer_size;
  uint32_t pointer_align;

  static DataModel zor();   // the ZOR data model (docs/data-model.md)
};

// ---------------------------------------------------------------- TYPE_PKG

class TYPE_PKG {
public:
  explicit TYPE_PKG(const DataModel &dm = DataModel::zor());
  TYPE_PKG(const TYPE_PKG &) = delete;
  TYPE_PKG &operator=(const TYPE_PKG &) = delete;
  ~TYPE_PKG();

  const DataModel &data_model() const { return dm_; }

  // ---- the basic types the package holds
  TYPE *mk_void() const { return void_; }
  TYPE *mk_int(IntKind k) const;
  TYPE *mk_fltpt(FloatKind k) const;
  // The signed and unsigned counterparts of an integral type (enumerations
  // by their integral type): char/unsigned char, short/unsigned short, ...;
  // wchar_t is unsigned with short as its signed counterpart; bool has only
  // an unsigned one (itself).
  TYPE *mk_signed(const TYPE *t) const;
  TYPE *mk_unsigned(const TYPE *t) const;

  // ---- makers: each allocates, constructs and registers one new type.
  // Makers of types without attribute groups freeze them at once.
  TYPE *mk_integral(IntKind k, uint32_t size, uint32_t align, bool explicit_sign = false,
                    uint8_t aux_flags = 0);
  TYPE *mk_floating(FloatKind k, uint32_t size, uint32_t align);
  TYPE *mk_fixed(TYPE *base, int32_t scale, uint32_t size, uint32_t align,
                 uint8_t aux_flags = 0);
  TYPE *mk_complex(TYPE *part);
  TYPE *mk_pointer(TYPE *to, uint32_t size = 16, uint32_t align = 16);
  TYPE *mk_reference(TYPE *to, uint32_t size = 16, uint32_t align = 16);
  TYPE *mk_qualified(TYPE *base, uint32_t qualifiers);
  TYPE *mk_qualified(TYPE *base, uint32_t qualifiers, uint32_t size, uint32_t align);
  TYPE *mk_typedef(const std::string &name, TYPE *base);
  TYPE *mk_typedef(const std::string &name, TYPE *base, uint32_t size, uint32_t align,
                   uint8_t flag_byte, uint8_t aux_flags, SrcPos pos);
  TYPE *mk_array(TYPE *elem, uint32_t count, uint32_t size, uint32_t align,
                 bool complete = true, uint8_t flag_byte = 0, bool vector = false);
  // A vector of `count` elements: size count × element size, the element's
  // alignment.
  TYPE *mk_vector(TYPE *elem, uint32_t count);
  TYPE *mk_ptr_to_member(TYPE *to, TYPE *cls, uint32_t size = 16, uint32_t align = 16);
  // Function types stay open for their parameter group unless `freeze`.
  TYPE *mk_function(TYPE *result, bool has_params = false, bool varargs = false,
                    std::vector<PARAM> params = {}, bool freeze = true);
  // An enumeration over `int_type`; enumerators are appended to
  // `enumerators` before complete().
  TYPE *mk_enum(const std::string &name, TYPE *int_type, uint32_t size, uint32_t align);
  // A class, structure or union (kind 13, 14 or 15), open for its groups.
  TYPE *mk_csu(TypeKind k, const std::string &name, uint32_t size, uint32_t align,
               bool complete = true);
  // A complete, frozen structure, union or class with the given data members.
  TYPE *mk_struct(TypeKind k, const std::string &name, uint32_t size, uint32_t align,
                  std::vector<MEMBER> members);

  // Freezes `t`.  When the package already holds a frozen type that is
  // exactly equal (exact_types), `t` joins that type's chain of equivalent
  // types and the held type is returned; otherwise `t`.
  TYPE *complete(TYPE *t);

  // ---- queries
  // The canonical equivalent type: void, fixed point, pointer to member,
  // enumeration and class kinds are their own normal form; integral and
  // floating types normalize to the package's type of the same variety;
  // typedefs to their base's normal form; the other kinds are rebuilt from
  // normalized parts, one canonical type per distinct result.
  TYPE *normalize(TYPE *t);
  TYPE *c_integral_promotions(TYPE *t);
  bool compatible_types(TYPE *a, TYPE *b, bool look_through_qualifiers = false);
  // Same representation in the machine: integral types of equal size and
  // signedness, floating types of equal size, pointers and references of
  // equal size, classes of equal kind, name, size and alignment, arrays of
  // equal count and equivalent elements; enumerations count as their
  // integral type and typedefs and qualifiers are looked through.
  bool equiv_mtypes(TYPE *a, TYPE *b);
  // Exactly the same type: every field the type records carry is equal,
  // named types compared exactly (typedefs are not looked through), groups
  // member by member.  A type under construction is exact only to itself.
  bool exact_types(TYPE *a, TYPE *b);
  // Kinds 0..4 and 12..15 give the placeholder (the void type); pointers and
  // pointers to member the pointed-to type, references the referred type,
  // qualified types and typedefs their base, arrays their element,
  // functions their result.
  TYPE *base_type(TYPE *t) const;
  // The real and imaginary part types of a complex type.
  std::vector<TYPE *> create_subparts(TYPE *t) const;
  bool type_frozen(const TYPE *t) const;

  // Removes `t` (and with `recursive` every type made on it, first) from
  // the package and frees it.  The caller guarantees that nothing else
  // refers to the removed types.
  void delete_type_tree(TYPE *t, bool recursive);

  // ---- registry
  // Identifiers run from 1 to type_count(); a deleted type leaves a null.
  uint32_t type_count() const { return static_cast<uint32_t>(all_.size()); }
  TYPE *type_by_id(uint32_t id) const {
    return id >= 1 && id <= all_.size() ? all_[id - 1].get() : nullptr;
  }
  size_t bytes_allocated() const { return bytes_; }
  // Counts per kind and the bytes allocated.
  void db_stats(FILE *out) const;

private:
  TYPE *tp_alloc(TypeKind k, uint32_t size, uint32_t align);
  TYPE *tp_alloc_csu(TypeKind k, const std::string &name, uint32_t size, uint32_t align);
  TYPE *register_type(std::unique_ptr<TYPE> t);
  void note_based(TYPE *t, TYPE *on);
  TYPE *canonical(TYPE *candidate_fields, TYPE *self);
  TYPE *normalize_rebuilt(TYPE *t);

  DataModel dm_;
  std::vector<std::unique_ptr<TYPE>> all_;   // registry; index = id - 1
  size_t bytes_ = 0;
  TYPE *void_ = nullptr;
  TYPE *ints_[IK_COUNT] = {};
  TYPE *floats_[FK_COUNT] = {};
  // Frozen representatives and canonical normal forms, by a hash of their
  // own fields; each bucket in registration order.
  std::map<uint64_t, std::vector<TYPE *>> frozen_;
  std::map<uint64_t, std::vector<TYPE *>> canon_;
};

} // namespace zor
