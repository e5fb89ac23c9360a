// tools/zrun/interp.h - the I-code interpreter behind zrun.
//
// An Interpreter executes a program the reader delivered (PROGRAM): it lays
// the globals out in a memory of 16-bit units, gives every call a frame on
// a stack above them and evaluates the statement trees directly.  Errors of
// the program stop the run with a RunError carrying zrun's exit code.
#pragma once

#include <cstdint>
#include <map>
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
constexpr int kExitRuntimeError = 3;
constexpr int kExitStepLimit = 4;
constexpr int kExitAbort = 134;

// Calls nested deeper than this are a stack overflow, whatever the frames'
// sizes (the interpreter itself recurses once per call).
constexpr uint32_t kMaxCallDepth = 20000;

// A run that cannot go on: the message (without the "zrun: error: " prefix
// and the location) and the exit code.
struct RunError : std::runtime_error {
  RunError(const std::string &message, int code)
      : std::runtime_error(message), exit_code(code) {}
  int exit_code;
};

// The program called exit (or returned from the entry function).
struct ProgramExit {
  int status;
};

struct RunOptions {
  std::string entry = "main";
  uint64_t max_steps = 1000000000;   // statements executed before exit 4
};

class Interpreter {
public:
  Interpreter(PROGRAM &program, RunOptions options);
  // Runs the entry function; returns the exit code of the process (the
  // entry's result or exit's value, low 8 bits).  Reports errors on
  // standard error and returns their codes.
  int run();

private:
  struct Frame;
  struct FunctionInfo {
    FUNINFO *fun = nullptr;
    std::unordered_map<uint32_t, size_t> labels;   // label -> statement index
    uint32_t frame_units = 0;
  };

  PROGRAM &program_;
  RunOptions options_;
  std::vector<uint16_t> memory_;
  uint32_t global_top_ = 16;       // units below 16 are the null page
  uint32_t sp_ = 0;
  uint64_t steps_ = 0;
  uint32_t depth_ = 0;             // calls in progress
  std::vector<int64_t> loop_counters_;

  // Symbol -> address of globals, statics and functions; symbol -> frame
  // offset of parameters and locals.
  std::unordered_map<const SYMTAB *, uint32_t> global_addr_;
  std::unordered_map<const SYMTAB *, uint32_t> local_offset_;
  std::unordered_map<const NODE *, uint32_t> strings_;
  std::map<std::string, FunctionInfo> functions_;   // defined functions by name
  std::unordered_map<uint32_t, const SYMTAB *> function_at_;   // address -> function
  std::map<std::string, const SYMTAB *> global_by_name_;

  // Where the run is, for messages.
  const FUNINFO *current_fun_ = nullptr;
  SrcPos current_pos_;
  uint32_t frame_base_ = 0;

  void layout_globals();
  void layout_strings(NODE *n);
  uint32_t allocate(uint32_t units);
  void run_initializer(const PROGRAM::Initializer &init);
  void prepare_function(FUNINFO *fun);

  int64_t call_function(const std::string &name, const SYMTAB *sym,
                        const std::vector<NODE *> &args, const std::vector<int64_t> &values,
                        TYPE *result);
  int64_t execute(FunctionInfo &fi, const std::vector<int64_t> &args);
  int64_t builtin(const std::string &name, const std::vector<NODE *> &args,
                  const std::vector<int64_t> &values);
  std::string read_string(uint32_t addr);
  int64_t do_printf(const std::vector<NODE *> &args, const std::vector<int64_t> &values);

  int64_t eval(NODE *n);
  uint32_t address(NODE *n);
  uint32_t symbol_address(const SYMTAB *sym);
  int64_t call(NODE *n);
  int64_t binary(uint32_t op, TYPE *type, int64_t a, int64_t b);
  bool compare(uint32_t op, NODE *l, int64_t a, int64_t b);

  int64_t load(uint32_t addr, TYPE *type);
  void store(uint32_t addr, TYPE *type, int64_t v);
  void check_access(uint32_t addr, uint32_t units);

  [[noreturn]] void fail(const std::string &message, int code = kExitRuntimeError);
  std::string where() const;
};

// Integer view of a type: width in bits and signedness (pointers are
// unsigned 16-bit values).
uint32_t value_width(const TYPE *t);
bool value_signed(const TYPE *t);
// v wrapped to the width of t, sign- or zero-extended into 64 bits.
int64_t wrap(int64_t v, const TYPE *t);

} // namespace zor::run
