// driver/option_set.h - one set of the tool's 71 options.
//
// An option set records, for every option of the option table
// (driver/options.h), how often it was set, how often it was touched, a flag
// byte and its arguments, plus the history of the options in the order they
// were given.  The command line makes one set; every option-set record of the
// input file makes another, whose own texts are followed by a replay of the
// command-line history, so that the command line comes last.
//
// Parsing reads an option word ("name", "name=arg", or the argument from the
// next command-line word), converts the argument by the option's kind and
// checks it.  A bad option or argument is reported through the option
// diagnostics (diag/diag.h) and ends the run with exit code 1.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "driver/run.h"

namespace zor {

// The plain allocator of the option code for its containers and texts.
template <class T> struct opt_allocator {
  using value_type = T;
  opt_allocator() = default;
  template <class U> opt_allocator(const opt_allocator<U> &) {}
  T *allocate(size_t n) { return static_cast<T *>(xmalloc(n * sizeof(T))); }
  void deallocate(T *p, size_t) { std::free(p); }
  template <class U> bool operator==(const opt_allocator<U> &) const { return true; }
};

using opt_string = std::basic_string<char, std::char_traits<char>, opt_allocator<char>>;
template <class T> using opt_vector = std::vector<T, opt_allocator<T>>;

enum OptionKind : uint8_t {
  OK_NONE,          // no argument
  OK_NUMBER,        // a number (signed when the minimum is negative)
  OK_HEXNUM,        // an unsigned number, shown in hexadecimal
  OK_STRING,        // a text
  OK_ENUMERATED,    // one of a fixed list of words
  OK_NUMBER_LIST,   // numbers separated by ","
  OK_STRING_LIST,   // texts separated by ","
  OK_ONEOF_LIST,    // words of a fixed list, separated by ","
};

struct OptionChoice {
  const char *text;   // null ends a choice list
  long value;
  bool deprecated = false;   // accepted with a warning, not listed
};

// One entry of the option table.
struct OptionDesc {
  const char *name;         // long name, written "--name"
  const char *short_name;   // or null: written "-x", the argument may follow directly
  OptionKind kind;
  const char *param;        // the argument's name in messages and help, or null
  long min;                 // range of numbers and number-list items
  long max;
  const OptionChoice *choices;   // enumerated and one-of-list kinds
  // Enumerated only: a number that is not one of the choices is stored for
  // the option's handler to judge instead of being refused here.
  bool numbers_pass;
  // With `pair`: the option that this one switches off (an on/off pair).
  int pair;
  const char *help;
};

constexpr int kOptionCount = 71;
extern const OptionDesc option_table[kOptionCount];

// Flag byte bits.
enum : uint8_t {
  OF_THIS_SOURCE = 1,   // set from the set's current source
  OF_REPLAYED = 2,      // last set by a replayed history
};

class option_set {
public:
  struct Arg {
    opt_string text;   // the argument as given (a list item for lists)
    long number = 0;   // numeric and choice kinds
  };
  struct History {
    int id;
    bool has_arg;
    opt_string arg;    // whole argument text as given
    long number;       // converted value (first item of a list)
  };
  struct State {
    uint32_t count = 0;     // 0 = not given; each set adds 1, clear makes 0
    uint32_t touches = 0;   // each set or clear adds 1
    uint8_t flags = 0;
    opt_vector<Arg> args;
  };

  explicit option_set(bool trace = false);
  option_set(const option_set &) = delete;
  option_set &operator=(const option_set &) = delete;

  // Source named in messages: "<internal>" until set.  A new source starts
  // a new conflict scope.
  void set_source(const char *name);
  const char *source() const { return source_.c_str(); }
  void set_trace(bool on) { trace_ = on; }
  bool trace() const { return trace_; }
  // Supplies the following command-line word as an option's argument, or
  // null at the end.
  void set_next_argument(std::function<const char *()> next) { next_arg_ = std::move(next); }

  // Parses one option word, without its leading "-".
  void parse(const char *word);
  // Replays the history of `other` into this set.
  void copy_from(const option_set &other);

  // Direct changes by the driver.  A set enters the history like a parsed
  // option; a clear does not (it only matters to the set it is made on).
  void set_flag(int id);
  void set_number(int id, long value);
  void clear(int id);

  bool given(int id) const { return states_[id].count > 0; }
  const State &state(int id) const { return states_[id]; }
  size_t arg_count(int id) const { return states_[id].args.size(); }
  // Numeric and choice kinds: the stored number; text kinds: the text as a
  // signed number; 0 when not given or the index is out of range.
  long value(int id, size_t index = 0) const;
  // The argument text, or null.
  const char *text(int id, size_t index = 0) const;
  const opt_vector<History> &history() const { return history_; }

  // Every option, seen or not, with its state, kind and arguments.
  void dump(FILE *out) const;

private:
  void apply(int id, const char *spelled, const char *arg);
  void set_state(int id);
  long store_arg(int id, const char *spelled, const char *item, bool append);
  // The argument's number (0 for texts); a bad argument ends the run.
  long convert(int id, const char *spelled, const char *item);
  bool parse_number(const char *text, bool is_signed, long *out) const;
  void check_range(int id, const char *spelled, const char *text, long v) const;
  void add_history(int id, const char *arg, long number);

  State states_[kOptionCount];
  opt_vector<History> history_;
  opt_string source_;
  bool trace_ = false;
  bool replaying_ = false;
  std::function<const char *()> next_arg_;
};

// The option's spelling for messages: "--name".
std::string option_display_name(int id);
// Index of a long or short option name, or -1.
int find_option(const char *name, bool long_name, bool ignore_case);
// The choices of an enumerated or one-of-list option as "a,b,c".
std::string option_choice_list(int id);

} // namespace zor
