// tools/zrun/scan.cpp - input for the program: scanf and sscanf, fgets,
// fgetc and getc on the standard input.
//
// The scan follows C's rules for the conversions programs use: white space
// in the format skips any white space of the input, other characters must
// match, and %d %i %u %o %x %X %c %s %[...] %f %e %g %a %n %% read one item
// each, with an assignment-suppressing '*', a maximum width and the length
// modifiers hh h l ll j z t L.  The stored width follows the ZOR types: no
// modifier int (32 bits), h and hh 16, l long (32), ll and j 64; for the
// floating conversions none and l store a 32-bit single (float and double),
// L a 64-bit long double.  The result is the number of items assigned, or
// EOF (-1) when the input ended before the first conversion.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "tools/zrun/builtins.h"
#include "tools/zrun/interp.h"
#include "tools/zrun/xops.h"

namespace zor::run {

namespace {

constexpr int64_t kStdin = 3;

// The characters a scan reads: get() returns the next one or EOF; unget()
// gives back the last one read.
struct ScanInput {
  std::function<int()> get;
  std::function<void(int)> unget;
  int64_t consumed = 0;

  int next() {
    int c = get();
    if (c != EOF)
      ++consumed;
    return c;
  }
  void back(int c) {
    if (c == EOF)
      return;
    unget(c);
    --consumed;
  }
  // Skips white space; false at the end of the input.
  bool skip_space() {
    int c;
    do
      c = next();
    while (c != EOF && std::isspace(c));
    back(c);
    return c != EOF;
  }
};

bool in_scanset(const std::string &set, bool negated, int c) {
  bool found = false;
  for (size_t i = 0; i < set.size() && !found; ++i) {
    if (i + 2 < set.size() && set[i + 1] == '-') {
      found = c >= static_cast<unsigned char>(set[i]) && c <= static_cast<unsigned char>(set[i + 2]);
      i += 2;
    } else {
      found = c == static_cast<unsigned char>(set[i]);
    }
  }
  return found != negated;
}

// The longest prefix of the input (at most width characters) that reads
// as an integer in base (0: C's prefixes decide).
std::string integer_token(ScanInput &in, int base, size_t width) {
  std::string tok;
  auto take = [&](auto accept) {
    if (tok.size() >= width)
      return false;
    int c = in.next();
    if (c != EOF && accept(c)) {
      tok.push_back(static_cast<char>(c));
      return true;
    }
    in.back(c);
    return false;
  };
  take([](int c) { return c == '+' || c == '-'; });
  if ((base == 0 || base == 16) && take([](int c) { return c == '0'; })) {
    if (take([](int c) { return c == 'x' || c == 'X'; }))
      base = 16;
    else if (base == 0)
      base = 8;
  }
  if (base == 0)
    base = 10;
  while (take([base](int c) {
    int d = std::isdigit(c) ? c - '0' : std::isalpha(c) ? (c | 0x20) - 'a' + 10 : 99;
    return d < base;
  })) {
  }
  return tok;
}

std::string float_token(ScanInput &in, size_t width) {
  std::string tok;
  auto take = [&](const char *accept) {
    if (tok.size() >= width)
      return false;
    int c = in.next();
    if (c != EOF && c != 0 && std::strchr(accept, c)) {
      tok.push_back(static_cast<char>(c));
      return true;
    }
    in.back(c);
    return false;
  };
  const char *digits = "0123456789";
  take("+-");
  while (take(digits)) {
  }
  if (take("."))
    while (take(digits)) {
    }
  if (take("eE")) {
    take("+-");
    while (take(digits)) {
    }
  }
  return tok;
}

} // namespace

int64_t Interpreter::scan_family(int id, const std::vector<CNode *> &arg_nodes,
                                 std::vector<Val> &args) {
  const std::string name = builtin_name(id);
  const size_t lead = id == B_SSCANF ? 1 : 0;
  if (args.size() < lead + 1)
    fail(name + " with too few arguments");
  for (size_t k = 0; k <= lead; ++k)
    if (poisoned(args[k].i))
      fail("use of an uninitialized pointer");
  ScanInput in;
  if (id == B_SSCANF) {
    // get and unget share the position in the string.
    auto pos = std::make_shared<uint32_t>(static_cast<uint32_t>(args[0].i));
    in.get = [this, pos]() {
      check(*pos, 1, false);
      int c = memory_[*pos] & 0xff;
      if (c == 0)
        return EOF;
      ++*pos;
      return c;
    };
    in.unget = [pos](int) { --*pos; };
  } else {
    std::fflush(stdout);
    in.get = [] { return std::getchar(); };
    in.unget = [](int c) { std::ungetc(c, stdin); };
  }
  const std::string fmt = read_string(static_cast<uint32_t>(args[lead].i));
  size_t next = lead + 1;
  auto target = [&]() -> uint32_t {
    if (next >= args.size())
      fail(name + ": too few arguments for the format");
    int64_t p = args[next++].i;
    if (poisoned(p))
      fail("use of an uninitialized pointer");
    return static_cast<uint32_t>(p);
  };
  int64_t assigned = 0;
  bool converted = false;   // a conversion was attempted on some input
  for (size_t i = 0; i < fmt.size(); ++i) {
    const unsigned char f = static_cast<unsigned char>(fmt[i]);
    if (std::isspace(f)) {
      in.skip_space();
      continue;
    }
    if (f != '%' || (i + 1 < fmt.size() && fmt[i + 1] == '%')) {
      if (f == '%') {
        ++i;
        in.skip_space();
      }
      int c = in.next();
      if (c == static_cast<int>(f))
        continue;
      in.back(c);
      if (c == EOF && !converted)
        return -1;
      break;   // a matching failure ends the scan
    }
    ++i;
    const bool suppress = i < fmt.size() && fmt[i] == '*';
    if (suppress)
      ++i;
    size_t width = 0;
    while (i < fmt.size() && std::isdigit(static_cast<unsigned char>(fmt[i])))
      width = width * 10 + static_cast<size_t>(fmt[i++] - '0');
    const LengthModifier length = read_length_modifier(fmt, i);
    if (i >= fmt.size())
      break;
    const char conv = fmt[i];
    if (conv == 'n') {
      if (!suppress)
        store_int(target(), kIntLayout, in.consumed, true);
      continue;
    }
    if (conv != 'c' && conv != '[' && !in.skip_space())
      return converted ? assigned : -1;
    converted = true;
    const size_t limit = width ? width : SIZE_MAX;
    switch (conv) {
    case 'd': case 'i': case 'u': case 'o': case 'x': case 'X': {
      const int base = conv == 'i' ? 0 : conv == 'o' ? 8 : conv == 'x' || conv == 'X' ? 16 : 10;
      std::string tok = integer_token(in, base, limit);
      if (tok.empty() || tok == "+" || tok == "-")
        return assigned;
      if (!suppress) {
        const bool sgn = conv == 'd' || conv == 'i';
        int64_t v = sgn ? static_cast<int64_t>(std::strtoll(tok.c_str(), nullptr, base))
                        : static_cast<int64_t>(std::strtoull(tok.c_str(), nullptr, base));
        const auto bits = static_cast<uint8_t>(length.int_bits);
        store_int(target(), Layout{VC_INT, bits, sgn, false, false, false, bits / 16u}, v, true);
        ++assigned;
      }
      break;
    }
    case 'f': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A': {
      std::string tok = float_token(in, limit);
      if (tok.empty() || tok.find_first_of("0123456789") == std::string::npos)
        return assigned;
      if (!suppress) {
        const bool single = !length.long_double;
        store_float(target(), Layout{VC_FLOAT, 64, true, false, false, single, single ? 2u : 4u},
                    std::strtod(tok.c_str(), nullptr), true);
        ++assigned;
      }
      break;
    }
    case 'c': {
      const size_t n = width ? width : 1;
      uint32_t to = suppress ? 0 : target();
      for (size_t k = 0; k < n; ++k) {
        int c = in.next();
        if (c == EOF)
          return assigned ? assigned : (k == 0 ? -1 : assigned);
        if (!suppress)
          store_int(to + static_cast<uint32_t>(k), Layout{VC_INT, 16, true, false, false, false, 1},
                    c, true);
      }
      if (!suppress)
        ++assigned;
      break;
    }
    case 's':
    case '[': {
      std::string set;
      bool negated = false;
      if (conv == '[') {
        ++i;
        negated = i < fmt.size() && fmt[i] == '^';
        if (negated)
          ++i;
        if (i < fmt.size() && fmt[i] == ']')
          set.push_back(fmt[i++]);
        while (i < fmt.size() && fmt[i] != ']')
          set.push_back(fmt[i++]);
      }
      std::string text;
      for (int c = in.next();; c = in.next()) {
        const bool ok = c != EOF && text.size() < limit &&
                        (conv == 's' ? !std::isspace(c) : in_scanset(set, negated, c));
        if (!ok) {
          in.back(c);
          break;
        }
        text.push_back(static_cast<char>(c));
      }
      if (text.empty())
        return assigned;
      if (!suppress) {
        store_text(target(), text, text.size() + 1);
        ++assigned;
      }
      break;
    }
    default:
      fail(name + ": unsupported conversion '%" + std::string(1, conv) + "'");
    }
  }
  return assigned;
}

// fgets(buf, n, stream), fgetc(stream), getc(stream): the standard input
// only.
Val Interpreter::read_input(int id, const std::vector<CNode *> &arg_nodes, std::vector<Val> &args) {
  Val r;
  r.i = 0;
  const size_t stream = id == B_FGETS ? 2 : 0;
  if (args.size() <= stream)
    fail(builtin_name(id) + " with too few arguments");
  if (args[stream].i != kStdin)
    fail(builtin_name(id) + ": not a stream zrun can read");
  std::fflush(stdout);
  if (id != B_FGETS) {
    int c = std::getchar();
    r.i = c == EOF ? -1 : c;
    return r;
  }
  if (poisoned(args[0].i))
    fail("use of an uninitialized pointer");
  const int64_t n = wrap(as_int(args[1], arg_nodes[1]), kIntLayout);
  if (n <= 0)
    return r;
  std::string line;
  int c = EOF;
  while (static_cast<int64_t>(line.size()) < n - 1 && (c = std::getchar()) != EOF) {
    line.push_back(static_cast<char>(c));
    if (c == '\n')
      break;
  }
  if (line.empty())
    return r;   // end of input: a null pointer
  store_text(static_cast<uint32_t>(args[0].i), line, line.size() + 1);
  r.i = args[0].i;
  return r;
}

} // namespace zor::run
