// tools/zrun/builtins.h - the runtime functions of zrun by number.
//
// A call of a function the program does not define goes to the runtime
// function of that name (builtin_id in interp.h).  The plain functions are
// numbered by Builtin; the math functions follow from B_COUNT on, two ids
// per entry of the math table: the double form ("sin") and the float form
// ("sinf").  Both compute in double and the call rounds the result to its
// own floating type.
#pragma once

#include <cstdint>
#include <string>

#include "tools/zrun/interp.h"

namespace zor::run {

enum Builtin {
  // stdio.h
  B_PRINTF, B_FPRINTF, B_SPRINTF, B_SNPRINTF, B_VPRINTF, B_VFPRINTF, B_VSPRINTF, B_VSNPRINTF,
  B_PUTCHAR, B_PUTS, B_FPUTS, B_FPUTC, B_PUTC, B_FFLUSH, B_GETCHAR,
  B_SCANF, B_SSCANF, B_FGETS, B_FGETC, B_GETC, B_PERROR,
  // stdlib.h
  B_ABORT, B_EXIT, B_MALLOC, B_CALLOC, B_REALLOC, B_FREE, B_ABS, B_LABS, B_LLABS, B_ATOI,
  B_ATOL, B_STRTOL, B_STRTOUL, B_RAND, B_SRAND, B_QSORT, B_BSEARCH,
  B_ATOF, B_STRTOD, B_STRTOF, B_STRTOLD,
  // string.h
  B_MEMCPY, B_MEMMOVE, B_MEMSET, B_MEMCMP, B_MEMCHR, B_STRLEN, B_STRCMP, B_STRNCMP, B_STRCPY,
  B_STRNCPY, B_STRCAT, B_STRNCAT, B_STRCHR, B_STRRCHR, B_STRSTR, B_STRDUP,
  B_STRSPN, B_STRCSPN, B_STRPBRK, B_STRTOK,
  // ctype.h
  B_ISDIGIT, B_ISALPHA, B_ISALNUM, B_ISSPACE, B_ISUPPER, B_ISLOWER, B_ISXDIGIT, B_ISPRINT,
  B_ISPUNCT, B_ISGRAPH, B_ISCNTRL, B_TOUPPER, B_TOLOWER,
  // math.h functions with an int or pointer operand, by floating type of
  // the call: double and float (both 32 bits), long double (64)
  B_LDEXP, B_LDEXPF, B_LDEXPL, B_FREXP, B_FREXPF, B_FREXPL, B_MODF, B_MODFF, B_MODFL,
  // time.h (no clock: every run is the same), atexit, setjmp.h, div
  B_TIME, B_CLOCK, B_DIFFTIME, B_ATEXIT, B_SETJMP, B_LONGJMP, B_DIV, B_LDIV, B_LLDIV,
  // the bit builtins zcc passes on as calls: for each operation the int,
  // long and long long forms (32, 32 and 64 bits)
  B_POPCOUNT, B_POPCOUNTL, B_POPCOUNTLL, B_CLZ, B_CLZL, B_CLZLL, B_CTZ, B_CTZL, B_CTZLL,
  B_PARITY, B_PARITYL, B_PARITYLL, B_FFS, B_FFSL, B_FFSLL, B_BSWAP16, B_BSWAP32, B_BSWAP64,
  B_COUNT
};

// An entry of the math table: one of the two functions is set.
struct MathFunction {
  const char *name;   // the double form; the float form appends 'f'
  double (*unary)(double);
  double (*binary)(double, double);
};

// The math entry of a runtime function id, or nullptr.
const MathFunction *math_function(int id);

// The name of a runtime function id (messages).
std::string builtin_name(int id);

// An operand's value as an integer or as a double, whatever its class.
inline int64_t as_int(const Val &v, const CNode *n) {
  if (n->l.cls == VC_FLOAT)
    return static_cast<int64_t>(v.d);
  return v.i;
}

inline double as_double(const Val &v, const CNode *n) {
  if (n->l.cls == VC_FLOAT)
    return v.d;
  return n->l.sgn ? static_cast<double>(v.i) : static_cast<double>(static_cast<uint64_t>(v.i));
}

// The length modifiers of a printf or scanf conversion, read from fmt at i
// (i moves past them): the integer width they give (none, l, z and t 32
// bits, ll and j 64, h and hh 16) and whether L was among them.
struct LengthModifier {
  unsigned int_bits = 32;
  bool long_double = false;
};
LengthModifier read_length_modifier(const std::string &fmt, size_t &i);

// Layouts the runtime reads and writes values with.
constexpr Layout kIntLayout{VC_INT, 32, true, false, false, false, 2};
constexpr Layout kLongLongLayout{VC_INT, 64, true, false, false, false, 4};
constexpr Layout kUnsignedLayout{VC_INT, 32, false, false, false, false, 2};
constexpr Layout kPointerLayout{VC_INT, 16, false, true, false, false, 1};
constexpr Layout kFloatLayout{VC_FLOAT, 64, true, false, false, true, 2};
constexpr Layout kLongDoubleLayout{VC_FLOAT, 64, true, false, false, false, 4};

} // namespace zor::run
