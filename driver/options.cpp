// driver/options.cpp - the option table, the option handlers and the
// level / threshold / speed queries.
#include "driver/options.h"

#include <climits>
#include <cstring>

#include "diag/diag.h"
#include "driver/switches.h"
#include "ir/funinfo.h"
#include "ir/node.h"
#include "ir/symtab.h"

namespace zor {

OptionVars option_vars;

namespace {

constexpr long kMaxInt = INT32_MAX;

const OptionChoice kLevelChoices[] = {
    {"0", 0}, {"1", 1}, {"2", 2}, {"3", 3}, {"4", 4}, {"off", 0}, {nullptr, 0}};
const OptionChoice kGoalChoices[] = {
    {"0", 0}, {"1", 1}, {"2", 2}, {"3", 3}, {"4", 4}, {"5", 5}, {nullptr, 0}};
const OptionChoice kFpModeChoices[] = {{"strict", 0}, {"fast", 1}, {nullptr, 0}};
const OptionChoice kVectorChoices[] = {{"none", 0}, {"simd", 1}, {nullptr, 0}};
const OptionChoice kAdviceChoices[] = {
    {"off", 0}, {"brief", 1}, {"full", 2}, {"all", 2, true}, {nullptr, 0}};
const OptionChoice kAliasChoices[] = {{"typed", 0}, {"conservative", 1}, {nullptr, 0}};
const OptionChoice kTopicChoices[] = {{"loops", ADV_LOOPS},   {"alias", ADV_ALIAS},
                                      {"vector", ADV_VECTOR}, {"inline", ADV_INLINE},
                                      {"globals", ADV_GLOBALS}, {nullptr, 0}};

// Shorthands for the table rows.
constexpr OptionDesc flag(const char *name, const char *help, int pair = -1) {
  return {name, nullptr, OK_NONE, nullptr, 0, 0, nullptr, false, pair, help};
}
constexpr OptionDesc number(const char *name, const char *short_name, const char *param,
                            long min, long max, const char *help) {
  return {name, short_name, OK_NUMBER, param, min, max, nullptr, false, -1, help};
}
constexpr OptionDesc text(const char *name, const char *param, const char *help) {
  return {name, nullptr, OK_STRING, param, 0, 0, nullptr, false, -1, help};
}
constexpr OptionDesc text_list(const char *name, const char *param, const char *help) {
  return {name, nullptr, OK_STRING_LIST, param, 0, 0, nullptr, false, -1, help};
}
constexpr OptionDesc choice(const char *name, const char *short_name, const char *param,
                            const OptionChoice *choices, bool numbers_pass, const char *help) {
  return {name, short_name, OK_ENUMERATED, param, 0, 0, choices, numbers_pass, -1, help};
}

} // namespace

const OptionDesc option_table[kOptionCount] = {
    choice("opt_level", "o", "LEVEL", kLevelChoices, true,
           "Optimization level 0 to 4 (\"off\" is 0; default 1)"),
    choice("fp_mode", nullptr, "MODE", kFpModeChoices, false,
           "Floating-point folding: strict, or fast (NaNs and signed zeros ignored)"),
    number("inline_threshold", "i", "SIZE", 0, kMaxInt,
           "Size below which functions are inlined automatically"),
    choice("size_speed_goal", nullptr, "GOAL", kGoalChoices, true,
           "Code size versus speed, 0 (smallest) to 5 (fastest; default 4)"),
    number("debug_output", "d", "LEVEL", 0, kMaxInt,
           "Write the debug log to <input>.odb at this trace level"),
    number("info", nullptr, "LEVEL", 0, kMaxInt,
           "Write the information file at this level (level 3 or more, or with -d)"),
    text("info_file", "NAME", "Name of the information file (default <input>.nfo)"),
    text_list("debug_switches", "LIST", "Debug switches: name[=value],..."),
    text_list("disable_switches", "LIST", "Disable switches: name[=value],..."),
    text_list("enable_switches", "LIST", "Enable switches: name[=value],..."),
    text("pass_order", "ORDER", "Run the passes with these step numbers, or \"random\""),
    choice("vector_target", nullptr, "TARGET", kVectorChoices, false,
           "Vectorize loops for this target: none or simd"),
    flag("volatile_lvalues", "Treat every non-automatic lvalue as volatile"),
    text_list("debug_categories", "LIST", "Debug categories 0 to 9 to log (with -d)"),
    flag("dump_options", "Print the file-level options and stop"),
    flag("help", "Print this help and stop"),
    number("program_mode", "op", "MODE", 0, 3,
           "Program-level mode 0 to 3 (whole-program modes need level 3)"),
    number("inline_mode", nullptr, "MODE", 0, 3, "Inliner mode 0 to 3"),
    flag("call_graph_gdl", "Write the call graph in GDL form to <input>.ocg"),
    flag("lir", "Run the low-level SSA form passes early in the pipeline"),
    flag("no_wrap_diagnostics", "Do not wrap diagnostics to the console width"),
    flag("isp2char", "Mark conversions to pointer-to-char on word-addressed char targets"),
    flag("no_profile_branch", "Write no profile-counter branch at function entry"),
    number("profile_entry_count", nullptr, "COUNT", 0, UINT32_MAX,
           "Profile entry count of the functions of this option set"),
    number("inline_recursion_limit", nullptr, "DEPTH", 0, kMaxInt,
           "Deepest nesting of inlined calls (default 10)"),
    flag("inline_single_site", "Inline functions that have a single call site"),
    flag("no_inline", "Inline only functions with the always-inline pragma"),
    flag("no_interprocedural_cp", "Skip interprocedural constant propagation"),
    flag("const_aggregates", "Let unmodified aggregate globals become constant"),
    flag("restrict_pointer_loads", "Do not reuse loads through pointer variables"),
    flag("fp_reassociate", "Allow floating-point additions to be reassociated",
         OPT_NO_FP_REASSOCIATE),
    flag("no_fp_reassociate", "Keep the order of floating-point additions (default)",
         OPT_FP_REASSOCIATE),
    flag("ignore_file_options", "Ignore the option sets stored in the input file"),
    flag("trace_options", "Log every option change on standard output"),
    number("unroll_size_limit", nullptr, "SIZE", 0, kMaxInt,
           "Largest loop body size to unroll (default 195)"),
    choice("advice_level", nullptr, "LEVEL", kAdviceChoices, false,
           "Optimization advice: off, brief or full (default full)"),
    choice("alias_model", nullptr, "MODEL", kAliasChoices, false,
           "Pointer aliasing: typed (default) or conservative"),
    {"reserved_registers", nullptr, OK_HEXNUM, "MASK", 0, 0xFFFF, nullptr, false, -1,
     "Mask of coprocessor registers the register allocator leaves alone"},
    {"simd_widths", nullptr, OK_NUMBER_LIST, "LIST", 1, 64, nullptr, false, -1,
     "Vector widths the vectorizer may use (default all)"},
    {"advice_topics", nullptr, OK_ONEOF_LIST, "LIST", 0, 0, kTopicChoices, false, -1,
     "Advice topics: loops,alias,vector,inline,globals (default all)"},
    flag("display_error_number", "Show message numbers in diagnostics"),
    flag("remarks", "Show remarks"),
    flag("no_warnings", "Do not show warnings"),
    number("error_limit", nullptr, "COUNT", 1, kMaxInt,
           "Stop after this many errors (default 100)"),
    flag("cpp", "The program is C++: demangle names in messages and reports"),
    flag("exceptions", "The program uses C++ exception handling"),
    flag("strict_ansi", "Strict ISO C semantics"),
    flag("unsigned_chars", "Plain char is unsigned"),
    flag("no_function_reports", "Leave the function reports out of the information file"),
    flag("no_inline_report", "Leave the inlining summary out of the information file"),
    flag("no_vector_report", "Leave the vectorization summary out of the information file"),
    text("source_name", "NAME", "Source file name for reports when the I-code has none"),
    flag("no_tail_duplication", "Form superblocks without duplicating tails"),
    number("explode_struct_limit", nullptr, "COUNT", 0, kMaxInt,
           "Largest member count of a local structure to split (default 16)"),
    flag("no_array_stack_sharing", "Keep local arrays out of stack sharing"),
    number("switch_table_density", nullptr, "PERCENT", 0, 100,
           "Lowest case density of a switch turned into a table (default 50)"),
    flag("no_register_globals", "Keep global variables in memory"),
    flag("no_loop_rotation", "Do not rotate loops when writing functions"),
    flag("debug_info", "Keep source positions exact for debugging"),
    flag("stats", "Print pass statistics into the debug log"),
    flag("time_passes", "Print the run time of every pass into the debug log"),
    flag("verify", "Check the trees and the flow graph after every pass"),
    flag("verbose", "Print each function's name as it is optimized"),
    text_list("entry_functions", "LIST", "Further entry functions for the program-level modes"),
    text_list("extern_functions", "LIST", "Functions called from outside the program"),
    text_list("no_inline_functions", "LIST", "Functions never to inline"),
    text_list("keep_functions", "LIST", "Functions never to suppress after inlining"),
    text("profile_file", "NAME", "Profile data file the front end used"),
    number("report_width", nullptr, "COLUMNS", 40, 1000,
           "Line width of the information-file reports (default 79)"),
    flag("preserve_fp_exceptions", "Never fold floating-point operations that may trap"),
    text("producer_version", "TEXT", "Version text of the front end, for the reports"),
};

namespace {

std::vector<std::string> split_items(const char *text) {
  std::vector<std::string> items;
  std::string s(text ? text : "");
  size_t start = 0;
  while (start <= s.size()) {
    size_t comma = s.find(',', start);
    if (comma == std::string::npos)
      comma = s.size();
    if (comma > start)
      items.push_back(s.substr(start, comma - start));
    start = comma + 1;
  }
  return items;
}

void append_items(std::vector<std::string> &to, const char *text) {
  for (std::string &item : split_items(text))
    to.push_back(std::move(item));
}

void check_level(long v) {
  if (v < 0 || v > 4) {
    std::fprintf(stderr, "--opt_level given invalid value: %ld\n", v);
    terminate_abnormally(nullptr);
  }
}

void check_goal(long v) {
  if (v < 0 || v > 5) {
    std::fprintf(stderr, "--size_speed_goal given invalid value:  %ld\n", v);
    terminate_abnormally(nullptr);
  }
}

void switch_list(int id, const char *kind, const char *text) {
  std::string refused;
  if (!sw::parse_switch_list(kind, text, &refused)) {
    DIAG::optgen_bad_argument(DIAG_HERE, option_display_name(id).c_str(),
                              "name[=value] items whose key stays below 512 characters")
        .emit();
    std::exit(1);
  }
}

// The handler of one option given with `h`.
void apply_option(const option_set &set, const option_set::History &h) {
  OptionVars &v = option_vars;
  const char *arg = h.has_arg ? h.arg.c_str() : nullptr;
  switch (static_cast<OptionId>(h.id)) {
  case OPT_LEVEL: check_level(h.number); return;
  case OPT_FP_MODE:
    v.fp_ignore_nans = v.fp_ignore_signed_zeros = h.number == 1;
    return;
  case OPT_INLINE_THRESHOLD: return;   // read through auto_inline_threshold()
  case OPT_SIZE_SPEED_GOAL: check_goal(h.number); return;
  case OPT_DEBUG_OUTPUT:
  case OPT_INFO:
  case OPT_INFO_FILE:
  case OPT_PASS_ORDER:
  case OPT_DUMP_OPTIONS:
  case OPT_HELP:
  case OPT_IGNORE_FILE_OPTIONS:
  case OPT_TRACE_OPTIONS:
  case OPT_PROFILE_ENTRY_COUNT:
    // Acted on by the command-line set-up and the pass list, or read per
    // function from its option set.
    return;
  case OPT_DEBUG_SWITCHES: switch_list(h.id, "debug", arg); return;
  case OPT_DISABLE_SWITCHES: switch_list(h.id, "disable", arg); return;
  case OPT_ENABLE_SWITCHES: switch_list(h.id, "enable", arg); return;
  case OPT_VECTOR_TARGET: v.vector_target_simd = h.number == 1; return;
  case OPT_VOLATILE_LVALUES: v.all_lvalues_volatile = true; return;
  case OPT_DEBUG_CATEGORIES:
    for (const std::string &item : split_items(arg))
      if (item[0] >= '0' && item[0] <= '9')
        v.debug_category[item[0] - '0'] = true;
    return;
  case OPT_PROGRAM_MODE: v.program_mode = static_cast<int>(h.number); return;
  case OPT_INLINE_MODE: v.inline_mode = static_cast<int>(h.number); return;
  case OPT_CALL_GRAPH_GDL: v.call_graph_gdl = true; return;
  case OPT_LIR: v.lir_form = true; return;
  case OPT_NO_WRAP_DIAGNOSTICS: diag_settings().wrap = false; return;
  case OPT_ISP2CHAR: isp2char_enabled = true; return;
  case OPT_NO_PROFILE_BRANCH: v.no_profile_branch = true; return;
  case OPT_INLINE_RECURSION_LIMIT: v.inline_recursion_limit = static_cast<int>(h.number); return;
  case OPT_INLINE_SINGLE_SITE: v.inline_single_site = true; return;
  case OPT_NO_INLINE: v.no_inline = true; return;
  case OPT_NO_INTERPROCEDURAL_CP: v.no_interprocedural_cp = true; return;
  case OPT_CONST_AGGREGATES: v.const_aggregates = true; return;
  case OPT_RESTRICT_POINTER_LOADS: v.restrict_pointer_loads = true; return;
  case OPT_FP_REASSOCIATE: v.fp_reassociate = true; return;
  case OPT_NO_FP_REASSOCIATE: v.fp_reassociate = false; return;
  case OPT_UNROLL_SIZE_LIMIT: v.unroll_size_limit = h.number; return;
  case OPT_ADVICE_LEVEL: v.advice_level = static_cast<int>(h.number); return;
  case OPT_ALIAS_MODEL: v.alias_model = static_cast<int>(h.number); return;
  case OPT_RESERVED_REGISTERS: v.reserved_registers = static_cast<uint32_t>(h.number); return;
  case OPT_SIMD_WIDTHS:
    // The set holds every item already converted.
    v.simd_widths.clear();
    for (size_t i = 0; i < set.arg_count(OPT_SIMD_WIDTHS); ++i)
      v.simd_widths.push_back(set.value(OPT_SIMD_WIDTHS, i));
    return;
  case OPT_ADVICE_TOPICS: {
    // Giving the option names the topics wanted; the default is all.
    if (v.advice_topics == ADV_ALL)
      v.advice_topics = 0;
    for (const std::string &item : split_items(arg))
      for (const OptionChoice *c = kTopicChoices; c->text; ++c)
        if (item == c->text)
          v.advice_topics |= static_cast<uint32_t>(c->value);
    return;
  }
  case OPT_DISPLAY_ERROR_NUMBER: diag_settings().show_numbers = true; return;
  case OPT_REMARKS: diag_settings().show_remarks = true; return;
  case OPT_NO_WARNINGS: diag_settings().show_warnings = false; return;
  case OPT_ERROR_LIMIT: diag_settings().error_limit = static_cast<uint32_t>(h.number); return;
  case OPT_CPP: v.cpp = true; return;
  case OPT_EXCEPTIONS: v.exceptions = true; return;
  case OPT_STRICT_ANSI: v.strict_ansi = true; return;
  case OPT_UNSIGNED_CHARS: v.unsigned_chars = true; return;
  case OPT_NO_FUNCTION_REPORTS: v.no_function_reports = true; return;
  case OPT_NO_INLINE_REPORT: v.no_inline_report = true; return;
  case OPT_NO_VECTOR_REPORT: v.no_vector_report = true; return;
  case OPT_SOURCE_NAME: v.source_name = arg; return;
  case OPT_NO_TAIL_DUPLICATION: v.no_tail_duplication = true; return;
  case OPT_EXPLODE_STRUCT_LIMIT: v.explode_struct_limit = h.number; return;
  case OPT_NO_ARRAY_STACK_SHARING: v.no_array_stack_sharing = true; return;
  case OPT_SWITCH_TABLE_DENSITY: v.switch_table_density = h.number; return;
  case OPT_NO_REGISTER_GLOBALS: v.no_register_globals = true; return;
  case OPT_NO_LOOP_ROTATION: v.no_loop_rotation = true; return;
  case OPT_DEBUG_INFO: v.debug_info = true; return;
  case OPT_STATS: v.stats = true; return;
  case OPT_TIME_PASSES: v.time_passes = true; return;
  case OPT_VERIFY: v.verify = true; return;
  case OPT_VERBOSE: v.verbose = true; return;
  case OPT_ENTRY_FUNCTIONS: append_items(v.entry_functions, arg); return;
  case OPT_EXTERN_FUNCTIONS: append_items(v.extern_functions, arg); return;
  case OPT_NO_INLINE_FUNCTIONS: append_items(v.no_inline_functions, arg); return;
  case OPT_KEEP_FUNCTIONS: append_items(v.keep_functions, arg); return;
  case OPT_PROFILE_FILE: v.profile_file = arg; return;
  case OPT_REPORT_WIDTH: v.report_width = h.number; return;
  case OPT_PRESERVE_FP_EXCEPTIONS: v.preserve_fp_exceptions = true; return;
  case OPT_PRODUCER_VERSION: v.producer_version = arg; return;
  }
  DIAG::optgen_unhandled_option_handler(DIAG_HERE, static_cast<uint32_t>(h.id)).emit();
  std::exit(1);
}

} // namespace

void reset_option_variables() {
  option_vars = OptionVars();
  isp2char_enabled = false;
  const DIAG_SETTINGS defaults;
  DIAG_SETTINGS &d = diag_settings();
  d.wrap = defaults.wrap;
  d.show_numbers = defaults.show_numbers;
  d.show_remarks = defaults.show_remarks;
  d.show_warnings = defaults.show_warnings;
  d.error_limit = defaults.error_limit;
}

void apply_option_set(const option_set &set) {
  for (const option_set::History &h : set.history())
    apply_option(set, h);
}

void check_option_set(const option_set &set) {
  if (set.given(OPT_LEVEL))
    check_level(set.value(OPT_LEVEL));
  if (set.given(OPT_SIZE_SPEED_GOAL))
    check_goal(set.value(OPT_SIZE_SPEED_GOAL));
}

const option_set *current_option_set() {
  if (currfunc) {
    auto it = run.option_sets.find(currfunc->option_set_number);
    if (it != run.option_sets.end())
      return it->second.get();
  }
  return run.file_options;
}

int opt_level() {
  const option_set *s = current_option_set();
  return s && s->given(OPT_LEVEL) ? static_cast<int>(s->value(OPT_LEVEL)) : 1;
}

int auto_inline_threshold() {
  const option_set *s = current_option_set();
  if (s && s->given(OPT_INLINE_THRESHOLD))
    return static_cast<int>(s->value(OPT_INLINE_THRESHOLD));
  return opt_level() <= 1 ? 0 : 20;
}

int opt_for_speed() {
  const option_set *s = current_option_set();
  return s && s->given(OPT_SIZE_SPEED_GOAL) ? static_cast<int>(s->value(OPT_SIZE_SPEED_GOAL)) : 4;
}

void print_help(FILE *out, const char *tool_name) {
  const char *slash = std::strrchr(tool_name, '/');
  std::fprintf(out, "Usage: %s [-options] filename\n\n", slash ? slash + 1 : tool_name);
  std::fputs("This tool is designed to be invoked by the compiler.\n", out);
  std::fputs("\nOptions:\n", out);
  for (int id = 0; id < kOptionCount; ++id) {
    const OptionDesc &d = option_table[id];
    std::string spelled = option_display_name(id);
    if (d.param)
      spelled += std::string("=") + d.param;
    if (d.short_name) {
      spelled += std::string(", -") + d.short_name;
      if (d.param)
        spelled += std::string(" ") + d.param;
    }
    std::fprintf(out, "  %-38s %s\n", spelled.c_str(), d.help);
  }
}

} // namespace zor
