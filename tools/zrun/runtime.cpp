// tools/zrun/runtime.cpp - the runtime functions of zrun (printf, the heap,
// the mem* and str* functions), the run itself and its statistics.
//
// Characters are one byte in each 16-bit unit, as string constants hold
// them; memcpy, memset and friends count units, as sizeof does.
#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "tools/zrun/interp.h"
#include "tools/zrun/xops.h"

namespace zor::run {

namespace {

enum Builtin {
  B_PRINTF, B_PUTCHAR, B_PUTS, B_ABORT, B_EXIT, B_MALLOC, B_CALLOC, B_FREE, B_MEMCPY,
  B_MEMMOVE, B_MEMSET, B_MEMCMP, B_STRLEN, B_STRCMP, B_STRCPY,
  // math.h of zcc (double is single precision on the ZOR)
  B_FABS, B_SQRT, B_FLOOR, B_CEIL, B_FMOD, B_FABSF, B_SQRTF,
  // the rest of zcc's stdlib.h and string.h
  B_REALLOC, B_ABS, B_LABS, B_ATOI, B_STRNCMP, B_STRNCPY, B_STRCAT, B_STRCHR, B_COUNT
};

const char *const kBuiltinNames[B_COUNT] = {
  "printf", "putchar", "puts", "abort", "exit", "malloc", "calloc", "free", "memcpy",
  "memmove", "memset", "memcmp", "strlen", "strcmp", "strcpy",
  "fabs", "sqrt", "floor", "ceil", "fmod", "fabsf", "sqrtf",
  "realloc", "abs", "labs", "atoi", "strncmp", "strncpy", "strcat", "strchr",
};

} // namespace

int builtin_id(const std::string &name) {
  for (int i = 0; i < B_COUNT; ++i)
    if (name == kBuiltinNames[i])
      return i;
  return -1;
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

namespace {

int64_t as_int(const Val &v, const CNode *n) {
  if (n->l.cls == VC_FLOAT)
    return static_cast<int64_t>(v.d);
  return v.i;
}

double as_double(const Val &v, const CNode *n) {
  if (n->l.cls == VC_FLOAT)
    return v.d;
  return n->l.sgn ? static_cast<double>(v.i) : static_cast<double>(static_cast<uint64_t>(v.i));
}

} // namespace

int64_t Interpreter::do_printf(const std::vector<CNode *> &arg_nodes, std::vector<Val> &args) {
  if (args.empty())
    fail("printf without a format");
  std::string fmt = read_string(static_cast<uint32_t>(args[0].i));
  std::string out;
  size_t next = 1;
  auto take = [&]() -> size_t {
    if (next >= args.size())
      fail("printf: too few arguments for the format");
    return next++;
  };
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
        size_t k = take();
        conv_text += std::to_string(static_cast<int>(as_int(args[k], arg_nodes[k])));
        ++i;
        return;
      }
      while (i < fmt.size() && std::isdigit(static_cast<unsigned char>(fmt[i])))
        conv_text.push_back(fmt[i++]);
    };
    number();
    if (i < fmt.size() && fmt[i] == '.') {
      conv_text.push_back(fmt[i++]);
      number();
    }
    int longs = 0, shorts = 0;
    while (i < fmt.size() && (fmt[i] == 'l' || fmt[i] == 'h' || fmt[i] == 'L')) {
      if (fmt[i] == 'h')
        ++shorts;
      else
        ++longs;
      ++i;
    }
    if (i >= fmt.size()) {
      out.append(fmt, start, std::string::npos);
      break;
    }
    char conv = fmt[i];
    if (conv == '%') {
      out.push_back('%');
      continue;
    }
    // The length modifier gives the width of the argument (none or l 32
    // bits, ll 64, h and hh 16), narrowed to the argument's own type.
    unsigned width = longs >= 2 ? 64 : shorts ? 16 : 32;
    auto arg_width = [&](size_t k) {
      const Layout &l = arg_nodes[k]->l;
      return static_cast<uint8_t>(l.cls == VC_INT ? std::min<unsigned>(width, l.width) : width);
    };
    char buf[600];
    buf[0] = 0;
    switch (conv) {
    case 'd':
    case 'i': {
      size_t k = take();
      Layout l{VC_INT, arg_width(k), true, false, false, false, 4};
      int64_t v = wrap(as_int(args[k], arg_nodes[k]), l);
      conv_text += "lld";
      std::snprintf(buf, sizeof buf, conv_text.c_str(), static_cast<long long>(v));
      break;
    }
    case 'u':
    case 'x':
    case 'X':
    case 'o': {
      size_t k = take();
      Layout l{VC_INT, arg_width(k), false, false, false, false, 4};
      int64_t v = wrap(as_int(args[k], arg_nodes[k]), l);
      conv_text += "ll";
      conv_text.push_back(conv);
      std::snprintf(buf, sizeof buf, conv_text.c_str(), static_cast<unsigned long long>(v));
      break;
    }
    case 'c': {
      size_t k = take();
      conv_text += "c";
      std::snprintf(buf, sizeof buf, conv_text.c_str(),
                    static_cast<int>(as_int(args[k], arg_nodes[k]) & 0xff));
      break;
    }
    case 's': {
      size_t k = take();
      // A precision limits the characters read.
      size_t limit = SIZE_MAX;
      size_t dot = conv_text.find('.');
      if (dot != std::string::npos)
        limit = static_cast<size_t>(std::atoi(conv_text.c_str() + dot + 1));
      std::string s = read_string(static_cast<uint32_t>(args[k].i), limit);
      conv_text += "s";
      std::snprintf(buf, sizeof buf, conv_text.c_str(), s.c_str());
      break;
    }
    case 'p': {
      size_t k = take();
      conv_text += "s";
      char p[16];
      std::snprintf(p, sizeof p, "0x%04x", static_cast<unsigned>(args[k].i & 0xffff));
      std::snprintf(buf, sizeof buf, conv_text.c_str(), p);
      break;
    }
    case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A': {
      size_t k = take();
      conv_text.push_back(conv);
      std::snprintf(buf, sizeof buf, conv_text.c_str(), as_double(args[k], arg_nodes[k]));
      break;
    }
    default:
      fail(std::string("printf: unsupported conversion '%") + conv + "'");
    }
    out += buf;
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return static_cast<int64_t>(out.size());
}

// Copies the string at src, terminator included, to dst, checking every
// unit read and written.
void Interpreter::copy_string(uint32_t dst, uint32_t src) {
  for (;; ++dst, ++src) {
    check(src, 1, false);
    check(dst, 1, true);
    const uint16_t c = memory_[src];
    memory_[dst] = c;
    shadow_[dst] |= SH_INIT;
    if (c == 0)
      return;
  }
}

Val Interpreter::builtin(int id, const std::vector<CNode *> &arg_nodes, std::vector<Val> &args) {
  Val r;
  r.i = 0;
  auto need = [&](size_t n) {
    if (args.size() < n)
      fail(std::string(kBuiltinNames[id]) + " with too few arguments");
  };
  auto addr = [&](size_t k) { return static_cast<int64_t>(args[k].i); };
  auto count = [&](size_t k) -> uint32_t {
    int64_t n = as_int(args[k], arg_nodes[k]);
    if (n < 0 || n > static_cast<int64_t>(kMemoryUnits))
      fail(std::string(kBuiltinNames[id]) + " of " + std::to_string(n) + " units");
    return static_cast<uint32_t>(n);
  };
  switch (id) {
  case B_PRINTF:
    r.i = do_printf(arg_nodes, args);
    return r;
  case B_PUTCHAR:
    need(1);
    r.i = as_int(args[0], arg_nodes[0]) & 0xff;
    std::fputc(static_cast<int>(r.i), stdout);
    return r;
  case B_PUTS: {
    need(1);
    std::string text = read_string(static_cast<uint32_t>(addr(0)));
    text.push_back('\n');
    std::fwrite(text.data(), 1, text.size(), stdout);
    return r;
  }
  case B_ABORT:
    fail("abort called", kExitAbort);
  case B_EXIT:
    throw ProgramExit{args.empty() ? 0 : static_cast<int>(as_int(args[0], arg_nodes[0]) & 0xff)};
  case B_MALLOC:
    need(1);
    r.i = heap_alloc(static_cast<uint64_t>(as_int(args[0], arg_nodes[0])), false);
    return r;
  case B_CALLOC: {
    need(2);
    uint64_t n = static_cast<uint64_t>(as_int(args[0], arg_nodes[0]));
    uint64_t size = static_cast<uint64_t>(as_int(args[1], arg_nodes[1]));
    r.i = (n && size > kMemoryUnits / n) ? 0 : heap_alloc(n * size, true);
    return r;
  }
  case B_FREE:
    need(1);
    if (args[0].i & kPoison)
      fail("use of an uninitialized pointer");
    heap_free(static_cast<uint32_t>(addr(0)));
    return r;
  case B_MEMCPY:
  case B_MEMMOVE: {
    need(3);
    uint32_t n = count(2);
    if (n) {
      check(addr(1), n, false);
      check(addr(0), n, true);
      copy_units(static_cast<uint32_t>(addr(0)), static_cast<uint32_t>(addr(1)), n, false);
    }
    r.i = addr(0);
    return r;
  }
  case B_MEMSET: {
    need(3);
    uint32_t n = count(2);
    uint32_t d = static_cast<uint32_t>(addr(0));
    if (n)
      check(addr(0), n, true);
    uint16_t v = static_cast<uint16_t>(as_int(args[1], arg_nodes[1]));
    for (uint32_t i = 0; i < n; ++i) {
      memory_[d + i] = v;
      shadow_[d + i] |= SH_INIT;
    }
    r.i = addr(0);
    return r;
  }
  case B_MEMCMP: {
    need(3);
    uint32_t n = count(2);
    if (n) {
      check(addr(0), n, false);
      check(addr(1), n, false);
    }
    for (uint32_t i = 0; i < n; ++i) {
      uint16_t a = memory_[addr(0) + i], b = memory_[addr(1) + i];
      if (a != b) {
        r.i = a < b ? -1 : 1;
        return r;
      }
    }
    return r;
  }
  case B_STRLEN:
    need(1);
    r.i = static_cast<int64_t>(read_string(static_cast<uint32_t>(addr(0))).size());
    return r;
  case B_STRCMP: {
    need(2);
    uint32_t a = static_cast<uint32_t>(addr(0)), b = static_cast<uint32_t>(addr(1));
    for (;; ++a, ++b) {
      check(a, 1, false);
      check(b, 1, false);
      uint16_t x = memory_[a], y = memory_[b];
      if (x != y) {
        r.i = x < y ? -1 : 1;
        return r;
      }
      if (x == 0)
        return r;
    }
  }
  case B_STRCPY: {
    need(2);
    uint32_t d = static_cast<uint32_t>(addr(0)), s = static_cast<uint32_t>(addr(1));
    copy_string(d, s);
    r.i = addr(0);
    return r;
  }
  case B_REALLOC: {
    need(2);
    if (args[0].i & kPoison)
      fail("use of an uninitialized pointer");
    uint32_t old = static_cast<uint32_t>(addr(0));
    int64_t size = as_int(args[1], arg_nodes[1]);
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
  case B_LABS: {
    need(1);
    Layout l{VC_INT, 32, true, false, false, false, 2};
    int64_t v = wrap(as_int(args[0], arg_nodes[0]), l);
    r.i = wrap(v < 0 ? -v : v, l);
    return r;
  }
  case B_ATOI: {
    need(1);
    std::string s = read_string(static_cast<uint32_t>(addr(0)));
    size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i])))
      ++i;
    bool neg = i < s.size() && s[i] == '-';
    if (i < s.size() && (s[i] == '-' || s[i] == '+'))
      ++i;
    uint64_t v = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
      v = v * 10 + static_cast<uint64_t>(s[i++] - '0');
    r.i = wrap(static_cast<int64_t>(neg ? 0 - v : v), Layout{VC_INT, 32, true, false, false, false, 2});
    return r;
  }
  case B_STRNCMP: {
    need(3);
    uint32_t n = count(2);
    uint32_t a = static_cast<uint32_t>(addr(0)), b = static_cast<uint32_t>(addr(1));
    for (uint32_t i = 0; i < n; ++i, ++a, ++b) {
      check(a, 1, false);
      check(b, 1, false);
      uint16_t x = memory_[a], y = memory_[b];
      if (x != y) {
        r.i = x < y ? -1 : 1;
        return r;
      }
      if (x == 0)
        break;
    }
    return r;
  }
  case B_STRNCPY: {
    // Copies up to n units and pads with zeros to n.
    need(3);
    uint32_t n = count(2);
    uint32_t d = static_cast<uint32_t>(addr(0)), s = static_cast<uint32_t>(addr(1));
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
    r.i = addr(0);
    return r;
  }
  case B_STRCAT: {
    need(2);
    uint32_t d = static_cast<uint32_t>(addr(0)), s = static_cast<uint32_t>(addr(1));
    for (;; ++d) {
      check(d, 1, false);
      if (memory_[d] == 0)
        break;
    }
    copy_string(d, s);
    r.i = addr(0);
    return r;
  }
  case B_STRCHR: {
    need(2);
    uint16_t c = static_cast<uint16_t>(as_int(args[1], arg_nodes[1]));
    for (uint32_t s = static_cast<uint32_t>(addr(0));; ++s) {
      check(s, 1, false);
      if (memory_[s] == c) {
        r.i = s;
        return r;
      }
      if (memory_[s] == 0)
        return r;
    }
  }
  case B_FABS:
  case B_FABSF:
    need(1);
    r.d = std::fabs(as_double(args[0], arg_nodes[0]));
    return r;
  case B_SQRT:
  case B_SQRTF:
    need(1);
    r.d = std::sqrt(as_double(args[0], arg_nodes[0]));
    return r;
  case B_FLOOR:
    need(1);
    r.d = std::floor(as_double(args[0], arg_nodes[0]));
    return r;
  case B_CEIL:
    need(1);
    r.d = std::ceil(as_double(args[0], arg_nodes[0]));
    return r;
  case B_FMOD:
    need(2);
    r.d = std::fmod(as_double(args[0], arg_nodes[0]), as_double(args[1], arg_nodes[1]));
    return r;
  default:
    fail("internal: runtime function " + std::to_string(id));
  }
}

// --------------------------------------------------------------------- run

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
  } catch (const ProgramExit &e) {
    std::fflush(stdout);
    code = e.status;
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
