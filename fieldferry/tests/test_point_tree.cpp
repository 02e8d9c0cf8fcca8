// The k-d tree answers what a brute-force search answers, ties to the lowest id included, for
// points near the cloud and far from it (inside a hollow cloud, outside its box).
#include <gtest/gtest.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <algorithm>
#include <array>
#include <random>
#include <utility>
#include <vector>

#include "point_tree.h"

namespace {

using fieldferry_core::PointTree;

vtkSmartPointer<vtkPolyData> cloud_of(const std::vector<std::array<double, 3>>& xyz) {
  auto points = vtkSmartPointer<vtkPoints>::New();
  points->SetDataTypeToDouble();
  for (const auto& x : xyz) points->InsertNextPoint(x.data());
  auto data = vtkSmartPointer<vtkPolyData>::New();
  data->SetPoints(points);
  return data;
}

// The k nearest by brute force, ordered by (squared distance, id).
std::vector<std::pair<double, vtkIdType>> brute(const std::vector<std::array<double, 3>>& xyz,
                                                const double x[3], int k) {
  std::vector<std::pair<double, vtkIdType>> all;
  for (size_t i = 0; i < xyz.size(); ++i) {
    double d2 = 0;
    for (int a = 0; a < 3; ++a) d2 += (xyz[i][a] - x[a]) * (xyz[i][a] - x[a]);
    all.emplace_back(d2, static_cast<vtkIdType>(i));
  }
  std::sort(all.begin(), all.end());
  all.resize(std::min<size_t>(all.size(), size_t(k)));
  return all;
}

void expect_brute_force_answers(const std::vector<std::array<double, 3>>& xyz,
                                const std::vector<std::array<double, 3>>& queries) {
  const PointTree tree(cloud_of(xyz));
  for (const auto& q : queries) {
    for (int k : {1, 10}) {
      const auto expected = brute(xyz, q.data(), k);
      vtkIdType ids[PointTree::kMaxNeighbours];
      double d2[PointTree::kMaxNeighbours];
      ASSERT_EQ(tree.nearest_k(q.data(), k, ids, d2), int(expected.size()));
      for (size_t j = 0; j < expected.size(); ++j) {
        EXPECT_EQ(ids[j], expected[j].second) << "query " << q[0] << " " << q[1] << " " << q[2];
        EXPECT_EQ(d2[j], expected[j].first);
      }
    }
    EXPECT_EQ(tree.nearest(q.data()), brute(xyz, q.data(), 1)[0].second);
  }
}

TEST(PointTree, HollowCloudAnsweredAsByBruteForceNearAndFar) {
  // Points on the six faces of the unit cube; queries near the faces, deep inside, and outside.
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<std::array<double, 3>> xyz, queries;
  for (int i = 0; i < 3000; ++i) {
    std::array<double, 3> p = {u(rng), u(rng), u(rng)};
    p[i % 3] = (i / 3) % 2;
    xyz.push_back(p);
  }
  for (int i = 0; i < 300; ++i) {
    const double spread = i < 100 ? 1.0 : i < 200 ? 0.2 : 6.0;
    queries.push_back({0.5 + spread * (u(rng) - 0.5), 0.5 + spread * (u(rng) - 0.5),
                       0.5 + spread * (u(rng) - 0.5)});
  }
  expect_brute_force_answers(xyz, queries);
}

TEST(PointTree, TiesGoToTheLowestIdWhateverTheTreeOrder) {
  // A regular grid, every point twice: each query at a grid point or cell centre has many
  // equally near points.
  std::vector<std::array<double, 3>> xyz, queries;
  for (int copy = 0; copy < 2; ++copy) {
    for (int i = 0; i < 9; ++i) {
      for (int j = 0; j < 9; ++j) {
        for (int k = 0; k < 9; ++k) xyz.push_back({double(i), double(j), double(k)});
      }
    }
  }
  for (double c : {0.0, 0.5, 3.0, 3.5, 8.0, 20.0}) queries.push_back({c, c, 4.0});
  expect_brute_force_answers(xyz, queries);
}

TEST(PointTree, TiesAcrossASplitOnALatticeOfInexactSpacing) {
  // A lattice of spacing 0.1 in shuffled id order, queried at its points, edge midpoints, face
  // and cell centres: thousands of exact ties whose distances and subtree bounds carry rounding.
  const int n = 8;
  std::vector<std::array<double, 3>> xyz, queries;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      for (int k = 0; k < n; ++k) xyz.push_back({0.1 + i * 0.1, 0.2 + j * 0.1, 0.3 + k * 0.1});
    }
  }
  std::mt19937 rng(1);
  std::shuffle(xyz.begin(), xyz.end(), rng);
  for (int i = 0; i < 2 * n - 1; ++i) {
    for (int j = 0; j < 2 * n - 1; ++j) {
      for (int k = 0; k < 2 * n - 1; ++k) {
        queries.push_back({0.1 + 0.05 * i, 0.2 + 0.05 * j, 0.3 + 0.05 * k});
      }
    }
  }
  expect_brute_force_answers(xyz, queries);
}

TEST(PointTree, FewerPointsThanAskedForAndNone) {
  expect_brute_force_answers({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0.2, 0.2, 0.0}});
  const PointTree empty(cloud_of({}));
  const double x[3] = {0, 0, 0};
  EXPECT_EQ(empty.nearest(x), -1);
}

}  // namespace
