// tools/textform/context.h - what the text form knows at each point of a file.
//
// The printer and the parser walk a file's records in the order the reader
// takes them in (option sets, file names, types, global symbols,
// initializers, main stream) and tell the Context about each one.  It keeps
// what names and fields need: the format version, the types bound so far
// with their labels and sizes, the global and local symbol tables with their
// labels, the file-name table and the reader's scope depth.
//
// Labels.  A type is named after its record ("int", "*int", "[4]short",
// "const.int", "fn.int", "struct.S", a typedef's own name) unless that name
// is taken or cannot be written, in which case it is "%t<id>".  A symbol is
// "@name" (global) or "%name" (local), quoted when the name is not a plain
// word, with ".1", ".2" ... appended when the name is taken.  A file is named
// by its file name unless it is not a plain word or names an earlier file
// too, then "#<index>".
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/textform/model.h"

namespace zor::text {

struct TypeInfo {
  uint32_t id = 0;
  int kind = -1;
  std::string label;
  uint32_t size = 0;
  uint32_t align = 0;
  uint32_t base = 0;        // first type ref of the record (pointed-to, element, ...)
  uint32_t count = 0;       // array element count
  bool vector = false;
  std::map<uint32_t, std::string> members;   // data members: identifier -> name
};

struct SymInfo {
  std::string label;        // with its sigil
  std::string name;
  uint32_t depth = 0;       // scope depth at which the reader entered it
  uint32_t type = 0;
};

class Context {
public:
  explicit Context(int version = -72) : version_(version) {}

  int version() const { return version_; }
  void set_version(int v) { version_ = v; }

  // ---- types
  const TypeInfo *type(uint32_t id) const;
  // The label of a type ref: the type's label, "%t<id>" when it is not bound,
  // "-" for 0.
  std::string type_ref_text(uint32_t id) const;
  // The identifier a label names, when it names one.
  std::optional<uint32_t> type_by_label(const std::string &label) const;
  // Signed as the reader decides it for ICON values: char, short, int, long,
  // long long and the floating types, seen through typedefs, qualifiers,
  // enumerations, fixed-point types and vectors.
  bool is_signed(uint32_t id) const;
  // The label a type record would get (decoder side), given its fields.
  std::string derive_type_label(const Record &rec) const;
  // Binds a type record's identifier (the kind's fields give size, base, ...).
  void bind_type(const Record &rec, const std::string &label);
  // Members and groups: the owner a group or member record gets when the
  // text does not name one.
  uint32_t current_owner() const { return owner_; }
  void note_type_record(const Record &rec);   // groups, members: updates owner, members
  uint32_t max_type_id() const { return max_type_id_; }
  bool label_taken(const std::string &label) const { return type_labels_.count(label) != 0; }

  // ---- symbols
  uint32_t depth() const { return depth_; }
  // Applies the scope effect of a main-stream record (function, body, block,
  // endblock, end, decl scope) as the reader does.
  void scope_record(uint8_t tag);
  // Enters a symbol in the table the reader would use now.
  void enter_symbol(const std::string &label, const std::string &name, uint32_t type);
  std::string derive_symbol_label(const std::string &name, bool global) const;
  const std::vector<SymInfo> &globals() const { return globals_; }
  const std::vector<SymInfo> &locals() const { return locals_; }
  std::optional<uint32_t> global_by_label(const std::string &label) const;
  std::optional<uint32_t> local_by_label(const std::string &label) const;
  // "@label" or "@#N".
  std::string global_text(uint32_t index) const;
  // For a NAME's symbol ref: the label text and the scope value the label
  // implies (0 for globals, the declaration depth for locals).
  std::string name_ref_text(uint32_t scope, uint32_t index, uint32_t &implied_scope) const;

  // ---- files
  void add_file(const std::string &name);
  const std::vector<std::string> &files() const { return files_; }
  std::string pos_text(const RawPos &p) const;
  // The file index a position's file label names; nullopt when the name is
  // not a file of the table.
  std::optional<uint32_t> file_by_label(const std::string &label) const;

private:
  int version_;
  std::map<uint32_t, TypeInfo> types_;
  std::map<std::string, uint32_t> type_labels_;
  uint32_t owner_ = 0;
  uint32_t max_type_id_ = 0;
  uint32_t depth_ = 0;
  std::vector<SymInfo> globals_;
  std::vector<SymInfo> locals_;
  std::map<std::string, uint32_t> global_labels_;
  std::map<std::string, uint32_t> local_labels_;
  std::vector<std::string> files_;
  std::map<std::string, uint32_t> file_labels_;
};

// Plain words need no quotes in the text: printable, no blank, no quote,
// parenthesis, semicolon or backslash.
bool is_plain_word(const std::string &s);
// A symbol label for a name: sigil + name, or sigil + quoted name.
std::string symbol_label(char sigil, const std::string &name);
// The name a symbol label spells (without sigil and quotes).
std::string label_name(const std::string &label);

} // namespace zor::text
