// icode/writer.h - the I-code writer.
//
// Writes a program in the I-code format that icode/reader.h reads: the header
// at once when the writer opens (offsets 0), then the main record stream as
// the function writer (opt/write.h) hands it records, optionally the
// initializer section, and at close the option-set, type, file-name and
// global-symbol sections followed by the rewritten header.  Files written
// here always carry version -72.
//
// Records are assembled in a payload buffer (32768 bytes, grown by 32768
// when full) and written with one tag write and two block writes each; the
// file gets a 32768-byte stream buffer.  The writer reaches nodes, symbols
// and types only through BASE_NODE, I_SYMTAB and the type package.
//
// Identifiers in the output: a type ref names the type's representative
// (the last type on its chain of equivalent types), which is marked as
// referenced so that the type section holds it.  The identifiers are the
// writer's own, counted from 1 in the order representatives are first used
// (referenced, or written as a type another type refers to), so that they
// depend only on what is written: a file read and written again keeps them.
// A symbol ref is the symbol's scope level and index, so locals must have
// been entered with enter_local() and globals must carry their index in the
// global table.  File names of positions are interned into the file-name
// section.
//
// Fatal conditions are thrown as IcodeFatal with their exact message (the
// caller prints it and exits with code 1): a short out of range
// (kShortRange), a payload buffer that cannot grow (kBufferRealloc), and a
// tree that cannot be written (kInvalidRecord: an operator above 163, a
// missing operand, a FIELD without its member).  Using the writer out of
// order (a main-stream record after the initializer section began, a type
// referenced after the type section was written) throws std::logic_error.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "icode/base_node.h"
#include "icode/i_symtab.h"
#include "icode/position.h"
#include "icode/reader.h"

namespace zor {

class TYPE;
class TYPE_PKG;

constexpr int kWriterVersion = -72;
// Size of the payload buffer and of each growth step; also the stream buffer.
constexpr size_t kWriterChunk = 32768;

extern const char kShortRange[];      // ">> Value exceeds size of short\n"
extern const char kBufferRealloc[];   // ">> ICODE Buffer size exceeded and realloc failed\n"
extern const char kNoFileName[];      // "NO_FILE": file name of a position without one

class IcodeWriter {
public:
  // Starts a writer on `out` (open for binary writing and not used yet; it
  // stays the caller's, who closes it after close()).  The current position
  // of `out` becomes position 0 of the image.  Every type written or
  // referenced belongs to `types` (the program context's package), whose
  // marks are cleared.  Writes the header record at once: version -72, the
  // check value of the last header read (icode_check_value), zero offsets,
  // `producer` and the extra word 0.
  static std::unique_ptr<IcodeWriter> open(FILE *out, TYPE_PKG &types, std::string producer);
  ~IcodeWriter();
  IcodeWriter(const IcodeWriter &) = delete;
  IcodeWriter &operator=(const IcodeWriter &) = delete;

  // ---- primitive puts into the payload of the record being built
  void put_byte(uint8_t b);
  void put_flag(bool f) { put_byte(f ? 1 : 0); }
  // -32768..65535, else IcodeFatal(kShortRange); low byte first.
  void put_short(long v);
  void put_word(uint32_t w);
  void put_uleb(uint32_t v);
  void put_sleb(int32_t v);
  void put_text(const char *s);                         // with its terminator
  void put_counted(const char *bytes, uint32_t length);  // uleb length, bytes
  // A single 0 for no position (no file, line 0, column 0); otherwise the
  // interned file index ("NO_FILE" when the position has no file), line and
  // column.
  void put_pos(const SrcPos &pos);
  // 0 for no type, else the representative's identifier (marked referenced).
  void put_type_ref(TYPE *type);
  // Scope level and index as ulebs; a missing symbol is all ones and 0.
  void put_sym_ref(const I_SYMTAB *sym);

  // Frames the payload as a record with `tag` and writes it; the buffer is
  // emptied.
  void end_record(uint8_t tag);

  // ---- record writers of the main stream
  void function_begin(const SrcPos &pos, uint32_t global_index);   // tag 1
  // Records that carry only a position: function end (2), block begin (3),
  // block end (4), body begin (5), position update (6).
  void position_record(uint8_t tag, const SrcPos &pos);
  // Statement record (46) with its position, then the tree.
  void statement(const SrcPos &pos, BASE_NODE *tree);
  // Node records (101) in prefix order, first operand before second.
  void tree(BASE_NODE *tree);
  void label(uint32_t number);                              // tag 42
  void inline_asm(const char *text, const SrcPos &pos);     // tag 36
  // A comment: an inline-assembly record with no position.
  void comment(const std::string &text);
  void pragma(const char *text);                            // tag 47
  void pragma_record(const PragmaRecord &rec);              // tag 94
  void byte_record(uint8_t value);                          // tag 64
  void dependence_edge(uint32_t a, uint32_t b, uint32_t c); // tag 58
  // Record 108 in its three forms.
  void record_108_form0(uint32_t a, uint32_t b, int32_t c, TYPE *type, int32_t d, uint32_t e);
  void record_108_form1(uint32_t a, uint32_t b, uint32_t c, TYPE *type, int32_t d, uint32_t e);
  void record_108_form2(uint32_t a, uint32_t b);
  // Exception-handling table (93) and its entries (91, with 46 or 63).
  void exception_table(const std::vector<EhtEntry> &entries);
  // A symbol record (35) written as `storage_class`, then one attribute-list
  // record (94) per list.  The offset is written as 0 unless the symbol's
  // own class is 4, 9 or 22.
  void symbol(const I_SYMTAB &sym, uint8_t storage_class);
  void symbol(const I_SYMTAB &sym) { symbol(sym, sym.storage_class()); }
  // An initializer (105): the first one ends the main stream and starts the
  // initializer section.  The symbol is told the record's position first;
  // `trees` end with the ENDINIT tree.
  void initializer(I_SYMTAB &sym, const std::vector<BASE_NODE *> &trees);

  // ---- tables
  // Empties the local table (at each function begin).
  void clear_locals();
  // Enters a parameter or local: it is told `level` and the next index of
  // the local table, which its symbol refs then carry.
  void enter_local(I_SYMTAB &sym, uint32_t level);
  // Appends a global to the table written at close.  Its type refs and the
  // file name of its position are taken now, so that the type and
  // file-name sections, which close writes first, hold them.
  void add_global(I_SYMTAB &sym);
  // An option set for the option-set section.
  void add_option_set(uint32_t number, std::vector<std::string> texts);
  // Index (from 1) of a file name in the file-name table; new names are
  // appended.
  uint32_t intern_file_name(const char *name);

  // Completes the file (unless `abandon`): the closing 255, the sections and
  // the rewritten header; then flushes.  Returns 0, or non-zero when the
  // stream reported an error or could not be flushed.  A second call does
  // nothing and returns 0.
  int close(bool abandon = false);

  // ---- state, for the function writer and tests
  uint64_t tell() const;   // position of the next record, relative to the start
  const IcodeHeader &header() const;   // the header as it is (or was) written
  bool closed() const;
  bool in_initializers() const;
  const std::vector<std::string> &file_names() const;

  struct Impl;

private:
  explicit IcodeWriter(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

} // namespace zor
