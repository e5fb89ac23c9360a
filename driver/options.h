// driver/options.h - the tool's options and the process-wide option variables.
//
// The option table (71 entries, numbered by OptionId) fixes every option's
// spelling, argument kind, range or choices and help text.  The file-level
// option set is applied once at set-up: each option's handler sets the
// process-wide variables below, which the passes read.  The level, the
// auto-inline threshold and the speed preference are not variables: they are
// read from the current function's option set (or the file-level set) each
// time they are asked for, because every function may carry its own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/option_set.h"

namespace zor {

enum OptionId : int {
  OPT_LEVEL = 0,               // -o N, -oN, --opt_level=N: 0..4 or "off"
  OPT_FP_MODE = 1,             // --fp_mode=strict|fast ("fast" sets the NaN / signed-zero pair)
  OPT_INLINE_THRESHOLD = 2,    // -i N, --inline_threshold=N
  OPT_SIZE_SPEED_GOAL = 3,     // --size_speed_goal=0..5
  OPT_DEBUG_OUTPUT = 4,        // -d N, --debug_output=N
  OPT_INFO = 5,                // --info=N
  OPT_INFO_FILE = 6,           // --info_file=NAME
  OPT_DEBUG_SWITCHES = 7,      // --debug_switches=LIST
  OPT_DISABLE_SWITCHES = 8,    // --disable_switches=LIST
  OPT_ENABLE_SWITCHES = 9,     // --enable_switches=LIST
  OPT_PASS_ORDER = 10,         // --pass_order=TEXT
  OPT_VECTOR_TARGET = 11,      // --vector_target=none|simd
  OPT_VOLATILE_LVALUES = 12,   // --volatile_lvalues
  OPT_DEBUG_CATEGORIES = 13,   // --debug_categories=LIST
  OPT_DUMP_OPTIONS = 14,       // --dump_options
  OPT_HELP = 15,               // --help
  OPT_PROGRAM_MODE = 16,       // -op N, -opN, --program_mode=N: 0..3
  OPT_INLINE_MODE = 17,        // --inline_mode=0..3
  OPT_CALL_GRAPH_GDL = 18,     // --call_graph_gdl
  OPT_LIR = 19,                // --lir: the low-level SSA form in "early LIR"
  OPT_NO_WRAP_DIAGNOSTICS = 20,
  OPT_ISP2CHAR = 21,
  OPT_NO_PROFILE_BRANCH = 22,
  OPT_PROFILE_ENTRY_COUNT = 23,
  OPT_INLINE_RECURSION_LIMIT = 24,
  OPT_INLINE_SINGLE_SITE = 25,
  OPT_NO_INLINE = 26,
  OPT_NO_INTERPROCEDURAL_CP = 27,
  OPT_CONST_AGGREGATES = 28,
  OPT_RESTRICT_POINTER_LOADS = 29,
  OPT_FP_REASSOCIATE = 30,
  OPT_NO_FP_REASSOCIATE = 31,
  OPT_IGNORE_FILE_OPTIONS = 32,
  OPT_TRACE_OPTIONS = 33,
  OPT_UNROLL_SIZE_LIMIT = 34,
  OPT_ADVICE_LEVEL = 35,
  OPT_ALIAS_MODEL = 36,
  OPT_RESERVED_REGISTERS = 37,
  OPT_SIMD_WIDTHS = 38,
  OPT_ADVICE_TOPICS = 39,
  OPT_DISPLAY_ERROR_NUMBER = 40,
  OPT_REMARKS = 41,
  OPT_NO_WARNINGS = 42,
  OPT_ERROR_LIMIT = 43,
  OPT_CPP = 44,
  OPT_EXCEPTIONS = 45,
  OPT_STRICT_ANSI = 46,
  OPT_UNSIGNED_CHARS = 47,
  OPT_NO_FUNCTION_REPORTS = 48,
  OPT_NO_INLINE_REPORT = 49,
  OPT_NO_VECTOR_REPORT = 50,
  OPT_SOURCE_NAME = 51,
  OPT_NO_TAIL_DUPLICATION = 52,
  OPT_EXPLODE_STRUCT_LIMIT = 53,
  OPT_NO_ARRAY_STACK_SHARING = 54,
  OPT_SWITCH_TABLE_DENSITY = 55,
  OPT_NO_REGISTER_GLOBALS = 56,
  OPT_NO_LOOP_ROTATION = 57,
  OPT_DEBUG_INFO = 58,
  OPT_STATS = 59,
  OPT_TIME_PASSES = 60,
  OPT_VERIFY = 61,
  OPT_VERBOSE = 62,
  OPT_ENTRY_FUNCTIONS = 63,
  OPT_EXTERN_FUNCTIONS = 64,
  OPT_NO_INLINE_FUNCTIONS = 65,
  OPT_KEEP_FUNCTIONS = 66,
  OPT_PROFILE_FILE = 67,
  OPT_REPORT_WIDTH = 68,
  OPT_PRESERVE_FP_EXCEPTIONS = 69,
  OPT_PRODUCER_VERSION = 70,
};
static_assert(OPT_PRODUCER_VERSION + 1 == kOptionCount);

// Advice topics of --advice_topics (bit per topic).
enum : uint32_t {
  ADV_LOOPS = 1, ADV_ALIAS = 2, ADV_VECTOR = 4, ADV_INLINE = 8, ADV_GLOBALS = 16,
  ADV_ALL = 31,
};

// The process-wide option variables, with their defaults.  Reset and set
// from the file-level option set at set-up; read-only afterwards.
struct OptionVars {
  // --fp_mode=fast: the pair of float-folding relaxations.
  bool fp_ignore_nans = false;
  bool fp_ignore_signed_zeros = false;
  // --vector_target=simd; SIMD vectorization itself is `simd_active`.
  bool vector_target_simd = false;
  bool simd_active = false;
  bool all_lvalues_volatile = false;
  bool debug_category[10] = {};   // only while debug output is on
  int program_mode = 0;           // 0..3; the call graph forces 0 below level 3
  int inline_mode = 0;            // 0..3
  bool call_graph_gdl = false;    // write the call graph to "<stem>.ocg"
  bool lir_form = false;          // "early LIR" with its SSA pass
  bool no_profile_branch = false; // writer: no profile-counter branch at function entry
  int inline_recursion_limit = 10;
  bool inline_single_site = false;
  bool no_inline = false;         // only always-inline functions are inlined
  bool no_interprocedural_cp = false;   // "do_interprocedural_propagation" does nothing
  bool const_aggregates = false;  // class/struct/union globals may count as constant
  bool restrict_pointer_loads = false;
  bool fp_reassociate = false;    // --fp_reassociate / --no_fp_reassociate
  bool ignore_file_options = false;
  long unroll_size_limit = 195;
  int advice_level = 2;           // off, brief, full
  int alias_model = 0;            // typed, conservative
  uint32_t reserved_registers = 0;
  std::vector<long> simd_widths;  // empty: every width of the target
  uint32_t advice_topics = ADV_ALL;
  bool cpp = false;
  bool exceptions = false;
  bool strict_ansi = false;
  bool unsigned_chars = false;
  bool no_function_reports = false;
  bool no_inline_report = false;
  bool no_vector_report = false;
  std::string source_name;
  bool no_tail_duplication = false;
  long explode_struct_limit = 16;
  bool no_array_stack_sharing = false;
  long switch_table_density = 50;
  bool no_register_globals = false;
  bool no_loop_rotation = false;
  bool debug_info = false;
  bool stats = false;
  bool time_passes = false;
  bool verify = false;
  bool verbose = false;
  std::vector<std::string> entry_functions;
  std::vector<std::string> extern_functions;
  std::vector<std::string> no_inline_functions;
  std::vector<std::string> keep_functions;
  std::string profile_file;
  long report_width = 79;
  bool preserve_fp_exceptions = false;
  std::string producer_version;
};

extern OptionVars option_vars;

// Back to the defaults above (and the diagnostic settings the options
// steer back to theirs).
void reset_option_variables();

// Runs the handler of every option of `set` in the order given.  Checks the
// level and the size/speed goal: a value outside their choices ends the run
// through terminate_abnormally.  Switch-list items go to the switch table.
void apply_option_set(const option_set &set);

// Checks the level and size/speed goal of a set without applying it (the
// per-function sets).
void check_option_set(const option_set &set);

// The option set in force: the current function's (by its option-set
// number) when there is one, else the file-level set; null before set-up.
const option_set *current_option_set();

// Optimization level 0..4 (default 1).
int opt_level();
// Auto-inline size threshold: the -i value, else 0 at levels 0 and 1 and 20
// from level 2 on.
int auto_inline_threshold();
// Speed preference 0 (smallest code) .. 5 (fastest), default 4.
int opt_for_speed();

// "Usage: ..." and the fixed line, then every option with its help text.
void print_help(FILE *out, const char *tool_name);

} // namespace zor
