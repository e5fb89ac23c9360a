// icode/position.h - source positions and pragma records as I-code carries them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zor {

// A source position.  `file` is null when the record carried file index 0
// (no position); the text it points to is owned by the reader's file-name
// table (or, later, by the writer's interning) and lives for the whole run.
struct SrcPos {
  const char *file = nullptr;
  uint32_t line = 0;
  uint32_t column = 0;

  bool valid() const { return file != nullptr; }
  bool operator==(const SrcPos &o) const = default;
};

// A pragma record: the payload of a PPRAGMA node and of an attribute-list
// record (tag 94).  Records that belong to one symbol are chained in file
// order through `next`, which owns the rest of the chain.
constexpr uint8_t PRG_OPT_OVERRIDE = 36;

struct PragmaRecord {
  uint8_t kind = 0;
  std::vector<std::string> args;
  PragmaRecord *next = nullptr;

  PragmaRecord() = default;
  PragmaRecord(uint8_t k, std::vector<std::string> a) : kind(k), args(std::move(a)) {}
  PragmaRecord(const PragmaRecord &) = delete;
  PragmaRecord &operator=(const PragmaRecord &) = delete;
  ~PragmaRecord() { delete next; }

  // A copy of this record alone (not of its chain).
  PragmaRecord *clone_one() const { return new PragmaRecord(kind, args); }
};

} // namespace zor
