// driver/switches.h - the debug, disable and enable switch table.
//
// Developer switches are named integers keyed "kind:name" ("debug:skip_pass",
// "disable:cps", "enable:fusion").  The option code fills the table from the
// three switch-list options before any pass runs; the passes only read it.
// A switch that was never given reads as 0, so no switch is declared before
// use and unknown names are simply stored and never read.
#pragma once

#include <cstdint>
#include <string>

namespace zor {
namespace sw {

// Kind, colon and name together stay below this many characters.
constexpr size_t kMaxKeyLength = 512;

// Value of "debug:<name>", 0 when not given.
int32_t debug(const char *name);
// Whether "disable:<name>" was given with a non-zero value.
bool disable(const char *name);
// Value of "enable:<name>", 0 when not given.
int32_t enable(const char *name);

// Value of a full key ("debug:skip_pass"), 0 when not given.
int32_t lookup(const char *key);

// A frequently read key, formatted once.  The key text is kept once per
// process: handles with equal keys share one copy.
class switch_handle {
public:
  switch_handle(const char *kind, const char *name);
  explicit switch_handle(const char *key);

  int32_t value() const { return lookup(key_); }
  explicit operator bool() const { return value() != 0; }
  const char *key() const { return key_; }

private:
  const char *key_;
};

// Parses one argument of a switch-list option: items separated by ",",
// each "name" (value 1) or "name=value" with the value read as a C integer
// (0x hexadecimal, leading 0 octal, no digits gives 0).  The last setting of
// a key wins.  An item whose key would be kMaxKeyLength characters or
// longer is refused and the rest still applied; the result is then false and
// `refused` (when given) receives the first refused item.
bool parse_switch_list(const char *kind, const char *text, std::string *refused = nullptr);

// Number of keys in the table.
size_t switch_count();

// Empties the table (tests).
void reset_switches();

} // namespace sw
} // namespace zor
