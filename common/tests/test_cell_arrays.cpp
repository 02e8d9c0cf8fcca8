#include <gtest/gtest.h>
#include <vtkIdList.h>
#include <vtkNew.h>

#include <stdexcept>

#include "common/cell_arrays.h"
#include "common/errors.h"

namespace {

TEST(CellsFromBlocks, MixedWidthsGiveOffsetsPerBlock) {
  auto connectivity = vtkSmartPointer<vtkIdTypeArray>::New();
  for (vtkIdType v : {0, 1, 2, 0, 2, 3, 0, 1, 2, 3}) connectivity->InsertNextValue(v);
  auto cells = kelm::cells_from_blocks(connectivity, {{3, 2}, {4, 1}});
  ASSERT_EQ(cells->GetNumberOfCells(), 3);
  EXPECT_EQ(cells->GetCellSize(0), 3);
  EXPECT_EQ(cells->GetCellSize(2), 4);
  vtkNew<vtkIdList> points;
  cells->GetCellAtId(1, points);
  EXPECT_EQ(points->GetId(0), 0);
  EXPECT_EQ(points->GetId(2), 3);
}

TEST(CellsFromCountPrefixed, ParsesCellsOfDifferentSizes) {
  const uint32_t list[] = {1, 4, 2, 0, 1, 3, 0, 1, 2};
  auto cells = kelm::cells_from_count_prefixed(list, 9, 5, 1, 3, 3, "cells");
  ASSERT_EQ(cells->GetNumberOfCells(), 3);
  EXPECT_EQ(cells->GetCellSize(0), 1);
  EXPECT_EQ(cells->GetCellSize(2), 3);
}

TEST(CellsFromCountPrefixed, RejectsWhatWouldReadOutOfBounds) {
  const uint32_t index_too_large[] = {3, 0, 1, 5};
  EXPECT_THROW(kelm::cells_from_count_prefixed(index_too_large, 4, 5, 1, 3, -1, "c"),
               kelm::value_error);
  const uint32_t truncated[] = {3, 0, 1};
  EXPECT_THROW(kelm::cells_from_count_prefixed(truncated, 3, 5, 1, 3, -1, "c"), kelm::value_error);
  const uint32_t zero_count[] = {0, 3, 0, 1, 2};
  EXPECT_THROW(kelm::cells_from_count_prefixed(zero_count, 5, 5, 1, 3, -1, "c"), kelm::value_error);
  const uint32_t one_cell[] = {2, 0, 1};
  EXPECT_THROW(kelm::cells_from_count_prefixed(one_cell, 3, 5, 1, 3, 2, "c"), kelm::value_error);
}

}  // namespace
