#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "python_text.h"

using namespace loadscribe_core;

namespace {

std::string repr(double value) {
  std::string out;
  append_float(out, value);
  return out;
}

}  // namespace

TEST(AppendFloat, WritesWhatPythonsReprWrites) {
  EXPECT_EQ(repr(300.0), "300.0");
  EXPECT_EQ(repr(0.1), "0.1");
  EXPECT_EQ(repr(-0.0), "-0.0");
  EXPECT_EQ(repr(0.0), "0.0");
  EXPECT_EQ(repr(1e16), "1e+16");
  EXPECT_EQ(repr(1e15), "1000000000000000.0");
  EXPECT_EQ(repr(1.5e16), "1.5e+16");
  EXPECT_EQ(repr(0.0001), "0.0001");
  EXPECT_EQ(repr(0.00001), "1e-05");
  EXPECT_EQ(repr(-2.5e-7), "-2.5e-07");
  EXPECT_EQ(repr(1e100), "1e+100");
  EXPECT_EQ(repr(5e-324), "5e-324");
  EXPECT_EQ(repr(double(0.1f)), "0.10000000149011612");
  EXPECT_EQ(repr(123.456), "123.456");
  EXPECT_EQ(repr(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(repr(std::nan("")), "nan");
}

TEST(AppendList, BracketsAndCommaSpace) {
  std::string out;
  const uint32_t ids[] = {3, 17, 4294967295u};
  append_list(out, ids, 3);
  EXPECT_EQ(out, "[3, 17, 4294967295]");
  out.clear();
  append_list(out, ids, 0);
  EXPECT_EQ(out, "[]");
  out.clear();
  append_id_text(out, ids, 3);
  EXPECT_EQ(out, "3,17,4294967295");
}

TEST(AppendEscaped, OrdinaryTextStaysSpecialCharactersAreEscaped) {
  std::string out;
  append_escaped(out, "Model/Part 1/Body-2 (ü)");
  EXPECT_EQ(out, "Model/Part 1/Body-2 (ü)");
  out.clear();
  append_escaped(out, "a\"b\\c\nd\re\x01\xe2\x80\xa8");
  EXPECT_EQ(out, "a\\\"b\\\\c\\nd\\re\\x01\\u2028");
}
