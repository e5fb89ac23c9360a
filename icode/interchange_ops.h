// icode/interchange_ops.h - the interchange operator table of the I-code format.
//
// For each operator code that may appear in a file (0..163): its code, name
// and arity.  The reader uses the arity to know how many operand records
// follow a node record.  The optimizer checks its own operator table against
// this one at start-up (ir/node_info.h).
#pragma once

#include <cstdint>

namespace zor {

struct InterchangeOp {
  uint32_t code;
  const char *name;   // null for an unassigned code
  uint32_t arity;     // 255 for an unassigned code
};

// Builds the table (idempotent).  The reader calls it when it opens a file.
void build_interchange_table();

// The entry of `code`, or null when code is above 163.
const InterchangeOp *interchange_op(uint32_t code);

} // namespace zor
