// icode/reader.h - the I-code reader.
//
// Decodes an I-code file (header, sections, main record stream, node records)
// into calls on a client.  The reader knows the byte format and the
// interchange operator table; it reaches nodes, symbols and types only through
// BASE_NODE, I_SYMTAB and the type package.  The optimizer's client is in
// ir/program.h.
//
// Errors that end the run are thrown as IcodeFatal carrying the exact message
// text; the caller prints it on standard error and exits with code 1.  The
// reader itself never exits and never prints anything except the report of
// an unknown tag in the main stream, which goes to its error stream.
//
// Robustness: every count read from the file is consumed one item at a time
// and stops at the end of the file, texts never allocate more than the bytes
// left in the file, and expression trees are read without recursion.  Trees
// nested deeper than kMaxTreeDepth levels are rejected as invalid records so
// that the passes, which walk trees recursively, never meet one.
//
// Type records are decoded within their payload length: a record whose
// fields run past its length, a record kind that defines nothing, a missing
// type where one is required and types nested deeper than kMaxTypeDepth
// (ir/type.h) are invalid records.
//
// References the file makes to things that do not exist are invalid records
// (kInvalidRecord): a symbol index outside its table in a NAME node, a
// function begin or an initializer, and a FIELD whose structure type has no
// member of the given identifier.  A symbol reference is always a scope and
// an index; a NAME whose scope is all ones names no symbol, and its node is
// left without one (set_name_symbol is not called).  The records announced
// after a symbol must carry tag 94, else the record is invalid; the end of
// the file ends them quietly.
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

namespace zor {

class TYPE;
class TYPE_PKG;

struct IcodeFatal : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Format versions this reader accepts (newer formats are less negative).
constexpr int kOldestVersion = -86;
constexpr int kNewestVersion = -72;
constexpr int kCheckValue = 1000;
extern const char kIcodeMagic[];   // "!<icode>\n"

// The check value of the last header read; the writer puts it into the
// header it writes.
extern int icode_check_value;

// Deepest expression tree the reader accepts (root at depth 1).
constexpr size_t kMaxTreeDepth = 10000;

// Fatal messages of the reader (thrown as IcodeFatal).  The type-record
// messages from kForwardReference on go through the type system's fatal
// routine (type_fatal, ir/type.h), which by default throws them followed by
// a newline.
extern const char kInvalidRecord[];     // "\nINTERNAL ERROR: Invalid I-code record, aborting\n"
extern const char kInvalidEhtRecord[];  // "\nINTERNAL ERROR: Invalid EHT record in I-code, aborting\n"
extern const char kForwardReference[];  // "invalid forward reference"
extern const char kTypeTwice[];         // "read type twice"
extern const char kUnexpectedTypeAttribute[];      // "Unexpected type attribute"
extern const char kDuplicateFunctionParameters[];  // "Duplicate function parameters"
extern const char kDuplicateEnumerators[];         // "Duplicate enumerator attributes"
extern const char kDuplicateCsuAttributes[];       // "Duplicate CSU attributes"
extern const char kOutOfMemory[];       // ">> out of memory\n"

// Header fields, as read.
struct IcodeHeader {
  int version = 0;
  int check = 0;
  uint32_t options_offset = 0;
  uint32_t init_offset = 0;
  uint32_t types_offset = 0;
  uint32_t files_offset = 0;
  uint32_t globals_offset = 0;
  std::string producer;
  uint32_t extra = 0;
};

// The fields of a symbol record (tag 35).
struct SymbolRecord {
  std::string name;
  uint32_t size = 0;
  uint32_t offset = 0;
  uint8_t storage_class = 0;
  uint16_t flags = 0;
  TYPE *type = nullptr;
  TYPE *second_type = nullptr;
  uint32_t alignment = 0;
  uint32_t initializer_position = 0;
  uint32_t option_set = 0;
  SrcPos position;
  uint32_t scope_level = 0;   // the reader's scope depth at the record
};

// One entry of a function's exception-handling table (tag 93 / 91).
struct EhtHandler {
  std::string type_name;   // run-time type name of the caught type
  uint32_t label = 0;
  bool flag = false;
};

enum EhtKind : uint32_t {
  EHT_ROOT = 0, EHT_CLEANUP = 1, EHT_CATCH = 2,
  EHT_CLEANUP_END = 3, EHT_CATCH_END = 4, EHT_THROW_TERMINATE = 5,
};

struct EhtEntry {
  uint32_t id = 0;
  uint32_t kind = 0;
  uint32_t next = 0;
  uint32_t count = 0;
  SrcPos cleanup_pos;                  // kind 1
  BASE_NODE *cleanup = nullptr;        // kind 1; ownership passes to the client
  std::vector<EhtHandler> handlers;    // kind 2
};

// What the reader calls while it decodes.  Trees, symbols and pragma records
// handed over become the client's.
class IcodeClient {
public:
  virtual ~IcodeClient() = default;

  virtual bool accept_version(int version, int check) = 0;
  virtual void option_set(uint32_t number, std::vector<std::string> texts) = 0;
  virtual void after_types() = 0;
  virtual void before_stream() = 0;

  virtual void function_begin(I_SYMTAB *fn, SrcPos pos) = 0;
  virtual void body_begin(SrcPos pos) = 0;
  virtual void block_begin(SrcPos pos) = 0;
  virtual void block_end(SrcPos pos) = 0;
  virtual void function_end(SrcPos pos) = 0;
  virtual void position(SrcPos pos) = 0;

  virtual void statement(BASE_NODE *tree, SrcPos pos) = 0;
  virtual void label(uint32_t number) = 0;
  virtual void inline_asm(const std::string &text, SrcPos pos) = 0;
  virtual void pragma(const std::string &text) = 0;
  // A pragma record (tag 94) not attached to a symbol.
  virtual void pragma_record(PragmaRecord *rec) = 0;
  // A symbol record.  The reader enters the result in its global or local
  // table and then calls set_scope_level and set_index on it; a null result
  // leaves an empty slot, and that symbol's attribute lists are dropped.
  virtual I_SYMTAB *new_symbol(const SymbolRecord &rec) = 0;
  virtual void symbol_complete(I_SYMTAB *sym) = 0;
  // An attribute list following a symbol record (sym is never null there).
  virtual void attribute_list(I_SYMTAB *sym, PragmaRecord *rec) = 0;
  virtual void initializer(I_SYMTAB *sym, std::vector<BASE_NODE *> trees) = 0;
  virtual void exception_table(std::vector<EhtEntry> entries) = 0;

  virtual BASE_NODE *make_node(uint32_t op, TYPE *type) = 0;
  // Releases a tree the reader decoded and has no use for.
  virtual void discard_tree(BASE_NODE *tree) = 0;
};

class IcodeReader {
public:
  // Opens the reader on `file` positioned at the start of an I-code image:
  // gives the file a 32768-byte buffer, reads and checks the header, builds
  // the interchange operator table and reads the option-set section.
  // Returns null when the header is not valid or the client refuses its
  // version.  `file` stays the caller's and must outlive the reader.
  static std::unique_ptr<IcodeReader> open(FILE *file, IcodeClient &client,
                                           TYPE_PKG &types);
  ~IcodeReader();
  IcodeReader(const IcodeReader &) = delete;
  IcodeReader &operator=(const IcodeReader &) = delete;

  // Reads the file-name, type, global-symbol and initializer sections, then
  // the main record stream up to its end.  Throws IcodeFatal.
  void read_all();

  const IcodeHeader &header() const;

  // Lookups used while decoding, also open to tests and to the client.
  // Symbols and file names give null when the index is out of range (file
  // index 0 included); lookup_type gives null for identifier 0 and stops
  // with kForwardReference (type_fatal) for an identifier not bound yet.
  I_SYMTAB *global_symbol(uint32_t index) const;
  I_SYMTAB *local_symbol(uint32_t index) const;
  TYPE *lookup_type(uint32_t id) const;
  const char *file_name(uint32_t index) const;

  // Binds a type identifier to a complete type (tests and tools; the file's
  // type records bind theirs themselves).
  void bind_type(uint32_t id, TYPE *type);
  // Where "\n///ERROR @0x%lx\n\n" reports go (standard error by default).
  void set_error_stream(FILE *f);

  struct Impl;

private:
  explicit IcodeReader(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

} // namespace zor
