// ir/funinfo.h - the per-function record and the function being worked on.
//
// One FUNINFO per function, created from the function's symbol.  The passes
// share it; `currfuninfo` and `currfunc` name the function being processed
// (none outside the per-function work).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "icode/position.h"
#include "icode/reader.h"

namespace zor {

class SYMTAB;
class NODE;

// Property bits of FUNINFO::flags set while reading a function.
enum : uint32_t {
  FI_HAS_CREGISTER = 0x00001,   // mentions a control-register variable
  FI_STORAGE_27 = 0x40022,      // declares a symbol of storage class 27
  FI_FIELD_FLAGGED = 0x00004,   // selects a member whose flag byte is set
};

// One statement of a function as read: its tree and its source position.
struct STMT {
  NODE *tree = nullptr;
  SrcPos pos;
};

class FUNINFO {
public:
  FUNINFO() = default;
  FUNINFO(const FUNINFO &) = delete;
  FUNINFO &operator=(const FUNINFO &) = delete;
  ~FUNINFO();

  SYMTAB *symbol = nullptr;
  std::string file_name;            // "NO_FILE" / "NO_PSN_FILE" when unknown
  bool no_calls = true;             // set at function begin, cleared by calls
  uint32_t flags = 0;               // property bits
  uint32_t profiling_state = 0;     // 0, or 2 when profile values are written

  // What the reader delivered for the function, in program order.
  std::vector<STMT> statements;
  std::vector<SYMTAB *> params;   // scope level 1, in the order read
  std::vector<SYMTAB *> locals;   // scope level 2 and deeper, in the order read
  SrcPos begin_pos, body_pos, end_pos, current_pos;
  std::vector<std::string> pending_pragmas;   // pragma texts (record 47)
  std::vector<EhtEntry> eht;                  // exception-handling table
  NODE *profiling_branch = nullptr;           // see PROGRAM::label
  uint32_t scope_level = 0;

  // Releases the statement trees and the clean-up trees of the table.
  void release_statements();
};

extern SYMTAB *currfunc;
extern FUNINFO *currfuninfo;

} // namespace zor
