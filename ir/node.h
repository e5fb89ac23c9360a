// ir/node.h - expression-tree nodes.
//
// Every statement and expression of a function is a tree of NODEs: an
// operator code (ir/opcodes.h, facts in ir/node_info.h), a TYPE, up to two
// operands and an operator-dependent payload.  NODE implements BASE_NODE,
// through which the I-code reader fills nodes and the writer reads them.
//
// Ownership:
//   - Nodes are heap objects linked by raw pointers.  A node owns its
//     operands `left` and `right`, except a CSE_DUPE, whose operands belong
//     to the tree it duplicates.
//   - A node also owns what it allocated for its payload: the FCON record,
//     the callee-name text, the SCON bytes or cached FCON text, the pragma
//     record, the dependence record (and the tree hanging from it) and the
//     cells of its list word.
//   - Symbols, types, members and label records are never owned: they belong
//     to the symbol table, the type package and the flow graph.
//   - Trees are released only through erase_tree(); `delete` (the deleting
//     destructor) frees one node and none of its operands.
//
// Builders and matchers for the passes are in ir/tree_build.h.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "icode/base_node.h"
#include "icode/position.h"
#include "ir/opcodes.h"
#include "ir/xfloat.h"

namespace zor {

class NODE;
class SYMTAB;
class TYPE;
struct LABREC;   // label record of the flow graph (cfg/)

// ---------------------------------------------------------------- run state

// On when the command line asks for PCONV to pointer-to-char to become
// ISP2CHAR (see NODE creation).  Set by the driver; off by default.
extern bool isp2char_enabled;

// Hooks the driver installs at start-up; the defaults suit tools and tests.
// The debug stream while debug output is on, else null.
extern FILE *(*ir_debug_stream)();
// Ends the run after an internal error (the driver's terminate_abnormally).
// It must not return; if it does, the program aborts.
extern void (*ir_terminate)();
[[noreturn]] void ir_internal_error();

// ---------------------------------------------------------- integer constant

// A 96-bit two's-complement integer: `value` is the low 64 bits, `ext` the
// most significant 32 (0 or -1 for every value that fits in 64 bits).
struct IntConst {
  int64_t value = 0;
  int32_t ext = 0;

  static IntConst from_signed(int64_t v) { return {v, v < 0 ? -1 : 0}; }
  static IntConst from_unsigned(uint64_t v) { return {static_cast<int64_t>(v), 0}; }
  // The low 96 bits of v (wraps).
  static IntConst from_i128(__int128 v) {
    return {static_cast<int64_t>(static_cast<uint64_t>(v)),
            static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned __int128>(v) >> 64))};
  }
  __int128 to_i128() const {
    return static_cast<__int128>(
        (static_cast<unsigned __int128>(static_cast<__int128>(ext)) << 64) |
        static_cast<uint64_t>(value));
  }
  uint32_t low32() const { return static_cast<uint32_t>(value); }
  bool fits_int64() const { return ext == (value < 0 ? -1 : 0); }
  bool is_negative() const { return ext < 0; }
  bool is_zero() const { return value == 0 && ext == 0; }
  // Decimal text of the value, or of its 96 bits read as unsigned.
  std::string to_decimal(bool as_unsigned = false) const;

  // Extension word as signed, then the 64-bit field as unsigned.
  friend bool operator==(const IntConst &a, const IntConst &b) = default;
  friend bool operator<(const IntConst &a, const IntConst &b) {
    return a.to_i128() < b.to_i128();
  }
};

// Width in bits and signedness of an integer constant of type `t`: integral
// and enumeration types by their integral type, pointers unsigned; no type
// (or one of no size) counts as 64-bit signed.
uint32_t int_width_of(const TYPE *t);
bool int_type_is_signed(const TYPE *t);
// `v` cut to `width` bits, then sign-extended when `is_signed`, else
// zero-extended; widths of 0 or 96 and more keep all 96 bits.
IntConst fit_int(__int128 v, uint32_t width, bool is_signed);
inline IntConst fit_int_to_type(__int128 v, const TYPE *t) {
  return fit_int(v, int_width_of(t), int_type_is_signed(t));
}

// --------------------------------------------------------- auxiliary records

// Dependence record of a DDNODE.
struct DDREC {
  uint16_t index = 0;      // what ddnode_index() returns
  NODE *tree = nullptr;    // owned; erased with the node
};

// Cells of a node's list word: the cells are owned, the nodes are not.
struct NODE_LIST {
  NODE *node = nullptr;
  NODE_LIST *next = nullptr;
  ~NODE_LIST() { delete next; }
};

// A pass-data word; its meaning belongs to the pass that uses it.
union PassWord {
  void *ptr;
  intptr_t num;
};

// ----------------------------------------------------------------------- NODE

class NODE final : public BASE_NODE {
public:
  // Creation: every field in its initial state, with three adjustments:
  //   UCALL   marks the current function as containing calls;
  //   SCONV   to an enumeration takes the enumeration's normalized integral
  //           type;
  //   PCONV   to pointer to char or unsigned char becomes ISP2CHAR when char
  //           and short have the same size and isp2char_enabled is on.
  NODE(uint32_t op, TYPE *type);
  ~NODE() override;
  NODE(const NODE &) = delete;
  NODE &operator=(const NODE &) = delete;

  // Fields are grouped by size to keep the node compact.
  uint32_t op;
  int32_t epval = -1;                  // EPVAL index
  TYPE *type;
  NODE *left = nullptr;
  NODE *right = nullptr;
  // ICON value, LABEL number, SWITCH/SKIP number, first CALL number, SCON
  // length.
  IntConst icon;
  const MEMBER *member = nullptr;      // FIELD: the selected member
  PassWord pass_data[5] = {};          // cleared at creation
  uintptr_t annotation = 0;            // given to make_node; copies clear it
  TYPE *creation_type = nullptr;       // the type the node was made with
  double pass_value = -1.0;
  DDREC *dval = nullptr;               // DDNODE: dependence record (owned)
  LABREC *label = nullptr;             // LABEL, LABELDEF: label record
  PragmaRecord *pragma = nullptr;      // PPRAGMA: pragma record (owned)
  NODE_LIST *list = nullptr;           // pass data (owned cells, never copied)
  PassWord pass_extra = {};
  PassWord pass_last = {};
  uint32_t flags = 0;
  uint32_t call = 0;                   // second CALL number, UCALL number
  uint16_t pass_short = 0;

  // ---- payload word (`u.rval`): which view is valid depends on the operator
  // and on the setter that filled it; a view of another kind reads as null.
  void *rval() const { return u_.rval; }
  SYMTAB *sym() const { return kind_ == PAY_SYMBOL ? u_.sym : nullptr; }
  XFLOAT *fval() const { return kind_ == PAY_FLOAT ? u_.fval : nullptr; }
  TYPE *struct_type() const { return kind_ == PAY_TYPE ? u_.stype : nullptr; }
  const char *callee() const { return kind_ == PAY_TEXT ? u_.callee : nullptr; }
  void set_sym(SYMTAB *s);
  // Stores a copy of v as the FCON record and clears the cached text.
  void set_fval(const XFLOAT &v);
  // Stores an unowned word of the pass's own meaning.
  void set_rval(void *p);

  // SCON bytes (NUL-terminated copy) or the cached FCON text.
  const char *text() const { return text_; }
  uint32_t text_length() const { return text_len_; }

  unsigned arity() const;
  bool is(uint32_t o) const { return op == o; }
  bool has_signed_type() const { return int_type_is_signed(type); }

  // ---- BASE_NODE: structure
  uint32_t opcode() const override { return op; }
  void set_opcode(uint32_t o) override { op = o; }
  TYPE *node_type() const override { return type; }
  BASE_NODE *operand(int i) const override { return i == 0 ? left : right; }
  void set_operand(int i, BASE_NODE *child) override;

  // ---- BASE_NODE: accessors
  I_SYMTAB *name_symbol() const override;
  int field_flag() const override { return 1; }
  const MEMBER *field_member() const override { return member; }
  TYPE *field_type() const override { return struct_type(); }
  uint32_t icon_unsigned() const override { return icon.low32(); }
  int32_t icon_signed() const override { return static_cast<int32_t>(icon.low32()); }
  std::string lcon_text() const override;
  const char *fcon_text() override;
  const char *scon_bytes() const override { return text_; }
  uint32_t scon_length() const override { return icon.low32(); }
  uint32_t label_number() const override { return icon.low32(); }
  int32_t vreg_number() const override { return 0; }
  uint32_t skip_number() const override { return icon.low32(); }
  uint32_t switch_number() const override { return icon.low32(); }
  uint16_t ddnode_index() const override { return dval ? dval->index : 0; }
  uint32_t ddnode_second() const override { return 0; }
  uint8_t ddnode_flag() const override { return 0; }
  uint32_t call_first() const override { return icon.low32(); }
  const char *callee_name() const override { return callee(); }
  uint32_t call_word() const override { return call; }
  int32_t epval_index() const override { return epval; }

  // ---- BASE_NODE: setters
  void set_epval_index(int32_t index) override { epval = index; }
  void set_name_symbol(I_SYMTAB *sym) override;
  void set_field(int flag, const MEMBER *m, TYPE *stype) override;
  void set_icon(uint32_t value) override;
  void set_lcon_text(const char *text) override;
  void set_fcon_text(const char *text) override;
  void set_scon(const char *bytes, uint32_t length) override;
  void set_label_number(uint32_t number) override { icon = IntConst::from_unsigned(number); }
  void set_vreg_number(int32_t) override {}
  void set_skip_number(uint32_t number) override;
  void set_switch_number(uint32_t number) override;
  void set_ddnode(uint32_t, uint32_t, uint8_t) override {}
  void set_call(uint32_t first, uint32_t word) override;
  void set_ucall(uint32_t word) override;
  void set_callee_name(const char *name) override;

private:
  friend NODE *copy_node(const NODE *n, bool keep_annotation, bool deep);

  enum PayloadKind : uint8_t { PAY_NONE, PAY_SYMBOL, PAY_FLOAT, PAY_TYPE, PAY_TEXT, PAY_OTHER };

  void release_payload();
  void set_text(const char *bytes, uint32_t length);

  union {
    void *rval;
    SYMTAB *sym;
    XFLOAT *fval;     // owned
    TYPE *stype;
    char *callee;     // owned
  } u_ = {nullptr};
  char *text_ = nullptr;   // owned: SCON bytes or cached FCON text
  uint32_t text_len_ = 0;
  PayloadKind kind_ = PAY_NONE;
};

// ----------------------------------------------------------- tree operations

// The reader's factory: NODE creation (with its adjustments).
NODE *new_node(uint32_t op, TYPE *type);

// The passes' maker: for ACONV, SCONV and PCONV the type is first stripped of
// qualifiers and typedefs; the node takes ownership of the operands.
NODE *make_node(uint32_t op, NODE *left, NODE *right, TYPE *type,
                uintptr_t annotation = 0);

// A new node with the same fields.  The annotation is cleared unless kept;
// the dependence record and the list are not copied; an FCON gets its own
// record and an empty text cache, a PPRAGMA its own pragma record.  With
// `deep` the operands are copied the same way; without it the copy points
// at the same operands, and the caller must give it operands of its own (or
// clear them) before either tree is erased.
NODE *copy_node(const NODE *n, bool keep_annotation, bool deep);

// Releases a tree: the operands of a CSE_DUPE are detached, not freed; the
// second operand's tree and the dependence record's tree are erased, the
// node is marked ILLOP, its list and dependence record are released and it
// is deleted; the walk goes on with the first operand.  A node already
// marked ILLOP (erased twice) ends the run with the 'erase_node' message.
void erase_tree(NODE *n);

} // namespace zor
