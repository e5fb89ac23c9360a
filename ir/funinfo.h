// ir/funinfo.h - the per-function record and the function being worked on.
//
// One FUNINFO per function, created from the function's symbol.  The passes
// share it; `currfuninfo` and `currfunc` name the function being processed
// (none outside the per-function work).  While the reader delivers a
// function, the FUNINFO keeps its scopes: level 1 holds the parameters, the
// body opens level 2 and every nested block one more; each scope chains its
// symbols through SYMTAB::next_local.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "icode/position.h"
#include "icode/reader.h"

namespace zor {

class SYMTAB;
class TYPE_PKG;
class NODE;
class BBLK;
struct LABREC;
struct LOOPINFO;
class Dominator;

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

// A scope of the function: its level, the enclosing scope and the chain of
// the symbols declared in it (in the order read).
struct SCOPE {
  SCOPE *parent = nullptr;
  uint32_t level = 0;
  SYMTAB *symbols = nullptr;
  SYMTAB *last = nullptr;
  bool closed = false;
};

// A node of the stack-sharing tree (the stack-sharing pass fills it): the
// root has no parent, level 2 and no variables.
struct OVERLAP {
  OVERLAP *parent = nullptr;
  uint32_t level = 2;
  SYMTAB *vars = nullptr;
  std::vector<std::unique_ptr<OVERLAP>> children;
};

class FUNINFO {
public:
  FUNINFO();
  FUNINFO(const FUNINFO &) = delete;
  FUNINFO &operator=(const FUNINFO &) = delete;
  ~FUNINFO();

  SYMTAB *symbol = nullptr;
  TYPE_PKG *types = nullptr;        // the program's types, for the trees passes make
  std::string file_name;            // "NO_FILE" / "NO_PSN_FILE" when unknown
  bool no_calls = true;             // set at function begin, cleared by calls
  uint32_t flags = 0;               // property bits
  uint32_t profiling_state = 0;     // 0, or 2 when profile values are written
  // ---- the flow graph (cfg/): made once before the function's first pass
  BBLK *bb_list = nullptr;          // entry block: head of the dfn and creation chains
  BBLK *exit_bb = nullptr;          // the block holding the only URETURN
  uint32_t bb_count = 0;            // blocks numbered by the last renumbering
  int32_t label_counter = 0;        // last index given to an unnumbered label
  uint32_t prologue_length = 0;     // parameter copies at the top of the entry block
  bool no_tail_recursion = false;   // tail calls must stay calls
  bool skip_cross_jump = false;     // simpcfg leaves out cross-jumping and redundant IFs
  uint32_t df_vector_size = 0;      // size of the per-block data-flow vectors (0: none)
  std::unique_ptr<Dominator> dominator;
  std::vector<std::unique_ptr<LOOPINFO>> loops;   // the loop tree, root last
  LOOPINFO *root_loop = nullptr;
  std::vector<std::unique_ptr<LABREC>> label_records;
  std::vector<BBLK *> &registry() { return bb_registry_; }
  OVERLAP overlaps;                 // stack-sharing tree
  uint32_t eht_size = 0;            // entries of the exception-handling table
  std::vector<NODE *> global_assertions;   // owned trees
  bool listed = false;              // on the program's list of functions

  // What the reader delivered for the function, in program order.
  std::vector<STMT> statements;
  std::vector<SYMTAB *> params;   // scope level 1, in the order read
  std::vector<SYMTAB *> locals;   // scope level 2 and deeper, in the order read
  SrcPos begin_pos, body_pos, end_pos, current_pos;
  std::vector<std::string> pending_pragmas;   // pragma texts (record 47)
  std::vector<EhtEntry> eht;                  // exception-handling table
  NODE *profiling_branch = nullptr;           // see PROGRAM::label
  uint32_t scope_level = 0;

  // ---- scopes while reading
  // Function begin: drops earlier scopes and opens level 1.
  void begin_scopes();
  // Body or block begin: a new scope one level deeper.
  void open_scope();
  // Block end: closes the innermost scope (never level 1).
  void close_scope();
  // Function end: closes every open scope; the level becomes 0.
  void close_all_scopes();
  // Chains `sym` to the current scope.
  void register_local(SYMTAB *sym);
  SCOPE *current_scope() const { return scope_; }
  const std::vector<std::unique_ptr<SCOPE>> &scopes() const { return scopes_; }

  // Releases the statement trees and the clean-up trees of the table.
  void release_statements();
  // Releases the blocks, loops, dominators and label records.
  void release_flow_graph();

private:
  std::vector<BBLK *> bb_registry_;                // blocks by serial number
  std::vector<std::unique_ptr<SCOPE>> scopes_;   // in the order opened
  SCOPE *scope_ = nullptr;
};

extern SYMTAB *currfunc;
extern FUNINFO *currfuninfo;

} // namespace zor
