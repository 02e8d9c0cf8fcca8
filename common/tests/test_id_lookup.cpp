#include <gtest/gtest.h>

#include "common/errors.h"
#include "common/id_lookup.h"

namespace {

TEST(IdLookup, FindsPositionsAndReportsAbsentIds) {
  const uint32_t ids[] = {101, 7, 250};
  kelm::IdLookup lookup(ids, 3);
  EXPECT_TRUE(lookup.is_dense());
  EXPECT_EQ(lookup.find(101), 0u);
  EXPECT_EQ(lookup.find(7), 1u);
  EXPECT_EQ(lookup.find(250), 2u);
  EXPECT_EQ(lookup.find(8), kelm::IdLookup::kAbsent);     // inside the table, never written
  EXPECT_EQ(lookup.find(9999), kelm::IdLookup::kAbsent);  // beyond the table
}

TEST(IdLookup, RepeatedIdKeepsLastPosition) {
  const uint32_t ids[] = {5, 6, 5};
  EXPECT_EQ(kelm::IdLookup(ids, 3).find(5), 2u);
}

TEST(IdLookup, SparseIdsUseHashTableWithSameAnswers) {
  const uint32_t ids[] = {1, 4294967295u, 3000000000u};
  kelm::IdLookup lookup(ids, 3);
  EXPECT_FALSE(lookup.is_dense());
  EXPECT_EQ(lookup.find(4294967295u), 1u);
  EXPECT_EQ(lookup.find(3000000000u), 2u);
  EXPECT_EQ(lookup.find(2), kelm::IdLookup::kAbsent);
}

TEST(IdLookup, AtNamesIdAndBody) {
  const uint32_t ids[] = {1};
  kelm::IdLookup lookup(ids, 1);
  try {
    lookup.at(1234, "node", "Part 1/Body 2");
    FAIL() << "expected a key_error";
  } catch (const kelm::key_error& e) {
    EXPECT_STREQ(e.what(), "node ID 1234 is not in body 'Part 1/Body 2'");
  }
}

TEST(IdLookup, EmptyLookupFindsNothing) {
  kelm::IdLookup lookup(nullptr, 0);
  EXPECT_EQ(lookup.find(0), kelm::IdLookup::kAbsent);
}

}  // namespace
