#include <gtest/gtest.h>

#include <utility>

#include "numeric/offset_array.h"

TEST(OffsetArrays, EmptyRangesGiveUsableHandles) {
  DVector v = dvector(1, 0);
  EXPECT_EQ(v.size(), 0u);
  free_dvector(v, 1, 0);

  DMatrix no_columns = dmatrix(0, 4, 0, -1);
  for (int i = 0; i <= 4; ++i) EXPECT_EQ(no_columns[i].size(), 0u);
  IMatrix no_rows = imatrix(0, -1, 0, 3);
  EXPECT_EQ(no_rows.row_hi() - no_rows.row_lo() + 1, 0);
}

TEST(OffsetArrays, IndexRangesAreTheCallersAndRowsAreSeparate) {
  DMatrix m = dmatrix(1, 3, 1, 3);
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) m[i][j] = 10 * i + j;
  std::swap(m[1], m[2]);
  EXPECT_EQ(m[1][1], 21);
  EXPECT_EQ(m[2][3], 13);
  EXPECT_EQ(m[3][3], 33);

  IVector from_minus_two = ivector(-2, 2);
  for (int i = -2; i <= 2; ++i) from_minus_two[i] = i * i;
  EXPECT_EQ(from_minus_two[-2], 4);
  EXPECT_EQ(from_minus_two[2], 4);

  DMatrix3 t = dmatrix3(0, 1, 1, 2, 5, 6);
  t[1][2][6] = 3.5;
  t[0][1][5] = -1.0;
  EXPECT_EQ(t[1][2][6], 3.5);
  EXPECT_EQ(t[0][1][5], -1.0);
}

TEST(OffsetArrays, CopiesAreDeep) {
  DMatrix a = dmatrix(1, 2, 1, 2);
  a.fill(1.0);
  DMatrix b = a;
  b[1][1] = 5.0;
  EXPECT_EQ(a[1][1], 1.0);
}

TEST(NrerrorDeathTest, WritesThreeLinesAndStops) {
  EXPECT_EXIT(nrerror("allocation failure in vector()"), testing::ExitedWithCode(1),
              "Numerical Recipes run-time error...\nallocation failure in vector\\(\\)\n"
              "...now exiting to system...");
}
