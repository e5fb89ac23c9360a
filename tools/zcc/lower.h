// tools/zcc/lower.h - lowering clang's typed tree to I-code.
//
// Clang parses and type-checks the translation unit for a 32-bit target;
// everything that depends on the width of types is decided here again for
// the ZOR data model (docs/data-model.md): sizes, alignments, member
// offsets, array bounds, sizeof and offsetof, and the constant expressions
// that use them.  The Lowerer walks the typed tree once and builds, per
// function, the list of records to write (statements, label definitions,
// pragma records), the global symbols and their initializers; emit.cpp
// writes them through the I-code writer.
//
// Whatever the lowering does not support ends in Unsupported, which zcc
// reports as "zcc: FILE:LINE:COL: error: unsupported: ..." with exit code 1:
// a refused program never yields wrong code.
//
// The trees follow the operand conventions of docs/icode.md.  Sizes are in
// bits in types and symbols, in 16-bit units in sizeof and pointer steps.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <clang/AST/ASTContext.h>
#include <clang/AST/Decl.h>
#include <clang/AST/Expr.h>
#include <clang/AST/Stmt.h>
#include <clang/Basic/SourceManager.h>

#include "icode/position.h"
#include "ir/node.h"
#include "ir/symtab.h"
#include "ir/type.h"

namespace zor::zcc {

// A construct zcc does not compile: where it is and what it is.
struct Unsupported {
  clang::SourceLocation loc;
  std::string what;
  bool source_error = false;   // an error of the program, not a limit of zcc
};
[[noreturn]] void unsupported(clang::SourceLocation loc, const std::string &what);
// An error in the program that only the ZOR's layout reveals (clang checks
// with its own type sizes): reported like clang's errors, exit code 1.
[[noreturn]] void source_error(clang::SourceLocation loc, const std::string &what);

// A GNU case range becomes one case per value: at most this many.
constexpr int kMaxCaseRange = 1024;

// Static data (globals, statics, string literals) must leave room for the
// stack in the 65536 units a 16-bit pointer reaches.
constexpr uint64_t kMaxStaticUnits = 61440;

// Pragma kinds of the pragma records zcc writes (the loop passes read them).
constexpr uint8_t kPragmaUnroll = 37;
constexpr uint8_t kPragmaMustIterate = 39;

// A loop pragma as the preprocessor met it: "#pragma UNROLL(4)".
struct LoopPragma {
  clang::SourceLocation loc;
  std::string name;
  uint8_t kind = 0;
  std::vector<std::string> args;
};

// One record of a function body, in program order.
struct BodyItem {
  enum Kind { STATEMENT, LABEL, PRAGMA } kind = STATEMENT;
  NODE *tree = nullptr;                   // STATEMENT: owned
  SrcPos pos;
  uint32_t label = 0;                     // LABEL
  std::unique_ptr<PragmaRecord> pragma;   // PRAGMA
};

struct FunctionOut {
  SYMTAB *symbol = nullptr;
  SrcPos begin, body, end;
  std::vector<SYMTAB *> params;   // level 1, in order
  std::vector<SYMTAB *> locals;   // written at level 2 (blocks are flattened)
  std::vector<BodyItem> items;
};

struct InitializerOut {
  SYMTAB *symbol = nullptr;
  std::vector<NODE *> trees;   // owned; ENDINIT last
};

// Everything the lowering produced for one translation unit.
struct Module {
  std::unique_ptr<TYPE_PKG> types = std::make_unique<TYPE_PKG>();
  std::vector<std::unique_ptr<SYMTAB>> symbols;   // owns every symbol
  std::vector<SYMTAB *> globals;                  // in index order
  std::vector<FunctionOut> functions;
  std::vector<InitializerOut> initializers;
  std::deque<std::string> file_names;             // stable storage for SrcPos

  Module() = default;
  Module(const Module &) = delete;
  Module &operator=(const Module &) = delete;
  ~Module();
};

// Writes the module as an I-code file; returns false when the file cannot be
// written (the message is printed).
bool write_module(Module &m, const std::string &path, const std::string &producer);

// ---------------------------------------------------------------- layout

// The ZOR types of clang's types: TYPE objects, sizes in bits, structure
// layouts with member offsets and bit-fields.
class TypeMapper {
public:
  TypeMapper(clang::ASTContext &ctx, TYPE_PKG &pkg);

  TYPE *map(clang::QualType t, clang::SourceLocation loc);
  // map() without the volatile qualifier of `t` itself.
  TYPE *map_unqualified(clang::QualType t, clang::SourceLocation loc);
  // Size in bits; fatal (unsupported) for incomplete types.
  uint64_t size_bits(clang::QualType t, clang::SourceLocation loc);
  uint64_t size_units(clang::QualType t, clang::SourceLocation loc) {
    return size_bits(t, loc) / 16;
  }
  uint32_t align_bits(clang::QualType t, clang::SourceLocation loc);
  // The member of a field (its record laid out on first request).
  const MEMBER *member(const clang::FieldDecl *f, clang::SourceLocation loc);
  TYPE *record_type(const clang::RecordDecl *rd, clang::SourceLocation loc);
  // Offset in bits of the storage unit that holds a bit-field.
  uint64_t bitfield_unit(const clang::FieldDecl *f, clang::SourceLocation loc);

  TYPE *int_type(IntKind k) const { return pkg_.mk_int(k); }
  TYPE *void_type() const { return pkg_.mk_void(); }
  TYPE *pointer_to(TYPE *t) { return pkg_.mk_pointer(t); }
  TYPE_PKG &pkg() { return pkg_; }

  // The element count of an array type (its bound evaluated by zcc when it
  // was written as an expression).
  uint64_t array_count(const clang::ArrayType *at, clang::SourceLocation loc);

  // Installed by the Lowerer: evaluates an integer constant expression in
  // ZOR terms (array bounds).
  std::function<int64_t(const clang::Expr *)> eval_bound;

  // Clang keeps one array type per element type and its own count, so an
  // array whose bound depends on type sizes shares its clang type with
  // arrays of the same clang count.  The bounds as written are evaluated
  // for every array type in the unit first (note_bound); a clang type that
  // stands for two different ZOR counts cannot be compiled.
  void note_bound(const clang::ConstantArrayType *t, const clang::Expr *size);

private:
  struct Layout {
    TYPE *type = nullptr;
    std::map<const clang::FieldDecl *, const MEMBER *> members;
    std::map<const clang::FieldDecl *, uint64_t> units;   // bit-fields
  };
  const Layout &layout(const clang::RecordDecl *rd, clang::SourceLocation loc);
  TYPE *map_builtin(const clang::BuiltinType *bt, clang::SourceLocation loc);

  clang::ASTContext &ctx_;
  TYPE_PKG &pkg_;
  std::map<const clang::RecordDecl *, Layout> layouts_;
  std::map<const clang::Type *, uint64_t> bounds_;
  std::set<const clang::Type *> ambiguous_bounds_;
};

// ---------------------------------------------------------------- lowering

class Lowerer {
public:
  Lowerer(clang::ASTContext &ctx, Module &out, std::vector<LoopPragma> pragmas);
  // Lowers the translation unit; throws Unsupported.
  void lower_unit();

  // Evaluates an integer constant expression with the ZOR sizes and widths;
  // throws Unsupported when it is not one.
  __int128 eval_int(const clang::Expr *e);
  std::optional<__int128> try_eval_int(const clang::Expr *e);

private:
  // ---- declarations (lower_decl.cpp)
  SYMTAB *global_symbol(const clang::NamedDecl *d);
  SYMTAB *new_symbol(const std::string &name, TYPE *type, uint8_t sclass, SrcPos pos,
                     uint32_t size_bits, uint32_t align_bits);
  void lower_function(const clang::FunctionDecl *fd);
  void check_static_size();
  void lower_global_init(const clang::VarDecl *vd, SYMTAB *sym);
  void lower_static_init(clang::QualType qt, const clang::Expr *init, SYMTAB *sym,
                         clang::SourceLocation where);
  SYMTAB *literal_object(const clang::CompoundLiteralExpr *cl);
  // Static initializer: pieces at bit offsets.
  struct InitPieces;
  struct AddrConst;
  void collect_init(InitPieces &p, uint64_t offset, clang::QualType t, const clang::Expr *e);
  NODE *address_constant(const clang::Expr *e, TYPE *type);
  bool addr_of_lvalue(const clang::Expr *e, AddrConst &a);
  bool addr_value(const clang::Expr *e, AddrConst &a);

  // ---- statements (lower_stmt.cpp)
  void lower_stmt(const clang::Stmt *s);
  void lower_compound(const clang::CompoundStmt *cs);
  void lower_local_decl(const clang::VarDecl *vd);
  void init_object(NODE *lvalue, clang::QualType t, const clang::Expr *e, SrcPos pos);
  void zero_object(NODE *lvalue, clang::QualType t, SrcPos pos);
  void lower_if(const clang::IfStmt *s);
  void lower_while(const clang::WhileStmt *s);
  void loop_body(const clang::Stmt *body, uint32_t brk, uint32_t cont);
  void lower_do(const clang::DoStmt *s);
  void lower_for(const clang::ForStmt *s);
  void lower_switch(const clang::SwitchStmt *s);
  void lower_return(const clang::ReturnStmt *s);
  void emit_pragmas_before(const clang::Stmt *s);
  void emit_loop_pragmas();
  void branch_if_false(NODE *cond, uint32_t label, SrcPos pos);
  void emit(NODE *tree, SrcPos pos);
  void emit_label(uint32_t label);
  void emit_branch(uint32_t label, SrcPos pos);
  uint32_t new_label() { return ++label_count_; }
  uint32_t label_of(const clang::LabelDecl *ld);
  bool last_is_jump() const;

  // ---- expressions (lower_expr.cpp)
  NODE *rvalue(const clang::Expr *e);      // value of e
  NODE *lvalue(const clang::Expr *e);      // designator of e
  NODE *cond(const clang::Expr *e);        // truth value (int 0 or 1)
  NODE *truth(NODE *n);
  NODE *negate(NODE *n);
  NODE *lower_cast(const clang::CastExpr *ce);
  NODE *convert(NODE *n, TYPE *to, clang::SourceLocation loc);
  NODE *unary(const clang::UnaryOperator *uo);
  NODE *binary(const clang::BinaryOperator *bo);
  NODE *compound_assign(const clang::CompoundAssignOperator *ca);
  NODE *call(const clang::CallExpr *ce);
  NODE *builtin_call(const clang::CallExpr *ce, const std::string &name);
  static bool is_runtime_builtin(const std::string &name);
  NODE *va_arg(const clang::VAArgExpr *va);
  NODE *compound_literal(const clang::CompoundLiteralExpr *cl);
  NODE *statement_expression(const clang::StmtExpr *se);
  NODE *complex_part(const clang::UnaryOperator *uo);
  // Variable-length arrays.  A variably modified array is handled through
  // its address, a pointer to its innermost element of fixed size; the
  // element counts are kept in temporaries (vla_counts_) when the
  // declaration or the function's entry evaluates them.
  void lower_vla_decl(const clang::VarDecl *vd);
  void save_vla_counts(clang::QualType t, SrcPos pos);
  NODE *vla_units(clang::QualType t, clang::SourceLocation loc);
  NODE *vla_address(const clang::Expr *e);
  bool is_vla(const clang::Expr *e) const;
  NODE *vla_size(const clang::UnaryExprOrTypeTraitExpr *ue);
  NODE *member(const clang::MemberExpr *me);
  NODE *subscript(const clang::ArraySubscriptExpr *ae);
  NODE *pointer_offset(NODE *ptr, NODE *index, clang::QualType pointee, bool minus,
                       clang::SourceLocation loc);
  NODE *scaled_index(NODE *index, clang::QualType pointee, clang::SourceLocation loc);
  NODE *string_literal(const clang::StringLiteral *sl);
  NODE *field_leaf(const clang::FieldDecl *f, clang::SourceLocation loc);
  NODE *icon(__int128 v, TYPE *t);
  NODE *nop();
  bool side_effect_free(const NODE *n) const;
  NODE *stable_lvalue(NODE *lv, std::vector<NODE *> &pre, clang::SourceLocation loc);
  SYMTAB *new_temp(TYPE *t);
  NODE *seq(std::vector<NODE *> pre, NODE *last);
  bool is_struct_type(clang::QualType t) const;

  SrcPos pos_of(clang::SourceLocation loc);
  TYPE *ty(clang::QualType t, clang::SourceLocation loc) { return types_.map(t, loc); }

  clang::ASTContext &ctx_;
  clang::SourceManager &sm_;
  Module &out_;
  TypeMapper types_;
  std::vector<LoopPragma> pragmas_;
  size_t next_pragma_ = 0;

  std::map<const clang::Decl *, SYMTAB *> globals_;
  std::map<std::string, const char *> file_ids_;
  std::string cwd_;
  std::set<std::string> global_names_;
  uint32_t label_count_ = 0;
  uint32_t temp_count_ = 0;
  uint64_t string_units_ = 0;   // string literals written so far

  // The function being lowered.
  FunctionOut *fn_ = nullptr;
  const clang::FunctionDecl *fdecl_ = nullptr;
  std::map<const clang::VarDecl *, SYMTAB *> locals_;
  std::set<const clang::VarDecl *> vla_vars_;
  std::map<const clang::CompoundLiteralExpr *, SYMTAB *> literals_;
  std::map<const clang::Type *, SYMTAB *> vla_counts_;
  std::map<const clang::LabelDecl *, uint32_t> labels_;
  std::vector<uint32_t> break_labels_, continue_labels_;
  struct SwitchCtx {
    TYPE *type = nullptr;
    std::vector<std::pair<__int128, uint32_t>> cases;
    uint32_t default_label = 0;
  };
  std::vector<SwitchCtx *> switches_;
  SrcPos cur_pos_;
  // Pragma records of the loop being lowered, written before its top label.
  std::vector<std::unique_ptr<PragmaRecord>> loop_pragmas_;
};

} // namespace zor::zcc
