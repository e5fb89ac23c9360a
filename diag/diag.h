// diag/diag.h - the tool chain's diagnostic module (DIAG/diag).
//
// A diagnostic is an object built on the stack of the code that raises it:
// one message class per numbered descriptor, carrying the raising source
// position, an optional user source position and the format arguments.
// `emit` writes a header ("error: ", "warning #24003-D: ", ...) and the
// formatted text, wrapped to the console width, on standard output
// (severities up to remark) or standard error (warning and worse), counts
// errors, ends the run on a fatal error and after too many errors.
//
//   DIAG::optgen_missing_parameter(DIAG_HERE, "--info", "N").emit();
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

namespace zor {

// Severities of the descriptors, in increasing order of gravity.
enum DIAG_SEVERITY : int32_t {
  DS_SUPPRESSED = 0,
  DS_NO_ERROR = 1,
  DS_ADVICE = 2,
  DS_DEBUG = 3,
  DS_REMARK = 4,
  DS_WARNING = 5,
  DS_ERROR = 6,
  DS_FATAL = 7,
};

// The word of a severity used in headers; "(unknown)" for any other value.
const char *diag_severity_word(int32_t severity);

// One record of the static message table.
struct DIAG_DESCRIPTOR {
  uint32_t code;            // message number
  const char *std_msg;      // standard text, a printf format
  const char *vrb_msg;      // verbose text, or null
  int32_t severity;         // DIAG_SEVERITY
  uint8_t internal;         // internal diagnostic: raising position shown, aborts when fatal
  uint8_t no_suffix;        // no "-D" after the number
};

// The descriptor with the given code, or null.
const DIAG_DESCRIPTOR *diag_find_descriptor(uint32_t code);

// Process-wide settings of the module.  `stream`, when set, receives every
// diagnostic regardless of severity (tests point it at a temporary file).
struct DIAG_SETTINGS {
  uint32_t console_width = 79;
  uint32_t indent = 3;            // continuation lines, on top of wrap_indent
  uint32_t wrap_indent = 0;       // every line, header included
  bool wrap = true;
  bool show_warnings = true;
  bool show_advice = false;
  bool show_remarks = false;
  bool show_debug = false;
  bool show_numbers = false;      // "error #24010-D: " instead of "error: "
  bool show_internal_position = false;
  bool show_excerpts = false;     // source line and caret after the message
  bool wrap_header = false;
  bool count_errors = true;
  uint32_t error_limit = 100;
  std::FILE *stream = nullptr;    // none: by severity
};

DIAG_SETTINGS &diag_settings();

// Errors and fatal errors emitted so far.
uint32_t diag_error_count();

// Settings back to their defaults and the error count to 0 (tests).
void diag_reset();

// Abstract source position of a diagnostic.
class DIAG_SRCINFO {
public:
  virtual const char *file_name() const = 0;
  virtual uint32_t line() const = 0;
  virtual uint32_t column() const = 0;
  virtual bool approximate() const = 0;
  virtual ~DIAG_SRCINFO() = default;
  virtual bool equals(const DIAG_SRCINFO &other) const;
};

class DIAG_SRCINFO_DATA : public DIAG_SRCINFO {
public:
  DIAG_SRCINFO_DATA(std::string file, uint32_t line, uint32_t column, bool approximate)
      : file_(std::move(file)), line_(line), column_(column), approximate_(approximate) {}

  const char *file_name() const override { return file_.c_str(); }
  uint32_t line() const override { return line_; }
  uint32_t column() const override { return column_; }
  bool approximate() const override { return approximate_ != 0; }

private:
  std::string file_;
  uint32_t line_;
  uint32_t column_;
  uint8_t approximate_;
};

class DIAGNOSTIC {
public:
  virtual ~DIAGNOSTIC();
  // A copy of the same class with the same arguments and position.
  virtual std::unique_ptr<DIAGNOSTIC> clone() const = 0;
  // Header, message text, end of the diagnostic; returns the characters written.
  virtual int emit() = 0;
  // Answered true only by message kinds that are notes to another
  // diagnostic; this tool raises none.
  virtual bool is_note() const { return false; }
  // Same message code and equal source positions.
  virtual bool equals(const DIAGNOSTIC &other) const;
  // Called by emit before anything is written; nothing to do for the base.
  virtual void before_emit() {}
  // Code, texts and position, one per line.
  virtual void dump(std::FILE *out = stdout) const;

  const DIAG_DESCRIPTOR &descriptor() const { return *desc_; }
  const DIAG_SRCINFO *position() const { return srcinfo_.get(); }
  void set_position(std::unique_ptr<DIAG_SRCINFO> pos) { srcinfo_ = std::move(pos); }
  bool emitted() const { return emitted_ != 0; }

protected:
  DIAGNOSTIC(const DIAG_DESCRIPTOR &desc, const char *raise_file, uint32_t raise_line);
  DIAGNOSTIC(const DIAGNOSTIC &other);
  DIAGNOSTIC &operator=(const DIAGNOSTIC &) = delete;

  // emit with the standard text formatted by the given printf arguments.
  int emit_formatted(const char *fmt, ...);

private:
  bool enabled() const;
  std::FILE *out_stream() const;
  void write_header();
  void write_wrapped(const char *text, size_t len);
  void new_line();
  void end_diagnostic();
  void write_excerpt();
  void put(const char *text, size_t len);

  const DIAG_DESCRIPTOR *desc_;
  int32_t room_;                               // left on the current output line
  std::unique_ptr<DIAG_SRCINFO> srcinfo_;
  const char *raise_file_;
  uint32_t raise_line_;
  uint8_t emitted_ = 0;
  int written_ = 0;                            // characters written by this emit
};

namespace DIAG {

// Arguments are kept as owned values so that a clone outlives its sources.
template <class T> struct stored_arg { using type = T; };
template <> struct stored_arg<const char *> { using type = std::string; };

inline const char *vararg(const std::string &s) { return s.c_str(); }
inline unsigned vararg(uint32_t v) { return v; }

// A message class bound to the descriptor `Code` with printf arguments `Args`.
template <class Derived, uint32_t Code, class... Args>
class message : public DIAGNOSTIC {
public:
  message(const char *raise_file, unsigned raise_line, Args... args)
      : DIAGNOSTIC(lookup(), raise_file, raise_line), args_(store(args)...) {}

  std::unique_ptr<DIAGNOSTIC> clone() const override {
    return std::make_unique<Derived>(static_cast<const Derived &>(*this));
  }
  int emit() override {
    return std::apply(
        [this](const auto &...a) { return emit_formatted(descriptor().std_msg, vararg(a)...); },
        args_);
  }

private:
  static const DIAG_DESCRIPTOR &lookup() { return *diag_find_descriptor(Code); }
  template <class T> static typename stored_arg<T>::type store(T v) {
    if constexpr (std::is_same_v<T, const char *>)
      return v ? std::string(v) : std::string("(null)");
    else
      return v;
  }
  std::tuple<typename stored_arg<Args>::type...> args_;
};

#define ZOR_DIAG_CLASS(name, code, ...)                                     \
  class name final : public message<name, code, __VA_ARGS__> {              \
  public:                                                                   \
    using message<name, code, __VA_ARGS__>::message;                        \
  }

ZOR_DIAG_CLASS(max_errors, 99900, uint32_t);
ZOR_DIAG_CLASS(optgen_conflict_option, 24002, const char *, const char *);
ZOR_DIAG_CLASS(optgen_conflict_override_option, 24003, const char *, const char *);
ZOR_DIAG_CLASS(optgen_conflict_quiet_option, 24004, const char *, const char *);
ZOR_DIAG_CLASS(optgen_unhandled_clause_in_setarg, 24007, uint32_t);
ZOR_DIAG_CLASS(optgen_unhandled_option_handler, 24008, uint32_t);
ZOR_DIAG_CLASS(optgen_invalid_list_handler, 24009, uint32_t);
ZOR_DIAG_CLASS(optgen_missing_parameter, 24010, const char *, const char *);
ZOR_DIAG_CLASS(optgen_arg_out_of_range, 24011, const char *, const char *);
ZOR_DIAG_CLASS(optgen_arg_out_of_range_non_neg, 24012, const char *, const char *);
ZOR_DIAG_CLASS(optgen_arg_out_of_range2, 24013, const char *, const char *, uint32_t, uint32_t);
ZOR_DIAG_CLASS(optgen_bad_argument, 24015, const char *, const char *);
ZOR_DIAG_CLASS(optgen_case_insensitivity_deprecated, 24016, const char *, const char *);
ZOR_DIAG_CLASS(optgen_unhandled_clause_in_add_hist, 24031, uint32_t);

#undef ZOR_DIAG_CLASS

} // namespace DIAG

#define DIAG_HERE __FILE__, __LINE__

} // namespace zor
