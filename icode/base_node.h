// icode/base_node.h - the node interface of the I-code reader and writer.
//
// The reader creates nodes through its client's factory and fills them through
// the setters below while it decodes a node record; the writer reads them back
// through the accessors.  NODE (ir/node.h) is the optimizer's implementation.
// Besides the payload operations, the interface gives the reader and writer
// the structural parts every node has: operator, type and operands.
#pragma once

#include <cstdint>
#include <string>

namespace zor {

class I_SYMTAB;
class TYPE;
struct MEMBER;

class BASE_NODE {
public:
  // Structure.
  virtual uint32_t opcode() const = 0;
  virtual void set_opcode(uint32_t op) = 0;
  virtual TYPE *node_type() const = 0;
  virtual BASE_NODE *operand(int i) const = 0;          // i = 0 (left), 1 (right)
  virtual void set_operand(int i, BASE_NODE *child) = 0; // takes ownership

  // Accessors (used by the writer).
  virtual I_SYMTAB *name_symbol() const = 0;
  virtual int field_flag() const = 0;
  virtual const MEMBER *field_member() const = 0;
  virtual TYPE *field_type() const = 0;
  virtual uint32_t icon_unsigned() const = 0;
  virtual int32_t icon_signed() const = 0;
  virtual std::string lcon_text() const = 0;
  virtual const char *fcon_text() = 0;
  virtual const char *scon_bytes() const = 0;
  virtual uint32_t scon_length() const = 0;
  virtual uint32_t label_number() const = 0;
  virtual int32_t vreg_number() const = 0;
  virtual uint32_t skip_number() const = 0;
  virtual uint32_t switch_number() const = 0;
  virtual uint16_t ddnode_index() const = 0;
  virtual uint32_t ddnode_second() const = 0;
  virtual uint8_t ddnode_flag() const = 0;
  virtual uint32_t call_first() const = 0;
  virtual const char *callee_name() const = 0;
  virtual uint32_t call_word() const = 0;
  virtual int32_t epval_index() const { return -1; }

  // Setters (used by the reader).
  virtual void set_epval_index(int32_t) {}
  virtual void set_name_symbol(I_SYMTAB *sym) = 0;
  virtual void set_field(int flag, const MEMBER *member, TYPE *struct_type) = 0;
  virtual void set_icon(uint32_t value) = 0;
  virtual void set_lcon_text(const char *text) = 0;
  virtual void set_fcon_text(const char *text) = 0;
  virtual void set_scon(const char *bytes, uint32_t length) = 0;
  virtual void set_label_number(uint32_t number) = 0;
  virtual void set_vreg_number(int32_t number) = 0;
  virtual void set_skip_number(uint32_t number) = 0;
  virtual void set_switch_number(uint32_t number) = 0;
  virtual void set_ddnode(uint32_t index, uint32_t second, uint8_t flag) = 0;
  virtual void set_call(uint32_t first, uint32_t word) = 0;
  virtual void set_ucall(uint32_t word) = 0;
  virtual void set_callee_name(const char *name) = 0;

  // Deleting destructor: frees this node only; trees are released with the
  // owner's erase routine (ir/node.h), which walks the operands.
  virtual ~BASE_NODE() = default;
};

} // namespace zor
