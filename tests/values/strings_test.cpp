#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/faults.h"
#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"
#include "support/vlxtest.h"
#include "values/uplowu.h"
#include "values/varstr.h"

namespace {

std::u16string wide(const std::string& utf8) {
  std::vector<char16_t> out(utf8.size() + 1);
  EXPECT_GE(utftoptu(out.data(), utf8.c_str(), (int)out.size()), 0) << utf8;
  return out.data();
}

std::string units_hex(const char16_t* s, int n) {
  std::string out;
  char unit[6];
  for (int i = 0; i < n; i++) {
    std::snprintf(unit, sizeof unit, "%s%04X", i ? " " : "", (unsigned)s[i]);
    out += unit;
  }
  return out;
}

std::u16string parse_units(const std::string& hex) {
  std::u16string out;
  for (std::size_t i = 0; i + 4 <= hex.size(); i += 5) out += (char16_t)std::stoul(hex.substr(i, 4), nullptr, 16);
  return out;
}

std::string bytes_hex(const std::string& bytes) {
  std::string out;
  char byte[3];
  for (unsigned char c : bytes) {
    std::snprintf(byte, sizeof byte, "%02X", c);
    out += byte;
  }
  return out;
}

std::string parse_bytes(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 2 <= hex.size(); i += 2) out += (char)std::stoul(hex.substr(i, 2), nullptr, 16);
  return out;
}

std::string narrow(const char16_t* s) {
  char out[256];
  stutoput(out, s, sizeof out, nullptr);
  return out;
}

std::string run(const vlxtest::Case& c) {
  const std::string& op = c.fields[0];
  if (op == "utf8") {
    char16_t out[16];
    int n = utftoptu(out, parse_bytes(c.fields[1]).c_str(), 16);
    return n < 0 ? "E" + std::to_string(-n) : units_hex(out, n);
  }
  if (op == "toutf8") {
    char out[16];
    std::memset(out, 'x', sizeof out);
    int count = -1, limit = std::stoi(c.fields[2]);
    int n = stutoput(out, parse_units(c.fields[1]).c_str(), limit, &count);
    EXPECT_EQ(out[limit], 'x') << "write beyond the limit";
    return bytes_hex(std::string(out, n)) + "|" + std::to_string(count);
  }
  if (op == "virublc") {
    std::u16string in = wide(c.fields[2]);
    std::vector<char16_t> out(in.size() + 1);
    virublc(out.data(), in.c_str(), std::stoi(c.fields[1]));
    return narrow(out.data());
  }
  if (op == "find_pattern" || op == "fnupat") {
    auto match = op == "fnupat" ? fnupat : find_pattern;
    return std::to_string(match(wide(c.fields[1]).c_str(), wide(c.fields[2]).c_str()));
  }
  if (op == "ctrans") {
    std::u16string in = wide(c.fields[1]), from = wide(c.fields[2]), to = wide(c.fields[3]);
    std::vector<char16_t> out(in.size() + 1);
    ctrans(out.data(), in.c_str(), c.fields[2] == "-" ? nullptr : from.c_str(), to.c_str());
    return narrow(out.data());
  }
  if (op == "num") {
    char out[32];
    num(out, std::stoi(c.fields[1]), std::stoi(c.fields[2]));
    return out;
  }
  if (op == "lower" || op == "upper") {
    char16_t out[16];
    char16_t ch = parse_units(c.fields[1])[0];
    int n = op == "lower" ? tolower_u(out, ch) : toupper_u(out, ch);
    return units_hex(out, n);
  }
  if (op == "b64") {
    char out[64];
    int n = encode64(out, sizeof out, (const unsigned char*)c.fields[1].data(), (int)c.fields[1].size());
    EXPECT_EQ(n, (int)std::strlen(out));
    return out;
  }
  if (op == "b64dec") {
    unsigned char out[64];
    int n = decode64(out, sizeof out, c.fields[1].c_str());
    return n < 0 ? "E" + std::to_string(-n) : std::string((char*)out, n);
  }
  return "unknown operation";
}

TEST(Strings, DataCases) {
  auto cases = vlxtest::read_cases("strings.txt");
  ASSERT_GT(cases.size(), 60u);
  for (const vlxtest::Case& c : cases) {
    raz_err();
    std::string expected = c.fields.back();
    if (c.fields[0] == "toutf8") expected = c.fields[3] + "|" + c.fields[4];
    EXPECT_EQ(run(c), expected) << "strings.txt line " << c.line;
  }
  raz_err();
}

TEST(Strings, EveryBmpCharacterRoundTripsThroughUtf8) {
  char utf8[4];
  char16_t back[2];
  for (unsigned c = 1; c <= 0xFFFF; c++) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    char16_t in[2] = {(char16_t)c, 0};
    int count = 0;
    int bytes = stutoput(utf8, in, sizeof utf8, &count);
    ASSERT_EQ(count, 1) << c;
    ASSERT_EQ(bytes, ucs2utf(utf8, 3, (char16_t)c));
    ASSERT_EQ(utflen(utf8), 1);
    ASSERT_EQ(utftoptu(back, utf8, 2), 1) << c;
    ASSERT_EQ(back[0], c);
    ASSERT_EQ(char16tostring(in), std::string(utf8, bytes));
  }
}

// Runs of ASCII of every length between wider characters, decoded with
// every limit: the result is always the first characters that fit.
TEST(Strings, Utf8DecodingStopsAtTheLimit) {
  std::mt19937 rng(11);
  const char16_t samples[] = {u'a', u'Z', u'\u00E9', u'\u0394', u'\u20AC', u'\uFFFD'};
  for (int round = 0; round < 300; round++) {
    std::u16string text;
    int length = 1 + rng() % 40;
    for (int i = 0; i < length; i++) text += samples[rng() % 3 == 0 ? 2 + rng() % 4 : rng() % 2];
    std::string utf8 = char16tostring(text.c_str());
    for (int n = 1; n <= length + 2; n++) {
      std::vector<char16_t> out(n + 1, u'#');
      int count = utftoptu(out.data(), utf8.c_str(), n);
      int expected = std::min(n - 1, length);
      ASSERT_EQ(count, expected);
      ASSERT_EQ(std::u16string(out.data()), text.substr(0, expected));
      ASSERT_EQ(out[n], u'#') << "write beyond the limit";
      ASSERT_EQ(utfntoptu(out.data(), utf8.c_str(), (int)utf8.size(), n), expected);
    }
  }
}

TEST(Strings, MalformedUtf8NamesTheRest) {
  raz_err();
  char16_t out[8];
  EXPECT_EQ(utftoptu(out, "ab\xF0\x9F\x98\x80z", 8), -50);
  EXPECT_STREQ(Errmes, "\xF0\x9F\x98\x80z");
  raz_err();
  // A sequence cut by the byte limit is not read past the limit.
  EXPECT_EQ(utfntoptu(out, "a\xE2\x82\xAC", 3, 8), -50);
  raz_err();
  EXPECT_EQ(utfntoptu(out, "a\xE2\x82\xAC" "b", 4, 8), 2);
  EXPECT_EQ(out[1], 0x20AC);
  char latin[8];
  EXPECT_EQ(utftoptr(latin, "\xC3\xA9t\xC3\xA9", 8), 3);
  EXPECT_STREQ(latin, "\xE9t\xE9");
  EXPECT_EQ(utftoptr(latin, nullptr, 8), -1);
}

TEST(Strings, EightBitAndStoredForms) {
  char16_t u[8];
  EXPECT_EQ(strtoptu(u, "\xE9t\xE9!", 4), 3);
  EXPECT_EQ(u[0], 0xE9);
  EXPECT_EQ(u[3], 0);
  char utf8[8];
  int count;
  EXPECT_EQ(strtoput(utf8, "\xE9", 8, &count), 2);
  EXPECT_STREQ(utf8, "\xC3\xA9");
  const char16_t text[] = u"A\u20AC";
  unsigned char vad[8];
  std::memset(vad, 0xFF, sizeof vad);
  EXPECT_EQ(stutovad(vad, text, 8), 2);
  const unsigned char expected[] = {0x00, 0x41, 0x20, 0xAC, 0, 0};
  EXPECT_EQ(std::memcmp(vad, expected, 6), 0);
  EXPECT_EQ(vadtostu(u, vad, 8), 2);
  EXPECT_EQ(stucmp(u, text), 0);
  EXPECT_EQ(vadtostu(u, vad, 2), 1);
  EXPECT_EQ(stutoptr(utf8, text, 8), 2);
  EXPECT_EQ((unsigned char)utf8[1], 0xAC);
  char field[4];
  stutovag(field, u"ab", 4);
  EXPECT_EQ(std::memcmp(field, "ab\0\0", 4), 0);
  EXPECT_LT(stucmp(nullptr, u"a"), 0);
  EXPECT_EQ(fninstu(0, u"abcabc", u"ca"), 3);
  EXPECT_EQ(fninstu(4, u"abcabc", u"ca"), 0);
  EXPECT_EQ(fninstu(2, u"abc", u""), 2);
  EXPECT_EQ(fninstu(5, u"abc", u""), 0);
  EXPECT_EQ(instun(u'c', u"abc"), 3);
}

TEST(Strings, VarstuGrowsAndEdits) {
  vlxtest::init_memory();
  unsigned group = 0;
  varstu* v = vsu_in2(nullptr, &group, 10, "test string");
  ASSERT_NE(v, nullptr);
  ASSERT_NE(group, 0u);
  std::u16string long_text(300, u'x');
  ASSERT_EQ(vsucpy(v, long_text.c_str()), 0);
  EXPECT_GE(v->capacity, 300u);
  EXPECT_EQ(vsulen(v), 300);
  vsucut(v, 2);
  EXPECT_EQ(stucmp(vsuptr(v), u"xx"), 0);
  const unsigned char vad[] = {0, 'y', 0, 'z', 0, 0};
  ASSERT_EQ(vadcatvsu(v, vad), 0);
  ASSERT_EQ(vsucat(v, u"!"), 0);
  EXPECT_EQ(stucmp(vsuptr(v), u"xxyz!"), 0);
  vsushf(v, 3);
  EXPECT_EQ(stucmp(vsuptr(v), u"z!"), 0);
  ASSERT_EQ(vsucsr(v, "\xE9t\xE9", 2), 0);
  EXPECT_EQ(stucmp(vsuptr(v), u"\u00E9t"), 0);
  ASSERT_EQ(vadtovsu(v, vad, 1), 0);
  EXPECT_EQ(stucmp(vsuptr(v), u"y"), 0);
  v->text[0] = 0;
  vsusyn(v);
  EXPECT_EQ(vsulen(v), 0);
  adg_free(group);

  // A string on a computed value's fixed buffer moves into a group of its
  // own when it outgrows the buffer.
  char16_t fixedText[257];
  varstu fixed{fixedText, 0, 0, nullptr};
  unsigned fixedGroup = 0;
  ASSERT_EQ(vsu_in2(&fixed, &fixedGroup, 100, "unused"), &fixed);
  ASSERT_EQ(vsucpy(&fixed, u"keep"), 0);
  EXPECT_EQ(fixed.text, fixedText);
  ASSERT_EQ(vsucat(&fixed, long_text.c_str()), 0);
  EXPECT_NE(fixed.text, fixedText);
  EXPECT_NE(fixedGroup, 0u);
  EXPECT_GE(fixed.capacity, 304u);
  EXPECT_EQ(fninstu(1, fixed.text, u"keepx"), 1);
  vsuraz(&fixed);
  EXPECT_EQ(vsulen(&fixed), 0);
  adg_free(fixedGroup);
}

TEST(Strings, VarstuKeepsItsTextWhenGrowthFails) {
  vlxtest::init_memory();
  unsigned group = 0;
  varstu* v = vsu_in2(nullptr, &group, 10, "test string");
  ASSERT_NE(v, nullptr);
  ASSERT_EQ(vsucpy(v, u"before"), 0);
  raz_err();
  vlx::fault::arm(vlx::fault::alloc, 1);
  std::u16string long_text(300, u'x');
  EXPECT_EQ(vsucat(v, long_text.c_str()), -31);
  EXPECT_EQ(stucmp(vsuptr(v), u"before"), 0);
  EXPECT_EQ(vsulen(v), 6);
  adg_free(group);

  group = 0;
  vlx::fault::arm(vlx::fault::alloc, 2);
  EXPECT_EQ(vsu_in2(nullptr, &group, 10, "test string"), nullptr);
  EXPECT_EQ(group, 0u);
  vlx::fault::arm(vlx::fault::alloc, 0);
  raz_err();
}

TEST(Strings, EightBitUtilities) {
  char out[32];
  strupc(out, "abc\xE9z1");
  EXPECT_STREQ(out, "ABC\xC9Z1");
  std::strcpy(out, "ab");
  EXPECT_EQ(catin(out, "cd"), out + 4);
  EXPECT_STREQ(out, "abcd");
  EXPECT_EQ(instring('c', out), 3);
  EXPECT_STREQ(skspaces("  x"), "x");
  EXPECT_EQ(std::strlen(spaces(768)), 768u);
  EXPECT_EQ(spaces(769), nullptr);
  vlxcop(out, "truncated", 5);
  EXPECT_STREQ(out, "trun");
  EXPECT_EQ(escapeJson(out, sizeof out, "a\"b\\\n\t", 6), 10);
  EXPECT_STREQ(out, "a\\\"b\\\\\\n\\t");
  // An escape that does not fit is left out whole.
  EXPECT_EQ(escapeJson(out, 3, "a\"", 2), 1);
  EXPECT_STREQ(out, "a");
  // The other control characters as \u00XX, so that the text stays JSON.
  EXPECT_EQ(escapeJson(out, sizeof out, "a\x01\x1f\x7f", 4), 14);
  EXPECT_STREQ(out, "a\\u0001\\u001f\x7f");
  EXPECT_EQ(escapeJson(out, 7, "a\x02", 2), 1);
  char shifted[] = "abcdef";
  shfbuf(shifted, 6, 2);
  EXPECT_STREQ(shifted, "ababcd");
  EXPECT_EQ(expform("12.5"), 0);
  EXPECT_EQ(expform("1e-5"), 2);
  EXPECT_EQ(expform("1e5-"), 1);
  const std::pair<int, int> classes[] = {{0x00, 32}, {0x08, 48}, {0x15, 128}, {0x20, 16}, {0x35, 1},
                                         {0x41, 6},  {0x7F, 0},  {0x80, 64},  {0x81, 96}, {0x9F, 128},
                                         {0xD0, 0},  {0xDD, 6},  {0xDF, 0},   {0xE9, 10}, {0xFF, 0}};
  for (auto [c, mask] : classes) EXPECT_EQ(Caractyp[c], mask) << c;
  EXPECT_EQ(Toascii[0xDF - 1], 'S');
}

TEST(Strings, Base64AndPackedLimits) {
  raz_err();
  char out[9];
  EXPECT_EQ(encode64(out, 8, (const unsigned char*)"abcdef", 6), -26);
  EXPECT_STREQ(Errmes, "encode64:insufiscent buffer");
  raz_err();
  EXPECT_EQ(encode64(out, 9, (const unsigned char*)"abcdef", 6), 8);
  unsigned char bytes[4];
  std::memset(bytes, 0xEE, sizeof bytes);
  EXPECT_EQ(decode64(bytes, 3, "YWJjZA=="), -26);
  EXPECT_STREQ(Errmes, "String too big");
  EXPECT_EQ(bytes[3], 0xEE);
  raz_err();
  char packed[12];
  EXPECT_EQ(ltostr64(packed, 11, 1), -25);
  EXPECT_STREQ(Errmes, "ltostr64");
  raz_err();
  EXPECT_EQ(ltostr64(packed, 12, 0xFFFFFFFFFFFFFFFFULL), 11);
  EXPECT_STREQ(packed, "//////////P");
  EXPECT_EQ(ltostr64(packed, 12, 0x11), 11);
  EXPECT_STREQ(packed, "AAAAAAAAABB");
}

}  // namespace

namespace {

// Random text from an alphabet, in a heap block of exactly its size so that
// the sanitizer build catches any read past its end.
std::vector<char> random_text(std::mt19937& rng, const std::string& alphabet) {
  std::vector<char> text(rng() % 40);
  for (char& c : text) c = alphabet[rng() % alphabet.size()];
  text.push_back(0);
  return text;
}

}  // namespace

TEST(Strings, ArbitraryInputStaysInBounds) {
  std::mt19937 rng(5);
  std::string bytes;
  for (int c = 1; c < 256; c++) bytes += (char)c;
  for (int round = 0; round < 3000; round++) {
    std::vector<char> text = random_text(rng, bytes);
    int n = 1 + rng() % 50;
    std::vector<char16_t> wide(n);
    std::vector<char> narrow(n);
    std::vector<unsigned char> decoded(n);
    EXPECT_LE(utftoptu(wide.data(), text.data(), n), n - 1);
    EXPECT_LE(utfntoptu(wide.data(), text.data(), (int)text.size() - 1, n), n - 1);
    EXPECT_LE(utftoptr(narrow.data(), text.data(), n), n - 1);
    EXPECT_LE(decode64(decoded.data(), n, text.data()), n);
    EXPECT_LE(escapeJson(narrow.data(), n, text.data(), (int)text.size() - 1), n - 1);
  }
  raz_err();
}
