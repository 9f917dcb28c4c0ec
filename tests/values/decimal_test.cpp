#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "diagnostics/vlxerr.h"
#include "support/vlxtest.h"
#include "values/vlxdcb.h"

namespace {

s_dcb parse(const std::string& text) {
  s_dcb d;
  EXPECT_EQ(strdcb(&d, text.c_str()), 0) << text;
  return d;
}

std::string format(s_dcb d) {
  char out[41];
  EXPECT_EQ(dcbstr(&d, out, 40), 0);
  return out;
}

// Runs one case; returns the result text or "E<n>" for a failure.
std::string run(const vlxtest::Case& c) {
  const std::string& op = c.fields[0];
  char text[202];
  s_dcb r = parse("777"), a = op == "parse" || op == "dbl" ? r : parse(c.fields[1]);
  const s_dcb untouched = r;
  int status = 0;
  std::string result;
  if (op == "add" || op == "sub" || op == "mul" || op == "div") {
    s_dcb b = parse(c.fields[2]);
    status = op == "add"   ? dcb_as(&r, &a, &b, 0)
             : op == "sub" ? dcb_as(&r, &a, &b, 1)
             : op == "mul" ? dcbmul(&r, &a, &b)
                           : dcbdiv(&r, &a, &b);
  } else if (op == "cmp") {
    s_dcb b = parse(c.fields[2]);
    return std::to_string(dcbcmp(&a, &b));
  } else if (op == "parse") {
    status = strdcb(&r, c.fields[1].c_str());
  } else if (op == "fmt") {
    status = dcbstr(&a, text, std::stoi(c.fields[2]));
    if (status == 0) return text;
  } else if (op == "lng") {
    int v = 0;
    status = dcblng(&a, &v);
    if (status == 0) return std::to_string(v);
  } else if (op == "dbl") {
    status = dbldcb(&r, std::stod(c.fields[1]));
  } else if (op == "fix") {
    r = a;
    dcbfix(&r);
  } else if (op == "stored") {
    unsigned char field[40];
    int len = std::stoi(c.fields[2]);
    status = stpdcb(&a, field, len);
    if (status == 0) status = ldsdcb(field, len, &r);
  } else if (op == "cvt") {
    int decpt = -1, negative = -1;
    status = dcbcvt(text, &a, std::stoi(c.fields[2]), &decpt, &negative);
    if (status == 0) return std::string(text) + " " + std::to_string(decpt) + " " + std::to_string(negative);
  }
  if (status < 0) {
    EXPECT_EQ(std::memcmp(&r, &untouched, sizeof r), 0) << "output written on error, line " << c.line;
    return "E" + std::to_string(-status);
  }
  return format(r);
}

TEST(Decimal, DataCases) {
  auto cases = vlxtest::read_cases("decimal.txt");
  ASSERT_GT(cases.size(), 50u);
  for (const vlxtest::Case& c : cases) {
    raz_err();
    // "E<n> detail": the error and the detail it leaves.
    const std::string& expected = c.fields[3];
    std::size_t blank = expected[0] == 'E' ? expected.find(' ') : std::string::npos;
    EXPECT_EQ(run(c), expected.substr(0, blank)) << "decimal.txt line " << c.line;
    if (blank != std::string::npos) {
      EXPECT_EQ(Errmes, expected.substr(blank + 1)) << "decimal.txt line " << c.line;
    }
  }
}

TEST(Decimal, ConstantsAndPredicates) {
  cstdcb();
  EXPECT_EQ(format(Maxdcb), "9.99999999e79");
  EXPECT_EQ(format(Mindcb), "-9.99999999e79");
  EXPECT_EQ(format(Pfvdcb), "0.5");
  s_dcb mx = Mxldcb, frac = parse("2147483647.5"), neg = parse("-2147483647"), half = parse("-0.5");
  EXPECT_TRUE(isldcb(&mx, 1));
  EXPECT_TRUE(isldcb(&neg, 1));
  EXPECT_FALSE(isldcb(&frac, 0));
  EXPECT_FALSE(isldcb(&half, 1));
  EXPECT_TRUE(isldcb(&half, 0));
  EXPECT_EQ(dcbsgn(&half), -1);
  dcbumn(&half);
  EXPECT_EQ(dcbsgn(&half), 1);
  EXPECT_EQ(dcbfix(&half), 1);
  EXPECT_EQ(dcbcmp(&half, &Zerdcb), 0);
  EXPECT_EQ(half.sign, 1);
  double d = 0;
  s_dcb third;
  s_dcb one = Onedcb, three = parse("3");
  dcbdiv(&third, &one, &three);
  EXPECT_EQ(dcbdbl(&d, &third), 0);
  EXPECT_DOUBLE_EQ(d, 1.0 / 3);
}

TEST(Decimal, StoredFormIsOrdered) {
  const char* ascending[] = {"-2", "-1", "0", "0.5", "1"};
  unsigned char previous[9], current[9];
  for (int i = 0; i < 5; i++) {
    s_dcb d = parse(ascending[i]);
    ASSERT_EQ(stpdcb(&d, current, 9), 0);
    if (i > 0) {
      EXPECT_LT(std::memcmp(previous, current, 9), 0) << ascending[i];
    }
    std::memcpy(previous, current, 9);
  }
}

// Random values of 20 to 32 significant digits over the whole exponent range.
class RandomDecimals : public ::testing::Test {
 protected:
  std::mt19937_64 rng{20240601};
  s_dcb next(int minDigits = 20, int spread = 200) {
    std::string text = rng() % 2 ? "-" : "";
    int n = minDigits + rng() % (33 - minDigits);
    text += (char)('1' + rng() % 9);
    for (int i = 1; i < n; i++) text += (char)('0' + rng() % 10);
    text += "e" + std::to_string((int)(rng() % spread) - spread / 2 - n);
    return parse(text);
  }
};

TEST_F(RandomDecimals, StoredOrderEqualsComparison) {
  for (int i = 0; i < 20000; i++) {
    s_dcb a = next(1), b = i % 7 == 0 ? a : next(1);
    if (i % 11 == 0) b = Zerdcb;
    unsigned char sa[17], sb[17];
    ASSERT_EQ(stpdcb(&a, sa, 17), 0);
    ASSERT_EQ(stpdcb(&b, sb, 17), 0);
    int bytes = std::memcmp(sa, sb, 17);
    int order = dcbcmp(&a, &b);
    ASSERT_EQ((bytes > 0) - (bytes < 0), order) << format(a) << " " << format(b);
    s_dcb back;
    ASSERT_EQ(ldsdcb(sa, 17, &back), 0);
    ASSERT_EQ(dcbcmp(&back, &a), 0) << format(a);
  }
}

// A bound answers as dcbcmp for any value's bytes, those a record holds
// that no arithmetic made included (a sign byte of 2, 17 digits or more,
// digits past 99, trailing zero digits), and on ties of the first eight
// digits; and dcbcmp orders such values one way, whichever comes first.
TEST_F(RandomDecimals, BoundsAnswerAsComparisonOnAnyBytes) {
  auto any_bytes = [&](s_dcb d) {
    auto* bytes = reinterpret_cast<unsigned char*>(&d);
    switch (rng() % 4) {
      case 0: bytes[2] = (unsigned char)(rng() % 3); break;
      case 1: bytes[3] = (unsigned char)(rng() % 2 ? rng() % 18 : rng()); break;
      case 2: bytes[4 + rng() % 16] = (unsigned char)rng(); break;
      default: break;
    }
    return d;
  };
  for (int i = 0; i < 40000; i++) {
    s_dcb a = next(1, 8), b = next(1, 8);
    // The same first eight digits and exponent, the rest apart.
    if (i % 5 == 0) std::memcpy(b.digits, a.digits, 8), b.exponent = a.exponent, b.sign = a.sign;
    if (i % 13 == 0) b = Zerdcb;
    if (i % 2 == 0) a = any_bytes(a), b = any_bytes(b);
    dcb_bound bound = dcbbound(&b);
    int order = dcbcmp(&a, &b);
    ASSERT_EQ(dcbcmp_at(reinterpret_cast<const unsigned char*>(&a), bound), order) << i;
    ASSERT_EQ(dcbcmp(&b, &a), -order) << i;
  }
}

TEST_F(RandomDecimals, ArbitraryTextAndFieldsStayInBounds) {
  const std::string alphabet = "0123456789.eE+- x";
  for (int i = 0; i < 5000; i++) {
    std::vector<char> text(rng() % 60);
    for (char& c : text) c = alphabet[rng() % alphabet.size()];
    text.push_back(0);
    s_dcb d;
    strdcb(&d, text.data());
    std::vector<unsigned char> field(1 + rng() % 20);
    for (unsigned char& b : field) b = (unsigned char)rng();
    ldsdcb(field.data(), (int)field.size(), &d);
    int width = rng() % 45;
    std::vector<char> out(width + 1);
    dcbstr(&d, out.data(), width);
  }
  raz_err();
}

TEST_F(RandomDecimals, TextRoundTrip) {
  char text[201];
  for (int i = 0; i < 20000; i++) {
    s_dcb a = next(1), back;
    ASSERT_EQ(dcbstr(&a, text, i % 2 ? 200 : 40), 0);
    ASSERT_EQ(strdcb(&back, text), 0);
    ASSERT_EQ(dcbcmp(&back, &a), 0) << text;
    ASSERT_EQ(std::memcmp(&back, &a, sizeof a), 0) << text;
  }
}

TEST_F(RandomDecimals, QuotientTimesDivisorIsCloseToDividend) {
  for (int i = 0; i < 20000; i++) {
    s_dcb a = next(20, 60), b = next(20, 60), q, back, diff;
    ASSERT_EQ(dcbdiv(&q, &a, &b), 0);
    ASSERT_EQ(dcbmul(&back, &q, &b), 0);
    ASSERT_EQ(dcb_as(&diff, &back, &a, 1), 0);
    // One unit of the quotient's last digit carried through the product,
    // plus the rounding of the product itself.
    s_dcb unitq = {(std::int16_t)(q.exponent - 15), 1, 1, {1}};
    s_dcb unita = {(std::int16_t)(a.exponent - 15), 1, 1, {1}};
    s_dcb bound, magnitude = b;
    magnitude.sign = 1;
    ASSERT_EQ(dcbmul(&bound, &magnitude, &unitq), 0);
    ASSERT_EQ(dcb_as(&bound, &bound, &unita, 0), 0);
    diff.sign = 1;
    ASSERT_LE(dcbcmp(&diff, &bound), 0)
        << format(a) << " / " << format(b) << " diff " << format(diff);
  }
}

TEST_F(RandomDecimals, SumsAndProductsMatchExactArithmetic) {
  // Integers below 10^15 are exact in both representations.
  for (int i = 0; i < 20000; i++) {
    long long x = (long long)(rng() % 2000000000000000ULL) - 1000000000000000LL;
    long long y = (long long)(rng() % 2000LL) - 1000LL;
    s_dcb a = parse(std::to_string(x)), b = parse(std::to_string(y)), r;
    dcb_as(&r, &a, &b, 0);
    ASSERT_EQ(format(r), std::to_string(x + y));
    dcb_as(&r, &a, &b, 1);
    ASSERT_EQ(format(r), std::to_string(x - y));
    dcbmul(&r, &a, &b);
    ASSERT_EQ(format(r), std::to_string(x * y));
    ASSERT_EQ(dcbcmp(&a, &b), (x > y) - (x < y));
  }
}

// A product is the exact product of the digits, schoolbook in base 100,
// loaded (rounded half up on the 17th digit) as any digit string is; also
// for values whose digits a record gave (a first digit of 0, trailing
// zero digits).
TEST_F(RandomDecimals, ProductsAreTheExactProductRounded) {
  for (int i = 0; i < 40000; i++) {
    s_dcb a = next(1, 120), b = next(1, 120), r, expected;
    if (i % 4 == 0) a.digits[0] = 0;
    if (i % 3 == 0 && b.ndigits < 16) b.ndigits++;
    int product[33] = {};
    for (int x = 0; x < a.ndigits; x++)
      for (int y = 0; y < b.ndigits; y++) product[x + y + 1] += a.digits[x] * b.digits[y];
    unsigned char digits[33];
    for (int k = 32; k >= 0; k--) {
      if (k > 0) product[k - 1] += product[k] / 100;
      digits[k] = (unsigned char)(product[k] % 100);
    }
    int st = dcblod(&expected, a.sign == b.sign, a.exponent + b.exponent, digits, 33);
    raz_err();
    ASSERT_EQ(dcbmul(&r, &a, &b), st) << format(a) << " * " << format(b);
    raz_err();
    if (st == 0) {
      ASSERT_EQ(std::memcmp(&r, &expected, sizeof r), 0) << format(a) << " * " << format(b);
    }
  }
}

TEST_F(RandomDecimals, ExactQuotientsComeBackExactly) {
  for (int i = 0; i < 20000; i++) {
    s_dcb x = next(1, 40), y = next(1, 40), product, quotient;
    // Keep the product exact: at most 32 significant digits in all.
    x.ndigits = x.ndigits > 8 ? 8 : x.ndigits;
    y.ndigits = y.ndigits > 8 ? 8 : y.ndigits;
    std::memset(x.digits + x.ndigits, 0, 16 - x.ndigits);
    std::memset(y.digits + y.ndigits, 0, 16 - y.ndigits);
    dcblod(&x, x.sign, x.exponent, x.digits, x.ndigits);
    dcblod(&y, y.sign, y.exponent, y.digits, y.ndigits);
    ASSERT_EQ(dcbmul(&product, &x, &y), 0);
    ASSERT_EQ(dcbdiv(&quotient, &product, &y), 0);
    ASSERT_EQ(std::memcmp(&quotient, &x, sizeof x), 0) << format(product) << " / " << format(y);
  }
}

}  // namespace
