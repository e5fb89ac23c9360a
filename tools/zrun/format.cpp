// tools/zrun/format.cpp - the printf family of zrun: one format engine for
// printf, fprintf, sprintf, snprintf and their v-forms, and the streams.
//
// The arguments of a format come either from the operands of the call (their
// own types say how they are held) or from a variadic area (the v-forms),
// where the conversion decides the slot: an int slot of 2 units (4 with
// ll), a pointer slot of 2 units with the pointer in its first, a float slot
// of 2 units (4 with L, long double).  Every read of an area is checked, so
// a format that asks for more arguments than were passed is reported.
//
// A FILE pointer is 1 for stdout and 2 for stderr (zcc's stdio.h); zrun
// writes them to its own standard output and standard error.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tools/zrun/builtins.h"
#include "tools/zrun/xops.h"

namespace zor::run {

namespace {

constexpr int64_t kStdout = 1;
constexpr int64_t kStderr = 2;

size_t take_operand(const char *fn, FormatArgs &args) {
  if (args.next >= args.vals->size())
    throw RunError(std::string(fn) + ": too few arguments for the format", kExitRuntimeError);
  return args.next++;
}

} // namespace

LengthModifier read_length_modifier(const std::string &fmt, size_t &i) {
  int longs = 0, shorts = 0;
  LengthModifier m;
  while (i < fmt.size() && std::strchr("hlLzjt", fmt[i])) {
    if (fmt[i] == 'h')
      ++shorts;
    else if (fmt[i] == 'j')
      longs = 2;
    else if (fmt[i] == 'l' || fmt[i] == 'L')
      ++longs;
    m.long_double |= fmt[i] == 'L';
    ++i;
  }
  m.int_bits = longs >= 2 ? 64 : shorts ? 16 : 32;
  return m;
}

int64_t Interpreter::format_int(const char *fn, FormatArgs &args, unsigned width, bool sgn) {
  if (!args.from_area) {
    size_t k = take_operand(fn, args);
    const CNode *n = (*args.nodes)[k];
    // The length modifier's width, narrowed to the argument's own type.
    unsigned w = n->l.cls == VC_INT ? std::min<unsigned>(width, n->l.width) : width;
    return wrap(as_int((*args.vals)[k], n), Layout{VC_INT, static_cast<uint8_t>(w), sgn});
  }
  const Layout &slot = width > 32 ? Layout{VC_INT, 64, sgn, false, false, false, 4} : kIntLayout;
  check(args.area, slot.units, false);
  int64_t v = load_int(static_cast<uint32_t>(args.area), slot, false);
  args.area += slot.units;
  return wrap(v, Layout{VC_INT, static_cast<uint8_t>(width), sgn});
}

double Interpreter::format_float(const char *fn, FormatArgs &args, bool long_double) {
  if (!args.from_area) {
    size_t k = take_operand(fn, args);
    return as_double((*args.vals)[k], (*args.nodes)[k]);
  }
  Layout slot{VC_FLOAT, 64, true, false, false, !long_double, long_double ? 4u : 2u};
  check(args.area, slot.units, false);
  double v = load_float(static_cast<uint32_t>(args.area), slot, false);
  args.area += slot.units;
  return v;
}

int64_t Interpreter::format_pointer(const char *fn, FormatArgs &args) {
  if (!args.from_area)
    return (*args.vals)[take_operand(fn, args)].i;
  check(args.area, 2, false);
  int64_t v = load_int(static_cast<uint32_t>(args.area), kPointerLayout, false);
  args.area += 2;
  return v;
}

std::string Interpreter::format(const char *fn, uint32_t fmt_addr, FormatArgs &args) {
  const std::string fmt = read_string(fmt_addr);
  std::string out;
  for (size_t i = 0; i < fmt.size(); ++i) {
    if (fmt[i] != '%') {
      out.push_back(fmt[i]);
      continue;
    }
    size_t start = i++;
    std::string conv_text = "%";
    while (i < fmt.size() && std::strchr("-+ #0", fmt[i]))
      conv_text.push_back(fmt[i++]);
    auto number = [&]() {
      if (i < fmt.size() && fmt[i] == '*') {
        conv_text += std::to_string(static_cast<int>(format_int(fn, args, 32, true)));
        ++i;
        return;
      }
      while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9')
        conv_text.push_back(fmt[i++]);
    };
    number();
    if (i < fmt.size() && fmt[i] == '.') {
      conv_text.push_back(fmt[i++]);
      number();
    }
    const LengthModifier length = read_length_modifier(fmt, i);
    if (i >= fmt.size()) {
      out.append(fmt, start, std::string::npos);
      break;
    }
    char conv = fmt[i];
    if (conv == '%') {
      out.push_back('%');
      continue;
    }
    const unsigned width = length.int_bits;
    const bool long_double = length.long_double;
    char buf[600];
    buf[0] = 0;
    switch (conv) {
    case 'd':
    case 'i':
      conv_text += "lld";
      std::snprintf(buf, sizeof buf, conv_text.c_str(),
                    static_cast<long long>(format_int(fn, args, width, true)));
      break;
    case 'u':
    case 'x':
    case 'X':
    case 'o':
      conv_text += "ll";
      conv_text.push_back(conv);
      std::snprintf(buf, sizeof buf, conv_text.c_str(),
                    static_cast<unsigned long long>(format_int(fn, args, width, false)));
      break;
    case 'c':
      conv_text += "c";
      std::snprintf(buf, sizeof buf, conv_text.c_str(),
                    static_cast<int>(format_int(fn, args, 32, true) & 0xff));
      break;
    case 's': {
      int64_t p = format_pointer(fn, args);
      if (poisoned(p))
        fail("use of an uninitialized pointer");
      // A precision limits the characters read.
      size_t limit = SIZE_MAX;
      size_t dot = conv_text.find('.');
      if (dot != std::string::npos)
        limit = static_cast<size_t>(std::atoi(conv_text.c_str() + dot + 1));
      std::string s = read_string(static_cast<uint32_t>(p), limit);
      conv_text += "s";
      std::snprintf(buf, sizeof buf, conv_text.c_str(), s.c_str());
      break;
    }
    case 'p': {
      conv_text += "s";
      char p[16];
      std::snprintf(p, sizeof p, "0x%04x",
                    static_cast<unsigned>(format_pointer(fn, args) & 0xffff));
      std::snprintf(buf, sizeof buf, conv_text.c_str(), p);
      break;
    }
    case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A':
      conv_text.push_back(conv);
      std::snprintf(buf, sizeof buf, conv_text.c_str(), format_float(fn, args, long_double));
      break;
    default:
      fail(std::string(fn) + ": unsupported conversion '%" + conv + "'");
    }
    out += buf;
  }
  return out;
}

void Interpreter::write_stream(const char *fn, int64_t stream, const std::string &text) {
  if (stream == kStdout) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    return;
  }
  if (stream == kStderr) {
    std::fflush(stdout);   // keeps the order of the two streams
    std::fwrite(text.data(), 1, text.size(), stderr);
    return;
  }
  if (poisoned(stream))
    fail("use of an uninitialized pointer");
  fail(std::string(fn) + " to a stream that is neither stdout nor stderr");
}

void Interpreter::store_text(uint32_t dst, const std::string &text, uint64_t limit) {
  if (limit == 0)
    return;
  uint64_t n = std::min<uint64_t>(text.size(), limit - 1);
  for (uint64_t i = 0; i <= n; ++i) {
    check(int64_t{dst} + static_cast<int64_t>(i), 1, true);
    memory_[dst + i] = i < n ? static_cast<uint8_t>(text[i]) : 0;
    shadow_[dst + i] |= SH_INIT;
  }
}

int64_t Interpreter::printf_family(int id, const std::vector<CNode *> &arg_nodes,
                                   std::vector<Val> &args) {
  const std::string name = builtin_name(id);
  const char *fn = name.c_str();
  const bool v_form = id == B_VPRINTF || id == B_VFPRINTF || id == B_VSPRINTF || id == B_VSNPRINTF;
  // The operands before the format: a stream, a buffer, a buffer and its size.
  size_t lead = 0;
  if (id == B_FPRINTF || id == B_VFPRINTF || id == B_SPRINTF || id == B_VSPRINTF)
    lead = 1;
  else if (id == B_SNPRINTF || id == B_VSNPRINTF)
    lead = 2;
  if (args.size() < lead + (v_form ? 2 : 1))
    fail(name + " with too few arguments");
  FormatArgs fa;
  if (v_form) {
    fa.from_area = true;
    fa.area = args[lead + 1].i;
  } else {
    fa.nodes = &arg_nodes;
    fa.vals = &args;
    fa.next = lead + 1;
  }
  int64_t fmt = args[lead].i;
  if (poisoned(fmt))
    fail("use of an uninitialized pointer");
  std::string text = format(fn, static_cast<uint32_t>(fmt), fa);
  switch (id) {
  case B_SPRINTF:
  case B_VSPRINTF:
  case B_SNPRINTF:
  case B_VSNPRINTF: {
    if (poisoned(args[0].i))
      fail("use of an uninitialized pointer");
    uint64_t limit = UINT64_MAX;
    if (lead == 2)
      limit = static_cast<uint64_t>(wrap(as_int(args[1], arg_nodes[1]), kUnsignedLayout));
    store_text(static_cast<uint32_t>(args[0].i), text, limit);
    break;
  }
  case B_FPRINTF:
  case B_VFPRINTF:
    write_stream(fn, args[0].i, text);
    break;
  default:
    write_stream(fn, kStdout, text);
    break;
  }
  return static_cast<int64_t>(text.size());
}

} // namespace zor::run
