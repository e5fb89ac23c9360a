// tests/unit/type_test.cpp - the type package: promotions, resolution,
// normal forms, compatibility, completion and sharing, printing and the
// fatal messages of its operations.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "icode/reader.h"
#include "ir/demangle.h"
#include "ir/type.h"

namespace zor {
namespace {

// The message a type-system failure ends with ("" when there was none).
template <class F> std::string fatal_of(F &&f) {
  try {
    f();
  } catch (const IcodeFatal &e) {
    return e.what();
  }
  return "";
}

class TypePkgTest : public ::testing::Test {
protected:
  TYPE *ty(IntKind k) { return pkg.mk_int(k); }
  TYPE *fl(FloatKind k) { return pkg.mk_fltpt(k); }
  TYPE *enum_over(IntKind k, const char *name = "E") {
    TYPE *e = pkg.mk_enum(name, ty(k), ty(k)->size, ty(k)->align);
    return pkg.complete(e);
  }
  TYPE *fn(TYPE *result, std::vector<TYPE *> params, bool prototyped, bool varargs = false) {
    std::vector<PARAM> ps;
    for (TYPE *p : params)
      ps.push_back({p, false, 0, ""});
    return pkg.mk_function(result, prototyped, varargs, ps);
  }
  TYPE *csu(TypeKind k, const char *name, uint32_t size, bool complete = true,
            uint8_t aux = 0) {
    TYPE *t = pkg.mk_csu(k, name, size, 16, complete);
    t->aux_flags = aux;
    return pkg.complete(t);
  }

  TYPE_PKG pkg;
};

// ------------------------------------------------------------- promotions

TEST_F(TypePkgTest, IntegralPromotions) {
  TYPE *int_t = ty(IK_INT);
  for (IntKind k : {IK_CHAR, IK_WCHAR, IK_SHORT, IK_INT, IK_UCHAR, IK_USHORT})
    EXPECT_EQ(pkg.c_integral_promotions(ty(k)), int_t) << k;   // narrower than int
  EXPECT_EQ(pkg.c_integral_promotions(ty(IK_UINT)), ty(IK_UINT));
  for (IntKind k : {IK_BOOL, IK_LONG, IK_ULONG, IK_LLONG, IK_ULLONG})
    EXPECT_EQ(pkg.c_integral_promotions(ty(k)), ty(k)) << k;
  // An enumeration promotes as its integral type does.
  EXPECT_EQ(pkg.c_integral_promotions(enum_over(IK_UCHAR)), int_t);
  EXPECT_EQ(pkg.c_integral_promotions(enum_over(IK_ULONG, "L")), ty(IK_ULONG));
  // Not integral: unchanged, qualifiers and all.
  TYPE *cf = pkg.mk_qualified(fl(FK_FLOAT), Q_CONST);
  EXPECT_EQ(pkg.c_integral_promotions(cf), cf);
  // A const short promotes through its qualifier.
  EXPECT_EQ(pkg.c_integral_promotions(pkg.mk_qualified(ty(IK_SHORT), Q_CONST)), int_t);
}

TEST_F(TypePkgTest, UnsignedShortAsWideAsIntPromotesToUnsigned) {
  DataModel dm = DataModel::zor();
  dm.int_size[IK_SHORT] = dm.int_size[IK_USHORT] = 32;
  TYPE_PKG wide(dm);
  EXPECT_EQ(wide.c_integral_promotions(wide.mk_int(IK_USHORT)), wide.mk_int(IK_UINT));
  EXPECT_EQ(wide.c_integral_promotions(wide.mk_int(IK_UCHAR)), wide.mk_int(IK_INT));
}

TEST_F(TypePkgTest, PromotingAnUnregisteredTypeIsFatal) {
  TYPE loose(TK_INTEGRAL, 16, 16);
  EXPECT_EQ(fatal_of([&] { pkg.c_integral_promotions(&loose); }),
            "Unregistered type:  c_integral_promotions()\n");
}

// ------------------------------------------------- resolution, predicates

TEST_F(TypePkgTest, ConstIntResolvesToIntButPrintsConst) {
  TYPE *ci = pkg.mk_qualified(ty(IK_INT), Q_CONST);
  TYPE *td = pkg.mk_typedef("cint_t", ci);
  for (TYPE *t : {ci, td}) {
    EXPECT_EQ(t->getr(), ty(IK_INT));
    EXPECT_TRUE(t->is_integral());
    EXPECT_TRUE(t->is_signed());
    EXPECT_TRUE(t->is_scalar());
    EXPECT_TRUE(t->is_const());
    EXPECT_EQ(t->ekind(), EK_S32);
  }
  EXPECT_EQ(ci->print(), "const int ");
  EXPECT_EQ(td->print(), "cint_t ");
  EXPECT_EQ(pkg.mk_qualified(ci, Q_VOLATILE)->qualifier_bits(), Q_CONST | Q_VOLATILE);
  EXPECT_EQ(td->get(), ci);
}

TEST_F(TypePkgTest, Signedness) {
  EXPECT_TRUE(ty(IK_CHAR)->is_signed());   // plain char counts as signed
  EXPECT_FALSE(ty(IK_UCHAR)->is_signed());
  EXPECT_FALSE(ty(IK_WCHAR)->is_signed());
  EXPECT_FALSE(ty(IK_BOOL)->is_signed());
  EXPECT_TRUE(ty(IK_LLONG)->is_signed());
  EXPECT_TRUE(fl(FK_LDOUBLE)->is_signed());
  EXPECT_FALSE(enum_over(IK_UCHAR)->is_signed());
  EXPECT_TRUE(enum_over(IK_SHORT, "S")->is_signed());
  EXPECT_TRUE(pkg.mk_vector(ty(IK_SHORT), 4)->is_signed());
  EXPECT_FALSE(pkg.mk_vector(ty(IK_USHORT), 4)->is_signed());
  EXPECT_FALSE(pkg.mk_array(ty(IK_SHORT), 4, 64, 16)->is_signed());   // arrays are not
  EXPECT_TRUE(pkg.mk_fixed(ty(IK_INT), 15, 32, 32)->is_signed());
  EXPECT_FALSE(pkg.mk_pointer(ty(IK_INT))->is_signed());
}

TEST_F(TypePkgTest, SignedAndUnsignedCounterparts) {
  EXPECT_EQ(pkg.mk_signed(ty(IK_UCHAR)), ty(IK_CHAR));
  EXPECT_EQ(pkg.mk_signed(ty(IK_WCHAR)), ty(IK_SHORT));
  EXPECT_EQ(pkg.mk_signed(ty(IK_ULLONG)), ty(IK_LLONG));
  EXPECT_EQ(pkg.mk_unsigned(ty(IK_CHAR)), ty(IK_UCHAR));
  EXPECT_EQ(pkg.mk_unsigned(ty(IK_BOOL)), ty(IK_BOOL));
  EXPECT_EQ(pkg.mk_unsigned(enum_over(IK_LONG)), ty(IK_ULONG));
  EXPECT_EQ(fatal_of([&] { pkg.mk_signed(ty(IK_BOOL)); }), "Bad kind: TYPE_PKG::mk_signed()\n");
  EXPECT_EQ(fatal_of([&] { pkg.mk_unsigned(fl(FK_FLOAT)); }),
            "Bad kind: TYPE_PKG::mk_unsigned()\n");
}

TEST_F(TypePkgTest, PayloadQueries) {
  TYPE *s = csu(TK_STRUCT, "S", 32);
  TYPE *p = pkg.mk_pointer(s);
  EXPECT_EQ(p->type_pointed_to(), s);
  EXPECT_EQ(pkg.mk_typedef("sp", p)->type_pointed_to(), s);
  EXPECT_EQ(pkg.mk_ptr_to_member(ty(IK_INT), s)->type_pointed_to(), ty(IK_INT));
  EXPECT_EQ(enum_over(IK_UCHAR)->underlying_type(), ty(IK_UCHAR));
  EXPECT_EQ(pkg.mk_fixed(ty(IK_SHORT), 8, 16, 16)->underlying_type(), ty(IK_SHORT));
  TYPE *arr = pkg.mk_array(ty(IK_INT), 3, 96, 32);
  EXPECT_EQ(arr->elem_type(), ty(IK_INT));
  EXPECT_EQ(arr->num_elem(), 3u);
  EXPECT_EQ(ty(IK_INT)->num_elem(), 1u);
  EXPECT_FALSE(arr->is_vector());
  EXPECT_TRUE(pkg.mk_vector(fl(FK_FLOAT), 4)->is_vector());
  TYPE *cx = pkg.mk_complex(fl(FK_FLOAT));
  EXPECT_EQ(cx->part_type(), fl(FK_FLOAT));
  EXPECT_EQ(cx->size, 64u);
  EXPECT_EQ(pkg.create_subparts(cx), (std::vector<TYPE *>{fl(FK_FLOAT), fl(FK_FLOAT)}));
  EXPECT_EQ(s->name(), "S");
  EXPECT_EQ(pkg.mk_qualified(s, Q_CONST)->getr_csu(), s);
  // base_type: kinds without a base give the placeholder.
  EXPECT_EQ(pkg.base_type(arr), ty(IK_INT));
  EXPECT_EQ(pkg.base_type(p), s);
  EXPECT_EQ(pkg.base_type(s), pkg.base_type(ty(IK_INT)));
}

// Every bad-kind query stops with its own message.
TEST_F(TypePkgTest, BadKindMessages) {
  TYPE *s = csu(TK_STRUCT, "S", 32);
  TYPE *i = ty(IK_INT);
  struct Case {
    std::function<void()> call;
    const char *message;
  };
  const Case cases[] = {
      {[&] { s->type_pointed_to(); }, "Bad kind:  TYPE::type_pointed_to\n"},
      {[&] { i->underlying_type(); }, "Bad kind:  TYPE::underlying_type\n"},
      {[&] { i->elem_type(); }, "Bad kind:  TYPE::elem_type()\n"},
      {[&] { i->part_type(); }, "Bad kind:  TYPE::part_type()\n"},
      {[&] { i->name(); }, "Bad kind:  TYPE::name\n"},
      {[&] { i->set_is_complete(true); }, "Bad kind:  TYPE::set_is_complete\n"},
      {[&] { i->getr_csu(); }, "Bad kind:  TYPE::getr_csu()\n"},
      {[&] { i->get(); }, "Bad kind:  TYPE::get()\n"},
      {[&] { s->ekind(); }, "unhandled type kind: TYPE::ekind()\n"},
      {[&] { pkg.mk_int(IK_COUNT); }, "Bad kind: TYPE_PKG::mk_int\n"},
      {[&] { pkg.mk_fltpt(FK_COUNT); }, "Bad fltpt_kind: TYPE_PKG::mk_fltpt\n"},
      {[&] { pkg.create_subparts(i); }, "bad kind: TYPE::create_subparts\n"},
      {[&] { pkg.mk_complex(ty(IK_UINT)); },
       "Bad complex part_type: TYPE::TYPE(TYPE *i_part_type)\n"},
      {[&] { TYPE t(TK_STRUCT, 0, 0); }, "Bad type kind:  TYPE::TYPE(KIND)\n"},
      {[&] { TYPE t(TK_INTEGRAL, "x", 0, 0); },
       "Bad type kind:  TYPE::TYPE(KIND, const char *, int, int)\n"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(fatal_of(c.call), c.message);
}

// Kinds beyond the table are caught wherever a kind is dispatched on.
TEST_F(TypePkgTest, UnknownKindMessages) {
  TYPE *bogus = pkg.mk_pointer(ty(IK_INT));
  bogus->kind = static_cast<TypeKind>(16);
  TYPE *p = pkg.mk_pointer(ty(IK_LONG));
  EXPECT_EQ(fatal_of([&] { bogus->getr(); }), "Bad kind:  TYPE::getr()\n");
  EXPECT_EQ(fatal_of([&] { bogus->print(); }), "Bad kind: TYPE::print()\n");
  EXPECT_EQ(fatal_of([&] { pkg.normalize(bogus); }), "Tried to normalize unknown type kind\n");
  EXPECT_EQ(fatal_of([&] { pkg.exact_types(bogus, p); }), "unhandled type kind: exact_types()\n");
  EXPECT_EQ(fatal_of([&] { pkg.type_frozen(bogus); }), "bad kind: type_frozen()\n");
  EXPECT_EQ(fatal_of([&] { pkg.base_type(bogus); }), "bad kind:  TYPE_PKG::base_type()\n");
  EXPECT_EQ(fatal_of([&] { pkg.db_stats(stderr); }), "bad type: TYPE_PKG::db_stats()\n");
  bogus->kind = TK_POINTER;
  TYPE *f = pkg.mk_fltpt(FK_FLOAT);
  TYPE odd(TK_FLOATING, 32, 32);
  odd.subkind = 7;
  EXPECT_EQ(fatal_of([&] { odd.print(); }), "Bad fkind: TYPE::print()\n");
  EXPECT_EQ(fatal_of([&] { odd.ekind(); }), "Bad fkind: TYPE::ekind()\n");
  EXPECT_EQ(f->ekind(), EK_F32);
}

// -------------------------------------------------------------- normal form

TEST_F(TypePkgTest, NormalizingTwiceReturnsTheCachedObject) {
  TYPE *td = pkg.mk_typedef("i_t", pkg.mk_integral(IK_INT, 32, 32, false, 1));
  TYPE *p1 = pkg.mk_pointer(td);
  TYPE *n = pkg.normalize(p1);
  EXPECT_EQ(p1->norm, n);
  EXPECT_EQ(pkg.normalize(p1), n);
  EXPECT_EQ(pkg.normalize(n), n);
  EXPECT_EQ(n->type_pointed_to(), ty(IK_INT));   // integral: the package's type
  // A second pointer to an equal integral type shares the canonical form.
  TYPE *p2 = pkg.mk_pointer(pkg.mk_integral(IK_INT, 32, 32, false, 2));
  EXPECT_NE(p2, p1);
  EXPECT_EQ(pkg.normalize(p2), n);
  // Qualifiers of nested qualified types are merged; typedefs vanish.
  TYPE *cv = pkg.mk_qualified(pkg.mk_typedef("c", pkg.mk_qualified(td, Q_CONST)), Q_VOLATILE);
  TYPE *ncv = pkg.normalize(cv);
  EXPECT_EQ(ncv->kind, TK_QUALIFIED);
  EXPECT_EQ(ncv->qualifiers, Q_CONST | Q_VOLATILE);
  EXPECT_EQ(ncv->base, ty(IK_INT));
  // Own normal forms.
  TYPE *e = enum_over(IK_UCHAR);
  EXPECT_EQ(pkg.normalize(e), e);
  TYPE *s = csu(TK_UNION, "U", 16);
  EXPECT_EQ(pkg.normalize(s), s);
}

TEST_F(TypePkgTest, NormalizedFunctionsAndArrays) {
  TYPE *td = pkg.mk_typedef("s_t", ty(IK_SHORT));
  TYPE *f = fn(td, {td, pkg.mk_pointer(td)}, true);
  TYPE *nf = pkg.normalize(f);
  ASSERT_EQ(nf->kind, TK_FUNCTION);
  EXPECT_EQ(nf->base, ty(IK_SHORT));
  ASSERT_EQ(nf->params.size(), 2u);
  EXPECT_EQ(nf->params[0].type, ty(IK_SHORT));
  EXPECT_EQ(nf->params[1].type->type_pointed_to(), ty(IK_SHORT));
  EXPECT_TRUE(nf->has_params);
  TYPE *a = pkg.mk_array(td, 4, 64, 16);
  EXPECT_EQ(pkg.normalize(a)->elem_type(), ty(IK_SHORT));
  EXPECT_EQ(pkg.normalize(a)->count, 4u);
}

// ----------------------------------------------------------- compatibility

TEST_F(TypePkgTest, FunctionTypesWithAndWithoutParameterLists) {
  TYPE *i = ty(IK_INT);
  TYPE *k_r = fn(i, {}, false);
  EXPECT_FALSE(pkg.compatible_types(fn(i, {ty(IK_SHORT)}, true), k_r));   // short != int
  EXPECT_TRUE(pkg.compatible_types(fn(i, {i}, true), k_r));
  EXPECT_TRUE(pkg.compatible_types(k_r, fn(i, {i}, true)));
  EXPECT_FALSE(pkg.compatible_types(fn(i, {i}, true, true), k_r));        // variable list
  EXPECT_TRUE(pkg.compatible_types(k_r, fn(i, {}, false)));
  EXPECT_FALSE(pkg.compatible_types(fn(i, {}, false), fn(ty(IK_UINT), {}, false)));
  EXPECT_FALSE(pkg.compatible_types(fn(i, {i}, true), fn(i, {i, i}, true)));
  EXPECT_FALSE(pkg.compatible_types(fn(i, {i}, true), fn(i, {i}, true, true)));
  EXPECT_TRUE(pkg.compatible_types(fn(i, {pkg.mk_typedef("t", i)}, true), fn(i, {i}, true)));
}

TEST_F(TypePkgTest, StructuresCompareByName) {
  TYPE *a = csu(TK_STRUCT, "S", 32);
  TYPE *b = csu(TK_STRUCT, "S", 32, true, 1);   // read as a different type
  ASSERT_NE(a, b);
  EXPECT_TRUE(pkg.compatible_types(a, b));
  EXPECT_TRUE(pkg.compatible_types(a, csu(TK_STRUCT, "S", 64, false)));   // one incomplete
  EXPECT_FALSE(pkg.compatible_types(a, csu(TK_STRUCT, "S", 64)));         // both complete
  EXPECT_FALSE(pkg.compatible_types(a, csu(TK_STRUCT, "T", 32)));
  EXPECT_FALSE(pkg.compatible_types(a, csu(TK_UNION, "S", 32)));
  EXPECT_TRUE(pkg.compatible_types(pkg.mk_pointer(a), pkg.mk_pointer(b)));
}

TEST_F(TypePkgTest, ScalarsQualifiersAndArrays) {
  TYPE *c = ty(IK_CHAR);
  TYPE *sc = pkg.mk_integral(IK_CHAR, 16, 16, true);
  EXPECT_FALSE(pkg.compatible_types(c, sc));   // explicit sign matters for char
  EXPECT_TRUE(pkg.compatible_types(pkg.mk_integral(IK_INT, 32, 32, true), ty(IK_INT)));
  EXPECT_FALSE(pkg.compatible_types(ty(IK_INT), ty(IK_LONG)));
  EXPECT_FALSE(pkg.compatible_types(fl(FK_FLOAT), fl(FK_DOUBLE)));
  // Qualifiers must agree unless looked through.
  TYPE *ci = pkg.mk_qualified(ty(IK_INT), Q_CONST);
  EXPECT_FALSE(pkg.compatible_types(ci, ty(IK_INT)));
  EXPECT_TRUE(pkg.compatible_types(ci, ty(IK_INT), true));
  EXPECT_TRUE(pkg.compatible_types(ci, pkg.mk_qualified(ty(IK_INT), Q_CONST)));
  // Arrays: an incomplete array matches any count, unless one carries its
  // flag byte; vectors only match vectors.
  TYPE *a3 = pkg.mk_array(ty(IK_INT), 3, 96, 32);
  TYPE *a4 = pkg.mk_array(ty(IK_INT), 4, 128, 32);
  TYPE *open = pkg.mk_array(ty(IK_INT), 0, 0, 32, false);
  TYPE *open_flagged = pkg.mk_array(ty(IK_INT), 0, 0, 32, false, 1);
  EXPECT_FALSE(pkg.compatible_types(a3, a4));
  EXPECT_TRUE(pkg.compatible_types(a3, open));
  EXPECT_FALSE(pkg.compatible_types(a3, open_flagged));
  EXPECT_FALSE(pkg.compatible_types(pkg.mk_vector(ty(IK_INT), 3), a3));
  // Fixed point: exact bases and equal scales.
  EXPECT_TRUE(pkg.compatible_types(pkg.mk_fixed(ty(IK_INT), 15, 32, 32),
                                   pkg.mk_fixed(ty(IK_INT), 15, 32, 32, 1)));
  EXPECT_FALSE(pkg.compatible_types(pkg.mk_fixed(ty(IK_INT), 15, 32, 32),
                                    pkg.mk_fixed(ty(IK_INT), 14, 32, 32)));
  // Unregistered types are compatible with nothing.
  TYPE loose(TK_VOID, 0, 0);
  EXPECT_FALSE(pkg.compatible_types(&loose, &loose));
}

TEST_F(TypePkgTest, MachineEquivalence) {
  EXPECT_TRUE(pkg.equiv_mtypes(ty(IK_INT), ty(IK_LONG)));
  EXPECT_FALSE(pkg.equiv_mtypes(ty(IK_INT), ty(IK_UINT)));
  EXPECT_TRUE(pkg.equiv_mtypes(enum_over(IK_USHORT), ty(IK_WCHAR)));
  EXPECT_TRUE(pkg.equiv_mtypes(fl(FK_FLOAT), fl(FK_DOUBLE)));   // both 32 bits here
  EXPECT_TRUE(pkg.equiv_mtypes(pkg.mk_pointer(ty(IK_INT)), pkg.mk_pointer(fl(FK_FLOAT))));
  EXPECT_FALSE(pkg.equiv_mtypes(pkg.mk_pointer(ty(IK_INT)), ty(IK_SHORT)));
  EXPECT_TRUE(pkg.equiv_mtypes(pkg.mk_array(ty(IK_INT), 2, 64, 32),
                               pkg.mk_array(ty(IK_LONG), 2, 64, 32)));
}

// ----------------------------------------------------- completion, sharing

TEST_F(TypePkgTest, CompletionHandsBackAnEqualHeldType) {
  MEMBER m;
  m.id = 1;
  m.name = "x";
  m.type = ty(IK_INT);
  TYPE *held = pkg.mk_struct(TK_STRUCT, "P", 32, 32, {m});
  TYPE *again = pkg.mk_csu(TK_STRUCT, "P", 32, 32);
  again->members = {m};
  again->groups = 1u << kDataMemberGroup;
  EXPECT_FALSE(pkg.type_frozen(again));
  EXPECT_EQ(pkg.complete(again), held);
  EXPECT_TRUE(pkg.type_frozen(again));
  EXPECT_EQ(again->next_equiv, held);
  EXPECT_EQ(again->representative(), held);
  // A field that differs keeps them apart.
  TYPE *other = pkg.mk_csu(TK_STRUCT, "P", 32, 32);
  m.offset = 16;
  other->members = {m};
  other->groups = 1u << kDataMemberGroup;
  EXPECT_EQ(pkg.complete(other), other);
  // Basic types are held from the start.
  EXPECT_EQ(pkg.mk_integral(IK_UINT, 32, 32), ty(IK_UINT));
  EXPECT_NE(pkg.mk_integral(IK_UINT, 32, 32, false, 1), ty(IK_UINT));
}

// struct L { struct L *next; } read twice: the second joins the first
// although each member points at its own structure.
TEST_F(TypePkgTest, SelfReferentialStructuresAreEqual) {
  auto make = [&] {
    TYPE *s = pkg.mk_csu(TK_STRUCT, "L", 16, 16);
    TYPE *p = pkg.mk_pointer(s);
    MEMBER m;
    m.id = 1;
    m.name = "next";
    m.type = p;
    s->members = {m};
    s->groups = 1u << kDataMemberGroup;
    return std::make_pair(s, p);
  };
  auto [s1, p1] = make();
  EXPECT_EQ(pkg.complete(s1), s1);
  auto [s2, p2] = make();
  EXPECT_NE(p2, p1);   // made while s2 was still open
  EXPECT_EQ(pkg.complete(s2), s1);
  EXPECT_TRUE(pkg.exact_types(p1, p2));
  EXPECT_FALSE(pkg.exact_types(s1, pkg.mk_csu(TK_STRUCT, "L", 16, 16)));   // not frozen
}

TEST_F(TypePkgTest, DeletingTypeTrees) {
  TYPE *base = pkg.mk_typedef("d_t", ty(IK_INT));
  TYPE *p = pkg.mk_pointer(base);
  TYPE *pp = pkg.mk_pointer(p);
  uint32_t pid = p->id, ppid = pp->id;
  EXPECT_EQ(fatal_of([&] { pkg.delete_type_tree(p, false); }),
            "Nonrecusive type tree delete with nonempty based list:  "
            "TYPE_PKG::delete_type_tree\n");
  size_t before = pkg.bytes_allocated();
  pkg.delete_type_tree(p, true);
  EXPECT_EQ(pkg.type_by_id(pid), nullptr);
  EXPECT_EQ(pkg.type_by_id(ppid), nullptr);
  EXPECT_LT(pkg.bytes_allocated(), before);
  EXPECT_TRUE(base->based.empty());
  // A new pointer to the typedef is made afresh, not found in the tables.
  TYPE *again = pkg.mk_pointer(base);
  EXPECT_GT(again->id, ppid);
  pkg.delete_type_tree(ty(IK_INT), true);   // basic types stay
  EXPECT_EQ(pkg.type_by_id(ty(IK_INT)->id), ty(IK_INT));
}

// ------------------------------------------------------------------ print

TEST_F(TypePkgTest, PrintForms) {
  TYPE *i = ty(IK_INT);
  EXPECT_EQ(pkg.mk_void()->print(), "void ");
  EXPECT_EQ(pkg.mk_integral(IK_CHAR, 16, 16, true)->print(), "[ExplSign] char ");
  EXPECT_EQ(ty(IK_ULLONG)->print(), "unsigned long long ");
  EXPECT_EQ(fl(FK_LDOUBLE)->print(), "long double ");
  EXPECT_EQ(pkg.mk_fixed(i, 15, 32, 32)->print(), "int  [FxtPt:15] ");
  EXPECT_EQ(pkg.mk_complex(ty(IK_LLONG))->print(), "cllong ");
  EXPECT_EQ(pkg.mk_complex(fl(FK_DOUBLE))->print(), "cdouble ");
  EXPECT_EQ(pkg.mk_pointer(ty(IK_CHAR))->print(), "(*char ) ");
  EXPECT_EQ(pkg.mk_reference(i)->print(), "(&int ) ");
  EXPECT_EQ(pkg.mk_qualified(i, Q_CONST | Q_ONCHIP)->print(), "const onchip int ");
  EXPECT_EQ(pkg.mk_array(i, 3, 96, 32)->print(), "int [3] ");
  EXPECT_EQ(pkg.mk_array(i, 0, 0, 32, false)->print(), "int [] ");
  EXPECT_EQ(pkg.mk_vector(fl(FK_FLOAT), 4)->print(), "float <[4]> ");
  EXPECT_EQ(fn(i, {ty(IK_SHORT), i}, true, true)->print(), "int (short , int , ...) ");
  EXPECT_EQ(fn(pkg.mk_void(), {}, false, true)->print(), "void (...) ");
  TYPE *s = csu(TK_CLASS, "C", 32);
  EXPECT_EQ(pkg.mk_ptr_to_member(i, s)->print(), "(class C ::*int ) ");

  TYPE *e = pkg.mk_enum("color", ty(IK_UCHAR), 16, 16);
  e->enumerators = {{"red", 0, {}}, {"blue", 4, {}}};
  EXPECT_EQ(e->print(), "enum color ");
  EXPECT_EQ(e->print(true), "enum color {red=0, blue=4} ");

  MEMBER a, b;
  a.id = 1, a.name = "a", a.type = i;
  b.id = 2, b.name = "b", b.type = ty(IK_USHORT), b.offset = 32, b.bitfield = 3;
  TYPE *st = pkg.mk_struct(TK_STRUCT, "S", 48, 32, {a, b});
  EXPECT_EQ(st->print(), "struct S ");
  EXPECT_EQ(st->print(true),
            "struct S {\n    off:  0 int a;\n    off: 32 bitfld( 3) unsigned short b;\n} ");
}

TEST_F(TypePkgTest, RecordKindsAndStructVectors) {
  EXPECT_EQ(ty(IK_ULONG)->record_kind(), 9);
  EXPECT_EQ(ty(IK_LLONG)->record_kind(), 50);
  EXPECT_EQ(fl(FK_DOUBLE)->record_kind(), 11);
  EXPECT_EQ(pkg.mk_void()->record_kind(), 49);
  TYPE *s = csu(TK_UNION, "U", 16);
  EXPECT_EQ(s->record_kind(), 24);
  EXPECT_EQ(s->csu_variety(), 1);
  TYPE *full = pkg.mk_csu(TK_CLASS, "K", 16, 16);
  full->groups = 1u << 3;
  EXPECT_EQ(full->record_kind(), 25);
  EXPECT_EQ(full->csu_variety(), 2);

  std::vector<MEMBER> ms(3);
  for (unsigned k = 0; k < 3; ++k) {
    ms[k].id = k + 1;
    ms[k].type = fl(FK_FLOAT);
    ms[k].offset = static_cast<int32_t>(32 * k);
  }
  EXPECT_TRUE(pkg.mk_struct(TK_STRUCT, "v3", 96, 32, ms)->is_struct_vector());
  ms[2].offset = 80;
  EXPECT_FALSE(pkg.mk_struct(TK_STRUCT, "v3", 112, 32, ms)->is_struct_vector());
}

TEST_F(TypePkgTest, StatisticsCountEveryKind) {
  pkg.mk_pointer(ty(IK_INT));
  char *buf = nullptr;
  size_t len = 0;
  FILE *f = open_memstream(&buf, &len);
  pkg.db_stats(f);
  std::fclose(f);
  std::string out(buf, len);
  std::free(buf);
  EXPECT_NE(out.find("integral    12"), std::string::npos) << out;
  EXPECT_NE(out.find("pointer     1"), std::string::npos) << out;
}

TEST(Demangle, EncodedNamesAndOthers) {
  EXPECT_EQ(demangle("_Z3fooi"), "foo(int)");
  EXPECT_EQ(demangle("_ZN2ns1xE"), "ns::x");
  EXPECT_EQ(demangle("x"), "x");         // a plain name, though "x" encodes long long
  EXPECT_EQ(demangle("_Zbad"), "_Zbad");
  EXPECT_EQ(demangle(""), "");
  std::string out;
  EXPECT_TRUE(try_demangle("3foo", out));   // an encoded type
  EXPECT_EQ(out, "foo");
  EXPECT_FALSE(try_demangle("plain", out));
  EXPECT_FALSE(try_demangle(std::string(kMaxDemangleLength + 1, 'a').c_str(), out));
}

} // namespace
} // namespace zor
