// cfg/bblk.h - basic blocks, their edges and labels.
//
// A function in flow-graph form is a set of BBLKs owned by its FUNINFO.  Two
// chains run through them: `next`/`prev` in depth-first (reverse postorder)
// order, which is the order passes walk and the writer writes, and
// `all_next` in creation order, which holds every block, reachable or not.
// `FUNINFO::bb_list` heads both.
//
// Statements, edges and labels are singly linked lists (`first`/`rest`).
// Every block ends in exactly one control statement: BRANCH, IF, SWITCH,
// RETURN or URETURN.  Inside the optimizer a two-way branch is
// IF(condition, COMMA(LABEL T1, LABEL T2)): T1 when the condition is true.
// A LABEL leaf points at its label record (NODE::label); the record points
// at the block it starts.
#pragma once

#include <cstdint>

#include "icode/position.h"
#include "ir/serial_object.h"

namespace zor {

class NODE;
class FUNINFO;
class BBLK;
class bitvector;
class TYPE;
struct LOOPINFO;

// One statement of a block.  `word` is free for the pass that owns the
// block at the time (cleared to 0 when the item is made).
struct STLIST {
  NODE *first = nullptr;
  SrcPos pos;
  uint32_t word = 0;
  STLIST *rest = nullptr;
};

// One edge of a predecessor or successor list: the block at the other end
// and the probability of the edge (-1.0 until computed).
struct EDGE {
  BBLK *bb = nullptr;
  double prob = -1.0;
  EDGE *rest = nullptr;
};

// A label: the block it starts, its index (the number printed and written
// for it) and how many LABEL leaves refer to it.
struct LABREC {
  LABREC *rest = nullptr;
  BBLK *bb = nullptr;
  int32_t index = 0;
  uint16_t refcount = 0;
};

// Slots of the per-block data-flow vectors, owned by the analysis that
// fills them (live variables use IN/OUT/GEN/KILL, others reuse the slots).
enum DataflowSlot { DF_IN, DF_OUT, DF_GEN, DF_KILL, DF_SLOTS };

class BBLK : public serial_object<BBLK, FUNINFO> {
public:
  // Registers the block with `owner` and links it at the end of the
  // creation chain.
  explicit BBLK(FUNINFO *owner);
  ~BBLK() override;

  FUNINFO *owner;
  void *lir_block = nullptr;      // low-level counterpart; null in tree form
  BBLK *next = nullptr;           // dfn chain; null at the last block
  BBLK *prev = nullptr;           // dfn chain backwards; entry's prev = last
  BBLK *all_next = nullptr;       // creation chain
  STLIST *statements = nullptr;
  EDGE *predecessors = nullptr;
  EDGE *successors = nullptr;
  EDGE *walk = nullptr;           // cursor of the depth-first walk
  LABREC *labels = nullptr;       // labels defined at the top of the block
  LOOPINFO *loop = nullptr;       // innermost loop; null until loops are built
  double dFreqIn = 0.0;
  double dFreqOut = 0.0;
  SrcPos first_pos, last_pos;     // source range of the statements
  bitvector *dataflow[DF_SLOTS] = {};
  int32_t uon = 0;                // creation order, 1..n after cutting
  int32_t dfn = 0;                // reverse postorder number; 0 = unnumbered
  int16_t loop_depth = 0;
  bool visited = false;
  void *trace = nullptr;          // superblock trace; null outside trace formation
};

// The void and int types of the function's program (for the trees the
// graph code makes).
TYPE *void_type_of(const FUNINFO &fi);
TYPE *int_type_of(const FUNINFO &fi);

// ---------------------------------------------------------------- statements

STLIST *new_stlist(NODE *tree, SrcPos pos, STLIST *rest = nullptr);
// Appends a statement at the end of `bb`.
STLIST *append_statement(BBLK *bb, NODE *tree, SrcPos pos);
// Inserts a statement after `at` (at the front when `at` is null).
STLIST *insert_statement_after(BBLK *bb, STLIST *at, NODE *tree, SrcPos pos);
// Unlinks `item` from `bb`, erases its tree and frees it.
void delete_statement(BBLK *bb, STLIST *item);
// Frees a whole list and erases its trees.
void delete_statement_list(STLIST *list);
STLIST *last_statement(const BBLK *bb);
// The last statement's tree, or null for an empty block.
NODE *last_tree(const BBLK *bb);
size_t statement_count(const BBLK *bb);
// Sets `first_pos`/`last_pos` from the statements that carry a position.
void update_positions(BBLK *bb);

// --------------------------------------------------------------------- edges

// Puts `bb` at the front of `list` unless it is listed already.
EDGE *add_edge(EDGE *&list, BBLK *bb);
// Removes `bb` from `list`; true when it was there.
bool remove_edge(EDGE *&list, BBLK *bb);
EDGE *find_edge(EDGE *list, const BBLK *bb);
size_t edge_count(const EDGE *list);
void free_edges(EDGE *&list);
// Adds from -> to on both ends, and removes it.  Both mark the function's
// dominators stale.
void link_blocks(BBLK *from, BBLK *to);
void unlink_blocks(BBLK *from, BBLK *to);

// -------------------------------------------------------------------- labels

// A new label record of the function.  An index of 1 or more is taken as
// given; otherwise the function's counter supplies -1, -2, ... -30001 and
// then starts again at -1.
LABREC *new_label(FUNINFO &fi, int32_t index = 0);
// Adds `lab` to the labels of `bb` (at the end).
void attach_label(BBLK *bb, LABREC *lab);
// The block's first label, made when it has none.
LABREC *block_label(BBLK *bb);
// A LABEL leaf referring to `lab` (its count goes up by one).
NODE *make_label_leaf(LABREC *lab);
// The block a LABEL leaf designates (null when it has no record).
BBLK *label_target(const NODE *leaf);

// -------------------------------------------------------------- control trees

// True for the statements that end a block.
bool is_block_end(const NODE *stmt);
// Re-points every LABEL leaf of `stmt` that designates `from` at `to`'s
// first label (made when needed); returns how many leaves changed.
int retarget_labels(NODE *stmt, const BBLK *from, BBLK *to);
// The IF statement IF(cond, COMMA(LABEL t1, LABEL t2)).
NODE *make_if(NODE *cond, BBLK *t1, BBLK *t2);
NODE *make_branch(BBLK *to);

// ----------------------------------------------------------- whole functions

// Destroys `bb`: unlinks it from both chains and from its neighbours' edge
// lists, drops its labels from their block, frees its statements.
void destroy_block(BBLK *bb);

} // namespace zor
