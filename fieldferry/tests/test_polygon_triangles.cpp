// The triangles of a polygon cover it and nothing else: every one turns as the polygon does (one
// turned over lies outside it) and their areas add up to the polygon's, from whichever corner the
// polygon is listed.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "polygon_triangles.h"

namespace {

using fieldferry_core::triangulate_polygon;
using Corners = std::vector<std::pair<double, double>>;

// The corners in the plane z = x / 2 (tilted, so that no triangle is checked in the xy plane
// only), listed from corner `first`.
std::vector<double> tilted(const Corners& corners, size_t first) {
  std::vector<double> xyz;
  for (size_t k = 0; k < corners.size(); ++k) {
    const auto& [x, y] = corners[(first + k) % corners.size()];
    xyz.insert(xyz.end(), {x, y, x / 2});
  }
  return xyz;
}

// The signed area of triangle abc projected onto the xy plane (the plane's z = x / 2 keeps signs).
double signed_area(const double* a, const double* b, const double* c) {
  return 0.5 * ((b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]));
}

void expect_covered(const Corners& corners, double area) {
  for (size_t first = 0; first < corners.size(); ++first) {
    const std::vector<double> xyz = tilted(corners, first);
    std::vector<int> triangles;
    triangulate_polygon(xyz.data(), static_cast<vtkIdType>(corners.size()), triangles);
    ASSERT_EQ(triangles.size(), 3 * (corners.size() - 2));
    double total = 0;
    for (size_t t = 0; t < triangles.size(); t += 3) {
      const double part = signed_area(&xyz[3 * triangles[t]], &xyz[3 * triangles[t + 1]],
                                      &xyz[3 * triangles[t + 2]]);
      EXPECT_GE(part, 0) << "triangle " << t / 3 << " turned over, listed from corner " << first;
      total += part;
    }
    EXPECT_NEAR(total, area, 1e-12) << "listed from corner " << first;
  }
}

TEST(PolygonTriangles, BentPolygonsAreCoveredFromEveryFirstCorner) {
  expect_covered({{0, 0}, {1, 0.3}, {2, 0}, {1, 2}}, 1.7);                // arrowhead
  expect_covered({{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}}, 3.0);  // L
  expect_covered({{0, 0}, {3, 0}, {3, 2}, {2, 2}, {2, 1}, {1, 1}, {1, 2}, {0, 2}}, 5.0);  // U
  // A comb of three teeth, its corners on the straight base listed too (a polyhedral face's
  // corners on its neighbours' edges).
  const Corners comb = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {5, 2}, {4, 2},
                        {4, 1}, {3, 1}, {3, 2}, {2, 2}, {2, 1}, {1, 1}, {1, 2}, {0, 2}};
  expect_covered(comb, 8.0);
}

TEST(PolygonTriangles, ConvexPolygonsAreFannedFromTheirFirstCorner) {
  const std::vector<double> hexagon =
      tilted({{2, 0}, {1, std::sqrt(3.0)}, {-1, std::sqrt(3.0)}, {-2, 0}, {-1, -1}, {1, -1}}, 0);
  std::vector<int> triangles;
  triangulate_polygon(hexagon.data(), 6, triangles);
  EXPECT_EQ(triangles, (std::vector<int>{0, 1, 2, 0, 2, 3, 0, 3, 4, 0, 4, 5}));
}

}  // namespace
