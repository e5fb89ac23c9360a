// driver/switches.cpp - the switch table: sorted keys, binary search.
//
// The table is one process-wide array of (key, value) kept sorted by key in
// byte order, so lookups are binary searches with no allocation.  It grows
// in steps of 100 entries; it is filled during command-line set-up only.
#include "driver/switches.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <set>
#include <vector>

namespace zor {
namespace sw {

namespace {

constexpr size_t kGrowth = 100;

struct SWITCH_ENTRY {
  std::string key;
  int32_t value;
};

std::vector<SWITCH_ENTRY> &table() {
  static std::vector<SWITCH_ENTRY> entries;
  return entries;
}

[[noreturn]] void out_of_memory() {
  std::fputs("ERROR: out of memory\n", stderr);
  std::exit(1);
}

// Index of the first entry whose key is not below `key` (byte order).
size_t lower_bound(const std::vector<SWITCH_ENTRY> &entries, const char *key) {
  size_t lo = 0, hi = entries.size();
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (std::strcmp(entries[mid].key.c_str(), key) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

void set_switch(const char *key, int32_t value) {
  std::vector<SWITCH_ENTRY> &entries = table();
  const size_t at = lower_bound(entries, key);
  if (at < entries.size() && entries[at].key == key) {
    entries[at].value = value;
    return;
  }
  try {
    if (entries.size() == entries.capacity())
      entries.reserve(entries.capacity() + kGrowth);
    entries.insert(entries.begin() + static_cast<ptrdiff_t>(at), SWITCH_ENTRY{key, value});
  } catch (const std::bad_alloc &) {
    out_of_memory();
  }
}

int32_t lookup_kind(const char *kind, const char *name) {
  if (table().empty())
    return 0;
  char key[kMaxKeyLength];
  const int n = std::snprintf(key, sizeof key, "%s:%s", kind, name);
  if (n < 0 || static_cast<size_t>(n) >= sizeof key)
    return 0;  // too long to have been stored
  return lookup(key);
}

// A switch value: strtol with base 0 reads the C prefixes and stops at the
// first character outside the number (no digits give 0); values beyond the
// 32-bit range saturate as a 32-bit strtol would.
int32_t read_value(const char *text) {
  const long v = std::strtol(text, nullptr, 0);
  if (v > INT32_MAX)
    return INT32_MAX;
  if (v < INT32_MIN)
    return INT32_MIN;
  return static_cast<int32_t>(v);
}

// Key texts of the handles, one copy per distinct text.
const char *intern(const std::string &key) {
  static std::set<std::string> pool;
  try {
    return pool.insert(key).first->c_str();
  } catch (const std::bad_alloc &) {
    out_of_memory();
  }
}

} // namespace

int32_t lookup(const char *key) {
  const std::vector<SWITCH_ENTRY> &entries = table();
  if (entries.empty())
    return 0;
  const size_t at = lower_bound(entries, key);
  if (at < entries.size() && entries[at].key == key)
    return entries[at].value;
  return 0;
}

int32_t debug(const char *name) { return lookup_kind("debug", name); }
bool disable(const char *name) { return lookup_kind("disable", name) != 0; }
int32_t enable(const char *name) { return lookup_kind("enable", name); }

switch_handle::switch_handle(const char *kind, const char *name)
    : key_(intern(std::string(kind) + ":" + name)) {}

switch_handle::switch_handle(const char *key) : key_(intern(key)) {}

bool parse_switch_list(const char *kind, const char *text, std::string *refused) {
  const std::string prefix = std::string(kind) + ":";
  bool all_taken = true;
  // Items are separated by ","; empty items (",," or a trailing ",") carry
  // no name and are skipped.
  const char *p = text;
  while (*p != '\0') {
    const char *comma = std::strchr(p, ',');
    const size_t len = comma ? static_cast<size_t>(comma - p) : std::strlen(p);
    const std::string item(p, len);
    p += len;
    if (*p == ',')
      ++p;
    if (item.empty())
      continue;

    int32_t value = 1;
    std::string name = item;
    const size_t eq = item.find('=');
    if (eq != std::string::npos) {
      name = item.substr(0, eq);
      value = read_value(item.c_str() + eq + 1);
    }

    const std::string key = prefix + name;
    if (key.size() >= kMaxKeyLength) {
      if (all_taken && refused)
        *refused = item;
      all_taken = false;
      continue;
    }
    set_switch(key.c_str(), value);
  }
  return all_taken;
}

size_t switch_count() { return table().size(); }

void reset_switches() {
  std::vector<SWITCH_ENTRY>().swap(table());
}

} // namespace sw
} // namespace zor
