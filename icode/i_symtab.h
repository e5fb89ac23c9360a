// icode/i_symtab.h - the symbol interface of the I-code reader and writer.
//
// The reader and writer reach symbols only through this interface; the
// optimizer's SYMTAB (ir/symtab.h) implements it.
#pragma once

#include <cstdint>

#include "icode/position.h"

namespace zor {

class TYPE;

class I_SYMTAB {
public:
  virtual ~I_SYMTAB() = default;

  virtual const char *name() const = 0;
  virtual uint32_t size() const = 0;
  virtual uint32_t offset() const = 0;
  virtual uint8_t storage_class() const = 0;
  virtual uint16_t flags() const = 0;
  virtual TYPE *type() const = 0;
  virtual TYPE *second_type() const = 0;
  virtual uint32_t alignment() const = 0;
  virtual SrcPos position() const = 0;
  virtual const PragmaRecord *attribute_lists() const = 0;
  virtual uint32_t attribute_list_count() const = 0;
  virtual uint32_t initializer_position() const = 0;
  virtual uint32_t option_set() const = 0;
  virtual uint32_t scope_level() const = 0;
  virtual uint32_t index() const = 0;
  virtual void set_scope_level(uint32_t level) = 0;
  virtual void set_index(uint32_t index) = 0;
  virtual void set_initializer_position(uint32_t pos) = 0;
};

} // namespace zor
