// ir/type.h - type descriptors and the type package.
//
// Every node, symbol and type record refers to a TYPE.  Types are made and
// owned by the package TYPE_PKG; nothing else frees them.  Sizes and
// alignments are in bits.  A TYPE "resolves" to itself unless it is a typedef
// or a qualified type, which resolve to the type they name; the predicates
// look at the resolved type.
//
// This is the core the reader and the trees need: kinds, sizes, resolution,
// the integral and floating varieties and the signedness predicate.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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

class TYPE;
class TYPE_PKG;

// A data member of a structure, union or class.  `id` is the member
// identifier that FIELD records carry.
struct MEMBER {
  uint32_t id = 0;
  std::string name;
  TYPE *type = nullptr;
  uint32_t offset = 0;   // in bits
  uint8_t flag = 0;      // the member record's flag byte
};

class TYPE {
public:
  uint32_t id = 0;          // 0 until registered with a package
  TypeKind kind = TK_VOID;
  uint32_t size = 0;        // bits
  uint32_t align = 0;       // bits
  TYPE_PKG *pkg = nullptr;
  bool complete = false;
  TYPE *resolved = this;    // typedefs and qualifiers looked through
  uint32_t subkind = 0;     // IntKind or FloatKind
  TYPE *base = nullptr;     // pointed-to, qualified or typedef base
  uint32_t qualifiers = 0;
  std::string name;
  std::vector<MEMBER> members;

  TYPE(TypeKind k, uint32_t sz, uint32_t al) : kind(k), size(sz), align(al) {}
  TYPE(const TYPE &) = delete;
  TYPE &operator=(const TYPE &) = delete;

  TYPE *getr() const { return resolved; }
  TypeKind rkind() const { return resolved->kind; }
  bool is_void() const { return rkind() == TK_VOID; }
  bool is_integral() const { return rkind() == TK_INTEGRAL; }
  bool is_floating() const { return rkind() == TK_FLOATING; }
  bool is_pointer() const { return rkind() == TK_POINTER; }
  bool is_enum() const { return rkind() == TK_ENUM; }
  // Signed varieties: char, short, int, long, long long and the floating
  // types (plain char counts as signed).
  bool is_signed() const;
  const MEMBER *member_by_id(uint32_t member_id) const;
  // The canonical equivalent type: an integral type gives the package's
  // type of the same variety, an enumeration its integral type; other kinds
  // are their own canonical form for now.
  TYPE *normalized();
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

class TYPE_PKG {
public:
  explicit TYPE_PKG(const DataModel &dm = DataModel::zor());
  TYPE_PKG(const TYPE_PKG &) = delete;
  TYPE_PKG &operator=(const TYPE_PKG &) = delete;

  TYPE *mk_void() { return void_; }
  TYPE *mk_int(IntKind k) { return ints_[k]; }
  TYPE *mk_fltpt(FloatKind k) { return floats_[k]; }
  TYPE *mk_pointer(TYPE *to, uint32_t size = 16, uint32_t align = 16);
  TYPE *mk_qualified(TYPE *base, uint32_t qualifiers);
  TYPE *mk_typedef(const std::string &name, TYPE *base);
  // A function type returning `result` (parameter lists come with the full
  // type package).
  TYPE *mk_function(TYPE *result);
  // A structure, union or class with the given members (already laid out).
  TYPE *mk_struct(TypeKind k, const std::string &name, uint32_t size,
                  uint32_t align, std::vector<MEMBER> members);

  uint32_t type_count() const { return static_cast<uint32_t>(all_.size()); }

private:
  TYPE *make(TypeKind k, uint32_t size, uint32_t align);

  std::vector<std::unique_ptr<TYPE>> all_;   // registry; index = id - 1
  TYPE *void_ = nullptr;
  TYPE *ints_[IK_COUNT] = {};
  TYPE *floats_[FK_COUNT] = {};
};

} // namespace zor
