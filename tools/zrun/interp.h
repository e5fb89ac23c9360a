// tools/zrun/interp.h - the I-code interpreter behind zrun.
//
// An Interpreter executes a program the reader delivered (PROGRAM).  At load
// time every statement tree is compiled into a tree of CNodes: symbols are
// resolved to register slots, frame offsets or global addresses, labels to
// statement indexes, calls to their callee, and each node gets the case of
// the evaluator that does its work (integer add at a given width, load of a
// 32-bit float, ...).  Running then evaluates those trees directly.
//
// Memory is 65536 units of 16 bits (a pointer holds a unit address): the
// null page, the globals and string constants, one unit per function (its
// address), the heap of malloc growing up, and the stack of frames growing
// down from the top (a call of a variadic function puts its variadic area,
// the arguments after the named ones, just above its frame).  A shadow byte per unit says whether the unit belongs
// to an object, whether it was written and whether it is read-only, so that
// accesses outside any object and uses of uninitialized pointers are
// reported, not executed.  Objects are separated by a unit of no object.
// An uninitialized pointer value is kPoison (tools/zrun/xops.h), which no
// address equals.
//
// Scalar parameters and locals whose address is never taken live in
// registers (a slot array per call), everything else in memory.  This is
// also what --stats counts as loads and stores.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "ir/funinfo.h"
#include "ir/node.h"
#include "ir/program.h"
#include "ir/symtab.h"
#include "ir/type.h"

namespace zor::run {

// zrun's own exit codes, distinct from what programs usually return.
constexpr int kExitUsage = 2;
constexpr int kExitRuntimeError = 3;
constexpr int kExitStepLimit = 4;
constexpr int kExitAbort = 134;

// Calls nested deeper than this are a stack overflow, whatever the frames'
// sizes (the interpreter itself recurses once per call).
constexpr uint32_t kMaxCallDepth = 20000;

constexpr uint32_t kMemoryUnits = 65536;
constexpr uint32_t kNullPage = 16;      // units 0-15 belong to no object
// The stack of frames grows down from the top of memory towards the heap;
// the globals leave at least this much to both.
constexpr uint32_t kStackReserve = 4096;

// A run that cannot go on: the message (without the "zrun: error: " prefix
// and the location) and the exit code.
struct RunError : std::runtime_error {
  RunError(const std::string &message, int code)
      : std::runtime_error(message), exit_code(code) {}
  int exit_code;
};

// The program called exit.
struct ProgramExit {
  int status;
};

struct RunOptions {
  std::string entry = "main";
  uint64_t max_steps = 1000000000;   // statements executed before exit 4
  bool trace = false;                // each statement on standard error
  std::vector<std::string> args;     // argv of main: the file, then ARGS
};

// ------------------------------------------------------------------ costs

// What one evaluation of a node costs on a small coprocessor without a
// hardware divider.  One table, so that a machine description can supply
// other weights later.
enum CostClass : uint8_t {
  CC_FREE,        // constants, register reads, addresses, moves, lists
  CC_SIMPLE,      // integer add, logic, shift, compare, conversion
  CC_INT_MUL,
  CC_INT_DIV,     // division and remainder
  CC_FLOAT_ADD,   // float add, subtract, compare, conversion, negate, abs
  CC_FLOAT_MUL,
  CC_FLOAT_DIV,   // float division, reciprocal, square root
  CC_COUNT
};

struct CostTable {
  uint32_t op[CC_COUNT];
  uint32_t memory;   // per load or store
  uint32_t call;     // per call
  uint32_t branch;   // per branch taken
};

constexpr CostTable kDefaultCosts = {{0, 1, 2, 20, 1, 1, 10}, 2, 4, 1};

// Dynamic counts of a run (--stats).
struct RunStats {
  uint64_t statements = 0;
  uint64_t nodes = 0;
  uint64_t loads = 0;
  uint64_t stores = 0;
  uint64_t calls = 0;
  uint64_t branches = 0;
  uint64_t cost = 0;
};

// ------------------------------------------------------- compiled program

// Value classes: what a node's evaluation yields.  Aggregates (structures,
// unions, arrays, complex and vector values) are handled by the address of
// their storage.
enum ValueClass : uint8_t { VC_VOID, VC_INT, VC_FLOAT, VC_AGG };

// How a value of a type is held.
struct Layout {
  ValueClass cls = VC_INT;
  uint8_t width = 64;      // integers: bits of the value
  bool sgn = true;         // integers: signed
  bool ptr = false;        // pointers (uninitialized values are tracked)
  bool boolean = false;    // _Bool: conversions test for non-zero
  bool single = false;     // floats: 32-bit IEEE single, else double
  uint32_t units = 4;      // units of storage
};

struct CNode;
struct CallSite;

union Val {
  int64_t i;
  double d;
};

// A compiled tree node.  `x` selects the evaluator's case; the other fields
// are that case's precomputed operands.
struct CNode {
  uint16_t x = 0;
  uint16_t op = 0;           // the tree's operator (messages)
  Layout l;                  // the result's layout
  Layout lv;                 // assignments, loads: the accessed object's
  uint8_t sub = 0;           // compound forms: the base case
  uint8_t bf_shift = 0, bf_width = 0;   // bit-field lvalues
  bool chk = true;           // memory accesses: check the address
  bool reg = false;          // lvalue in a register slot
  uint32_t slot = 0;         // register slot
  uint32_t at = 0;           // aggregate results: offset of the scratch area
  bool at_global = false;    // ... an absolute address (initializers)
  int64_t k = 0;             // constant, offset, mask, scale
  double f = 0;              // float constant
  CNode *a = nullptr, *b = nullptr, *c = nullptr;
  CallSite *call = nullptr;  // calls; vector packs (their items)
  const NODE *tree = nullptr;
  uint64_t count = 0;        // evaluations (--stats)
  CostClass cost = CC_FREE;
  uint8_t loads = 0, stores = 0;
  bool is_call = false;
  bool hidden = false;       // the address of a variable under its access:
                             // part of that node, not counted as a node
};

// A call: its arguments and its callee.  `function` >= 0 is a defined
// function, `builtin` >= 0 a runtime function; else the callee is the
// pointer `target` or the unknown external `name`.
struct CallSite {
  std::vector<CNode *> args;
  int function = -1;
  int builtin = -1;
  CNode *target = nullptr;
  std::string name;
  bool intrinsic_identity = false;   // "DONOTCSE": the argument's value
};

enum StmtKind : uint8_t {
  ST_EXPR, ST_BRANCH, ST_CBRANCH, ST_IF, ST_SWITCH, ST_RETURN, ST_URETURN,
  ST_LOOP, ST_ENDLOOP, ST_ASSERT
};

struct CStmt {
  StmtKind kind = ST_EXPR;
  CNode *e = nullptr;
  uint32_t target = 0, target2 = 0;   // statement indexes
  uint32_t table = 0;                 // ST_SWITCH: index of its case table
  SrcPos pos;
  const NODE *tree = nullptr;
  std::string text;                   // --trace: the statement in C form
};

struct SwitchTable {
  std::vector<std::pair<int64_t, uint32_t>> cases;   // sorted by value
  uint32_t fallthrough = 0;                          // default or next
};

// Where a parameter or local lives.
struct VarSlot {
  bool reg = false;
  uint32_t where = 0;   // register slot or frame offset
  Layout l;
};

struct Function {
  FUNINFO *fun = nullptr;
  std::string name;
  std::vector<CStmt> stmts;
  std::vector<SwitchTable> switches;
  std::vector<VarSlot> params;
  std::vector<uint8_t> frame_shadow;   // shadow of a fresh memory frame
  std::vector<uint8_t> reg_is_ptr;     // per register: starts uninitialized
  uint32_t regs = 0;
  uint32_t frame_units = 0;
  Layout result;
  bool has_result = false;
  bool varargs = false;      // the arguments after the parameters go to a
                             // variadic area
  uint32_t address = 0;
};

// Where the arguments of a printf format come from: the operands of the
// call from `next` on, or the slots of a variadic area from `area` on (the
// v-forms).
struct FormatArgs {
  const std::vector<CNode *> *nodes = nullptr;
  const std::vector<Val> *vals = nullptr;
  size_t next = 0;
  bool from_area = false;
  int64_t area = 0;   // a pointer value: checked at each read
};

class Interpreter {
public:
  Interpreter(PROGRAM &program, RunOptions options);
  // Runs the entry function; returns the exit code of the process (the
  // entry's result or exit's value, low 8 bits).  Reports errors on
  // standard error and returns their codes.
  int run();
  // Counts of the run so far (complete after run()); the cost is weighed
  // with the table in force (kDefaultCosts unless set_costs gave another).
  RunStats stats() const;
  void set_costs(const CostTable &costs) { costs_ = costs; }

private:
  friend struct Compiler;

  PROGRAM &program_;
  RunOptions options_;
  CostTable costs_ = kDefaultCosts;

  // Memory and its shadow (SH_* bits).
  std::vector<uint16_t> memory_;
  std::vector<uint8_t> shadow_;
  uint32_t global_top_ = kNullPage;
  std::map<uint32_t, uint32_t> heap_blocks_;   // address -> units, live
  std::map<uint32_t, uint32_t> heap_free_;     // address -> units, free
  uint32_t heap_top_ = 0;                      // first unit never handed out
  uint32_t sp_ = kMemoryUnits;                 // lowest unit of the frames

  // Registers of the calls in progress; rf_ is the current frame's.
  std::vector<Val> registers_;
  uint32_t reg_top_ = 0;
  Val *rf_ = nullptr;
  uint32_t fp_ = 0;            // memory frame of the current call
  uint32_t va_ = 0;            // variadic area of the current call
  uint32_t empty_area_ = 0;    // ... of calls of functions without one
  uint32_t rand_next_ = 1;     // the state of rand
  uint32_t strtok_next_ = 0;   // where strtok goes on; 0 when nowhere

  std::deque<CNode> nodes_;
  std::deque<CallSite> callsites_;
  std::vector<Function> functions_;
  std::unordered_map<const SYMTAB *, int> function_of_;   // defined functions
  std::unordered_map<const SYMTAB *, uint32_t> global_addr_;
  std::map<std::string, const SYMTAB *> global_by_name_;
  std::unordered_map<uint32_t, int> function_at_;   // address -> function
  std::unordered_map<uint32_t, int> builtin_at_;    // address -> builtin
  std::unordered_map<uint32_t, std::string> external_at_;
  std::vector<uint16_t> return_buffer_;
  std::vector<int64_t> loop_counters_;
  std::vector<int64_t> exit_handlers_;   // atexit's, in registration order

  // setjmp and longjmp.  Every call in progress has a serial number
  // (frames_ holds those of the active calls, innermost last); a setjmp
  // records where its call stands, and longjmp unwinds to that call, which
  // runs the setjmp statement again with setjmp returning the value.
  struct JumpTarget {
    uint64_t frame;       // the call's serial number
    uint32_t stmt;        // the statement that called setjmp
    uint32_t sp, reg_top, depth;
    size_t loops, vla_blocks, frames;
  };
  struct LongJump {
    size_t target;
    int64_t value;
  };
  std::vector<JumpTarget> jump_targets_;
  std::vector<uint64_t> frames_;
  uint64_t frame_serial_ = 0;
  uint64_t frame_ = 0;
  std::optional<int64_t> setjmp_result_;   // the next setjmp returns this
  // Storage of variable-length arrays below the frames of the calls in
  // progress: the allocating node and the stack top before it, innermost
  // last.  A call releases its own at return.
  struct VlaBlock {
    const CNode *site;
    uint32_t sp_before;
  };
  std::vector<VlaBlock> vla_blocks_;
  size_t vla_frame_ = 0;   // the current call's first entry

  // Where the run is, for messages.
  const Function *current_fun_ = nullptr;
  const CStmt *current_stmt_ = nullptr;
  SrcPos init_pos_;
  uint32_t depth_ = 0;
  uint64_t steps_ = 0;
  uint64_t branches_ = 0;
  uint64_t extra_loads_ = 0, extra_stores_ = 0;   // copies of run-time size

  // ---- loading (load.cpp)
  void load();
  uint32_t allocate(uint32_t units, uint8_t shadow);
  void layout_globals();
  void run_initializers();
  uint32_t string_address(const NODE *scon);
  void setup_arguments(Function &entry, std::vector<Val> &args);
  std::unordered_map<const NODE *, uint32_t> strings_;

  // ---- evaluation (eval.cpp)
  int64_t ival(CNode *c);
  double fval(CNode *c);
  void exec(CNode *c);   // evaluates for effect, whatever its class
  Val value(CNode *c) {
    Val v;
    if (c->l.cls == VC_FLOAT)
      v.d = fval(c);
    else
      v.i = ival(c);
    return v;
  }
  Val call(CNode *c);
  Val invoke(int function, const std::vector<CNode *> &arg_nodes, std::vector<Val> &args,
             const Layout &result);
  Val execute(Function &f, std::vector<CNode *> const &arg_nodes, std::vector<Val> &args);
  // The callee a pointer value designates: sets `function` or `builtin`,
  // reports anything else.
  void resolve_callee(int64_t p, int &function, int &builtin);
  // Calls the function or runtime function at address `p` with argument
  // values held as `layouts` say, for the runtime's callbacks (qsort,
  // bsearch); the result is converted to `result`.
  Val call_address(int64_t p, const std::vector<Val> &args, const std::vector<Layout> &layouts,
                   const Layout &result);
  // Lays out the arguments from `first` on in a fresh variadic area below
  // sp_ and returns its address (an empty area when there are none).
  uint32_t vla_alloc(const CNode *site, int64_t units);
  uint32_t push_variadic_area(const std::vector<CNode *> &arg_nodes, const std::vector<Val> &args,
                              size_t first);

  int64_t load_int(uint32_t addr, const Layout &l, bool chk);
  void store_int(uint32_t addr, const Layout &l, int64_t v, bool chk);
  double load_float(uint32_t addr, const Layout &l, bool chk);
  void store_float(uint32_t addr, const Layout &l, double v, bool chk);
  void check(int64_t addr, uint32_t units, bool write);
  void copy_units(uint32_t dst, uint32_t src, uint32_t units, bool chk);
  void copy_string(uint32_t dst, uint32_t src, uint32_t limit = UINT32_MAX);
  uint32_t lvalue_address(CNode *c);
  int64_t read_lvalue(CNode *c, uint32_t addr);
  void write_lvalue(CNode *c, uint32_t addr, int64_t v);
  double read_lvalue_f(CNode *c, uint32_t addr);
  void write_lvalue_f(CNode *c, uint32_t addr, double v);
  int64_t int_binary(uint8_t x, const Layout &l, int64_t a, int64_t b);
  double float_binary(uint8_t x, bool single, double a, double b);
  uint32_t complex_op(CNode *c);
  uint32_t vector_op(CNode *c);
  uint32_t scratch(const CNode *c) const { return c->at_global ? c->at : fp_ + c->at; }

  // ---- runtime (runtime.cpp)
  Val builtin(int id, const std::vector<CNode *> &arg_nodes, std::vector<Val> &args);
  std::string read_string(uint32_t addr, size_t limit = SIZE_MAX);
  uint32_t find_unit(uint32_t s, uint16_t c, uint32_t n, bool last);
  int64_t compare_units(uint32_t a, uint32_t b, uint32_t n, bool units);
  uint32_t span(uint32_t s, uint32_t set, bool in_set);
  Val string_token(uint32_t s, uint32_t delimiters);
  uint32_t parse_float(uint32_t s, bool single, double &v);
  // The text a printf format gives with its arguments; `fn` names the
  // caller in messages.
  std::string format(const char *fn, uint32_t fmt, FormatArgs &args);
  int64_t format_int(const char *fn, FormatArgs &args, unsigned width, bool sgn);
  double format_float(const char *fn, FormatArgs &args, bool long_double);
  int64_t format_pointer(const char *fn, FormatArgs &args);
  // Writes text to the stream a FILE pointer value designates.
  void write_stream(const char *fn, int64_t stream, const std::string &text);
  // Stores text, cut to limit - 1 characters, and a terminator at dst, one
  // character per unit (nothing when limit is 0).
  void store_text(uint32_t dst, const std::string &text, uint64_t limit);
  int64_t printf_family(int id, const std::vector<CNode *> &arg_nodes, std::vector<Val> &args);
  int64_t scan_family(int id, const std::vector<CNode *> &arg_nodes, std::vector<Val> &args);
  Val read_input(int id, const std::vector<CNode *> &arg_nodes, std::vector<Val> &args);
  void run_exit_handlers();
  int64_t do_setjmp(uint32_t env);
  [[noreturn]] void do_longjmp(uint32_t env, int64_t value);
  int64_t parse_integer(int id, const std::vector<CNode *> &arg_nodes, std::vector<Val> &args);
  Val sort_or_search(int id, const std::vector<CNode *> &arg_nodes, std::vector<Val> &args);
  uint32_t heap_alloc(uint64_t units, bool zero);
  void heap_free(uint32_t addr);

  [[noreturn]] void fail(const std::string &message, int code = kExitRuntimeError);
  std::string where() const;
};

// Shadow bits of a memory unit.
enum : uint8_t {
  SH_OBJECT = 1,     // belongs to an object
  SH_INIT = 2,       // written (or zero-initialized)
  SH_READONLY = 4,   // string constants
};

// The runtime functions by name; -1 when `name` is not one.
int builtin_id(const std::string &name);

// How values of `t` are held.
Layout layout_of(const TYPE *t);

// v cut to the layout's width, sign- or zero-extended into 64 bits.
inline int64_t wrap(int64_t v, const Layout &l) {
  unsigned sh = 64u - l.width;
  uint64_t u = static_cast<uint64_t>(v) << sh;
  return l.sgn ? static_cast<int64_t>(u) >> sh : static_cast<int64_t>(u >> sh);
}

} // namespace zor::run
