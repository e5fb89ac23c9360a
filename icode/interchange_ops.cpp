// icode/interchange_ops.cpp - the interchange operator table.
#include "icode/interchange_ops.h"

#include "ir/opcodes.h"

namespace zor {
namespace {

InterchangeOp table[kMaxFileOp + 1];
bool built = false;

} // namespace

void build_interchange_table() {
  if (built)
    return;
  for (uint32_t c = 0; c <= kMaxFileOp; ++c)
    table[c] = {c, nullptr, kNoArity};
#define OPCODE(name, code, arity, prec, effect, truth, file, info)                \
  if (file)                                                                       \
    table[code] = {code, #name, arity};
#include "ir/opcodes.def"
#undef OPCODE
  built = true;
}

const InterchangeOp *interchange_op(uint32_t code) {
  if (code > kMaxFileOp)
    return nullptr;
  build_interchange_table();
  return &table[code];
}

} // namespace zor
