// tools/zrun/runtime.cpp - the runtime functions of zrun (the heap, the mem*
// and str* functions, ctype, the math functions, rand), the run itself and
// its statistics.  The printf family is in format.cpp, strtol and qsort in
// stdlib.cpp.
//
// Characters are one byte in each 16-bit unit, as string constants hold
// them; memcpy, memset and friends count units, as sizeof does.
#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "tools/zrun/builtins.h"
#include "tools/zrun/interp.h"
#include "tools/zrun/xops.h"

namespace zor::run {

namespace {

const char *const kBuiltinNames[B_COUNT] = {
  "printf", "fprintf", "sprintf", "snprintf", "vprintf", "vfprintf", "vsprintf", "vsnprintf",
  "putchar", "puts", "fputs", "fputc", "putc", "fflush", "getchar",
  "scanf", "sscanf", "fgets", "fgetc", "getc", "perror",
  "abort", "exit", "malloc", "calloc", "realloc", "free", "abs", "labs", "llabs", "atoi",
  "atol", "strtol", "strtoul", "rand", "srand", "qsort", "bsearch",
  "atof", "strtod", "strtof", "strtold",
  "memcpy", "memmove", "memset", "memcmp", "memchr", "strlen", "strcmp", "strncmp", "strcpy",
  "strncpy", "strcat", "strncat", "strchr", "strrchr", "strstr", "strdup",
  "strspn", "strcspn", "strpbrk", "strtok",
  "isdigit", "isalpha", "isalnum", "isspace", "isupper", "islower", "isxdigit", "isprint",
  "ispunct", "isgraph", "iscntrl", "toupper", "tolower",
  "ldexp", "ldexpf", "ldexpl", "frexp", "frexpf", "frexpl", "modf", "modff", "modfl",
  "time", "clock", "difftime", "atexit", "setjmp", "longjmp", "div", "ldiv", "lldiv",
  "__builtin_popcount", "__builtin_popcountl", "__builtin_popcountll", "__builtin_clz",
  "__builtin_clzl", "__builtin_clzll", "__builtin_ctz", "__builtin_ctzl", "__builtin_ctzll",
  "__builtin_parity", "__builtin_parityl", "__builtin_parityll", "__builtin_ffs",
  "__builtin_ffsl", "__builtin_ffsll", "__builtin_bswap16", "__builtin_bswap32",
  "__builtin_bswap64",
};

double m_fabs(double x) { return std::fabs(x); }
double m_sqrt(double x) { return std::sqrt(x); }
double m_floor(double x) { return std::floor(x); }
double m_ceil(double x) { return std::ceil(x); }
double m_sin(double x) { return std::sin(x); }
double m_cos(double x) { return std::cos(x); }
double m_tan(double x) { return std::tan(x); }
double m_asin(double x) { return std::asin(x); }
double m_acos(double x) { return std::acos(x); }
double m_atan(double x) { return std::atan(x); }
double m_exp(double x) { return std::exp(x); }
double m_log(double x) { return std::log(x); }
double m_log10(double x) { return std::log10(x); }
double m_sinh(double x) { return std::sinh(x); }
double m_cosh(double x) { return std::cosh(x); }
double m_tanh(double x) { return std::tanh(x); }
double m_round(double x) { return std::round(x); }
double m_trunc(double x) { return std::trunc(x); }
double m_cbrt(double x) { return std::cbrt(x); }
double m_log2(double x) { return std::log2(x); }
double m_exp2(double x) { return std::exp2(x); }
double m_fmod(double x, double y) { return std::fmod(x, y); }
double m_atan2(double y, double x) { return std::atan2(y, x); }
double m_pow(double x, double y) { return std::pow(x, y); }
double m_fmin(double x, double y) { return std::fmin(x, y); }
double m_fmax(double x, double y) { return std::fmax(x, y); }
double m_hypot(double x, double y) { return std::hypot(x, y); }
double m_copysign(double x, double y) { return std::copysign(x, y); }

const MathFunction kMath[] = {
  {"fabs", m_fabs, nullptr},   {"sqrt", m_sqrt, nullptr},   {"floor", m_floor, nullptr},
  {"ceil", m_ceil, nullptr},   {"sin", m_sin, nullptr},     {"cos", m_cos, nullptr},
  {"tan", m_tan, nullptr},     {"asin", m_asin, nullptr},   {"acos", m_acos, nullptr},
  {"atan", m_atan, nullptr},   {"exp", m_exp, nullptr},     {"log", m_log, nullptr},
  {"log10", m_log10, nullptr}, {"sinh", m_sinh, nullptr},   {"cosh", m_cosh, nullptr},
  {"tanh", m_tanh, nullptr},   {"round", m_round, nullptr}, {"trunc", m_trunc, nullptr},
  {"fmod", nullptr, m_fmod},   {"atan2", nullptr, m_atan2}, {"pow", nullptr, m_pow},
  {"fmin", nullptr, m_fmin},   {"fmax", nullptr, m_fmax},   {"hypot", nullptr, m_hypot},
  {"cbrt", m_cbrt, nullptr},   {"log2", m_log2, nullptr},   {"exp2", m_exp2, nullptr},
  {"copysign", nullptr, m_copysign},
};
constexpr int kMathCount = static_cast<int>(sizeof kMath / sizeof kMath[0]);

// The character classes of ctype.h, for the characters 0-127; anything
// else (EOF, the units above 127) is in no class.
bool in_class(int id, int64_t c) {
  if (c < 0 || c > 127)
    return false;
  bool upper = c >= 'A' && c <= 'Z', lower = c >= 'a' && c <= 'z';
  bool digit = c >= '0' && c <= '9';
  bool print = c >= 32 && c < 127;
  switch (id) {
  case B_ISDIGIT: return digit;
  case B_ISALPHA: return upper || lower;
  case B_ISALNUM: return upper || lower || digit;
  case B_ISSPACE: return c == ' ' || (c >= '\t' && c <= '\r');
  case B_ISUPPER: return upper;
  case B_ISLOWER: return lower;
  case B_ISXDIGIT: return digit || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  case B_ISPRINT: return print;
  case B_ISPUNCT: return print && c != ' ' && !upper && !lower && !digit;
  case B_ISGRAPH: return print && c != ' ';
  default: return !print;   // B_ISCNTRL
  }
}

} // namespace

int builtin_id(const std::string &name) {
  for (int i = 0; i < B_COUNT; ++i)
    if (name == kBuiltinNames[i])
      return i;
  for (int i = 0; i < kMathCount; ++i) {
    if (name == kMath[i].name)
      return B_COUNT + 2 * i;
    if (name.size() > 1 && name.back() == 'f' && name.compare(0, name.size() - 1, kMath[i].name) == 0)
      return B_COUNT + 2 * i + 1;
  }
  return -1;
}

const MathFunction *math_function(int id) {
  return id >= B_COUNT && id < B_COUNT + 2 * kMathCount ? &kMath[(id - B_COUNT) / 2] : nullptr;
}

std::string builtin_name(int id) {
  if (id >= 0 && id < B_COUNT)
    return kBuiltinNames[id];
  if (const MathFunction *m = math_function(id))
    return std::string(m->name) + ((id - B_COUNT) % 2 ? "f" : "");
  return "runtime function " + std::to_string(id);
}

Interpreter::Interpreter(PROGRAM &program, RunOptions options)
    : program_(program), options_(std::move(options)), memory_(kMemoryUnits, 0),
      shadow_(kMemoryUnits, 0) {
  // Registers for the deepest call chain of frames of 64 registers; deeper
  // chains of larger frames end as a stack overflow.
  registers_.resize(size_t{kMaxCallDepth} * 64);
}

std::string Interpreter::where() const {
  if (!current_fun_) {
    std::string file = init_pos_.file ? init_pos_.file : "?";
    return " in <initializers> at " + file + ":" + std::to_string(init_pos_.line);
  }
  SrcPos pos;
  if (current_stmt_)
    pos = current_stmt_->pos;
  else
    pos = current_fun_->fun->body_pos.valid() ? current_fun_->fun->body_pos
                                               : current_fun_->fun->begin_pos;
  std::string file = pos.file ? pos.file : "?";
  return " in " + current_fun_->name + " at " + file + ":" + std::to_string(pos.line);
}

void Interpreter::fail(const std::string &message, int code) { throw RunError(message, code); }

// -------------------------------------------------------------------- heap

// First fit over the free blocks; each block is followed by a unit of no
// object, so that running off its end is caught.
uint32_t Interpreter::heap_alloc(uint64_t units, bool zero) {
  if (units == 0)
    units = 1;
  if (units >= kMemoryUnits)
    return 0;
  uint32_t need = static_cast<uint32_t>(units) + 1;
  uint32_t at = 0;
  for (auto it = heap_free_.begin(); it != heap_free_.end(); ++it) {
    if (it->second >= need) {
      at = it->first;
      uint32_t rest = it->second - need;
      heap_free_.erase(it);
      if (rest)
        heap_free_[at + need] = rest;
      break;
    }
  }
  if (!at) {
    if (need + 1 > sp_ - heap_top_)   // the frames are above
      return 0;
    at = heap_top_;
    heap_top_ += need;
  }
  heap_blocks_[at] = static_cast<uint32_t>(units);
  for (uint32_t i = 0; i < units; ++i) {
    shadow_[at + i] = zero ? SH_OBJECT | SH_INIT : SH_OBJECT;
    if (zero)
      memory_[at + i] = 0;
  }
  return at;
}

void Interpreter::heap_free(uint32_t addr) {
  if (addr == 0)
    return;
  auto it = heap_blocks_.find(addr);
  if (it == heap_blocks_.end())
    fail("free of a pointer that malloc did not return");
  uint32_t size = it->second + 1;
  for (uint32_t i = 0; i + 1 < size; ++i)
    shadow_[addr + i] = 0;
  heap_blocks_.erase(it);
  // Merge with the free neighbours.
  auto next = heap_free_.find(addr + size);
  if (next != heap_free_.end()) {
    size += next->second;
    heap_free_.erase(next);
  }
  auto prev = heap_free_.lower_bound(addr);
  if (prev != heap_free_.begin()) {
    --prev;
    if (prev->first + prev->second == addr) {
      prev->second += size;
      return;
    }
  }
  heap_free_[addr] = size;
}
// ------------------------------------------------------------------ strings

std::string Interpreter::read_string(uint32_t addr, size_t limit) {
  std::string s;
  while (s.size() < limit) {
    check(addr, 1, false);
    uint16_t c = memory_[addr++];
    if (c == 0)
      break;
    s.push_back(static_cast<char>(c & 0xff));
  }
  return s;
}

// Copies the string at src, terminator included, to dst, checking every
// unit read and written; at most `limit` characters, then a terminator.
void Interpreter::copy_string(uint32_t dst, uint32_t src, uint32_t limit) {
  for (uint32_t i = 0;; ++i, ++dst, ++src) {
    uint16_t c = 0;
    if (i < limit) {
      check(src, 1, false);
      c = memory_[src];
    }
    check(dst, 1, true);
    memory_[dst] = c;
    shadow_[dst] |= SH_INIT;
    if (c == 0)
      return;
  }
}

// The first unit equal to c in the n units at s (n == 0: up to and with the
// terminator); 0 when there is none.  `last` finds the last one instead.
uint32_t Interpreter::find_unit(uint32_t s, uint16_t c, uint32_t n, bool last) {
  uint32_t found = 0;
  for (uint32_t i = 0; n == 0 || i < n; ++i, ++s) {
    check(s, 1, false);
    if (memory_[s] == c) {
      found = s;
      if (!last)
        return found;
    }
    if (n == 0 && memory_[s] == 0)
      return found;
  }
  return found;
}

// Compares the strings at a and b, at most n characters (n == 0: no limit);
// `units` compares n units, zeros included.
int64_t Interpreter::compare_units(uint32_t a, uint32_t b, uint32_t n, bool units) {
  for (uint32_t i = 0; n == 0 || i < n; ++i, ++a, ++b) {
    check(a, 1, false);
    check(b, 1, false);
    uint16_t x = memory_[a], y = memory_[b];
    if (x != y)
      return x < y ? -1 : 1;
    if (x == 0 && !units)
      break;
  }
  return 0;
}

// The length of the initial segment of the string at s made only of units
// of the string `set` (in_set) or only of units not in it (strspn, strcspn).
uint32_t Interpreter::span(uint32_t s, uint32_t set, bool in_set) {
  std::vector<uint16_t> members;
  for (uint32_t a = set;; ++a) {
    check(a, 1, false);
    if (memory_[a] == 0)
      break;
    members.push_back(memory_[a]);
  }
  for (uint32_t n = 0;; ++n) {
    check(int64_t{s} + n, 1, false);
    uint16_t c = memory_[s + n];
    if (c == 0 || (std::find(members.begin(), members.end(), c) != members.end()) != in_set)
      return n;
  }
}

// strtok: the next token of the string at s, or of the one the previous
// call stopped in when s is 0.  The delimiter ending the token is
// overwritten with a terminator; after the last token every call with a
// null s gives a null pointer until a new string is given.
Val Interpreter::string_token(uint32_t s, uint32_t delimiters) {
  Val r;
  r.i = 0;
  if (s == 0)
    s = strtok_next_;
  strtok_next_ = 0;
  if (s == 0)
    return r;
  s += span(s, delimiters, true);
  if (memory_[s] == 0)   // checked by span
    return r;
  uint32_t end = s + span(s, delimiters, false);
  if (memory_[end] != 0) {
    check(end, 1, true);
    memory_[end] = 0;
    strtok_next_ = end + 1;
  }
  r.i = s;
  return r;
}

// ------------------------------------------------------------------ calls

Val Interpreter::builtin(int id, const std::vector<CNode *> &arg_nodes, std::vector<Val> &args) {
  Val r;
  r.i = 0;
  auto need = [&](size_t n) {
    if (args.size() < n)
      fail(builtin_name(id) + " with too few arguments");
  };
  auto integer = [&](size_t k) { return as_int(args[k], arg_nodes[k]); };
  auto real = [&](size_t k) { return as_double(args[k], arg_nodes[k]); };
  // A pointer operand: an uninitialized one is reported here.
  auto ptr = [&](size_t k) {
    if (poisoned(args[k].i))
      fail("use of an uninitialized pointer");
    return static_cast<uint32_t>(args[k].i);
  };
  // A size_t operand counting units.
  auto count = [&](size_t k) -> uint32_t {
    int64_t n = wrap(integer(k), kUnsignedLayout);
    if (n > static_cast<int64_t>(kMemoryUnits))
      fail(builtin_name(id) + " of " + std::to_string(n) + " units");
    return static_cast<uint32_t>(n);
  };
  if (const MathFunction *m = math_function(id)) {
    need(m->binary ? 2 : 1);
    r.d = m->binary ? m->binary(real(0), real(1)) : m->unary(real(0));
    return r;
  }
  if (id >= B_ISDIGIT && id <= B_ISCNTRL) {
    need(1);
    r.i = in_class(id, wrap(integer(0), kIntLayout));
    return r;
  }
  switch (id) {
  case B_PRINTF: case B_FPRINTF: case B_SPRINTF: case B_SNPRINTF:
  case B_VPRINTF: case B_VFPRINTF: case B_VSPRINTF: case B_VSNPRINTF:
    r.i = printf_family(id, arg_nodes, args);
    return r;
  case B_PUTCHAR:
  case B_FPUTC:
  case B_PUTC:
    need(id == B_PUTCHAR ? 1 : 2);
    r.i = integer(0) & 0xff;
    write_stream(kBuiltinNames[id], id == B_PUTCHAR ? 1 : args[1].i,
                 std::string(1, static_cast<char>(r.i)));
    return r;
  case B_PUTS:
  case B_FPUTS: {
    need(id == B_PUTS ? 1 : 2);
    std::string text = read_string(ptr(0));
    if (id == B_PUTS)
      text.push_back('\n');
    write_stream(kBuiltinNames[id], id == B_PUTS ? 1 : args[1].i, text);
    return r;
  }
  case B_FFLUSH:
    return r;   // the streams are zrun's own, written as the program goes
  case B_SCANF:
  case B_SSCANF:
    r.i = scan_family(id, arg_nodes, args);
    return r;
  case B_FGETS:
  case B_FGETC:
  case B_GETC:
    return read_input(id, arg_nodes, args);
  case B_GETCHAR: {
    std::fflush(stdout);
    int c = std::getchar();
    r.i = c == EOF ? -1 : c;
    return r;
  }
  case B_ABORT:
    fail("abort called", kExitAbort);
  case B_EXIT:
    throw ProgramExit{args.empty() ? 0 : static_cast<int>(integer(0) & 0xff)};
  case B_MALLOC:
    need(1);
    r.i = heap_alloc(static_cast<uint64_t>(wrap(integer(0), kUnsignedLayout)), false);
    return r;
  case B_CALLOC: {
    need(2);
    uint64_t n = static_cast<uint64_t>(wrap(integer(0), kUnsignedLayout));
    uint64_t size = static_cast<uint64_t>(wrap(integer(1), kUnsignedLayout));
    r.i = (n && size > kMemoryUnits / n) ? 0 : heap_alloc(n * size, true);
    return r;
  }
  case B_FREE:
    need(1);
    heap_free(ptr(0));
    return r;
  case B_REALLOC: {
    need(2);
    uint32_t old = ptr(0);
    int64_t size = wrap(integer(1), kUnsignedLayout);
    uint32_t old_units = 0;
    if (old) {
      auto it = heap_blocks_.find(old);
      if (it == heap_blocks_.end())
        fail("realloc of a pointer that malloc did not return");
      old_units = it->second;
    }
    if (old && size == 0) {
      heap_free(old);
      return r;
    }
    uint32_t fresh = heap_alloc(static_cast<uint64_t>(size), false);
    if (!fresh)
      return r;   // the old block stays
    if (old) {
      copy_units(fresh, old, std::min<uint32_t>(old_units, static_cast<uint32_t>(size)), false);
      heap_free(old);
    }
    r.i = fresh;
    return r;
  }
  case B_ABS:
  case B_LABS:
  case B_LLABS: {
    need(1);
    Layout l = id == B_LLABS ? Layout{VC_INT, 64, true} : kIntLayout;
    int64_t v = wrap(integer(0), l);
    r.i = wrap(static_cast<int64_t>(v < 0 ? 0 - static_cast<uint64_t>(v) : v), l);
    return r;
  }
  case B_ATOI:
  case B_ATOL:
  case B_STRTOL:
  case B_STRTOUL:
    r.i = parse_integer(id, arg_nodes, args);
    return r;
  case B_RAND:
    rand_next_ = rand_next_ * 1103515245u + 12345u;
    r.i = (rand_next_ / 65536) % 32768;
    return r;
  case B_SRAND:
    need(1);
    rand_next_ = static_cast<uint32_t>(integer(0));
    return r;
  case B_TIME:
    // The epoch, stored through a non-null pointer as C says.
    if (!args.empty() && args[0].i != 0)
      store_int(ptr(0), kIntLayout, 0, true);
    return r;
  case B_CLOCK:
    return r;
  case B_DIV:
  case B_LDIV:
  case B_LLDIV: {
    // The structure {quot, rem} of two ints, longs or long longs, in
    // return_buffer_, low unit first.
    need(2);
    const Layout &l = id == B_LLDIV ? kLongLongLayout : kIntLayout;
    const int64_t n = wrap(integer(0), l), d = wrap(integer(1), l);
    if (d == 0)
      fail(builtin_name(id) + " by zero");
    const int64_t most_negative = id == B_LLDIV ? INT64_MIN : INT32_MIN;
    const int64_t quot = n == most_negative && d == -1 ? n : n / d;
    const int64_t rem = n == most_negative && d == -1 ? 0 : n % d;
    return_buffer_.assign(2 * l.units, 0);
    for (uint32_t i = 0; i < l.units; ++i) {
      return_buffer_[i] = static_cast<uint16_t>(static_cast<uint64_t>(quot) >> (16 * i));
      return_buffer_[l.units + i] = static_cast<uint16_t>(static_cast<uint64_t>(rem) >> (16 * i));
    }
    return r;
  }
  case B_SETJMP:
    need(1);
    r.i = do_setjmp(ptr(0));
    return r;
  case B_LONGJMP:
    need(2);
    do_longjmp(ptr(0), wrap(integer(1), kIntLayout));
  case B_ATEXIT: {
    need(1);
    int function = -1, builtin_index = -1;
    resolve_callee(args[0].i, function, builtin_index);   // reports a non-function
    exit_handlers_.push_back(args[0].i);
    return r;
  }
  case B_POPCOUNT: case B_POPCOUNTL: case B_POPCOUNTLL: case B_CLZ: case B_CLZL:
  case B_CLZLL: case B_CTZ: case B_CTZL: case B_CTZLL: case B_PARITY: case B_PARITYL:
  case B_PARITYLL: case B_FFS: case B_FFSL: case B_FFSLL: {
    need(1);
    // Three forms per operation: 32, 32 and 64 bits.
    const unsigned bits = (id - B_POPCOUNT) % 3 == 2 ? 64 : 32;
    const uint64_t x = static_cast<uint64_t>(integer(0)) &
                       (bits == 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1);
    const int op = (id - B_POPCOUNT) / 3;   // popcount, clz, ctz, parity, ffs
    if (x == 0 && (op == 1 || op == 2))
      fail(builtin_name(id) + " of 0");
    switch (op) {
    case 0: r.i = std::popcount(x); break;
    case 1: r.i = std::countl_zero(x) - (64 - static_cast<int>(bits)); break;
    case 2: r.i = std::countr_zero(x); break;
    case 3: r.i = std::popcount(x) & 1; break;
    default: r.i = x ? std::countr_zero(x) + 1 : 0; break;
    }
    return r;
  }
  case B_BSWAP16:
  case B_BSWAP32:
  case B_BSWAP64: {
    need(1);
    const uint64_t x = static_cast<uint64_t>(integer(0));
    const uint64_t swapped = __builtin_bswap64(x);
    const unsigned bits = id == B_BSWAP16 ? 16 : id == B_BSWAP32 ? 32 : 64;
    r.i = static_cast<int64_t>(swapped >> (64 - bits));
    return r;
  }
  case B_DIFFTIME:
    need(2);
    r.d = static_cast<double>(integer(0) - integer(1));
    return r;
  case B_QSORT:
  case B_BSEARCH:
    return sort_or_search(id, arg_nodes, args);
  case B_MEMCPY:
  case B_MEMMOVE: {
    need(3);
    uint32_t n = count(2);
    if (n) {
      check(args[1].i, n, false);
      check(args[0].i, n, true);
      copy_units(ptr(0), ptr(1), n, false);
    }
    r.i = args[0].i;
    return r;
  }
  case B_MEMSET: {
    need(3);
    uint32_t n = count(2);
    if (n)
      check(args[0].i, n, true);
    uint32_t d = ptr(0);
    uint16_t v = static_cast<uint16_t>(integer(1));
    for (uint32_t i = 0; i < n; ++i) {
      memory_[d + i] = v;
      shadow_[d + i] |= SH_INIT;
    }
    r.i = d;
    return r;
  }
  case B_MEMCMP: {
    need(3);
    uint32_t n = count(2);
    if (n) {
      check(args[0].i, n, false);
      check(args[1].i, n, false);
      r.i = compare_units(ptr(0), ptr(1), n, true);
    }
    return r;
  }
  case B_MEMCHR: {
    need(3);
    uint32_t n = count(2);
    if (n)
      r.i = find_unit(ptr(0), static_cast<uint16_t>(integer(1)), n, false);
    return r;
  }
  case B_STRLEN:
    need(1);
    r.i = static_cast<int64_t>(read_string(ptr(0)).size());
    return r;
  case B_STRCMP:
    need(2);
    r.i = compare_units(ptr(0), ptr(1), 0, false);
    return r;
  case B_STRNCMP: {
    need(3);
    uint32_t n = count(2);
    if (n)
      r.i = compare_units(ptr(0), ptr(1), n, false);
    return r;
  }
  case B_STRCPY:
    need(2);
    copy_string(ptr(0), ptr(1));
    r.i = args[0].i;
    return r;
  case B_STRNCPY: {
    // Copies up to n units and pads with zeros to n.
    need(3);
    uint32_t n = count(2);
    uint32_t d = ptr(0), s = ptr(1);
    bool ended = false;
    for (uint32_t i = 0; i < n; ++i) {
      uint16_t c = 0;
      if (!ended) {
        check(s + i, 1, false);
        c = memory_[s + i];
        ended = c == 0;
      }
      check(d + i, 1, true);
      memory_[d + i] = c;
      shadow_[d + i] |= SH_INIT;
    }
    r.i = d;
    return r;
  }
  case B_STRCAT:
  case B_STRNCAT: {
    need(id == B_STRCAT ? 2 : 3);
    uint32_t limit = id == B_STRCAT ? UINT32_MAX : count(2);
    uint32_t d = ptr(0);
    copy_string(find_unit(d, 0, 0, false), ptr(1), limit);
    r.i = d;
    return r;
  }
  case B_STRCHR:
  case B_STRRCHR:
    need(2);
    r.i = find_unit(ptr(0), static_cast<uint16_t>(integer(1)), 0, id == B_STRRCHR);
    return r;
  case B_STRSTR: {
    need(2);
    uint32_t h = ptr(0);
    std::string needle = read_string(ptr(1));
    for (;; ++h) {
      uint32_t i = 0;
      for (; i < needle.size(); ++i) {
        check(h + i, 1, false);
        if (memory_[h + i] != static_cast<uint8_t>(needle[i]))
          break;
      }
      if (i == needle.size()) {
        r.i = h;
        return r;
      }
      check(h, 1, false);
      if (memory_[h] == 0)
        return r;
    }
  }
  case B_STRDUP: {
    need(1);
    uint32_t s = ptr(0);
    size_t len = read_string(s).size();
    r.i = heap_alloc(len + 1, false);
    if (r.i)
      copy_string(static_cast<uint32_t>(r.i), s);
    return r;
  }
  case B_STRSPN:
  case B_STRCSPN:
    need(2);
    r.i = span(ptr(0), ptr(1), id == B_STRSPN);
    return r;
  case B_STRPBRK: {
    need(2);
    uint32_t at = ptr(0) + span(ptr(0), ptr(1), false);
    r.i = memory_[at] ? at : 0;   // span checked the unit it stopped at
    return r;
  }
  case B_STRTOK:
    need(2);
    return string_token(args[0].i ? ptr(0) : 0, ptr(1));
  case B_ATOF:
  case B_STRTOD:
  case B_STRTOF:
  case B_STRTOLD: {
    need(id == B_ATOF ? 1 : 2);
    uint32_t end = parse_float(ptr(0), id != B_STRTOLD, r.d);
    if (id != B_ATOF && args[1].i != 0)
      store_int(ptr(1), kPointerLayout, end, true);
    return r;
  }
  case B_LDEXP:
  case B_LDEXPF:
  case B_LDEXPL:
    need(2);
    r.d = std::ldexp(real(0), static_cast<int>(wrap(integer(1), kIntLayout)));
    return r;
  case B_FREXP:
  case B_FREXPF:
  case B_FREXPL: {
    need(2);
    int e = 0;
    r.d = std::frexp(real(0), &e);
    store_int(ptr(1), kIntLayout, e, true);   // 0 for zero, infinity and NaN
    return r;
  }
  case B_MODF:
  case B_MODFF:
  case B_MODFL: {
    // The integral part is stored in the floating type of the call.
    need(2);
    double whole = 0;
    r.d = std::modf(real(0), &whole);
    store_float(ptr(1), id == B_MODFL ? kLongDoubleLayout : kFloatLayout, whole, true);
    return r;
  }
  case B_PERROR: {
    // There is no errno: the message says so.
    std::string text = args.empty() || args[0].i == 0 ? "" : read_string(ptr(0));
    if (!text.empty())
      text += ": ";
    write_stream(kBuiltinNames[id], 2 /* stderr */, text + "unknown error\n");
    return r;
  }
  case B_TOUPPER:
  case B_TOLOWER: {
    need(1);
    int64_t c = wrap(integer(0), kIntLayout);
    if (id == B_TOUPPER && c >= 'a' && c <= 'z')
      c -= 'a' - 'A';
    else if (id == B_TOLOWER && c >= 'A' && c <= 'Z')
      c += 'a' - 'A';
    r.i = c;
    return r;
  }
  default:
    fail("internal: runtime function " + std::to_string(id));
  }
}

// --------------------------------------------------------------------- run

// setjmp(env): env keeps the number of the target (plus 1); a setjmp that
// runs again in the same call and statement keeps its number.
int64_t Interpreter::do_setjmp(uint32_t env) {
  if (setjmp_result_) {
    const int64_t v = *setjmp_result_;
    setjmp_result_.reset();
    return v;
  }
  if (!current_fun_ || !current_stmt_)
    fail("setjmp outside a function");
  JumpTarget t{frame_,
               static_cast<uint32_t>(current_stmt_ - current_fun_->stmts.data()),
               sp_,
               reg_top_,
               depth_,
               loop_counters_.size(),
               vla_blocks_.size(),
               frames_.size()};
  size_t id = jump_targets_.size();
  check(env, 2, false);
  const int64_t old = load_int(env, kIntLayout, false) - 1;
  if (old >= 0 && static_cast<size_t>(old) < jump_targets_.size() &&
      jump_targets_[old].frame == t.frame && jump_targets_[old].stmt == t.stmt)
    id = static_cast<size_t>(old);
  if (id == jump_targets_.size())
    jump_targets_.push_back(t);
  else
    jump_targets_[id] = t;
  store_int(env, kIntLayout, static_cast<int64_t>(id) + 1, true);
  return 0;
}

void Interpreter::do_longjmp(uint32_t env, int64_t value) {
  const int64_t id = load_int(env, kIntLayout, true) - 1;
  if (id < 0 || static_cast<size_t>(id) >= jump_targets_.size())
    fail("longjmp with a jmp_buf that setjmp did not fill");
  const JumpTarget &t = jump_targets_[static_cast<size_t>(id)];
  if (t.frames == 0 || t.frames > frames_.size() || frames_[t.frames - 1] != t.frame)
    fail("longjmp to a function that has returned");
  throw LongJump{static_cast<size_t>(id), value == 0 ? 1 : value};
}

void Interpreter::run_exit_handlers() {
  frames_.clear();   // exit left every call: none can be a longjmp target
  while (!exit_handlers_.empty()) {
    const int64_t handler = exit_handlers_.back();
    exit_handlers_.pop_back();
    call_address(handler, {}, {}, Layout{VC_VOID, 64, true, false, false, false, 0});
    std::fflush(stdout);
  }
}

int Interpreter::run() {
  int code = 0;
  try {
    load();
    auto it = std::find_if(functions_.begin(), functions_.end(),
                           [&](const Function &f) { return f.name == options_.entry; });
    if (it == functions_.end()) {
      std::fflush(stdout);
      std::fprintf(stderr, "zrun: error: no function '%s' to run\n", options_.entry.c_str());
      return kExitRuntimeError;
    }
    std::vector<Val> args;
    setup_arguments(*it, args);
    // Two units of no object: the variadic area of functions that have
    // none, so that every read through it is reported.
    empty_area_ = (allocate(2, 0) + 1) & ~1u;
    heap_top_ = global_top_;
    sp_ = kMemoryUnits;
    std::vector<CNode *> no_nodes;
    std::vector<CNode *> arg_nodes;
    // main's arguments: argc an int, argv a pointer.
    CNode argc_node, argv_node;
    argc_node.l = Layout{VC_INT, 32, true, false, false, false, 2};
    argv_node.l = Layout{VC_INT, 16, false, true, false, false, 1};
    if (!args.empty())
      arg_nodes.push_back(&argc_node);
    if (args.size() > 1)
      arg_nodes.push_back(&argv_node);
    Val r = execute(*it, arg_nodes, args);
    std::fflush(stdout);
    code = it->has_result && it->result.cls == VC_INT ? static_cast<int>(r.i & 0xff) : 0;
    run_exit_handlers();
  } catch (const ProgramExit &e) {
    std::fflush(stdout);
    code = e.status;
    // exit runs the handlers atexit registered, latest first; calling exit
    // again from one of them ends the run with its status.
    try {
      run_exit_handlers();
    } catch (const ProgramExit &again) {
      code = again.status;
    } catch (const RunError &err) {
      std::fflush(stdout);
      std::fprintf(stderr, "zrun: error: %s%s\n", err.what(), where().c_str());
      code = err.exit_code;
    }
  } catch (const RunError &e) {
    std::fflush(stdout);
    std::fprintf(stderr, "zrun: error: %s%s\n", e.what(), where().c_str());
    code = e.exit_code;
  } catch (const std::exception &e) {
    // A fault of the type package on a malformed tree.
    std::fflush(stdout);
    std::string msg = e.what();
    while (!msg.empty() && msg.back() == '\n')
      msg.pop_back();
    while (!msg.empty() && msg.front() == '\n')
      msg.erase(0, 1);
    std::fprintf(stderr, "zrun: error: %s%s\n", msg.c_str(), where().c_str());
    code = kExitRuntimeError;
  }
  return code;
}

RunStats Interpreter::stats() const {
  RunStats s;
  s.statements = steps_;
  s.branches = branches_;
  s.loads = extra_loads_;
  s.stores = extra_stores_;
  uint64_t op_cost = 0;
  for (const CNode &c : nodes_) {
    if (!c.count || c.hidden)
      continue;
    s.nodes += c.count;
    s.loads += c.count * c.loads;
    s.stores += c.count * c.stores;
    if (c.is_call)
      s.calls += c.count;
    op_cost += c.count * costs_.op[c.cost];
  }
  s.cost = op_cost + (s.loads + s.stores) * costs_.memory + s.calls * costs_.call +
           s.branches * costs_.branch;
  return s;
}

} // namespace zor::run
