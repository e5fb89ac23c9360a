// driver/option_set.cpp - parsing, checking and tracing of option sets.
//
// Every change of a set goes through set_state / clear / store_arg /
// add_history, which are the places that log under the trace channel.
// Argument errors end the run here, right after their diagnostic.
#include "driver/option_set.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>

#include "diag/diag.h"

namespace zor {

namespace {

const char kTraceChannel[] = "opt option debug";

[[noreturn]] void option_error(DIAGNOSTIC &&diag) {
  diag.emit();
  std::exit(1);
}

bool is_list(OptionKind k) {
  return k == OK_NUMBER_LIST || k == OK_STRING_LIST || k == OK_ONEOF_LIST;
}

bool is_text(OptionKind k) { return k == OK_STRING || k == OK_STRING_LIST; }

// Numbers of a non-negative range are read and shown as unsigned.
bool is_unsigned(const OptionDesc &d) { return d.kind == OK_HEXNUM || d.min >= 0; }

bool all_of(const char *s, size_t n, int (*pred)(int)) {
  for (size_t i = 0; i < n; ++i)
    if (!pred(static_cast<unsigned char>(s[i])))
      return false;
  return true;
}

int is_octal(int c) { return c >= '0' && c <= '7'; }

int digit_value(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return 99;
}

// Reports an argument that is not a number or not in the option's range.
[[noreturn]] void report_out_of_range(const char *spelled, const char *text, const OptionDesc &d) {
  if (d.min != 0 || d.max != INT32_MAX)
    option_error(DIAG::optgen_arg_out_of_range2(DIAG_HERE, spelled, text,
                                                static_cast<uint32_t>(d.min),
                                                static_cast<uint32_t>(d.max)));
  if (std::strchr(text, '-'))
    option_error(DIAG::optgen_arg_out_of_range_non_neg(DIAG_HERE, spelled, text));
  option_error(DIAG::optgen_arg_out_of_range(DIAG_HERE, spelled, text));
}

bool same_name(const char *a, const char *b, size_t n, bool ignore_case) {
  return ignore_case ? strncasecmp(a, b, n) == 0 : std::strncmp(a, b, n) == 0;
}

} // namespace

std::string option_display_name(int id) {
  return std::string("--") + option_table[id].name;
}

int find_option(const char *name, bool long_name, bool ignore_case) {
  for (int id = 0; id < kOptionCount; ++id) {
    const char *n = long_name ? option_table[id].name : option_table[id].short_name;
    if (n && (ignore_case ? strcasecmp(n, name) : std::strcmp(n, name)) == 0)
      return id;
  }
  return -1;
}

std::string option_choice_list(int id) {
  std::string list;
  for (const OptionChoice *c = option_table[id].choices; c && c->text; ++c) {
    if (c->deprecated)
      continue;
    if (!list.empty())
      list += ',';
    list += c->text;
  }
  return list;
}

option_set::option_set(bool trace) : source_("<internal>"), trace_(trace) {}

void option_set::set_source(const char *name) {
  source_ = name;
  for (State &s : states_)
    s.flags &= static_cast<uint8_t>(~OF_THIS_SOURCE);
}

void option_set::parse(const char *word) {
  const char *eq = std::strchr(word, '=');
  std::string name = eq ? std::string(word, static_cast<size_t>(eq - word)) : std::string(word);
  const char *arg = eq ? eq + 1 : nullptr;
  int id = -1;
  std::string spelled;

  if (name[0] == '-') {
    // "--name": the word after its first "-".
    id = find_option(name.c_str() + 1, true, false);
    if (id < 0) {
      id = find_option(name.c_str() + 1, true, true);
      if (id >= 0 && !replaying_)
        DIAG::optgen_case_insensitivity_deprecated(DIAG_HERE, ("-" + name).c_str(),
                                                   option_display_name(id).c_str())
            .emit();
    }
    spelled = "-" + name;
  } else {
    // "-x", "-x arg", "-x=arg" or "-xarg"; the longest short name wins, and
    // the exact spelling before a different case.
    size_t best = 0;
    for (int pass = 0; pass < 2 && id < 0; ++pass) {
      bool ignore_case = pass == 1;
      for (int i = 0; i < kOptionCount; ++i) {
        const char *s = option_table[i].short_name;
        if (!s)
          continue;
        size_t n = std::strlen(s);
        bool fits = eq ? n == name.size() : n <= name.size();
        if (fits && n > best && same_name(s, name.c_str(), n, ignore_case)) {
          id = i;
          best = n;
        }
      }
      if (id >= 0 && ignore_case && !replaying_)
        DIAG::optgen_case_insensitivity_deprecated(
            DIAG_HERE, ("-" + name.substr(0, best)).c_str(),
            (std::string("-") + option_table[id].short_name).c_str())
            .emit();
    }
    if (id >= 0) {
      spelled = std::string("-") + option_table[id].short_name;
      if (!eq && best < name.size())
        arg = word + best;
    }
  }
  if (id < 0) {
    std::fprintf(stderr, "\n>>>> OPTIMIZER ERROR: Unknown option: -%s\n", word);
    std::exit(1);
  }
  if (trace_)
    std::printf("%s: Parsed option id %s/%d\n", kTraceChannel, option_table[id].name, id);
  apply(id, spelled.c_str(), arg);
}

void option_set::apply(int id, const char *spelled, const char *arg) {
  const OptionDesc &d = option_table[id];
  if (d.kind == OK_NONE) {
    if (arg)
      option_error(DIAG::optgen_bad_argument(DIAG_HERE, spelled, ""));
    if (d.pair >= 0 && states_[d.pair].count > 0) {
      if (states_[d.pair].flags & OF_THIS_SOURCE)
        option_error(DIAG::optgen_conflict_option(DIAG_HERE, spelled,
                                                  option_display_name(d.pair).c_str()));
      clear(d.pair);
    }
    set_state(id);
    add_history(id, nullptr, 0);
    return;
  }

  if (!arg) {
    arg = next_arg_ ? next_arg_() : nullptr;
    if (!arg)
      option_error(DIAG::optgen_missing_parameter(DIAG_HERE, spelled, d.param));
  }

  long first = 0;
  if (is_list(d.kind)) {
    std::string items(arg);
    size_t start = 0;
    bool have_first = false;
    while (start <= items.size()) {
      size_t comma = items.find(',', start);
      if (comma == std::string::npos)
        comma = items.size();
      std::string item = items.substr(start, comma - start);
      if (!item.empty()) {
        long number = store_arg(id, spelled, item.c_str(), true);
        if (!have_first)
          first = number;
        have_first = true;
      }
      start = comma + 1;
    }
  } else {
    first = store_arg(id, spelled, arg, false);
  }
  set_state(id);
  add_history(id, arg, first);
}

void option_set::set_state(int id) {
  State &s = states_[id];
  ++s.count;
  ++s.touches;
  s.flags = static_cast<uint8_t>((s.flags & ~OF_REPLAYED) | OF_THIS_SOURCE |
                                 (replaying_ ? OF_REPLAYED : 0));
  if (trace_)
    std::printf("%s: Set    option id %s to state %d\n", kTraceChannel, option_table[id].name,
                static_cast<int>(s.count));
}

void option_set::clear(int id) {
  State &s = states_[id];
  s.count = 0;
  ++s.touches;
  s.args.clear();
  if (trace_)
    std::printf("%s: Clear  option id %s to state 0\n", kTraceChannel, option_table[id].name);
}

long option_set::store_arg(int id, const char *spelled, const char *item, bool append) {
  const OptionDesc &d = option_table[id];
  long number = convert(id, spelled, item);
  State &s = states_[id];
  if (!append)
    s.args.clear();
  Arg a;
  a.text = item;
  a.number = number;
  s.args.push_back(std::move(a));
  if (!trace_)
    return number;
  if (is_text(d.kind))
    std::printf("%s: Set    option id %s arg to value '%s' (%d args)", kTraceChannel, d.name, item,
                static_cast<int>(s.args.size()));
  else
    std::printf("%s: Set    option id %s arg to value '%ld' (%d args)", kTraceChannel, d.name,
                number, static_cast<int>(s.args.size()));
  return number;
}

long option_set::convert(int id, const char *spelled, const char *item) {
  const OptionDesc &d = option_table[id];
  long number = 0;
  switch (d.kind) {
  case OK_STRING:
  case OK_STRING_LIST:
    return 0;
  case OK_NUMBER:
  case OK_HEXNUM:
  case OK_NUMBER_LIST:
    if (!parse_number(item, !is_unsigned(d), &number))
      report_out_of_range(spelled, item, d);
    check_range(id, spelled, item, number);
    return number;
  case OK_ENUMERATED:
  case OK_ONEOF_LIST:
    for (const OptionChoice *c = d.choices; c && c->text; ++c) {
      if (std::strcmp(c->text, item) != 0)
        continue;
      if (c->deprecated && !replaying_)
        std::fprintf(stderr,
                     "WARNING: argument '%s' to option '%s' is deprecated and will be removed in "
                     "a future release\n",
                     item, spelled);
      return c->value;
    }
    if (d.numbers_pass && parse_number(item, true, &number))
      return number;
    option_error(DIAG::optgen_bad_argument(DIAG_HERE, spelled, option_choice_list(id).c_str()));
  case OK_NONE:
    break;
  }
  option_error(DIAG::optgen_unhandled_clause_in_setarg(DIAG_HERE, static_cast<uint32_t>(id)));
}

bool option_set::parse_number(const char *text, bool is_signed, long *out) const {
  const char *s = text;
  bool negative = false;
  if (*s == '-' || *s == '+') {
    if (*s == '-' && !is_signed)
      return false;
    negative = *s == '-';
    ++s;
  }
  size_t len = std::strlen(s);
  if (len == 0)
    return false;

  int radix = 10;
  std::string digits(s);
  char last = s[len - 1];
  if (len >= 2 && (last == 'H' || last == 'h') && all_of(s, len - 1, isxdigit)) {
    radix = 16;
    digits.assign(s, len - 1);
  } else if (len >= 2 && (last == 'Q' || last == 'q') && all_of(s, len - 1, is_octal)) {
    radix = 8;
    digits.assign(s, len - 1);
  } else if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    radix = 16;
    digits.assign(s + 2);
  } else if (s[0] == '0' && is_octal(s[1])) {
    radix = 8;
    digits.assign(s + 1);
  }
  if (trace_)
    std::printf("%s: about to parse '%s' as %s, radix %d\n", kTraceChannel, text,
                is_signed ? "signed" : "unsigned", radix);

  if (digits.empty())
    return false;
  unsigned long long v = 0;
  for (char c : digits) {
    int dv = digit_value(c);
    if (dv >= radix)
      return false;   // the number must use the whole text
    if (v > (ULLONG_MAX - static_cast<unsigned>(dv)) / static_cast<unsigned>(radix))
      return false;
    v = v * static_cast<unsigned>(radix) + static_cast<unsigned>(dv);
  }
  if (negative) {
    if (v > static_cast<unsigned long long>(LONG_MAX) + 1)
      return false;
    *out = v == static_cast<unsigned long long>(LONG_MAX) + 1 ? LONG_MIN : -static_cast<long>(v);
  } else {
    if (v > static_cast<unsigned long long>(LONG_MAX))
      return false;
    *out = static_cast<long>(v);
  }
  return true;
}

void option_set::check_range(int id, const char *spelled, const char *text, long v) const {
  const OptionDesc &d = option_table[id];
  if (trace_) {
    if (is_unsigned(d))
      std::printf("%s: check 0x%lX <= 0x%lX <= 0x%lX\n", kTraceChannel,
                  static_cast<unsigned long>(d.min), static_cast<unsigned long>(v),
                  static_cast<unsigned long>(d.max));
    else
      std::printf("%s: check %ld <= %ld <= %ld\n", kTraceChannel, d.min, v, d.max);
  }
  if (v < d.min || v > d.max)
    report_out_of_range(spelled, text, d);
}

void option_set::add_history(int id, const char *arg, long number) {
  History h{id, arg != nullptr, arg ? opt_string(arg) : opt_string(), number};
  history_.push_back(std::move(h));
  if (trace_)
    std::printf("%s: Add option id %s to history with arg %s\n", kTraceChannel,
                option_table[id].name, arg ? arg : "(null)");
}

void option_set::set_flag(int id) {
  apply(id, option_display_name(id).c_str(), nullptr);
}

void option_set::set_number(int id, long value) {
  char text[32];
  std::snprintf(text, sizeof text, "%ld", value);
  apply(id, option_display_name(id).c_str(), text);
}

void option_set::copy_from(const option_set &other) {
  bool was_replaying = replaying_;
  replaying_ = true;
  for (const History &h : other.history_)
    apply(h.id, option_display_name(h.id).c_str(), h.has_arg ? h.arg.c_str() : nullptr);
  replaying_ = was_replaying;
}

long option_set::value(int id, size_t index) const {
  if (id < 0 || id >= kOptionCount || index >= states_[id].args.size())
    return 0;
  const Arg &a = states_[id].args[index];
  if (is_text(option_table[id].kind))
    return std::strtol(a.text.c_str(), nullptr, 10);
  return a.number;
}

const char *option_set::text(int id, size_t index) const {
  if (id < 0 || id >= kOptionCount || index >= states_[id].args.size())
    return nullptr;
  return states_[id].args[index].text.c_str();
}

void option_set::dump(FILE *out) const {
  std::fprintf(out, "Options from %s:\n", source_.c_str());
  for (int id = 0; id < kOptionCount; ++id) {
    const OptionDesc &d = option_table[id];
    const State &s = states_[id];
    std::fprintf(out, "%-25s %-8s %-8s ", option_display_name(id).c_str(),
                 s.touches ? "SEEN" : "not seen", s.count ? "ENABLED" : "disabled");
    const char *word = "<UNKNOWN TYPE!?!?>";
    switch (d.kind) {
    case OK_NONE: word = "NO ARGS"; break;
    case OK_STRING_LIST: word = "STRING LIST ARG:"; break;
    case OK_NUMBER_LIST: word = "NUMBER LIST ARG:"; break;
    case OK_ONEOF_LIST: word = "ONEOF LIST ARG:"; break;
    case OK_ENUMERATED: word = "ENUMERATED ARG:"; break;
    case OK_STRING: word = "STRING ARG:"; break;
    case OK_NUMBER: word = "NUMBER ARG:"; break;
    case OK_HEXNUM: word = "HEXNUM ARG:"; break;
    }
    std::fputs(word, out);
    if (d.kind != OK_NONE && s.args.empty())
      std::fputs(" <arg not provided>", out);
    for (const Arg &a : s.args) {
      if (d.kind == OK_HEXNUM)
        std::fprintf(out, " 0x%lX", static_cast<unsigned long>(a.number));
      else if (d.kind == OK_NUMBER || d.kind == OK_NUMBER_LIST)
        std::fprintf(out, " %ld", a.number);
      else
        std::fprintf(out, " %s", a.text.c_str());
    }
    std::fputc('\n', out);
  }
}

} // namespace zor
