// tests/unit/type_records_test.cpp - the type records of the declaration
// part: every record kind, the fields that depend on the format version,
// attribute groups with completion and rebinding, and the fatal messages.
//
// Records are given as tag-116 records of the main stream; the reader binds
// their identifiers in the package the test looks at afterwards.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "icode/reader.h"
#include "icode/record_tags.h"
#include "ir/type.h"
#include "tests/support/icode_image.h"
#include "tests/support/recording_client.h"

namespace zor {
namespace {

using test::HeaderFields;
using test::IcodeImage;
using test::MemFile;
using test::RecordingClient;

constexpr uint8_t kOpen = 254, kClose = 255;

// Identifiers every image defines first: int, unsigned char, unsigned,
// short.
enum : uint32_t { T_INT = 1, T_UCHAR, T_UINT, T_SHORT, T_FIRST_FREE };

class TypeRecordsTest : public ::testing::Test {
protected:
  // An image of `version` whose stream starts with the basic records.
  IcodeImage image(int version = -72) {
    IcodeImage img;
    HeaderFields h;
    h.version = version;
    img.header(h);
    integral(img, T_INT, 6, 32);
    integral(img, T_UCHAR, 2, 16);
    integral(img, T_UINT, 7, 32);
    integral(img, T_SHORT, 4, 16);
    return img;
  }
  static void integral(IcodeImage &img, uint32_t id, uint8_t kind, uint32_t size,
                       bool explicit_sign = false) {
    uint32_t align = size > 32 ? 32 : size;
    img.begin(TAG_TYPE).uleb(id).byte(kind).flag(explicit_sign).uleb(size).uleb(align)
        .flag(false).flag(false).end();
  }
  static IcodeImage &rec(IcodeImage &img, uint32_t id, uint8_t kind) {
    return img.begin(TAG_TYPE).uleb(id).byte(kind);
  }
  static void group(IcodeImage &img, uint32_t id, uint8_t open_or_close, uint8_t g) {
    rec(img, id, open_or_close).byte(g).end();
  }

  void read(const IcodeImage &img) {
    IcodeImage copy = img;
    copy.end_stream();
    file = std::make_unique<MemFile>(copy.bytes());
    reader = IcodeReader::open(file->get(), client, types);
    ASSERT_TRUE(reader);
    reader->read_all();
  }
  // The message the read stops with ("" when it does not).
  std::string fatal(const IcodeImage &img) {
    try {
      read(img);
    } catch (const IcodeFatal &e) {
      return e.what();
    }
    return "";
  }
  TYPE *type(uint32_t id) { return reader->lookup_type(id); }

  TYPE_PKG types;
  RecordingClient client;
  std::unique_ptr<MemFile> file;
  std::unique_ptr<IcodeReader> reader;
};

std::string msg(const char *m) { return std::string(m) + "\n"; }

// ------------------------------------------------------------ every kind

TEST_F(TypeRecordsTest, ScalarAndDerivedKinds) {
  IcodeImage img = image();
  integral(img, 10, 1, 16, true);                                  // signed char
  rec(img, 11, 12).uleb(64).uleb(32).end();                        // long double
  rec(img, 12, 13).byte(0xf1).flag(true).type_ref(T_INT).uleb(32).uleb(32).end();
  rec(img, 13, 36).uleb(99).uleb(99).type_ref(T_SHORT).end();      // complex short
  rec(img, 14, 16).type_ref(T_INT).uleb(16).uleb(16).end();        // reference
  rec(img, 15, 17).type_ref(T_INT).uleb(Q_CONST | Q_VOLATILE).uleb(32).uleb(32).end();
  rec(img, 16, 14).text("myint").type_ref(15).uleb(32).uleb(32).flag(true).flag(true)
      .no_pos().end();
  rec(img, 17, 19).type_ref(T_INT).type_ref(T_UINT).uleb(32).uleb(16).end();
  rec(img, 18, 49).end();
  integral(img, 19, 51, 64);
  read(img);

  EXPECT_EQ(type(T_INT), types.mk_int(IK_INT));   // equal to the package's: rebound
  EXPECT_EQ(type(T_UCHAR), types.mk_int(IK_UCHAR));
  EXPECT_EQ(type(19), types.mk_int(IK_ULLONG));
  TYPE *sc = type(10);
  EXPECT_NE(sc, types.mk_int(IK_CHAR));
  EXPECT_TRUE(sc->explicit_sign);
  EXPECT_EQ(sc->print(), "[ExplSign] char ");
  EXPECT_EQ(type(11), types.mk_fltpt(FK_LDOUBLE));
  TYPE *fx = type(12);
  EXPECT_EQ(fx->kind, TK_FIXED);
  EXPECT_EQ(fx->scale, -15);
  EXPECT_EQ(fx->aux_flags, 1);
  EXPECT_EQ(fx->underlying_type(), types.mk_int(IK_INT));
  TYPE *cx = type(13);
  EXPECT_EQ(cx->part_type(), types.mk_int(IK_SHORT));
  EXPECT_EQ(cx->size, 32u);   // derived from the part, not the record
  EXPECT_EQ(type(14)->kind, TK_REFERENCE);
  EXPECT_EQ(type(15)->qualifiers, Q_CONST | Q_VOLATILE);
  TYPE *td = type(16);
  EXPECT_EQ(td->name(), "myint");
  EXPECT_EQ(td->flag_byte, 1);
  EXPECT_EQ(td->aux_flags, 1);
  EXPECT_EQ(td->getr(), types.mk_int(IK_INT));
  EXPECT_TRUE(td->is_volatile());
  EXPECT_EQ(type(17)->class_type, types.mk_int(IK_UINT));
  EXPECT_EQ(type(17)->record_kind(), 19);
  EXPECT_EQ(type(18), types.mk_void());
}

TEST_F(TypeRecordsTest, FunctionWithItsParameters) {
  IcodeImage img = image();
  rec(img, 10, 20).type_ref(T_INT).flag(true).flag(true).byte(3).flag(true).end();
  group(img, 10, kOpen, 0);
  rec(img, 10, 21).type_ref(T_SHORT).flag(true).uleb(7).text("a").end();
  rec(img, 10, 21).type_ref(T_INT).flag(false).uleb(0).text("b").end();
  group(img, 10, kClose, 0);
  read(img);
  TYPE *f = type(10);
  ASSERT_EQ(f->kind, TK_FUNCTION);
  EXPECT_TRUE(f->frozen);
  EXPECT_TRUE(f->has_params);
  EXPECT_TRUE(f->varargs);
  EXPECT_EQ(f->aux_byte, 3);
  EXPECT_EQ(f->aux_flags, 1);
  ASSERT_EQ(f->params.size(), 2u);
  EXPECT_EQ(f->params[0].type, types.mk_int(IK_SHORT));
  EXPECT_TRUE(f->params[0].flag);
  EXPECT_EQ(f->params[0].number, 7u);
  EXPECT_EQ(f->params[1].name, "b");
  EXPECT_EQ(f->print(), "int (short , int , ...) ");
}

// Enumerator values are sleb under a signed integral type, uleb otherwise.
TEST_F(TypeRecordsTest, EnumeratorsFollowTheSignednessOfTheIntegralType) {
  IcodeImage img = image();
  rec(img, 10, 22).text("u").uleb(32).uleb(32).type_ref(T_UINT).flag(false).no_pos().end();
  group(img, 10, kOpen, 1);
  rec(img, 10, 23).text("big").uleb(0xFFFFFFFFu).no_pos().end();
  group(img, 10, kClose, 1);
  rec(img, 11, 22).text("s").uleb(16).uleb(16).type_ref(T_SHORT).flag(true).no_pos().end();
  group(img, 11, kOpen, 1);
  rec(img, 11, 23).text("minus").sleb(-1).no_pos().end();
  rec(img, 11, 23).text("two").sleb(2).no_pos().end();
  group(img, 11, kClose, 1);
  read(img);
  ASSERT_EQ(type(10)->enumerators.size(), 1u);
  EXPECT_EQ(type(10)->enumerators[0].value, 0xFFFFFFFFll);
  EXPECT_EQ(type(10)->flag_byte, 0);
  TYPE *s = type(11);
  ASSERT_EQ(s->enumerators.size(), 2u);
  EXPECT_EQ(s->enumerators[0].value, -1);
  EXPECT_EQ(s->enumerators[1].value, 2);
  EXPECT_EQ(s->flag_byte, 1);
  EXPECT_EQ(s->print(true), "enum s {minus=-1, two=2} ");
}

// A structure that points to itself through a member, then the same
// structure again under another identifier: the second is rebound to the
// first once its group closes.
TEST_F(TypeRecordsTest, SelfReferenceAndRebinding) {
  IcodeImage img = image();
  auto list = [&](uint32_t s, uint32_t p) {
    rec(img, s, 24).byte(0).text("node").flag(true).flag(false).uleb(48).uleb(32).flag(true)
        .flag(false).flag(false).no_pos().end();
    rec(img, p, 15).type_ref(s).uleb(16).uleb(16).end();
    group(img, s, kOpen, 7);
    rec(img, s, 28).uleb(1).text("value").type_ref(T_INT).byte(0).sleb(0).byte(0).uleb(0)
        .flag(false).flag(false).flag(false).no_pos().end();
    rec(img, s, 28).uleb(2).text("next").type_ref(p).byte(0).sleb(32).byte(0).uleb(0)
        .flag(false).flag(false).flag(false).no_pos().end();
    group(img, s, kClose, 7);
  };
  list(10, 11);
  list(20, 21);
  read(img);
  TYPE *s = type(10);
  EXPECT_TRUE(s->frozen);
  ASSERT_EQ(s->members.size(), 2u);
  EXPECT_EQ(s->members[1].type, type(11));
  EXPECT_EQ(type(11)->type_pointed_to(), s);
  EXPECT_EQ(s->member_by_id(2)->offset, 32);
  EXPECT_EQ(type(20), s);   // rebound
  EXPECT_NE(type(21), type(11));
  EXPECT_EQ(type(21)->type_pointed_to()->representative(), s);
}

// Kind 25 announces its groups with nine flags (groups 2..9, then 0).
TEST_F(TypeRecordsTest, FullClassRecordWithItsGroups) {
  IcodeImage img = image();
  rec(img, 10, 25).byte(2).text("K").flag(true).flag(true).uleb(32).uleb(32).uleb(5);
  for (int g : {2, 3, 4, 5, 6, 7, 8, 9, 0})
    img.flag(g == 2 || g == 9 || g == 0);
  img.flag(true).flag(true).no_pos().end();
  group(img, 10, kOpen, 2);
  rec(img, 10, 29).type_ref(T_INT).sleb(-8).byte(1).flag(true).end();
  group(img, 10, kClose, 2);
  group(img, 10, kOpen, 9);
  rec(img, 10, 35).text("m").type_ref(T_SHORT).byte(2).sleb(3).flag(true).flag(false)
      .flag(true).flag(false).end();
  group(img, 10, kClose, 9);
  group(img, 10, kOpen, 0);
  rec(img, 10, 21).type_ref(T_INT).flag(false).uleb(1).text("t").end();
  group(img, 10, kClose, 0);
  read(img);
  TYPE *k = type(10);
  EXPECT_EQ(k->kind, TK_CLASS);
  EXPECT_TRUE(k->frozen);
  EXPECT_TRUE(k->full_form);
  EXPECT_EQ(k->aux_number, 5u);
  EXPECT_EQ(k->aux_flags, 3);   // the second flag and the flag of -84 on
  EXPECT_EQ(k->flag_byte, 1);
  EXPECT_EQ(k->groups, (1u << 2) | (1u << 9) | 1u);
  ASSERT_EQ(k->attrs[2].size(), 1u);
  EXPECT_EQ(k->attrs[2][0].number, -8);
  EXPECT_TRUE(k->attrs[2][0].flags[0]);
  ASSERT_EQ(k->attrs[9].size(), 1u);
  EXPECT_EQ(k->attrs[9][0].text, "m");
  EXPECT_TRUE(k->attrs[9][0].flags[2]);
  ASSERT_EQ(k->params.size(), 1u);
  EXPECT_EQ(k->record_kind(), 25);
}

// ------------------------------------------------- version-dependent fields

TEST_F(TypeRecordsTest, SpecialFlagFromVersionMinus81) {
  // -81 stores the flag; -82 does not, and derives it from the name.
  for (int version : {-81, -82}) {
    TYPE_PKG pkg;
    RecordingClient c;
    IcodeImage img = image(version);
    auto enumeration = [&](uint32_t id, const char *name, bool stored) {
      rec(img, id, 22).text(name).uleb(32).uleb(32).type_ref(T_INT);
      if (version >= -81)
        img.flag(stored);
      img.no_pos().end();
      group(img, id, kOpen, 1);
      group(img, id, kClose, 1);
    };
    enumeration(10, "_3foo", false);   // "3foo" is an encoded name
    enumeration(11, "_plain", true);   // "plain" is not
    img.end_stream();
    MemFile f(img.bytes());
    auto r = IcodeReader::open(f.get(), c, pkg);
    ASSERT_TRUE(r);
    r->read_all();
    EXPECT_EQ(r->lookup_type(10)->flag_byte, version == -81 ? 0 : 1) << version;
    EXPECT_EQ(r->lookup_type(11)->flag_byte, version == -81 ? 1 : 0) << version;
  }
}

TEST_F(TypeRecordsTest, ArrayFlagsByVersion) {
  struct Case {
    int version;
    int flags_after;   // flags written after the flag byte
    bool vector;
  };
  for (Case k : {Case{-77, 0, false}, Case{-76, 1, true}, Case{-75, 2, true},
                 Case{-74, 2, true}, Case{-73, 1, true}}) {
    TYPE_PKG pkg;
    RecordingClient c;
    IcodeImage img = image(k.version);
    rec(img, 10, 18).type_ref(T_SHORT).uleb(4).uleb(64).uleb(16).flag(true).flag(true);
    if (k.flags_after >= 1)
      img.flag(true);     // the vector flag
    if (k.flags_after >= 2)
      img.flag(true);     // read and dropped
    img.end();
    rec(img, 11, 15).type_ref(10).uleb(16).uleb(16).end();   // stays in step
    img.end_stream();
    MemFile f(img.bytes());
    auto r = IcodeReader::open(f.get(), c, pkg);
    ASSERT_TRUE(r);
    r->read_all();
    TYPE *a = r->lookup_type(10);
    EXPECT_EQ(a->is_vector(), k.vector) << k.version;
    EXPECT_TRUE(a->is_complete);
    EXPECT_EQ(a->flag_byte, 1);
    EXPECT_EQ(a->num_elem(), 4u);
    EXPECT_EQ(r->lookup_type(11)->type_pointed_to(), a);
  }
}

// Unions of files older than -80 carry the union flag; the class flag of
// -84 and the data member's fti byte of -74 come and go with the version;
// files older than -85 order the member's last fields differently.
TEST_F(TypeRecordsTest, ClassAndMemberFieldsByVersion) {
  for (int version : {-86, -85, -84, -81, -80, -75, -74}) {
    TYPE_PKG pkg;
    RecordingClient c;
    IcodeImage img = image(version);
    rec(img, 10, 24).byte(1).text("U").flag(true).flag(false).uleb(32).uleb(32).flag(true);
    if (version >= -84)
      img.flag(true);
    if (version >= -81)
      img.flag(false);
    img.no_pos().end();
    group(img, 10, kOpen, 7);
    rec(img, 10, 28).uleb(3).text("f").type_ref(T_UINT).byte(1).sleb(0);
    if (version >= -74)
      img.byte(0x1f);
    if (version < -85)
      img.flag(true).uleb(5).flag(true);
    else
      img.uleb(5).flag(true).flag(false).flag(true);
    img.pos(0, 0, 0).end();
    group(img, 10, kClose, 7);
    img.end_stream();
    MemFile f(img.bytes());
    auto r = IcodeReader::open(f.get(), c, pkg);
    ASSERT_TRUE(r) << version;
    r->read_all();
    TYPE *u = r->lookup_type(10);
    ASSERT_EQ(u->kind, TK_UNION);
    EXPECT_EQ(u->union_flag, version < -80) << version;
    EXPECT_EQ((u->aux_flags & 2) != 0, version >= -84) << version;
    ASSERT_EQ(u->members.size(), 1u);
    const MEMBER &m = u->members[0];
    EXPECT_EQ(m.bitfield, 5u) << version;
    EXPECT_TRUE(m.mflags[0]);
    EXPECT_EQ(m.mflags[1], version < -85);
    EXPECT_EQ(m.mflags[2], version >= -85);
    EXPECT_EQ(m.extra_name, version >= -74 ? "fti:1f" : "") << version;
  }
}

// ------------------------------------------------------- groups and faults

TEST_F(TypeRecordsTest, ClassWithoutGroupsIsCompleteAtOnce) {
  IcodeImage img = image();
  rec(img, 10, 25).byte(0).text("E").flag(true).flag(false).uleb(0).uleb(16).uleb(0);
  for (int i = 0; i < 9; ++i)
    img.flag(false);
  img.flag(false).flag(false).no_pos().end();
  IcodeImage more = img;
  read(img);
  EXPECT_TRUE(type(10)->frozen);
  group(more, 10, kOpen, 7);
  TYPE_PKG fresh;
  RecordingClient c;
  more.end_stream();
  MemFile f(more.bytes());
  auto r = IcodeReader::open(f.get(), c, fresh);
  ASSERT_TRUE(r);
  try {
    r->read_all();
    ADD_FAILURE() << "no fatal error";
  } catch (const IcodeFatal &e) {
    EXPECT_EQ(std::string(e.what()), msg(kUnexpectedTypeAttribute));
  }
}

TEST_F(TypeRecordsTest, GroupMessages) {
  auto function = [](IcodeImage &img) {
    rec(img, 10, 20).type_ref(T_INT).flag(true).flag(false).byte(0).flag(false).end();
  };
  {
    IcodeImage img = image();
    function(img);
    group(img, 10, kOpen, 0);
    rec(img, 10, 21).type_ref(T_INT).flag(false).uleb(0).text("a").end();
    group(img, 10, kOpen, 0);
    EXPECT_EQ(fatal(img), msg(kDuplicateFunctionParameters));
  }
  {
    IcodeImage img = image();
    function(img);
    group(img, 10, kOpen, 7);
    EXPECT_EQ(fatal(img), msg(kUnexpectedTypeAttribute));
  }
  {
    IcodeImage img = image();
    rec(img, 10, 22).text("e").uleb(32).uleb(32).type_ref(T_INT).flag(false).no_pos().end();
    group(img, 10, kOpen, 1);
    rec(img, 10, 23).text("a").sleb(0).no_pos().end();
    group(img, 10, kOpen, 1);
    EXPECT_EQ(fatal(img), msg(kDuplicateEnumerators));
  }
  {
    // Group 7 given twice while group 2 is still expected.
    IcodeImage img = image();
    rec(img, 10, 25).byte(0).text("S").flag(true).flag(false).uleb(32).uleb(32).uleb(0);
    for (int g : {2, 3, 4, 5, 6, 7, 8, 9, 0})
      img.flag(g == 2 || g == 7);
    img.flag(false).flag(false).no_pos().end();
    group(img, 10, kOpen, 7);
    rec(img, 10, 28).uleb(1).text("x").type_ref(T_INT).byte(0).sleb(0).byte(0).uleb(0)
        .flag(false).flag(false).flag(false).no_pos().end();
    group(img, 10, kClose, 7);
    group(img, 10, kOpen, 7);
    EXPECT_EQ(fatal(img), msg(kDuplicateCsuAttributes));
  }
  {
    // A member record whose group is not open, and a close without an open.
    IcodeImage img = image();
    function(img);
    rec(img, 10, 21).type_ref(T_INT).flag(false).uleb(0).text("a").end();
    EXPECT_EQ(fatal(img), msg(kUnexpectedTypeAttribute));
  }
  {
    IcodeImage img = image();
    function(img);
    group(img, 10, kClose, 0);
    EXPECT_EQ(fatal(img), msg(kUnexpectedTypeAttribute));
  }
  {
    IcodeImage img = image();
    group(img, 99, kOpen, 0);
    EXPECT_EQ(fatal(img), msg(kForwardReference));
  }
  {
    IcodeImage img = image();
    integral(img, T_INT, 6, 32);
    EXPECT_EQ(fatal(img), msg(kTypeTwice));
  }
}

TEST_F(TypeRecordsTest, MalformedRecordsAreInvalid) {
  auto invalid = [&](const std::function<void(IcodeImage &)> &add) {
    TYPE_PKG pkg;
    RecordingClient c;
    IcodeImage img = image();
    add(img);
    img.end_stream();
    MemFile f(img.bytes());
    auto r = IcodeReader::open(f.get(), c, pkg);
    try {
      r->read_all();
    } catch (const IcodeFatal &e) {
      return std::string(e.what());
    }
    return std::string("no fatal error");
  };
  // Fields running past the record's length.
  EXPECT_EQ(invalid([](IcodeImage &img) { rec(img, 10, 15).type_ref(T_INT).uleb(16).end(); }),
            kInvalidRecord);
  // A text without its terminator inside the record.
  EXPECT_EQ(invalid([](IcodeImage &img) { rec(img, 10, 14).raw({'a', 'b'}).end(); }),
            kInvalidRecord);
  // Kinds that define nothing, identifier 0, a missing type, a bad variety.
  EXPECT_EQ(invalid([](IcodeImage &img) { rec(img, 10, 40).end(); }), kInvalidRecord);
  EXPECT_EQ(invalid([](IcodeImage &img) { rec(img, 0, 49).end(); }), kInvalidRecord);
  EXPECT_EQ(invalid([](IcodeImage &img) {
              rec(img, 10, 15).type_ref(0).uleb(16).uleb(16).end();
            }),
            kInvalidRecord);
  EXPECT_EQ(invalid([](IcodeImage &img) {
              rec(img, 10, 24).byte(3).text("x").flag(true).flag(false).uleb(0).uleb(0)
                  .flag(false).flag(false).flag(false).no_pos().end();
            }),
            kInvalidRecord);
  // An enumeration over a type that is not integral.
  EXPECT_EQ(invalid([](IcodeImage &img) {
              rec(img, 10, 49).end();
              rec(img, 11, 22).text("e").uleb(0).uleb(0).type_ref(10).flag(false).no_pos().end();
            }),
            kInvalidRecord);
  // A complex type of an unsigned part.
  EXPECT_EQ(invalid([](IcodeImage &img) {
              rec(img, 10, 36).uleb(0).uleb(0).type_ref(T_UINT).end();
            }),
            msg("Bad complex part_type: TYPE::TYPE(TYPE *i_part_type)"));
  // Types nested beyond the limit.
  EXPECT_EQ(invalid([](IcodeImage &img) {
              for (uint32_t i = 0; i <= kMaxTypeDepth; ++i)
                rec(img, 10 + i, 15).type_ref(i == 0 ? T_INT : 9 + i).uleb(16).uleb(16).end();
            }),
            kInvalidRecord);
}

// Extra bytes after the fields are passed over with the record.
TEST_F(TypeRecordsTest, RecordLongerThanItsFields) {
  IcodeImage img = image();
  rec(img, 10, 15).type_ref(T_INT).uleb(16).uleb(16).raw({1, 2, 3}).end();
  rec(img, 11, 15).type_ref(10).uleb(16).uleb(16).end();
  read(img);
  EXPECT_EQ(type(11)->type_pointed_to(), type(10));
}

// zopt ends with the message on standard error and exit code 1.
TEST(TypeRecordsZopt, FatalMessagesEndTheRunWithCode1) {
  char tmpl[] = "/tmp/zopt_types_XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  auto run = [&](const IcodeImage &img, std::string &err) {
    {
      std::ofstream out(dir + "/t.if", std::ios::binary);
      out.write(reinterpret_cast<const char *>(img.bytes().data()),
                static_cast<std::streamsize>(img.bytes().size()));
    }
    std::string cmd = std::string(ZOPT_PATH) + " " + dir + "/t.if " + dir + "/t.opt 2>" + dir +
                      "/err >/dev/null";
    int status = std::system(cmd.c_str());
    std::ifstream in(dir + "/err");
    std::stringstream text;
    text << in.rdbuf();
    err = text.str();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  IcodeImage img;
  img.header();
  img.begin(TAG_TYPE).uleb(1).byte(25).byte(0).text("S").flag(true).flag(false).uleb(0)
      .uleb(16).uleb(0);
  for (int g = 0; g < 9; ++g)
    img.flag(false);
  img.flag(false).flag(false).no_pos().end();
  img.begin(TAG_TYPE).uleb(1).byte(254).byte(7).end();
  img.end_stream();
  std::string err;
  EXPECT_EQ(run(img, err), 1);
  EXPECT_EQ(err, "Unexpected type attribute\n");

  IcodeImage fwd;
  fwd.header();
  fwd.begin(TAG_TYPE).uleb(2).byte(15).type_ref(1).uleb(16).uleb(16).end();
  fwd.end_stream();
  EXPECT_EQ(run(fwd, err), 1);
  EXPECT_EQ(err, "invalid forward reference\n");
  std::filesystem::remove_all(dir);
}

} // namespace
} // namespace zor
