// tests/support/recording_client.h - an I-code client that writes down what
// the reader tells it.
//
// Every callback becomes one text line in `lines`, so reader tests can
// compare exact sequences.  Nodes are RecNode objects that keep each setter
// call in order ("icon=5", "opcode=FNEQN"); trees are rendered in prefix form
// as "(OP:type setter-calls operands...)" and freed as soon as they have been
// written down.  Symbols are RecSymbol objects owned by the client.  The
// client counts live nodes so that tests and the fuzz target can check that
// the reader leaks no partial tree.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "icode/reader.h"

namespace zor::test {

class RecordingClient;

class RecNode final : public BASE_NODE {
public:
  RecNode(uint32_t op, TYPE *type) : op_(op), type_(type) {}

  std::vector<std::string> calls;   // setter calls in order

  uint32_t opcode() const override { return op_; }
  void set_opcode(uint32_t op) override;
  TYPE *node_type() const override { return type_; }
  BASE_NODE *operand(int i) const override { return kids_[i]; }
  void set_operand(int i, BASE_NODE *child) override { kids_[i] = child; }

  I_SYMTAB *name_symbol() const override { return sym_; }
  int field_flag() const override { return 1; }
  const MEMBER *field_member() const override { return member_; }
  TYPE *field_type() const override { return struct_type_; }
  uint32_t icon_unsigned() const override { return value_; }
  int32_t icon_signed() const override { return static_cast<int32_t>(value_); }
  std::string lcon_text() const override { return text_; }
  const char *fcon_text() override { return text_.c_str(); }
  const char *scon_bytes() const override { return text_.data(); }
  uint32_t scon_length() const override { return static_cast<uint32_t>(text_.size()); }
  uint32_t label_number() const override { return value_; }
  int32_t vreg_number() const override { return 0; }
  uint32_t skip_number() const override { return value_; }
  uint32_t switch_number() const override { return value_; }
  uint16_t ddnode_index() const override { return 0; }
  uint32_t ddnode_second() const override { return 0; }
  uint8_t ddnode_flag() const override { return 0; }
  uint32_t call_first() const override { return value_; }
  const char *callee_name() const override { return text_.c_str(); }
  uint32_t call_word() const override { return word_; }
  int32_t epval_index() const override { return epval_; }

  void set_epval_index(int32_t index) override;
  void set_name_symbol(I_SYMTAB *sym) override;
  void set_field(int flag, const MEMBER *member, TYPE *struct_type) override;
  void set_icon(uint32_t value) override;
  void set_lcon_text(const char *text) override;
  void set_fcon_text(const char *text) override;
  void set_scon(const char *bytes, uint32_t length) override;
  void set_label_number(uint32_t number) override;
  void set_vreg_number(int32_t number) override;
  void set_skip_number(uint32_t number) override;
  void set_switch_number(uint32_t number) override;
  void set_ddnode(uint32_t index, uint32_t second, uint8_t flag) override;
  void set_call(uint32_t first, uint32_t word) override;
  void set_ucall(uint32_t word) override;
  void set_callee_name(const char *name) override;

private:
  uint32_t op_;
  TYPE *type_;
  BASE_NODE *kids_[2] = {nullptr, nullptr};   // owned; freed by the client
  I_SYMTAB *sym_ = nullptr;
  const MEMBER *member_ = nullptr;
  TYPE *struct_type_ = nullptr;
  uint32_t value_ = 0;
  uint32_t word_ = 0;
  int32_t epval_ = -1;
  std::string text_;
};

class RecSymbol final : public I_SYMTAB {
public:
  RecSymbol(const SymbolRecord &rec, RecordingClient *owner) : rec_(rec), owner_(owner) {}
  ~RecSymbol() override { delete attrs_; }

  void add_attribute_list(PragmaRecord *rec);

  const char *name() const override { return rec_.name.c_str(); }
  uint32_t size() const override { return rec_.size; }
  uint32_t offset() const override { return rec_.offset; }
  uint8_t storage_class() const override { return rec_.storage_class; }
  uint16_t flags() const override { return rec_.flags; }
  TYPE *type() const override { return rec_.type; }
  TYPE *second_type() const override { return rec_.second_type; }
  uint32_t alignment() const override { return rec_.alignment; }
  SrcPos position() const override { return rec_.position; }
  const PragmaRecord *attribute_lists() const override { return attrs_; }
  uint32_t attribute_list_count() const override { return attr_count_; }
  uint32_t initializer_position() const override { return rec_.initializer_position; }
  uint32_t option_set() const override { return rec_.option_set; }
  uint32_t scope_level() const override { return level_; }
  uint32_t index() const override { return index_; }
  void set_scope_level(uint32_t level) override;
  void set_index(uint32_t index) override;
  void set_initializer_position(uint32_t pos) override { rec_.initializer_position = pos; }

private:
  SymbolRecord rec_;
  RecordingClient *owner_;
  PragmaRecord *attrs_ = nullptr;   // owned chain
  uint32_t attr_count_ = 0;
  uint32_t level_ = 0;
  uint32_t index_ = 0;
};

class RecordingClient : public IcodeClient {
public:
  ~RecordingClient() override;

  std::vector<std::string> lines;
  bool accept = true;          // answer of accept_version
  bool render_trees = true;    // off: trees are freed without being rendered
  long live_nodes = 0;

  // All lines joined with newlines, and the lines after the first `from`.
  std::string joined(size_t from = 0) const;
  void log(std::string line);

  static std::string render(const BASE_NODE *tree);
  static std::string render_pos(const SrcPos &pos);
  static std::string type_name(const TYPE *type);
  static std::string op_name(uint32_t op);
  void free_tree(BASE_NODE *tree);

  bool accept_version(int version, int check) override;
  void option_set(uint32_t number, std::vector<std::string> texts) override;
  void after_types() override;
  void before_stream() override;
  void function_begin(I_SYMTAB *fn, SrcPos pos) override;
  void body_begin(SrcPos pos) override;
  void block_begin(SrcPos pos) override;
  void block_end(SrcPos pos) override;
  void function_end(SrcPos pos) override;
  void position(SrcPos pos) override;
  void statement(BASE_NODE *tree, SrcPos pos) override;
  void label(uint32_t number) override;
  void inline_asm(const std::string &text, SrcPos pos) override;
  void pragma(const std::string &text) override;
  void pragma_record(PragmaRecord *rec) override;
  I_SYMTAB *new_symbol(const SymbolRecord &rec) override;
  void symbol_complete(I_SYMTAB *sym) override;
  void attribute_list(I_SYMTAB *sym, PragmaRecord *rec) override;
  void initializer(I_SYMTAB *sym, std::vector<BASE_NODE *> trees) override;
  void exception_table(std::vector<EhtEntry> entries) override;
  BASE_NODE *make_node(uint32_t op, TYPE *type) override;
  void discard_tree(BASE_NODE *tree) override;

private:
  std::string tree_text(const BASE_NODE *tree) const;

  std::vector<std::unique_ptr<RecSymbol>> symbols_;
};

} // namespace zor::test
