// tests/unit/writer_test.cpp - the I-code writer: primitives and their
// checks, record framing, the header and the sections, file names and the
// type section.
//
// Files are written into scratch files and read back with the project's
// reader (ByteStream for single primitives, IcodeReader with a
// RecordingClient for whole files), so every test also checks that what the
// writer makes is what the reader takes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "icode/byte_stream.h"
#include "icode/reader.h"
#include "icode/record_tags.h"
#include "icode/writer.h"
#include "ir/node.h"
#include "ir/opcodes.h"
#include "ir/symtab.h"
#include "ir/type.h"
#include "tests/support/icode_image.h"
#include "tests/support/icode_roundtrip.h"
#include "tests/support/recording_client.h"

namespace zor {
namespace {

using test::decode;
using test::IcodeImage;
using test::joined;
using test::MemFile;
using test::RecordingClient;
using test::ScratchFile;

// A symbol with fixed fields, for the records that name one.
class TestSymbol final : public I_SYMTAB {
public:
  explicit TestSymbol(std::string n, TYPE *t = nullptr) : name_(std::move(n)), type_(t) {}
  const char *name() const override { return name_.c_str(); }
  uint32_t size() const override { return size_; }
  uint32_t offset() const override { return offset_; }
  uint8_t storage_class() const override { return sclass_; }
  uint16_t flags() const override { return flags_; }
  TYPE *type() const override { return type_; }
  TYPE *second_type() const override { return nullptr; }
  uint32_t alignment() const override { return 32; }
  SrcPos position() const override { return pos_; }
  const PragmaRecord *attribute_lists() const override { return lists_.get(); }
  uint32_t attribute_list_count() const override { return lists_ ? 1 : 0; }
  uint32_t initializer_position() const override { return init_; }
  uint32_t option_set() const override { return 0; }
  uint32_t scope_level() const override { return level_; }
  uint32_t index() const override { return index_; }
  void set_scope_level(uint32_t l) override { level_ = l; }
  void set_index(uint32_t i) override { index_ = i; }
  void set_initializer_position(uint32_t p) override { init_ = p; }

  std::string name_;
  TYPE *type_;
  uint32_t size_ = 32;
  uint32_t offset_ = 0;
  uint8_t sclass_ = 2;
  uint16_t flags_ = 0;
  SrcPos pos_;
  std::unique_ptr<PragmaRecord> lists_;
  uint32_t init_ = 0;
  uint32_t level_ = 0;
  uint32_t index_ = 0;
};

using Framed = test::RawRecord;
using test::header_end;
using test::main_records;

class WriterTest : public ::testing::Test {
protected:
  TYPE_PKG types;
  ScratchFile file;
  std::unique_ptr<IcodeWriter> w = IcodeWriter::open(file.get(), types, "writer test");

  std::vector<uint8_t> closed_bytes() {
    EXPECT_EQ(w->close(), 0);
    return file.bytes();
  }
  // One record with the payload `put` makes, read back through a byte stream
  // positioned at its payload.
  // (Tag 34 is one the reader skips by its length.)
  template <class Put> std::vector<uint8_t> payload_of(Put put) {
    put(*w);
    w->end_record(TAG_SKIPPED);
    std::vector<Framed> records = main_records(closed_bytes());
    EXPECT_EQ(records.size(), 1u);
    return records.empty() ? std::vector<uint8_t>() : records[0].payload;
  }
};

// ------------------------------------------------------------- primitives

TEST_F(WriterTest, ShortsFromMinus32768To65535AreTwoBytesLowFirst) {
  std::vector<uint8_t> p = payload_of([](IcodeWriter &x) {
    x.put_short(65535);
    x.put_short(-32768);
    x.put_short(0x1234);
  });
  EXPECT_EQ(p, (std::vector<uint8_t>{0xff, 0xff, 0x00, 0x80, 0x34, 0x12}));
}

TEST_F(WriterTest, ShortOutOfRangeIsFatalWithItsMessage) {
  for (long v : {65536L, -32769L}) {
    try {
      w->put_short(v);
      ADD_FAILURE() << v << " was accepted";
    } catch (const IcodeFatal &e) {
      EXPECT_STREQ(e.what(), ">> Value exceeds size of short\n");
    }
  }
}

TEST_F(WriterTest, LebNumbersStopWhereTheReaderExpects) {
  std::vector<uint8_t> p = payload_of([](IcodeWriter &x) {
    x.put_uleb(127);
    x.put_uleb(128);
    x.put_sleb(63);
    x.put_sleb(64);    // bit 6 set with nothing left: one more byte
    x.put_sleb(-64);
    x.put_sleb(-65);
  });
  EXPECT_EQ(p, (std::vector<uint8_t>{0x7f, 0x80, 0x01, 0x3f, 0xc0, 0x00, 0x40, 0xbf, 0x7f}));
}

TEST_F(WriterTest, PrimitivesReadBackThroughTheReadersStream) {
  const uint32_t ulebs[] = {0, 1, 300, 0x7fffffffu, 0xffffffffu};
  const int32_t slebs[] = {0, -1, 63, -64, 8191, -8193, INT32_MAX, INT32_MIN};
  std::vector<uint8_t> p = payload_of([&](IcodeWriter &x) {
    for (uint32_t v : ulebs)
      x.put_uleb(v);
    for (int32_t v : slebs)
      x.put_sleb(v);
    x.put_word(0xdeadbeef);
    x.put_flag(true);
    x.put_text("abc");
    x.put_counted("a\0b", 3);
  });
  MemFile f(p);
  ByteStream in(f.get());
  for (uint32_t v : ulebs)
    EXPECT_EQ(in.uleb(), v);
  for (int32_t v : slebs)
    EXPECT_EQ(in.sleb(), v);
  EXPECT_EQ(in.word(), 0xdeadbeefu);
  EXPECT_TRUE(in.flag());
  EXPECT_STREQ(in.text(), "abc");
  EXPECT_EQ(in.counted_text(), std::string("a\0b", 3));
  EXPECT_EQ(in.remaining(), 0u);
}

// A payload beyond the first 32768 bytes makes the buffer grow; the frame
// is tag, uleb length, payload.
TEST_F(WriterTest, LongRecordsGrowTheBufferAndKeepTheirFrame) {
  std::string big(70000, 'x');
  w->put_text(big.c_str());
  w->end_record(TAG_PRAGMA);
  w->end_record(TAG_BYTE_RECORD);   // an empty payload
  std::vector<uint8_t> b = closed_bytes();
  size_t at = header_end(b);
  EXPECT_EQ(b[at], TAG_PRAGMA);
  // 70001 = 0x11171: groups 0x71, 0x22, 0x04.
  EXPECT_EQ(b[at + 1], 0xf1);
  EXPECT_EQ(b[at + 2], 0xa2);
  EXPECT_EQ(b[at + 3], 0x04);
  EXPECT_EQ(b[at + 4 + 69999], 'x');
  EXPECT_EQ(b[at + 4 + 70000], 0);
  EXPECT_EQ(b[at + 4 + 70001], TAG_BYTE_RECORD);
  EXPECT_EQ(b[at + 4 + 70002], 0);
}

// ---------------------------------------------------- positions and names

// No position is a single 0; a name already written reuses its index; a
// position without a file name is "NO_FILE".  The file-name section lists
// each name once, in index order.
TEST_F(WriterTest, FileNamesAreInternedOnce) {
  std::vector<uint8_t> p;
  w->put_pos(SrcPos());
  w->put_pos({"a.c", 1, 2});
  w->put_pos({"b.c", 3, 4});
  w->put_pos({"a.c", 5, 6});
  w->put_pos({nullptr, 7, 8});
  w->put_pos({"b.c", 9, 10});
  w->end_record(TAG_SKIPPED);
  std::vector<uint8_t> b = closed_bytes();
  EXPECT_EQ(main_records(b)[0].payload,
            (std::vector<uint8_t>{0, 1, 1, 2, 2, 3, 4, 1, 5, 6, 3, 7, 8, 2, 9, 10}));

  RecordingClient client;
  MemFile f(b);
  auto reader = IcodeReader::open(f.get(), client, types);
  ASSERT_TRUE(reader);
  reader->read_all();
  EXPECT_STREQ(reader->file_name(1), "a.c");
  EXPECT_STREQ(reader->file_name(2), "b.c");
  EXPECT_STREQ(reader->file_name(3), "NO_FILE");
  EXPECT_EQ(reader->file_name(4), nullptr);
}

// ------------------------------------------------------ header and close

TEST_F(WriterTest, HeaderIsWrittenAtOpenWithZeroOffsets) {
  std::vector<uint8_t> b = file.bytes();
  ASSERT_EQ(b.size(), header_end(b));
  RecordingClient client;
  MemFile f(b);
  auto reader = IcodeReader::open(f.get(), client, types);
  ASSERT_TRUE(reader);
  const IcodeHeader &h = reader->header();
  EXPECT_EQ(h.version, -72);
  EXPECT_EQ(h.check, 1000);
  EXPECT_EQ(h.options_offset + h.init_offset + h.types_offset + h.files_offset +
                h.globals_offset,
            0u);
  EXPECT_EQ(h.producer, "writer test");
  EXPECT_EQ(h.extra, 0u);
}

// Without initializers the main stream ends with the one 255 written at
// close, and the initializer offset stays 0; so does the type offset when
// no type is written.
TEST_F(WriterTest, NoInitializersMeansOneEndAndOffsetZero) {
  w->comment(";\tzopt a.if ");
  std::vector<uint8_t> b = closed_bytes();
  std::vector<Framed> records = main_records(b);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].tag, TAG_ASM);
  const std::string text = ";\tzopt a.if ";
  std::vector<uint8_t> want(text.begin(), text.end());
  want.push_back(0);
  want.push_back(0);   // no position
  EXPECT_EQ(records[0].payload, want);

  RecordingClient client;
  MemFile f(b);
  auto reader = IcodeReader::open(f.get(), client, types);
  ASSERT_TRUE(reader);
  const IcodeHeader &h = reader->header();
  EXPECT_EQ(h.init_offset, 0u);
  EXPECT_EQ(h.types_offset, 0u);
  EXPECT_EQ(h.options_offset, 0u);
  EXPECT_EQ(h.files_offset, 0u);
  // Main stream end, then the (empty) global section and its end.
  const size_t main_end = header_end(b) + 2 + want.size();
  EXPECT_EQ(b[main_end], TAG_END);
  EXPECT_EQ(h.globals_offset, main_end + 1);
  EXPECT_EQ(b.size(), main_end + 2);
}

TEST_F(WriterTest, SectionsFollowInTheirOrderAndTheHeaderPointsAtThem) {
  TestSymbol counter("counter", types.mk_int(IK_INT));
  counter.pos_ = {"demo.c", 1, 5};
  counter.lists_ = std::make_unique<PragmaRecord>(34, std::vector<std::string>{"bank1"});
  w->add_option_set(0, {"-o2", "-q"});
  w->add_option_set(3, {});
  w->add_global(counter);
  std::vector<uint8_t> b = closed_bytes();

  RecordingClient client;
  MemFile f(b);
  auto reader = IcodeReader::open(f.get(), client, types);
  ASSERT_TRUE(reader);
  reader->read_all();
  const IcodeHeader &h = reader->header();
  EXPECT_LT(h.options_offset, h.types_offset);
  EXPECT_LT(h.types_offset, h.files_offset);
  EXPECT_LT(h.files_offset, h.globals_offset);
  EXPECT_EQ(h.init_offset, 0u);
  EXPECT_EQ(client.joined(),
            "accept_version -72 1000\n"
            "option_set 0 [\"-o2\",\"-q\"]\n"
            "option_set 3 []\n"
            "after_types\n"
            "new_symbol counter size=32 offset=0 class=2 flags=0x0 type=int type2=- align=32 "
            "init=0 optset=0 @demo.c:1:5\n"
            "set_scope_level counter 0\n"
            "set_index counter 0\n"
            "attribute_list counter 34 [\"bank1\"]\n"
            "symbol_complete counter lists=1\n"
            "before_stream\n");
}

// The first initializer ends the main stream and starts the initializer
// section; its symbol learns the record's position, which the symbol
// record then carries.
TEST_F(WriterTest, FirstInitializerStartsItsSection) {
  TestSymbol table("table", types.mk_int(IK_INT));
  w->add_global(table);
  w->label(7);
  NODE *five = new_node(ICON, types.mk_int(IK_INT));
  five->set_icon(5);
  NODE *end = new_node(ENDINIT, types.mk_void());
  const uint64_t main_end = w->tell();
  w->initializer(table, {five, end});
  EXPECT_TRUE(w->in_initializers());
  EXPECT_EQ(table.init_, main_end + 1);
  EXPECT_THROW(w->label(8), std::logic_error);
  erase_tree(five);
  erase_tree(end);
  std::vector<uint8_t> b = closed_bytes();
  EXPECT_EQ(b[main_end], TAG_END);
  EXPECT_EQ(b[main_end + 1], TAG_INITIALIZER);

  RecordingClient client;
  MemFile f(b);
  auto reader = IcodeReader::open(f.get(), client, types);
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader->header().init_offset, main_end + 1);
  const std::string got = joined(decode(b));
  EXPECT_NE(got.find("init=" + std::to_string(main_end + 1)), std::string::npos) << got;
  EXPECT_NE(got.find("initializer table (ICON:int icon=5) (ENDINIT:{void})"), std::string::npos)
      << got;
  EXPECT_NE(got.find("label 7"), std::string::npos) << got;
}

TEST_F(WriterTest, AbandonedWriterWritesNoSections) {
  w->add_option_set(0, {"-o1"});
  w->label(1);
  const uint64_t end = w->tell();
  EXPECT_EQ(w->close(true), 0);
  EXPECT_TRUE(w->closed());
  std::vector<uint8_t> b = file.bytes();
  EXPECT_EQ(b.size(), end);
  EXPECT_EQ(w->close(), 0);   // closing again does nothing
  EXPECT_EQ(file.bytes().size(), end);
}

// ------------------------------------------------------------------ trees

// Every operator's fields, read back through the reader.
TEST_F(WriterTest, NodeRecordsCarryEachOperatorsFields) {
  TYPE *i = types.mk_int(IK_INT);
  TYPE *u = types.mk_int(IK_UINT);
  TYPE *v = types.mk_void();
  SYMTAB g;   // NAME nodes hold the optimizer's symbols
  g.name_text = "g";
  g.type_ = i;
  g.size_bits = 32;
  w->add_global(g);

  auto leaf = [](uint32_t op, TYPE *t) { return new_node(op, t); };
  NODE *call = new_node(CALL, i);
  call->set_call(2, 9);
  NODE *args = new_node(COMMA, i);
  NODE *name = leaf(NAME, i);
  name->set_name_symbol(&g);
  NODE *neg = leaf(ICON, i);
  neg->set_icon(static_cast<uint32_t>(-7));
  NODE *big = leaf(ICON, u);
  big->set_icon(0xfffffff0u);
  args->left = name;
  args->right = new_node(PLUS, i);
  args->right->left = neg;
  args->right->right = big;
  NODE *callee = new_node(MCALL, i);
  callee->set_callee_name("_rt_sqrt");
  callee->left = leaf(SCON, v);
  callee->left->set_scon("a\0b", 3);
  call->left = callee;
  call->right = args;
  w->statement({"t.c", 4, 1}, call);

  NODE *sw = new_node(SWITCH, v);
  sw->set_switch_number(1);
  NODE *skip = leaf(SKIP, v);
  skip->set_skip_number(16);
  NODE *ucall = new_node(UCALL, i);
  ucall->set_ucall(3);
  ucall->left = leaf(LABEL, v);
  ucall->left->set_label_number(12);
  sw->left = skip;
  sw->right = ucall;
  w->statement(SrcPos(), sw);
  erase_tree(call);
  erase_tree(sw);
  std::vector<uint8_t> b = closed_bytes();

  const std::string got = joined(decode(b));
  EXPECT_NE(got.find("statement @t.c:4:1 (CALL:int call=2,9 (MCALL:int callee=\"_rt_sqrt\" "
                     "(SCON:{void} scon=3:\"a\\x00b\")) (COMMA:int (NAME:int sym=g) "
                     "(PLUS:int (ICON:int icon=4294967289) (ICON:uint icon=4294967280))))"),
            std::string::npos)
      << got;
  EXPECT_NE(got.find("statement @- (SWITCH:{void} switch=1 (SKIP:{void} skip=16) "
                     "(UCALL:int ucall=3 (LABEL:{void} label=12)))"),
            std::string::npos)
      << got;
}

// A node whose arity asks for an operand it does not have cannot be
// written.
TEST_F(WriterTest, MissingOperandIsAnInvalidRecord) {
  NODE *minus = new_node(UMINUS, types.mk_int(IK_INT));
  EXPECT_THROW(w->tree(minus), IcodeFatal);
  erase_tree(minus);
}

TEST_F(WriterTest, ExceptionTableEntriesFollowTheirCount) {
  std::vector<EhtEntry> entries(2);
  entries[0].id = 1;
  entries[0].kind = EHT_CLEANUP;
  entries[0].next = 2;
  entries[0].cleanup_pos = {"x.cc", 3, 1};
  entries[0].cleanup = new_node(NOP, types.mk_void());
  entries[1].id = 2;
  entries[1].kind = EHT_CATCH;
  entries[1].count = 5;   // a catch entry counts its handlers
  entries[1].handlers = {{"_ZTIi", 7, true}, {"", 8, false}};
  w->exception_table(entries);
  erase_tree(static_cast<NODE *>(entries[0].cleanup));
  const std::string got = joined(decode(closed_bytes()));
  EXPECT_NE(got.find("exception_table 2\n"
                     "  entry id=1 kind=1 next=2 count=0 cleanup @x.cc:3:1 (NOP:{void})\n"
                     "  entry id=2 kind=2 next=0 count=2 handler \"_ZTIi\":7:1 "
                     "handler \"\":8:0\n"),
            std::string::npos)
      << got;
}

// ------------------------------------------------------------------ types

// The type section as a list of (identifier, kind byte) of its records.
std::vector<std::pair<uint32_t, uint8_t>> type_records(const std::vector<uint8_t> &b) {
  RecordingClient client;
  TYPE_PKG scratch;
  MemFile f(b);
  auto reader = IcodeReader::open(f.get(), client, scratch);
  std::vector<std::pair<uint32_t, uint8_t>> out;
  if (!reader || reader->header().types_offset == 0)
    return out;
  size_t at = reader->header().types_offset;
  while (at < b.size() && b[at] != TAG_END) {
    EXPECT_EQ(b[at], TAG_TYPE);
    ++at;
    uint32_t len = 0;
    for (int shift = 0;; shift += 7) {
      uint8_t c = b[at++];
      len |= static_cast<uint32_t>(c & 0x7f) << shift;
      if (!(c & 0x80))
        break;
    }
    size_t p = at;
    uint32_t id = 0;
    for (int shift = 0;; shift += 7) {
      uint8_t c = b[p++];
      id |= static_cast<uint32_t>(c & 0x7f) << shift;
      if (!(c & 0x80))
        break;
    }
    out.emplace_back(id, b[p]);
    at += len;
  }
  return out;
}

TEST_F(WriterTest, UnreferencedTypesAreNotWritten) {
  TYPE *i = types.mk_int(IK_INT);
  types.mk_pointer(types.mk_fltpt(FK_FLOAT));   // defined, never referenced
  types.mk_typedef("unused_t", i);
  TestSymbol x("x", i);
  w->add_global(x);
  std::vector<uint8_t> b = closed_bytes();
  // Only int, with the writer's identifier 1 (kind byte 6).
  EXPECT_EQ(type_records(b), (std::vector<std::pair<uint32_t, uint8_t>>{{1, 6}}));
  EXPECT_NE(joined(decode(b)).find("new_symbol x size=32 offset=0 class=2 flags=0x0 type=int "),
            std::string::npos);
}

// A type's record comes after the records of the types it refers to, also
// when the pointed-to type is later in the registry than the pointer.
TEST_F(WriterTest, PointerIsWrittenAfterItsPointee) {
  TYPE *p = types.mk_pointer(types.mk_int(IK_INT));
  TYPE *later = types.mk_typedef("later_t", types.mk_int(IK_LONG));
  ASSERT_GT(later->id, p->id);
  p->base = later;
  TestSymbol x("x", p);
  x.size_ = 16;
  w->add_global(x);
  std::vector<uint8_t> b = closed_bytes();
  // x names the pointer first (identifier 1); long (2) and the typedef (3)
  // come before it in the section.
  EXPECT_EQ(type_records(b),
            (std::vector<std::pair<uint32_t, uint8_t>>{{2, 8}, {3, 14}, {1, 15}}));
  const std::string got = joined(decode(b));
  EXPECT_NE(got.find("new_symbol x size=16 offset=0 class=2 flags=0x0 type={(*later_t )}"),
            std::string::npos)
      << got;
}

// Type refs go through the chain of equivalent types to its last type,
// which alone is written; the mark `referenced` is set on it.
TEST_F(WriterTest, TypeRefsUseTheRepresentative) {
  TYPE *held = types.mk_typedef("word_t", types.mk_int(IK_UINT));
  // An equal typedef joins the held one's chain; the maker answers the held
  // one, the new type is the last registered.
  ASSERT_EQ(types.mk_typedef("word_t", types.mk_int(IK_UINT)), held);
  TYPE *copy = types.type_by_id(types.type_count());
  ASSERT_EQ(copy->next_equiv, held);
  TestSymbol a("a", copy), b("b", held);
  w->add_global(a);
  w->add_global(b);
  std::vector<uint8_t> bytes = closed_bytes();
  EXPECT_TRUE(held->referenced);
  EXPECT_TRUE(held->written);
  EXPECT_FALSE(copy->referenced);
  // word_t (1) after unsigned (2).
  EXPECT_EQ(type_records(bytes), (std::vector<std::pair<uint32_t, uint8_t>>{{2, 7}, {1, 14}}));
}

TEST_F(WriterTest, TypeReferencedAfterTheTypeSectionIsRefused) {
  w->close();
  EXPECT_THROW(w->put_type_ref(types.mk_int(IK_INT)), std::logic_error);
}

} // namespace
} // namespace zor
