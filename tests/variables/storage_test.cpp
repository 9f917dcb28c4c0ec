// Stored forms of values: every type written and read back (data file
// storage.txt), and large objects that continue in the extents of their
// buffer unit.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "diagnostics/log.h"
#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"
#include "support/grammar_builder.h"
#include "support/vlxtest.h"
#include "table/afncompi.h"
#include "values/date.h"
#include "values/varstr.h"
#include "variables/varcla.h"
#include "variables/variable.h"

using namespace vlx;

namespace {

std::string hex(const unsigned char* bytes, std::size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += {digits[bytes[i] >> 4], digits[bytes[i] & 15]};
  return out;
}

// Hex in blank-separated pieces, "XX*N" being N bytes XX.
std::vector<unsigned char> unhex(const std::string& text) {
  std::vector<unsigned char> out;
  std::istringstream pieces(text);
  for (std::string piece; pieces >> piece;) {
    std::size_t star = piece.find('*');
    if (star != std::string::npos) {
      out.insert(out.end(), std::stoul(piece.substr(star + 1)), static_cast<unsigned char>(std::stoul(piece.substr(0, 2), nullptr, 16)));
      continue;
    }
    for (std::size_t i = 0; i + 1 < piece.size(); i += 2)
      out.push_back(static_cast<unsigned char>(std::stoul(piece.substr(i, 2), nullptr, 16)));
  }
  return out;
}

// Hex, a run of more than 8 bytes of one repeated byte or pair written
// "XX*N" or "XXXX*N" between blanks: "000003fa ab*1018 0000".
std::string compact(const unsigned char* bytes, std::size_t n) {
  std::string out;
  bool literal = false;
  for (std::size_t i = 0; i < n;) {
    std::size_t unit = 0, count = 0;
    for (std::size_t u : {1, 2}) {
      std::size_t r = 1;
      while (i + (r + 1) * u <= n && std::memcmp(bytes + i, bytes + i + r * u, u) == 0) ++r;
      if (r * u > 8) {
        unit = u, count = r;
        break;
      }
    }
    if (unit == 0) {
      out += (literal || out.empty() ? "" : " ") + hex(bytes + i, 1);
      literal = true;
      ++i;
      continue;
    }
    out += (out.empty() ? "" : " ") + hex(bytes + i, unit) + "*" + std::to_string(count);
    literal = false;
    i += unit * count;
  }
  return out;
}

std::map<std::string, int> Classes;  // the classes that references name

// A value of the data file: the grammar builder's notation, or "blob:HEX"
// (or "blob:XX*N"), "dtm:SECONDS", "str:C*N" (N characters C), "ref:CLASS".
struct Value {
  res_u v;
  unsigned group = 0;
  Value() { res_zero(&v); }
  ~Value() {
    res_drop(&v);
    adg_free(group);
  }
};

bool make_value(grctx* g, const std::string& text, Value* out) {
  if (text.rfind("blob:", 0) == 0) {
    std::vector<unsigned char> bytes = unhex(text.substr(5));
    out->group = adg_get(nullptr, nullptr, 6, "test blob");
    auto* blob = static_cast<unsigned char*>(adg_malloc(out->group, bytes.size() + 4));
    for (int i = 0; i < 4; ++i) blob[i] = static_cast<unsigned char>(bytes.size() >> (24 - 8 * i));
    if (!bytes.empty()) std::memcpy(blob + 4, bytes.data(), bytes.size());
    out->v.rs_type = LBLOB;
    out->v.rs_blob = blob;
    return true;
  }
  if (text.rfind("dtm:", 0) == 0) {
    out->v.rs_type = LDATETIME;
    out->v.rs_dtm = std::stoll(text.substr(4));
    return true;
  }
  if (text.rfind("str:", 0) == 0) {
    std::u16string s(std::stoul(text.substr(6)), static_cast<char16_t>(text[4]));
    return res_setstu(&out->v, s.data(), static_cast<unsigned>(s.size())) == 0;
  }
  if (text.rfind("ref:", 0) == 0) {
    if (text == "ref:null") {
      out->v.rs_type = LREF;
      return true;
    }
    return Classes.count(text.substr(4)) && cla_ref(Classes[text.substr(4)], &out->v) == 0;
  }
  unsigned root = builder::parse(g, text);
  return root != 0 && evafsr(&out->v, g, root) == 0;
}

std::string describe(const res_u* v) {
  switch (v->rs_type) {
    case LCLOB: {
      std::string text = char16tostring(res_text(v));
      if (text.size() > 32 && text.find_first_not_of(text[0]) == std::string::npos)
        return "str " + text.substr(0, 1) + "*" + std::to_string(text.size());
      return "str '" + text + "'";
    }
    case LBLOB: {
      std::size_t n = static_cast<std::size_t>(v->rs_blob[0]) << 24 | v->rs_blob[1] << 16 | v->rs_blob[2] << 8 | v->rs_blob[3];
      return "blob " + (n == 0 ? std::string("-") : compact(v->rs_blob + 4, n));
    }
    case LUUID: return "uuid " + hex(v->rs_uuid, 16);
    case LREF: {
      if (v->rs_ref == nullptr) return v->rs_refx == 0 ? "ref null" : "ref gone";
      return std::string("ref ") + cla_abv(cla_of_ref(v));
    }
    default: return builder::describe(v);
  }
}

// The type field: a type code, "Nutf8" for the UTF-8 form of a clob, or
// "ref:CLASS" for a reference to that class.
int type_of(const std::string& field, int* flags) {
  *flags = field.find("utf8") != std::string::npos ? kStoreUtf8 : 0;
  if (field.rfind("ref:", 0) == 0) return 64 * Classes[field.substr(4)] + 32;
  return std::stoi(field);
}

// "error N" or "error N detail": the status, and the detail when given.
void expect_error(int st, const std::string& expected) {
  std::string number = expected.substr(0, expected.find(' ', 6));
  EXPECT_EQ("error " + std::to_string(-st), number);
  if (number.size() < expected.size()) {
    EXPECT_EQ(Errmes, expected.substr(number.size() + 1));
  }
}

class Storage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    vlxtest::init_memory();
    cstdcb();
    if (Cbu == nullptr) cbu_ini(512);
    fsring();
    Obef[LDBLE] = builder::load_double;
    // References: an instance of "derived" is one of "base" too.
    Group = adg_get(nullptr, nullptr, 0, "reference classes");
    Classes["base"] = gen_class(Group, "base", 0, 0, 0, 1);
    Classes["derived"] = gen_class(Group, "derived", 0, 0, 0, 1, Classes["base"]);
    Classes["other"] = gen_class(Group, "other", 0, 0, 0, 1);
    unsigned gone = adg_get(nullptr, nullptr, 0, "released class");
    Classes["gone"] = gen_class(gone, "gone", 0, 0, 0, 1);
    adg_free(gone);
  }
  static void TearDownTestSuite() { adg_free(Group); }
  void SetUp() override {
    init_pt_exp(&g_, 0);
    raz_err();
  }
  void TearDown() override {
    Grammar_free(&g_);
    raz_err();
  }
  static inline unsigned Group = 0;
  grctx g_;
};

// type | length | value | stored bytes | read back
// type | length | value | error N [detail]
// read type | length | stored bytes | read back, or error N [detail]
// Stored bytes are compact() hex, "-" for none, "=ref" for the word of the
// reference value. Reads start from zeros, the given bytes first.
TEST_F(Storage, EveryTypeBothWays) {
  auto cases = vlxtest::read_cases("storage.txt");
  ASSERT_GT(cases.size(), 100u);
  for (const auto& c : cases) {
    SCOPED_TRACE("line " + std::to_string(c.line));
    raz_err();
    bool reading = c.fields[0].rfind("read ", 0) == 0;
    int flags = 0;
    int type = type_of(reading ? c.fields[0].substr(5) : c.fields[0], &flags);
    int length = std::stoi(c.fields[1]);
    int width = std::max(stored_size(type, length), 0);
    // Guard bytes on both sides catch a write out of the area.
    std::vector<unsigned char> area(static_cast<std::size_t>(width) + 32, 0xA5);
    unsigned char* at = area.data() + 16;
    res_u back;
    res_zero(&back);
    if (reading) {
      ASSERT_EQ(c.fields.size(), 4u);
      std::vector<unsigned char> bytes = c.fields[2] == "-" ? std::vector<unsigned char>{} : unhex(c.fields[2]);
      std::memset(at, 0, static_cast<std::size_t>(width));
      if (!bytes.empty()) std::memcpy(at, bytes.data(), std::min(bytes.size(), static_cast<std::size_t>(width)));
      int st = vad2rs(&back, at, nullptr, type, length, flags);
      if (st < 0) expect_error(st, c.fields[3]);
      else EXPECT_EQ(describe(&back), c.fields[3]);
    } else {
      Value value;
      ASSERT_TRUE(make_value(&g_, c.fields[2], &value)) << c.fields[2];
      int st = rs2vad(at, nullptr, type, length, &value.v, flags);
      if (st < 0) {
        EXPECT_EQ(c.fields.size(), 4u) << "error " << -st;
        expect_error(st, c.fields[3]);
      } else if (c.fields.size() != 5u) {
        ADD_FAILURE() << "stored " << compact(at, static_cast<std::size_t>(width));
      } else {
        std::string expected = c.fields[3];
        if (expected == "=ref") {
          unsigned char word[8];
          for (int i = 0; i < 8; ++i) word[i] = static_cast<unsigned char>(value.v.rs_refx >> (56 - 8 * i));
          expected = hex(word, 8);
        }
        EXPECT_EQ(width == 0 ? "-" : compact(at, static_cast<std::size_t>(width)), expected);
        st = vad2rs(&back, at, nullptr, type, length, flags);
        if (st < 0) expect_error(st, c.fields[4]);
        else EXPECT_EQ(describe(&back), c.fields[4]);
      }
    }
    for (int i = 0; i < 16; ++i) {
      ASSERT_EQ(area[static_cast<std::size_t>(i)], 0xA5) << "written before the area";
      ASSERT_EQ(area[static_cast<std::size_t>(16 + width + i)], 0xA5) << "written after the area";
    }
    res_drop(&back);
  }
}

TEST_F(Storage, TextReadAsDateTimeIsLogged) {
  log::open(log::system, "vartest", ::getpid(), vlxtest::install_dir() + "/tmp");
  Value text;
  ASSERT_TRUE(make_value(&g_, "'2024-02-29T10:20:30Z'", &text));
  unsigned char out[8];
  ASSERT_EQ(rs2vad(out, nullptr, LDATETIME, 0, &text.v, 0), 0);
  std::string logged = vlxtest::slurp(log::path());
  log::close();
  EXPECT_NE(logged.find("rs2vad conversion from clob to timestamp\n"), std::string::npos) << logged;
}

// Large objects in a buffer unit whose main buffer ends before their area.
class LargeObjects : public Storage {
 protected:
  void SetUp() override {
    Storage::SetUp();
    group_ = adg_get(nullptr, nullptr, 0, "lob test");
  }
  void TearDown() override {
    adg_free(group_);
    Storage::TearDown();
  }
  cbu_ref unit(unsigned size) {
    cbu_ref ref = 0;
    EXPECT_EQ(cbu_new(1, group_, size, &ref, "lob"), 0);
    return ref;
  }
  int extents_in_use(cbu_ref ref) {
    int n = 0;
    for (unsigned short e = 1; e <= cbu_max_ext(ref); ++e) {
      unsigned char* at = nullptr;
      unsigned length = 0;
      if (cbu_extent(ref, e, &at, &length) == 0 && at != nullptr) ++n;
    }
    return n;
  }
  unsigned group_ = 0;
};

TEST_F(LargeObjects, ContinueInExtentsAndComeBackWhole) {
  cbu_ref ref = unit(100);
  Value text;
  // 3000 characters of 3 UTF-8 bytes: 9000 bytes, 92 in the area.
  std::u16string long_text(3000, u'\u20ac');
  ASSERT_EQ(res_setstu(&text.v, long_text.data(), 3000), 0);
  ASSERT_EQ(rs2vad(cbu_bu(ref), &ref, LCLOB, 4, &text.v, kStoreUtf8), 0);
  EXPECT_EQ(hex(cbu_bu(ref), 4), "00002328") << "the count of all the bytes";
  EXPECT_EQ(extents_in_use(ref), 3) << "4094 + 4094 + 720 bytes";
  res_u back;
  res_zero(&back);
  ASSERT_EQ(vad2rs(&back, cbu_bu(ref), &ref, LCLOB, 4, kStoreUtf8), 0);
  EXPECT_EQ(std::u16string(res_text(&back)), long_text);

  // A shorter value releases the old chain first.
  Value shorter;
  ASSERT_EQ(res_setascii(&shorter.v, "short"), 0);
  ASSERT_EQ(rs2vad(cbu_bu(ref), &ref, LCLOB, 4, &shorter.v, kStoreUtf8), 0);
  EXPECT_EQ(extents_in_use(ref), 0);
  ASSERT_EQ(vad2rs(&back, cbu_bu(ref), &ref, LCLOB, 4, kStoreUtf8), 0);
  EXPECT_EQ(describe(&back), "str 'short'");

  // A blob likewise; without extents (flag 2) it is cut to its area.
  Value blob;
  ASSERT_TRUE(make_value(&g_, "blob:62*500", &blob));
  ASSERT_EQ(rs2vad(cbu_bu(ref), &ref, LBLOB, 0, &blob.v, 0), 0);
  EXPECT_EQ(extents_in_use(ref), 1);
  ASSERT_EQ(vad2rs(&back, cbu_bu(ref), &ref, LBLOB, 0, 0), 0);
  EXPECT_EQ(describe(&back), "blob 62*500");
  ASSERT_EQ(rs2vad(cbu_bu(ref), &ref, LBLOB, 0, &blob.v, kStoreNoExtent), 0);
  EXPECT_EQ(hex(cbu_bu(ref), 4), "0000005e") << "94 bytes: the area of 100 less 6";
  EXPECT_EQ(extents_in_use(ref), 0) << "the old chain went";
  ASSERT_EQ(rs2vad(cbu_bu(ref), &ref, LBLOB, 0, &blob.v, 0), 0);
  ASSERT_EQ(lob_free(cbu_bu(ref), &ref, LBLOB, 0), 0);
  EXPECT_EQ(extents_in_use(ref), 0);
  EXPECT_EQ(hex(cbu_bu(ref), 4), "00000000");
  res_drop(&back);
}

TEST_F(LargeObjects, AreCutToTheirSizeClassAndCheckedOnReading) {
  cbu_ref ref = unit(2048);
  Value text;
  ASSERT_TRUE(make_value(&g_, "str:x*600", &text));
  // Class 0: 1024 bytes, 1016 usable, half of it in characters.
  ASSERT_EQ(rs2vad(cbu_bu(ref), &ref, LCLOB, 0, &text.v, 0), 0);
  EXPECT_EQ(hex(cbu_bu(ref), 4), "000003f8") << "508 characters";
  unsigned char* area = cbu_bu(ref);
  area[3] = 0xF9;  // one byte more than a class-0 clob holds
  res_u back;
  res_zero(&back);
  EXPECT_EQ(vad2rs(&back, area, &ref, LCLOB, 0, 0), -26);
  raz_err();
  // A count beyond a cut area whose chain names no extent.
  cbu_ref cut = unit(100);
  std::memcpy(cbu_bu(cut), "\x00\x00\x00\xc8", 4);
  EXPECT_EQ(vad2rs(&back, cbu_bu(cut), &cut, LBLOB, 0, 0), -26);
  EXPECT_STREQ(Errmes, "Null cbu with extent");
  raz_err();
  // A unit that takes no extents keeps what fits, cut where a character
  // ends (3-byte characters: 30 of them in 92 bytes).
  cbu_ref fixed = unit(100);
  cbu_set_noextent(fixed, 1);
  std::u16string euros(40, u'\u20ac');
  ASSERT_EQ(res_setstu(&text.v, euros.data(), 40), 0);
  ASSERT_EQ(rs2vad(cbu_bu(fixed), &fixed, LCLOB, 4, &text.v, kStoreUtf8), 0);
  EXPECT_EQ(hex(cbu_bu(fixed), 4), "0000005a");
  ASSERT_EQ(vad2rs(&back, cbu_bu(fixed), &fixed, LCLOB, 4, kStoreUtf8), 0);
  EXPECT_EQ(std::u16string(res_text(&back)), std::u16string(30, u'\u20ac'));
  // Cleared again, the unit takes extents: all 120 bytes are kept.
  ASSERT_EQ(cbu_set_noextent(fixed, 0), 0);
  ASSERT_EQ(rs2vad(cbu_bu(fixed), &fixed, LCLOB, 4, &text.v, kStoreUtf8), 0);
  EXPECT_EQ(hex(cbu_bu(fixed), 4), "00000078");
  // Invalid UTF-8 in a clob is the reader's error.
  std::memcpy(area, "\x00\x00\x00\x02\xff\xfe", 6);
  EXPECT_EQ(vad2rs(&back, area, &ref, LCLOB, 0, kStoreUtf8), -50);
  res_drop(&back);
}

}  // namespace
