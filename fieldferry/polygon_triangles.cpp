#include "polygon_triangles.h"

#include <vtkMath.h>
#include <vtkSMPThreadLocal.h>
#include <vtkSMPTools.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace fieldferry_core {

namespace {

// The sine of the turn below which a corner counts as lying on a straight edge: the extra corners
// of a polyhedral mesh's faces lie on their neighbours' edges, to rounding.
constexpr double kStraight = 1e-9;

const double* corner(const double* xyz, vtkIdType k) { return xyz + 3 * k; }

// Newell's normal: twice the area vector of a planar polygon, the best-fit plane's normal of a
// warped one.
void newell_normal(const double* xyz, vtkIdType n, double normal[3]) {
  normal[0] = normal[1] = normal[2] = 0;
  for (vtkIdType k = 0; k < n; ++k) {
    const double* a = corner(xyz, k);
    const double* b = corner(xyz, k + 1 < n ? k + 1 : 0);
    normal[0] += (a[1] - b[1]) * (a[2] + b[2]);
    normal[1] += (a[2] - b[2]) * (a[0] + b[0]);
    normal[2] += (a[0] - b[0]) * (a[1] + b[1]);
  }
}

// Two unit vectors spanning the plane of unit normal n, so that (u, v, n) is right-handed: a
// polygon turning about n turns counter-clockwise in (u, v).
void plane_axes(const double n[3], double u[3], double v[3]) {
  int least = 0;
  for (int a = 1; a < 3; ++a) {
    if (std::fabs(n[a]) < std::fabs(n[least])) least = a;
  }
  double axis[3] = {0, 0, 0};
  axis[least] = 1;
  vtkMath::Cross(axis, n, u);
  vtkMath::Normalize(u);
  vtkMath::Cross(n, u, v);
}

struct Flat {
  double x, y;
};

double turn(const Flat& a, const Flat& b, const Flat& c) {
  return (b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x);
}

// Whether p lies in the counter-clockwise triangle abc or on its border.
bool in_triangle(const Flat& a, const Flat& b, const Flat& c, const Flat& p) {
  return turn(a, b, p) >= 0 && turn(b, c, p) >= 0 && turn(c, a, p) >= 0;
}

bool same(const Flat& a, const Flat& b) { return a.x == b.x && a.y == b.y; }

// Whether no other corner left lies in the triangle of the corners at i - 1, i, i + 1 of `left`.
bool is_ear(const std::vector<Flat>& flat, const std::vector<int>& left, std::size_t i) {
  const std::size_t m = left.size();
  const Flat &a = flat[left[(i + m - 1) % m]], &b = flat[left[i]], &c = flat[left[(i + 1) % m]];
  if (!(turn(a, b, c) > 0)) return false;
  for (std::size_t j = 0; j < m; ++j) {
    const Flat& p = flat[left[j]];
    if (same(p, a) || same(p, b) || same(p, c)) continue;
    if (in_triangle(a, b, c, p)) return false;
  }
  return true;
}

// Clips ears off the polygon projected onto its plane. A polygon with no ear left (one that
// crosses itself, or is warped out of its plane past recognition) loses its most convex corner,
// so that every polygon gets its n - 2 triangles.
void clip_ears(const std::vector<Flat>& flat, std::vector<int>& out) {
  std::vector<int> left(flat.size());
  for (std::size_t k = 0; k < left.size(); ++k) left[k] = static_cast<int>(k);
  while (left.size() > 3) {
    const std::size_t m = left.size();
    std::size_t ear = m, most_convex = 0;
    double most = -std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < m && ear == m; ++i) {
      if (is_ear(flat, left, i)) ear = i;
      const double t = turn(flat[left[(i + m - 1) % m]], flat[left[i]], flat[left[(i + 1) % m]]);
      if (t > most) most = t, most_convex = i;
    }
    if (ear == m) ear = most_convex;
    out.insert(out.end(), {left[(ear + m - 1) % m], left[ear], left[(ear + 1) % m]});
    left.erase(left.begin() + static_cast<std::ptrdiff_t>(ear));
  }
  out.insert(out.end(), left.begin(), left.end());
}

}  // namespace

bool convex_polygon(const double* xyz, vtkIdType n) {
  if (n <= 3) return true;
  double normal[3];
  newell_normal(xyz, n, normal);
  // No area for a triangle to stray out of.
  if (!(vtkMath::Dot(normal, normal) > 0)) return true;
  double in[3];
  for (int d = 0; d < 3; ++d) in[d] = xyz[d] - corner(xyz, n - 1)[d];
  for (vtkIdType k = 0; k < n; ++k) {
    const double* b = corner(xyz, k);
    const double* c = corner(xyz, k + 1 < n ? k + 1 : 0);
    double out[3], cross[3];
    for (int d = 0; d < 3; ++d) out[d] = c[d] - b[d];
    vtkMath::Cross(in, out, cross);
    const double turn = vtkMath::Dot(cross, normal);
    if (turn < 0 &&
        turn < -kStraight * vtkMath::Norm(in) * vtkMath::Norm(out) * vtkMath::Norm(normal)) {
      return false;
    }
    std::copy(out, out + 3, in);
  }
  return true;
}

void triangulate_polygon(const double* xyz, vtkIdType n, std::vector<int>& out) {
  if (convex_polygon(xyz, n)) {
    for (int t = 1; t + 1 < n; ++t) out.insert(out.end(), {0, t, t + 1});
    return;
  }
  double normal[3], u[3], v[3];
  newell_normal(xyz, n, normal);
  vtkMath::Normalize(normal);
  plane_axes(normal, u, v);
  std::vector<Flat> flat(static_cast<std::size_t>(n));
  for (vtkIdType k = 0; k < n; ++k) {
    double r[3];
    for (int d = 0; d < 3; ++d) r[d] = corner(xyz, k)[d] - xyz[d];
    flat[k] = {vtkMath::Dot(r, u), vtkMath::Dot(r, v)};
  }
  clip_ears(flat, out);
}

double triangle_area(const double a[3], const double b[3], const double c[3]) {
  double ab[3], ac[3], n[3];
  for (int k = 0; k < 3; ++k) {
    ab[k] = b[k] - a[k];
    ac[k] = c[k] - a[k];
  }
  vtkMath::Cross(ab, ac, n);
  return 0.5 * vtkMath::Norm(n);
}

double polygon_area(const double* xyz, vtkIdType n) {
  std::vector<int> triangles;
  triangulate_polygon(xyz, n, triangles);
  double area = 0;
  for (std::size_t t = 0; t < triangles.size(); t += 3) {
    area += triangle_area(corner(xyz, triangles[t]), corner(xyz, triangles[t + 1]),
                          corner(xyz, triangles[t + 2]));
  }
  return area;
}

void PolygonTriangles::add(vtkIdType polygon, const double* xyz, vtkIdType n) {
  if (n > 3 && !convex_polygon(xyz, n)) add_bent(polygon, xyz, n);
}

void PolygonTriangles::add_all(vtkIdType count, vtkIdType most,
                               const std::function<vtkIdType(vtkIdType, double*)>& corners_of) {
  vtkSMPThreadLocal<std::vector<vtkIdType>> found;
  vtkSMPTools::For(0, count, [&](vtkIdType begin, vtkIdType end) {
    std::vector<vtkIdType>& bent = found.Local();
    std::vector<double> xyz(3 * static_cast<std::size_t>(most));
    for (vtkIdType p = begin; p < end; ++p) {
      const vtkIdType n = corners_of(p, xyz.data());
      if (n > 3 && !convex_polygon(xyz.data(), n)) bent.push_back(p);
    }
  });
  std::vector<vtkIdType> all;
  for (const std::vector<vtkIdType>& bent : found) all.insert(all.end(), bent.begin(), bent.end());
  std::sort(all.begin(), all.end());
  std::vector<double> xyz(3 * static_cast<std::size_t>(most));
  for (vtkIdType p : all) add_bent(p, xyz.data(), corners_of(p, xyz.data()));
}

std::size_t PolygonTriangles::bent_index(vtkIdType polygon) const {
  const auto at = std::lower_bound(bent_.begin(), bent_.end(), polygon);
  return at != bent_.end() && *at == polygon ? static_cast<std::size_t>(at - bent_.begin())
                                             : bent_.size();
}

void PolygonTriangles::add_bent(vtkIdType polygon, const double* xyz, vtkIdType n) {
  bent_.push_back(polygon);
  first_.push_back(corners_.size());
  triangulate_polygon(xyz, n, corners_);
}

}  // namespace fieldferry_core
