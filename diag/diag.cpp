// diag/diag.cpp - message table, header, wrapping, routing and error counting.
//
// The emitter keeps per-diagnostic state in the DIAGNOSTIC itself (the room
// left on the current line, the characters written); the settings and the
// error count are process-wide and live for the whole run.  Every byte goes
// through DIAGNOSTIC::put, which picks the set stream or the stream of the
// severity.
#include "diag/diag.h"

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

namespace zor {

namespace {

// Only the messages this tool raises are carried: the option code's
// diagnostics and the error limit.
const DIAG_DESCRIPTOR kDescriptors[] = {
    {24002, "option %s conflicts with previous option %s", nullptr, DS_ERROR, 0, 0},
    {24003, "option %s overrides preceding option %s", nullptr, DS_WARNING, 0, 0},
    {24004, "option %s clears preceding option %s", nullptr, DS_REMARK, 0, 0},
    {24007, "unhandled clause in setarg() [%u]", nullptr, DS_FATAL, 0, 0},
    {24008, "unhandled option handler [%u]", nullptr, DS_FATAL, 0, 0},
    {24009, "list handler for non-list option [%u]", nullptr, DS_FATAL, 0, 0},
    {24010, "option %s is missing its parameter '%s'", nullptr, DS_ERROR, 0, 0},
    {24011, "argument to option %s (%s) is out of range", nullptr, DS_ERROR, 0, 0},
    {24012, "argument to option %s (%s) is out of range (must be a non-negative_number)",
     nullptr, DS_ERROR, 0, 0},
    // The missing closing parenthesis is part of the message as shipped.
    {24013, "argument to option %s (%s) is out of range (must be a number from %u to %u",
     nullptr, DS_ERROR, 0, 0},
    {24015, "bad argument to option %s: should be one of {%s}", nullptr, DS_ERROR, 0, 0},
    {24016,
     "Case insensitivity of options has been deprecated; %s must be written as %s in "
     "future releases",
     nullptr, DS_WARNING, 0, 0},
    {24031, "unhandled clause in add_to_history() [%u]", nullptr, DS_FATAL, 0, 0},
    {99900, "error limit reached; %u errors detected", nullptr, DS_FATAL, 0, 0},
};

const char *const kSeverityWords[] = {
    "(suppressed)", "(no error)", "advice", "debug", "remark", "warning", "error", "fatal error",
};

// Where the error limit message is raised from, as the module names itself.
constexpr const char *kDiagSource = "DIAG/diag";
constexpr uint32_t kMaxErrorsLine = 148;

uint32_t g_error_count = 0;

DIAG_SETTINGS &settings_instance() {
  static DIAG_SETTINGS settings;
  return settings;
}

[[noreturn]] void out_of_memory() {
  std::fputs("ERROR: out of memory\n", stderr);
  std::exit(1);
}

// The console must leave room for text after the continuation indent.
void check_layout(const DIAG_SETTINGS &s) {
  if (s.console_width > s.indent + s.wrap_indent)
    return;
  std::fflush(stdout);
  std::fprintf(stderr, "%s: internal check failed: %s\n", kDiagSource,
               "diag_cols > (indent + wrap_indent)");
  std::abort();
}

// Length of the piece of `text` (len characters) that fits in `room`
// columns; 0 when nothing fits.  A break falls after the last non-blank
// before a blank, or right at the edge when a blank follows it.
size_t find_break(const char *text, size_t len, int32_t room, bool wrap) {
  if (!wrap || room < 0 || len < static_cast<size_t>(room))
    return len;
  const size_t r = static_cast<size_t>(room);
  if (r >= 1 && len - r > 1 && text[r] == ' ')
    return r;
  ptrdiff_t p = static_cast<ptrdiff_t>(r) - 1;
  while (p >= 0 && text[p] != ' ')
    --p;
  if (p < 0)
    return 0;
  while (p >= 0 && text[p] == ' ')
    --p;
  return static_cast<size_t>(p + 1);
}

} // namespace

const char *diag_severity_word(int32_t severity) {
  if (severity < DS_SUPPRESSED || severity > DS_FATAL)
    return "(unknown)";
  return kSeverityWords[severity];
}

const DIAG_DESCRIPTOR *diag_find_descriptor(uint32_t code) {
  for (const DIAG_DESCRIPTOR &d : kDescriptors)
    if (d.code == code)
      return &d;
  return nullptr;
}

DIAG_SETTINGS &diag_settings() { return settings_instance(); }

uint32_t diag_error_count() { return g_error_count; }

void diag_reset() {
  settings_instance() = DIAG_SETTINGS();
  g_error_count = 0;
}

bool DIAG_SRCINFO::equals(const DIAG_SRCINFO &other) const {
  return std::strcmp(file_name(), other.file_name()) == 0 && line() == other.line() &&
         column() == other.column();
}

DIAGNOSTIC::DIAGNOSTIC(const DIAG_DESCRIPTOR &desc, const char *raise_file, uint32_t raise_line)
    : desc_(&desc), room_(static_cast<int32_t>(diag_settings().console_width)),
      raise_file_(raise_file), raise_line_(raise_line) {}

// The position is copied by value: a clone must not share the original's.
DIAGNOSTIC::DIAGNOSTIC(const DIAGNOSTIC &other)
    : desc_(other.desc_), room_(static_cast<int32_t>(diag_settings().console_width)),
      raise_file_(other.raise_file_), raise_line_(other.raise_line_) {
  if (const DIAG_SRCINFO *pos = other.srcinfo_.get())
    srcinfo_ = std::make_unique<DIAG_SRCINFO_DATA>(pos->file_name(), pos->line(), pos->column(),
                                                   pos->approximate());
}

DIAGNOSTIC::~DIAGNOSTIC() = default;

bool DIAGNOSTIC::equals(const DIAGNOSTIC &other) const {
  if (desc_->code != other.desc_->code)
    return false;
  if (!srcinfo_ || !other.srcinfo_)
    return !srcinfo_ && !other.srcinfo_;
  return srcinfo_->equals(*other.srcinfo_);
}

void DIAGNOSTIC::dump(std::FILE *out) const {
  std::fprintf(out, "Code : %d\n", static_cast<int>(desc_->code));
  std::fprintf(out, "std_msg : %s\n", desc_->std_msg);
  std::fprintf(out, "vrb_msg : %s\n", desc_->vrb_msg ? desc_->vrb_msg : "(null)");
  if (srcinfo_) {
    std::fprintf(out, "File : %s\n", srcinfo_->file_name());
    std::fprintf(out, "Line : %d\n", static_cast<int>(srcinfo_->line()));
    std::fprintf(out, "Column: %d\n", static_cast<int>(srcinfo_->column()));
  }
}

bool DIAGNOSTIC::enabled() const {
  const DIAG_SETTINGS &s = diag_settings();
  switch (desc_->severity) {
  case DS_SUPPRESSED:
    return false;
  case DS_ADVICE:
    return s.show_advice;
  case DS_DEBUG:
    return s.show_debug;
  case DS_REMARK:
    return s.show_remarks;
  case DS_WARNING:
    return s.show_warnings;
  default:
    return true;
  }
}

std::FILE *DIAGNOSTIC::out_stream() const {
  if (std::FILE *set = diag_settings().stream)
    return set;
  return desc_->severity >= DS_SUPPRESSED && desc_->severity <= DS_REMARK ? stdout : stderr;
}

void DIAGNOSTIC::put(const char *text, size_t len) {
  if (len == 0)
    return;
  std::fwrite(text, 1, len, out_stream());
  written_ += static_cast<int>(len);
}

int DIAGNOSTIC::emit_formatted(const char *fmt, ...) {
  if (!enabled())
    return 0;
  check_layout(diag_settings());
  before_emit();
  written_ = 0;
  emitted_ = 1;

  // Format into a buffer grown to the formatted length.
  std::string text;
  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  const int needed = std::vsnprintf(nullptr, 0, fmt, args);
  va_end(args);
  if (needed > 0) {
    try {
      text.resize(static_cast<size_t>(needed));
    } catch (const std::bad_alloc &) {
      va_end(again);
      out_of_memory();
    }
    std::vsnprintf(text.data(), text.size() + 1, fmt, again);
  }
  va_end(again);

  write_header();
  write_wrapped(text.data(), text.size());
  end_diagnostic();
  return written_;
}

void DIAGNOSTIC::new_line() {
  const DIAG_SETTINGS &s = diag_settings();
  put("\n", 1);
  const std::string blanks(s.indent + s.wrap_indent, ' ');
  put(blanks.data(), blanks.size());
  room_ = static_cast<int32_t>(s.console_width - s.indent - s.wrap_indent);
}

void DIAGNOSTIC::write_wrapped(const char *text, size_t len) {
  const DIAG_SETTINGS &s = diag_settings();
  const int32_t line_room = static_cast<int32_t>(s.console_width - s.indent - s.wrap_indent);
  size_t pos = 0;
  while (pos < len) {
    const char *rest = text + pos;
    const size_t left = len - pos;
    size_t piece = find_break(rest, left, room_, s.wrap);
    if (piece == 0) {
      // Nothing fits here: go to a new line if the next word fits a whole
      // line, else cut the word at the edge of this one.
      const size_t whole = find_break(rest, left, line_room, s.wrap);
      if (whole > 0) {
        new_line();
        piece = whole;
      } else {
        piece = room_ > 0 ? std::min(left, static_cast<size_t>(room_)) : 0;
      }
    }
    if (const void *nl = std::memchr(rest, '\n', piece))
      piece = static_cast<size_t>(static_cast<const char *>(nl) - rest);

    put(rest, piece);
    room_ -= static_cast<int32_t>(piece);

    pos += piece;
    while (pos < len && text[pos] == ' ')
      ++pos;
    if (pos < len && text[pos] == '\n')
      ++pos;
    if (pos >= len)
      break;
    new_line();
  }
}

void DIAGNOSTIC::write_header() {
  DIAG_SETTINGS &s = diag_settings();
  const bool saved_wrap = s.wrap;
  if (!s.wrap_header)
    s.wrap = false;

  if (room_ != static_cast<int32_t>(s.console_width)) {
    put("\n", 1);
    room_ = static_cast<int32_t>(s.console_width);
  }

  std::string header(s.wrap_indent, ' ');
  char num[32];
  if (desc_->internal || s.show_internal_position) {
    header += raise_file_ ? raise_file_ : "";
    std::snprintf(num, sizeof num, ":%u:", raise_line_);
    header += num;
  }
  if (srcinfo_ && srcinfo_->file_name() && srcinfo_->file_name()[0] != '\0') {
    header += '"';
    header += srcinfo_->file_name();
    header += '"';
    if (srcinfo_->line() != 0) {
      std::snprintf(num, sizeof num, ", line %u", srcinfo_->line());
      header += num;
    }
    if (srcinfo_->approximate())
      header += " (approximate)";
    header += ": ";
  }
  const char *word = diag_severity_word(desc_->severity);
  if (!s.show_numbers && !desc_->internal) {
    header += word;
    header += ": ";
  } else {
    const bool suffix = !desc_->no_suffix && !desc_->internal && desc_->severity >= DS_DEBUG &&
                        desc_->severity <= DS_ERROR;
    if (desc_->internal)
      header += "internal ";
    header += word;
    std::snprintf(num, sizeof num, " #%u", desc_->code);
    header += num;
    if (suffix)
      header += "-D";
    header += ": ";
  }
  write_wrapped(header.data(), header.size());
  s.wrap = saved_wrap;
}

// The source line of the position and a caret under its column (columns
// count from 1).  An unreadable file or a missing line leaves the excerpt out.
void DIAGNOSTIC::write_excerpt() {
  std::FILE *src = std::fopen(srcinfo_->file_name(), "r");
  if (!src)
    return;
  std::string line;
  uint32_t lineno = 1;
  int c;
  bool found = false;
  while ((c = std::fgetc(src)) != EOF) {
    if (lineno == srcinfo_->line()) {
      found = true;
      if (c == '\n')
        break;
      line += static_cast<char>(c);
    } else if (c == '\n') {
      ++lineno;
    }
  }
  std::fclose(src);
  if (!found)
    return;
  line += '\n';
  put(line.data(), line.size());
  const int width = srcinfo_->column() > 0 ? static_cast<int>(srcinfo_->column() - 1) : 0;
  const int n = std::fprintf(out_stream(), "%-*s^\n", width, "");
  if (n > 0)
    written_ += n;
}

void DIAGNOSTIC::end_diagnostic() {
  DIAG_SETTINGS &s = diag_settings();
  if (room_ == static_cast<int32_t>(s.console_width))
    return;
  put("\n", 1);
  room_ = static_cast<int32_t>(s.console_width);

  if (s.show_excerpts && srcinfo_ && srcinfo_->file_name() &&
      srcinfo_->file_name()[0] != '\0' && srcinfo_->line() != 0 && !srcinfo_->approximate())
    write_excerpt();

  if ((desc_->severity == DS_ERROR || desc_->severity == DS_FATAL) && s.count_errors)
    ++g_error_count;

  if (desc_->severity == DS_FATAL) {
    std::fflush(nullptr);
    if (desc_->internal)
      std::abort();
    std::exit(1);
  }

  if (g_error_count > s.error_limit)
    DIAG::max_errors(kDiagSource, kMaxErrorsLine, s.error_limit).emit();
}

} // namespace zor
