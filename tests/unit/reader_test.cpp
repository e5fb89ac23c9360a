// tests/unit/reader_test.cpp - the I-code reader: primitives, header, main
// stream, node records, symbols, exception tables and sections.
//
// Images are built with IcodeImage and read through a RecordingClient, whose
// lines are compared with what the reader must report, in order.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "icode/byte_stream.h"
#include "icode/reader.h"
#include "ir/opcodes.h"
#include "ir/type.h"
#include "tests/support/icode_image.h"
#include "tests/support/recording_client.h"

namespace zor {
namespace {

using test::HeaderFields;
using test::IcodeImage;
using test::MemFile;
using test::RecordingClient;

// ------------------------------------------------------------- primitives

std::vector<uint8_t> bytes_of(std::initializer_list<uint8_t> b) { return b; }

TEST(ReaderPrimitives, UlebAtItsEdges) {
  MemFile f(bytes_of({0xff, 0xff, 0xff, 0xff, 0x0f,           // 0xFFFFFFFF in five bytes
                      0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x7f,  // over-long: top groups dropped
                      0x80, 0x80, 0x01,                         // 1 << 14
                      0x2a}));
  ByteStream in(f.get());
  EXPECT_EQ(in.uleb(), 0xFFFFFFFFu);
  EXPECT_EQ(in.tell(), 5u);
  EXPECT_EQ(in.uleb(), 0xFFFFFFFFu);
  EXPECT_EQ(in.tell(), 12u);
  EXPECT_EQ(in.uleb(), 1u << 14);
  EXPECT_EQ(in.byte(), 0x2a);
}

TEST(ReaderPrimitives, UlebRunningIntoEndOfFileStops) {
  std::vector<uint8_t> b(100000, 0x80);
  MemFile f(b);
  ByteStream in(f.get());
  EXPECT_EQ(in.uleb(), 0u);
  EXPECT_TRUE(in.eof());
  EXPECT_EQ(in.tag(), kEndTag);
}

TEST(ReaderPrimitives, SlebSignExtendsOnlyShortNumbers) {
  IcodeImage img;
  img.raw({0x7f, 0x40, 0x3f, 0x80, 0x7f});
  img.raw({0x80, 0x80, 0x80, 0x80, 0x78});   // 35 bits read: no extension
  img.sleb(INT32_MIN).sleb(INT32_MAX).sleb(-65).sleb(64);
  MemFile f(img.bytes());
  ByteStream in(f.get());
  EXPECT_EQ(in.sleb(), -1);
  EXPECT_EQ(in.sleb(), -64);
  EXPECT_EQ(in.sleb(), 63);
  EXPECT_EQ(in.sleb(), -128);
  EXPECT_EQ(in.sleb(), INT32_MIN);
  EXPECT_EQ(in.sleb(), INT32_MIN);
  EXPECT_EQ(in.sleb(), INT32_MAX);
  EXPECT_EQ(in.sleb(), -65);
  EXPECT_EQ(in.sleb(), 64);
  EXPECT_FALSE(in.eof());
}

TEST(ReaderPrimitives, FixedWidthNumbersAndEndOfFile) {
  MemFile f(bytes_of({0xff, 0xff, 0xff, 0xff, 0x78, 0x56, 0x34, 0x12, 0x07}));
  ByteStream in(f.get());
  EXPECT_EQ(in.sshort(), -1);
  EXPECT_EQ(in.ushort(), 65535);
  EXPECT_EQ(in.word(), 0x12345678u);
  EXPECT_EQ(in.tag(), 7);
  EXPECT_FALSE(in.eof());
  EXPECT_EQ(in.tag(), kEndTag);
  EXPECT_EQ(in.byte(), 0);
  EXPECT_EQ(in.word(), 0u);
  EXPECT_TRUE(in.eof());
  in.seek(4);
  EXPECT_FALSE(in.eof());
  EXPECT_EQ(in.byte(), 0x78);
  in.seek(1000);   // beyond the end
  EXPECT_TRUE(in.eof());
  EXPECT_EQ(in.tag(), kEndTag);
}

TEST(ReaderPrimitives, TextsGrowWithTheFileAndStopAtItsEnd) {
  std::string long_text(40000, 'a');
  IcodeImage img;
  img.text(long_text).text("").counted(std::string("a\0b", 3)).raw({'x', 'y'});
  MemFile f(img.bytes());
  ByteStream in(f.get());
  EXPECT_EQ(std::string(in.text()), long_text);
  EXPECT_EQ(std::string(in.text()), "");
  EXPECT_EQ(in.counted_text(), std::string("a\0b", 3));
  EXPECT_EQ(std::string(in.text()), "xy");   // no terminator: ends at EOF
  EXPECT_TRUE(in.eof());
}

TEST(ReaderPrimitives, CountedTextLongerThanTheFileYieldsWhatIsLeft) {
  IcodeImage img;
  img.uleb(0xFFFFFFF0u).raw({'a', 'b', 'c'});
  MemFile f(img.bytes());
  ByteStream in(f.get());
  EXPECT_EQ(in.counted_text(), "abc");
  EXPECT_TRUE(in.eof());
}

TEST(ReaderPrimitives, PositionsAndSymbolReferences) {
  IcodeImage img;
  img.pos(0, 9, 9).byte(7).pos(2, 300, 4).sym_ref(0xFFFFFFFFu, 0).sym_ref(0, 3);
  EXPECT_EQ(img.size(), 1u + 1 + 4 + 6 + 2);   // index 0 is a single byte
  MemFile f(img.bytes());
  ByteStream in(f.get());
  RawPos none = in.pos();
  EXPECT_EQ(none.file, 0u);
  EXPECT_EQ(in.byte(), 7);
  RawPos p = in.pos();
  EXPECT_EQ(p.file, 2u);
  EXPECT_EQ(p.line, 300u);
  EXPECT_EQ(p.column, 4u);
  EXPECT_TRUE(in.sym_ref_uleb_scope().none());
  RawSymRef r = in.sym_ref_uleb_scope();
  EXPECT_FALSE(r.none());
  EXPECT_EQ(r.index, 3u);
}

TEST(ReaderPrimitives, PositionsAreRelativeToTheStart) {
  MemFile f(bytes_of({1, 2, 3, 4, 5, 6}));
  std::fseek(f.get(), 2, SEEK_SET);
  ByteStream in(f.get());
  EXPECT_EQ(in.tell(), 0u);
  EXPECT_EQ(in.remaining(), 4u);
  EXPECT_EQ(in.byte(), 3);
  in.seek(3);
  EXPECT_EQ(in.byte(), 6);
}

// ------------------------------------------------------------------ reading

// The type system's fatal messages end the run with the message and a
// newline.
std::string type_message(const char *message) { return std::string(message) + "\n"; }

enum : uint32_t { T_INT = 1, T_UINT, T_FLOAT, T_SHORT, T_STRUCT, T_DOUBLE };

class ReaderTest : public ::testing::Test {
protected:
  ~ReaderTest() override {
    reader.reset();
    if (err)
      std::fclose(err);
  }

  static IcodeImage image(int version = -72) {
    IcodeImage img;
    HeaderFields h;
    h.version = version;
    img.header(h);
    return img;
  }

  // Opens the reader on `img` (after `prefix` unrelated bytes) and binds the
  // test types.
  bool open(const IcodeImage &img, size_t prefix = 0) {
    std::vector<uint8_t> bytes(prefix, 0xee);
    bytes.insert(bytes.end(), img.bytes().begin(), img.bytes().end());
    file = std::make_unique<MemFile>(bytes);
    std::fseek(file->get(), static_cast<long>(prefix), SEEK_SET);
    reader = IcodeReader::open(file->get(), client, types);
    if (!reader)
      return false;
    reader->set_error_stream(err);
    reader->bind_type(T_INT, types.mk_int(IK_INT));
    reader->bind_type(T_UINT, types.mk_int(IK_UINT));
    reader->bind_type(T_FLOAT, types.mk_fltpt(FK_FLOAT));
    reader->bind_type(T_SHORT, types.mk_int(IK_SHORT));
    MEMBER m;
    m.id = 7;
    m.name = "m";
    m.type = types.mk_int(IK_INT);
    reader->bind_type(T_STRUCT, types.mk_struct(TK_STRUCT, "S", 32, 32, {m}));
    reader->bind_type(T_DOUBLE, types.mk_fltpt(FK_DOUBLE));
    return true;
  }

  // Reads everything; returns the lines of the main stream.
  std::string read(const IcodeImage &img) {
    if (!open(img))
      return "open failed";
    reader->read_all();
    return stream_lines();
  }

  std::string stream_lines() const {
    for (size_t i = 0; i < client.lines.size(); ++i)
      if (client.lines[i] == "before_stream")
        return client.joined(i + 1);
    return "no stream";
  }

  // Expects read_all to stop with `message`, and no node to be left over.
  void expect_fatal(const IcodeImage &img, const std::string &message) {
    ASSERT_TRUE(open(img));
    try {
      reader->read_all();
      ADD_FAILURE() << "no fatal error";
    } catch (const IcodeFatal &e) {
      EXPECT_EQ(e.what(), message);
    }
    EXPECT_EQ(client.live_nodes, 0);
  }

  std::string error_output() {
    std::fflush(err);
    std::rewind(err);
    std::string out;
    for (int c; (c = std::fgetc(err)) != EOF;)
      out += static_cast<char>(c);
    return out;
  }

  TYPE_PKG types;
  RecordingClient client;
  std::unique_ptr<MemFile> file;
  std::unique_ptr<IcodeReader> reader;
  FILE *err = std::tmpfile();
};

// ------------------------------------------------------------------- header

class ReaderHeader : public ReaderTest {};

TEST_F(ReaderHeader, AcceptsTheVersionRange) {
  for (int version : {-86, -72}) {
    RecordingClient c;
    IcodeImage img = image(version);
    MemFile f(img.bytes());
    auto r = IcodeReader::open(f.get(), c, types);
    ASSERT_TRUE(r) << version;
    EXPECT_EQ(r->header().version, version);
    EXPECT_EQ(c.joined(), "accept_version " + std::to_string(version) + " 1000\n");
  }
  EXPECT_EQ(icode_check_value, 1000);
}

TEST_F(ReaderHeader, RejectsEveryBadField) {
  auto rejected = [&](const HeaderFields &h) {
    RecordingClient c;
    IcodeImage img;
    img.header(h);
    MemFile f(img.bytes());
    bool refused = !IcodeReader::open(f.get(), c, types);
    return refused && c.lines.empty();   // the client is not asked
  };
  HeaderFields h;
  h.tag = 9;
  EXPECT_TRUE(rejected(h));
  h = HeaderFields();
  h.magic = "!<icode>";
  EXPECT_TRUE(rejected(h));
  h = HeaderFields();
  h.check = 999;
  EXPECT_TRUE(rejected(h));
  h = HeaderFields();
  h.version = -87;
  EXPECT_TRUE(rejected(h));
  h = HeaderFields();
  h.version = -71;
  EXPECT_TRUE(rejected(h));
  h = HeaderFields();
  EXPECT_FALSE(rejected(h));

  MemFile empty(std::vector<uint8_t>{});
  RecordingClient c;
  EXPECT_FALSE(IcodeReader::open(empty.get(), c, types));
}

TEST_F(ReaderHeader, ClientMayRefuseTheVersion) {
  client.accept = false;
  EXPECT_FALSE(open(image()));
  EXPECT_EQ(client.joined(), "accept_version -72 1000\n");
}

TEST_F(ReaderHeader, ExtraWordFromVersionMinus83On) {
  for (int version : {-84, -83}) {
    RecordingClient c;
    HeaderFields h;
    h.version = version;
    h.extra = 0x01020304;
    h.producer = "front end 7";
    IcodeImage img;
    img.header(h);
    img.begin(TAG_LABEL).uleb(5).end().end_stream();
    MemFile f(img.bytes());
    auto r = IcodeReader::open(f.get(), c, types);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->header().extra, version == -83 ? 0x01020304u : 0u);
    EXPECT_EQ(r->header().producer, "front end 7");
    r->read_all();
    EXPECT_EQ(c.lines.back(), "label 5") << version;
  }
}

TEST_F(ReaderHeader, OptionSetsAreReadAtOpenAndTheStreamResumes) {
  IcodeImage img = image();
  img.begin(TAG_LABEL).uleb(9).end().end_stream();
  uint32_t options_at = img.here();
  img.section_here(IcodeImage::OPTIONS);
  img.option_set(1, {"-O2", "-g"}).option_set(4, {}).end_stream();
  ASSERT_TRUE(open(img));
  EXPECT_EQ(client.joined(1), "option_set 1 [\"-O2\",\"-g\"]\noption_set 4 []\n");
  EXPECT_EQ(reader->header().options_offset, options_at);
  reader->read_all();
  EXPECT_EQ(stream_lines(), "label 9\n");
}

TEST_F(ReaderHeader, OptionSetCountStopsAtEndOfFile) {
  IcodeImage img = image();
  img.end_stream();
  img.section_here(IcodeImage::OPTIONS);
  img.begin(TAG_OPTION_SET).uleb(1).uleb(0xFFFFFFFFu).text("-a").end();
  ASSERT_TRUE(open(img));
  EXPECT_EQ(client.lines.back(), "option_set 1 [\"-a\"]");
}

// ------------------------------------------------------------- main stream

class ReaderStream : public ReaderTest {};

TEST_F(ReaderStream, ScopesAndSymbolTables) {
  IcodeImage img = image();
  img.symbol({.name = "f"});
  img.symbol({.name = "g"});
  img.begin(TAG_FUNC_BEGIN).no_pos().uleb(0).end();
  img.symbol({.name = "p"});
  img.begin(TAG_BODY_BEGIN).no_pos().end();
  img.symbol({.name = "l"});
  img.begin(TAG_BLOCK_BEGIN).no_pos().end();
  img.symbol({.name = "b"});
  img.begin(TAG_STATEMENT).no_pos().end().name(T_INT, 1, 2);
  img.begin(TAG_BLOCK_END).no_pos().end();
  img.begin(TAG_FUNC_END).no_pos().end();
  img.begin(TAG_FUNC_BEGIN).no_pos().uleb(1).end();   // a new local table
  img.symbol({.name = "q"});
  img.begin(TAG_STATEMENT).no_pos().end().name(T_INT, 1, 0);
  img.begin(TAG_FUNC_END).no_pos().end();
  img.begin(TAG_DECL_SCOPE_BEGIN).uleb(0).sleb(-1).byte(3).uleb(4).no_pos().end();
  img.symbol({.name = "d"});
  img.begin(TAG_DECL_SCOPE_END).no_pos().end();
  img.symbol({.name = "h"});
  img.end_stream();
  std::string out = read(img);
  auto placed = [&](const char *name, int level, int index) {
    std::string want = std::string("set_scope_level ") + name + " " + std::to_string(level) +
                       "\nset_index " + name + " " + std::to_string(index) + "\n";
    EXPECT_NE(out.find(want), std::string::npos) << name << "\n" << out;
  };
  placed("f", 0, 0);
  placed("g", 0, 1);
  placed("p", 1, 0);
  placed("l", 2, 1);
  placed("b", 3, 2);
  placed("q", 1, 0);
  placed("d", 1, 0);
  placed("h", 0, 2);
  EXPECT_NE(out.find("function_begin f @-\n"), std::string::npos);
  EXPECT_NE(out.find("statement @- (NAME:int sym=b)\n"), std::string::npos);
  EXPECT_NE(out.find("function_begin g @-\n"), std::string::npos);
  EXPECT_NE(out.find("statement @- (NAME:int sym=q)\n"), std::string::npos);
  EXPECT_EQ(reader->local_symbol(0)->name(), std::string("d"));
  EXPECT_EQ(reader->global_symbol(2)->name(), std::string("h"));
  EXPECT_EQ(reader->global_symbol(3), nullptr);
}

TEST_F(ReaderStream, SymbolFieldsAndAttributeLists) {
  IcodeImage img = image();
  img.file_name("unused");   // tag 126 in the stream: ignored
  img.symbol({.name = "x", .size = 16, .offset = 4, .storage_class = 9, .flags = 0x1234,
              .type = T_SHORT, .second_type = T_INT, .alignment = 16, .lists = 2,
              .initializer_position = 77, .option_set = 3});
  img.attribute_list(TAG_ATTRIBUTES, 37, {"4"});
  img.attribute_list(TAG_ATTRIBUTES, 300, {"a", "b"});   // kind kept as a byte
  img.attribute_list(TAG_ATTRIBUTES, 41, {"loose"});     // not the symbol's
  img.end_stream();
  EXPECT_EQ(read(img),
            "new_symbol x size=16 offset=4 class=9 flags=0x1234 type=short type2=int align=16 "
            "init=77 optset=3 @-\n"
            "set_scope_level x 0\nset_index x 0\n"
            "attribute_list x 37 [\"4\"]\n"
            "attribute_list x 44 [\"a\",\"b\"]\n"
            "symbol_complete x lists=2\n"
            "pragma_record 41 [\"loose\"]\n");
}

TEST_F(ReaderStream, AttributeListWithAnotherTagIsFatal) {
  IcodeImage img = image();
  img.symbol({.name = "x", .lists = 1});
  img.attribute_list(TAG_PRAGMA, 37, {});
  expect_fatal(img, kInvalidRecord);
}

TEST_F(ReaderStream, AttributeListsCutByEndOfFile) {
  IcodeImage img = image();
  img.symbol({.name = "x", .lists = 200});
  img.attribute_list(TAG_ATTRIBUTES, 37, {"1"});
  std::string out = read(img);
  EXPECT_EQ(out.substr(out.rfind("attribute_list")),
            "attribute_list x 37 [\"1\"]\nsymbol_complete x lists=1\n");
}

TEST_F(ReaderStream, LabelAsmAndPragmas) {
  IcodeImage img = image();
  img.begin(TAG_LABEL).uleb(300).end();
  img.begin(TAG_ASM).text("  nop").no_pos().end();
  img.begin(TAG_PRAGMA).text("*").end();
  img.begin(TAG_PRAGMA).text("*hidden").end();
  img.begin(TAG_PRAGMA).text("UNROLL(4)").end();
  img.begin(TAG_POSITION).no_pos().end();
  img.end_stream();
  EXPECT_EQ(read(img), "label 300\nasm \"  nop\" @-\npragma \"UNROLL(4)\"\nposition @-\n");
}

TEST_F(ReaderStream, IgnoredRecordsConsumeExactlyTheirFields) {
  IcodeImage img = image();
  img.begin(TAG_SYMBOL_REF).uleb(1).sleb(-1).sleb(-5).byte(2).end();
  img.begin(TAG_RECORD_108).uleb(1).byte(0).uleb(2).sleb(-3).type_ref(T_INT).sleb(4).uleb(5).end();
  img.begin(TAG_RECORD_108).uleb(1).byte(1).uleb(2).uleb(3).type_ref(0).sleb(-4).uleb(5).end();
  img.begin(TAG_RECORD_108).uleb(1).byte(2).uleb(200).end();
  img.begin(TAG_RECORD_38).uleb(1).uleb(2).uleb(3).uleb(4).uleb(500).short_(-2).end();
  img.begin(TAG_RECORD_45).uleb(1).uleb(2).uleb(3).uleb(4).uleb(500).end();
  img.begin(TAG_DDEDGE).uleb(1).uleb(2).uleb(300).end();
  img.begin(TAG_RECORD_59).uleb(1).byte(2).byte(3).short_(1).short_(-1).short_(7).end();
  img.begin(TAG_BYTE_RECORD).byte('L').end();
  img.begin(TAG_FILE_NAME).text("x.c").end();
  img.begin(TAG_SKIPPED).pos(3, 4, 5).raw({1, 2, 3, 42, 42}).end();
  img.begin(TAG_TYPE).uleb(9).byte(15).type_ref(T_INT).uleb(16).uleb(16).end();
  img.begin(TAG_LABEL).uleb(1).end();
  img.end_stream();
  EXPECT_EQ(read(img), "label 1\n");
  EXPECT_EQ(error_output(), "");
}

TEST_F(ReaderStream, TruncatedStreamsEndQuietly) {
  IcodeImage img = image();
  img.begin(TAG_LABEL).uleb(1).end();
  img.raw({TAG_POSITION, 3, 1, 5});   // cut inside its position
  EXPECT_EQ(read(img), "label 1\nposition @?:5:0\n");
}

TEST_F(ReaderStream, MissingEndMarkerEndsQuietly) {
  IcodeImage img = image();
  img.begin(TAG_LABEL).uleb(2).end();
  EXPECT_EQ(read(img), "label 2\n");
}

TEST_F(ReaderStream, PositionsNameTheFileNameSection) {
  IcodeImage img = image();
  img.begin(TAG_POSITION).pos(2, 10, 3).end();
  img.begin(TAG_POSITION).pos(3, 1, 1).end();   // beyond the table
  img.end_stream();
  img.section_here(IcodeImage::FILES);
  img.file_name("a.c").file_name("b.h").end_stream();
  EXPECT_EQ(read(img), "position @b.h:10:3\nposition @?:1:1\n");
  EXPECT_STREQ(reader->file_name(1), "a.c");
  EXPECT_EQ(reader->file_name(0), nullptr);
  EXPECT_EQ(reader->file_name(3), nullptr);
}

// ------------------------------------------------------------------- nodes

class ReaderNodes : public ReaderTest {};

TEST_F(ReaderNodes, EveryOperatorReadsItsFields) {
  IcodeImage img = image();
  img.symbol({.name = "g"});
  auto stmt = [&] { img.begin(TAG_STATEMENT).no_pos().end(); };
  stmt();
  img.node(LABEL, 0).uleb(12).end();
  stmt();
  img.node(SCON, 0).counted(std::string("a\0b", 3)).end();
  stmt();
  img.node(FCON, T_DOUBLE).text("0x1.8p+1").end();
  stmt();
  img.node(FIELD, T_INT).byte(1).uleb(7).type_ref(T_STRUCT).end();
  stmt();
  img.node(VREG, T_INT).sleb(-3).end();
  stmt();
  img.node(SWITCH, 0).uleb(4).end().icon_signed(T_INT, 1).leaf(NOP, 0);
  stmt();
  img.node(CALL, T_INT).uleb(2).uleb(3).end().name(T_INT, 0, 0).leaf(NOP, 0);
  stmt();
  img.node(UCALL, T_INT).uleb(5).end().name(T_INT, 0xFFFFFFFFu, 0);
  stmt();
  img.node(EPVAL, T_INT).uleb(6).end().icon_unsigned(T_UINT, 1);
  stmt();
  img.node(DDNODE, T_INT).uleb(1).uleb(2).byte(3).end().leaf(NOP, 0);
  stmt();
  img.node(ICALL, T_INT).text("f").end().leaf(NOP, 0);
  stmt();
  img.node(UICALL, T_INT).text("g").end();
  stmt();
  img.node(MCALL, T_INT).text("h").end().leaf(NOP, 0);
  stmt();
  img.node(UMCALL, T_INT).text("i").end();
  img.end_stream();
  std::string out = read(img);
  EXPECT_EQ(out.substr(out.find("statement")),
            "statement @- (LABEL:- label=12)\n"
            "statement @- (SCON:- scon=3:\"a\\x00b\")\n"
            "statement @- (FCON:double fcon=\"0x1.8p+1\")\n"
            "statement @- (FIELD:int field=1,m,S)\n"
            "statement @- (VREG:int vreg=-3)\n"
            "statement @- (SWITCH:- switch=4 (ICON:int icon=1) (NOP:-))\n"
            "statement @- (CALL:int call=2,3 (NAME:int sym=g) (NOP:-))\n"
            "statement @- (UCALL:int ucall=5 (NAME:int))\n"
            "statement @- (EPVAL:int epval=6 (ICON:uint icon=1))\n"
            "statement @- (DDNODE:int ddnode=1,2,3 (NOP:-))\n"
            "statement @- (ICALL:int callee=\"f\" (NOP:-))\n"
            "statement @- (UICALL:int callee=\"g\")\n"
            "statement @- (MCALL:int callee=\"h\" (NOP:-))\n"
            "statement @- (UMCALL:int callee=\"i\")\n");
  EXPECT_EQ(client.live_nodes, 0);
}

TEST_F(ReaderNodes, ConstantsFollowTheSignednessOfTheirType) {
  IcodeImage img = image();
  img.begin(TAG_STATEMENT).no_pos().end();
  img.node(PLUS, T_UINT).end();
  img.node(ICON, T_UINT).raw({0xff, 0xff, 0xff, 0xff, 0x0f}).end();   // five-byte uleb
  img.icon_signed(T_INT, -2);
  img.begin(TAG_STATEMENT).no_pos().end();
  img.node(LCON, T_SHORT).text("-5").end();   // passed on as text
  img.end_stream();
  EXPECT_EQ(read(img),
            "statement @- (PLUS:uint (ICON:uint icon=4294967295) (ICON:int icon=4294967294))\n"
            "statement @- (LCON:short lcon=\"-5\")\n");
}

TEST_F(ReaderNodes, FreeStandingTreeIsDiscarded) {
  IcodeImage img = image();
  img.node(UMINUS, T_INT).end().icon_signed(T_INT, 3);
  img.end_stream();
  EXPECT_EQ(read(img), "discard (UMINUS:int (ICON:int icon=3))\n");
  EXPECT_EQ(client.live_nodes, 0);
}

TEST_F(ReaderNodes, OperatorAboveTheInterchangeRangeIsFatal) {
  IcodeImage img = image();
  img.begin(TAG_STATEMENT).no_pos().end();
  img.node(PLUS, T_INT).end().icon_signed(T_INT, 1).leaf(164, T_INT);
  expect_fatal(img, kInvalidRecord);
}

TEST_F(ReaderNodes, AnotherRecordWhereAnOperandIsExpectedIsFatal) {
  IcodeImage img = image();
  img.begin(TAG_STATEMENT).no_pos().end();
  img.node(PLUS, T_INT).end().icon_signed(T_INT, 1);
  img.begin(TAG_LABEL).uleb(1).end();
  expect_fatal(img, kInvalidRecord);
  EXPECT_EQ(client.lines.back(), "discard (PLUS:int (ICON:int icon=1))");
}

TEST_F(ReaderNodes, EndOfFileInsideATreeIsFatal) {
  IcodeImage img = image();
  img.begin(TAG_STATEMENT).no_pos().end();
  img.node(MINUS, T_INT).end();
  expect_fatal(img, kInvalidRecord);
}

TEST_F(ReaderNodes, UnresolvedReferencesAreFatal) {
  {
    IcodeImage img = image();
    img.leaf(NOP, 99);
    expect_fatal(img, type_message(kForwardReference));
  }
  {
    IcodeImage img = image();
    img.begin(TAG_STATEMENT).no_pos().end();
    img.node(FIELD, T_INT).byte(1).uleb(8).type_ref(T_STRUCT).end();
    expect_fatal(img, kInvalidRecord);
  }
  {
    IcodeImage img = image();
    img.begin(TAG_STATEMENT).no_pos().end();
    img.name(T_INT, 0, 0);   // no global 0
    expect_fatal(img, kInvalidRecord);
  }
  {
    IcodeImage img = image();
    img.begin(TAG_FUNC_BEGIN).no_pos().uleb(0).end();
    expect_fatal(img, kInvalidRecord);
  }
}

// Deep trees are read without recursion, and rejected past the limit.
TEST_F(ReaderNodes, TreeDepthLimit) {
  for (size_t depth : {kMaxTreeDepth, kMaxTreeDepth + 1}) {
    RecordingClient c;
    c.render_trees = false;
    IcodeImage img = image();
    img.begin(TAG_STATEMENT).no_pos().end();
    for (size_t i = 1; i < depth; ++i)
      img.leaf(UMINUS, T_INT);
    img.icon_signed(T_INT, 1);
    img.end_stream();
    MemFile f(img.bytes());
    auto r = IcodeReader::open(f.get(), c, types);
    ASSERT_TRUE(r);
    r->bind_type(T_INT, types.mk_int(IK_INT));
    if (depth == kMaxTreeDepth) {
      r->read_all();
      EXPECT_EQ(c.lines.back(), "statement @- <tree>");
    } else {
      EXPECT_THROW(r->read_all(), IcodeFatal);
    }
    EXPECT_EQ(c.live_nodes, 0);
  }
}

// ------------------------------------------------------ exception tables

class ReaderEht : public ReaderTest {};

TEST_F(ReaderEht, EntriesWithCleanupsAndHandlers) {
  IcodeImage img = image();
  img.begin(TAG_EHT).uleb(3).end();
  img.begin(TAG_EHT_ENTRY).uleb(1).uleb(EHT_CLEANUP).uleb(0).uleb(0).end();
  img.begin(TAG_STATEMENT).no_pos().end().leaf(NOP, T_INT);
  img.begin(TAG_EHT_ENTRY).uleb(2).uleb(EHT_CATCH).uleb(1).uleb(2).end();
  img.begin(TAG_EHT_HANDLERS).text("_ZTIi").uleb(10).flag(true).text("...").uleb(11).flag(false).end();
  img.begin(TAG_EHT_ENTRY).uleb(3).uleb(EHT_THROW_TERMINATE).uleb(2).uleb(0).end();
  img.end_stream();
  EXPECT_EQ(read(img),
            "exception_table 3\n"
            "  entry id=1 kind=1 next=0 count=0 cleanup @- (NOP:int)\n"
            "  entry id=2 kind=2 next=1 count=2 handler \"_ZTIi\":10:1 handler \"...\":11:0\n"
            "  entry id=3 kind=5 next=2 count=0\n");
}

TEST_F(ReaderEht, WrongTagsAreFatal) {
  {
    IcodeImage img = image();
    img.begin(TAG_EHT).uleb(1).end();
    img.begin(90).uleb(1).uleb(0).uleb(0).uleb(0).end();
    expect_fatal(img, kInvalidEhtRecord);
  }
  {
    IcodeImage img = image();
    img.begin(TAG_EHT).uleb(1).end();
    img.begin(TAG_EHT_ENTRY).uleb(1).uleb(EHT_CLEANUP).uleb(0).uleb(0).end();
    img.begin(TAG_PRAGMA).no_pos().end();
    expect_fatal(img, kInvalidEhtRecord);
  }
  {
    // A cleanup tree already read is released when a later entry fails.
    IcodeImage img = image();
    img.begin(TAG_EHT).uleb(2).end();
    img.begin(TAG_EHT_ENTRY).uleb(1).uleb(EHT_CLEANUP).uleb(0).uleb(0).end();
    img.begin(TAG_STATEMENT).no_pos().end().leaf(NOP, T_INT);
    img.begin(TAG_EHT_ENTRY).uleb(2).uleb(EHT_CATCH).uleb(1).uleb(1).end();
    img.begin(TAG_EHT_ENTRY).end();
    expect_fatal(img, kInvalidEhtRecord);
  }
  {
    // A count far beyond the file ends at the end of the file.
    IcodeImage img = image();
    img.begin(TAG_EHT).uleb(0xFFFFFFFFu).end();
    img.begin(TAG_EHT_ENTRY).uleb(1).uleb(EHT_CATCH).uleb(0).uleb(0xFFFFFFFFu).end();
    img.begin(TAG_EHT_HANDLERS).text("h").uleb(1).flag(true).end();
    expect_fatal(img, kInvalidEhtRecord);
  }
}

// --------------------------------------------------------------- sections

class ReaderSections : public ReaderTest {};

IcodeImage program_image() {
  IcodeImage img;
  img.header();
  img.begin(TAG_FUNC_BEGIN).pos(1, 1, 2).uleb(0).end();
  img.begin(TAG_STATEMENT).pos(2, 3, 4).end().name(T_INT, 0, 1);
  img.begin(TAG_FUNC_END).pos(1, 9, 1).end();
  img.end_stream();
  img.section_here(IcodeImage::INITIALIZERS);
  img.begin(TAG_INITIALIZER).uleb(1).end().icon_signed(T_INT, 5).leaf(ENDINIT, 0);
  img.end_stream();
  img.section_here(IcodeImage::OPTIONS);
  img.option_set(0, {"-O3"}).end_stream();
  img.section_here(IcodeImage::TYPES);
  img.begin(TAG_TYPE).uleb(40).byte(49).end().end_stream();
  img.section_here(IcodeImage::FILES);
  img.file_name("m.c").file_name("m.h").end_stream();
  img.section_here(IcodeImage::GLOBALS);
  img.symbol({.name = "main", .type = T_INT, .file = 1, .line = 1, .column = 5});
  img.symbol({.name = "v", .type = T_INT, .lists = 1});
  img.attribute_list(TAG_ATTRIBUTES, 69, {"v"});
  img.end_stream();
  return img;
}

TEST_F(ReaderSections, ReadInOrderAndTheStreamResumes) {
  ASSERT_TRUE(open(program_image(), 5));   // the image starts at byte 5
  reader->read_all();
  EXPECT_EQ(client.joined(),
            "accept_version -72 1000\n"
            "option_set 0 [\"-O3\"]\n"
            "after_types\n"
            "new_symbol main size=32 offset=0 class=2 flags=0x0 type=int type2=- align=32 "
            "init=0 optset=0 @m.c:1:5\n"
            "set_scope_level main 0\nset_index main 0\nsymbol_complete main lists=0\n"
            "new_symbol v size=32 offset=0 class=2 flags=0x0 type=int type2=- align=32 "
            "init=0 optset=0 @-\n"
            "set_scope_level v 0\nset_index v 1\n"
            "attribute_list v 69 [\"v\"]\nsymbol_complete v lists=1\n"
            "initializer v (ICON:int icon=5) (ENDINIT:-)\n"
            "before_stream\n"
            "function_begin main @m.c:1:2\n"
            "statement @m.h:3:4 (NAME:int sym=v)\n"
            "function_end @m.c:9:1\n");
  EXPECT_EQ(client.live_nodes, 0);
}

TEST_F(ReaderSections, InitializerInTheStreamAndAnUnknownSymbol) {
  IcodeImage img = image();
  img.symbol({.name = "a"});
  img.begin(TAG_INITIALIZER).uleb(0).end().leaf(ENDINIT, 0);
  img.begin(TAG_INITIALIZER).uleb(1).end().leaf(ENDINIT, 0);
  expect_fatal(img, kInvalidRecord);
  EXPECT_EQ(client.lines.back(), "initializer a (ENDINIT:-)");
}

// Scalar type records equal to the package's basic types bind their
// identifiers to them; a pointer or typedef refers to an earlier record.
TEST_F(ReaderSections, ScalarTypeRecordsBindTheirIdentifiers) {
  IcodeImage img = image();
  img.begin(TAG_TYPE).uleb(20).byte(5).flag(false).uleb(16).uleb(16).flag(false).flag(false).end();
  img.begin(TAG_TYPE).uleb(21).byte(51).flag(false).uleb(64).uleb(32).flag(false).flag(false).end();
  img.begin(TAG_TYPE).uleb(22).byte(12).uleb(64).uleb(32).end();
  img.begin(TAG_TYPE).uleb(23).byte(15).type_ref(20).uleb(16).uleb(16).end();
  img.begin(TAG_TYPE).uleb(24).byte(17).type_ref(20).uleb(1).uleb(16).uleb(16).end();
  img.begin(TAG_TYPE).uleb(25).byte(14).text("u16").type_ref(24).uleb(16).uleb(16)
      .flag(false).flag(false).no_pos().end();
  img.begin(TAG_STATEMENT).no_pos().end().icon_unsigned(25, 65535);
  img.end_stream();
  EXPECT_EQ(read(img), "statement @- (ICON:u16 icon=65535)\n");
  EXPECT_EQ(reader->lookup_type(20), types.mk_int(IK_USHORT));
  EXPECT_EQ(reader->lookup_type(21), types.mk_int(IK_ULLONG));
  EXPECT_EQ(reader->lookup_type(22), types.mk_fltpt(FK_LDOUBLE));
  EXPECT_EQ(reader->lookup_type(23)->kind, TK_POINTER);
  EXPECT_EQ(reader->lookup_type(23)->base, types.mk_int(IK_USHORT));
  EXPECT_EQ(reader->lookup_type(24)->qualifiers, Q_CONST);
  EXPECT_EQ(reader->lookup_type(25)->getr(), types.mk_int(IK_USHORT));
  EXPECT_FALSE(reader->lookup_type(25)->is_signed());
}

TEST_F(ReaderSections, TypeRecordErrors) {
  {
    IcodeImage img = image();
    img.begin(TAG_TYPE).uleb(30).byte(49).end();
    img.begin(TAG_TYPE).uleb(30).byte(49).end();
    expect_fatal(img, type_message(kTypeTwice));
  }
  {
    IcodeImage img = image();
    img.begin(TAG_TYPE).uleb(31).byte(15).type_ref(99).uleb(16).uleb(16).end();
    expect_fatal(img, type_message(kForwardReference));
  }
}

TEST_F(ReaderSections, SectionOffsetBeyondTheFileIsAnEmptySection) {
  IcodeImage img = image();
  img.begin(TAG_LABEL).uleb(4).end().end_stream();
  img.set_section(IcodeImage::GLOBALS, 0x7fffffff);
  img.set_section(IcodeImage::FILES, img.here() + 100);
  EXPECT_EQ(read(img), "label 4\n");
}

} // namespace
} // namespace zor
