#include "weighted_fit.h"

#include <vtkMath.h>

#include <algorithm>
#include <cmath>

namespace fieldferry_core {

namespace {

// Solves the 6 x 6 system a x = b in place by elimination with partial pivoting; false where a
// pivot vanishes against the matrix's size (the neighbours do not resolve the height).
bool solve6(double a[6][6], double b[6]) {
  double scale = 0;
  for (int r = 0; r < 6; ++r) scale = std::max(scale, std::abs(a[r][r]));
  for (int c = 0; c < 6; ++c) {
    int pivot = c;
    for (int r = c + 1; r < 6; ++r) {
      if (std::abs(a[r][c]) > std::abs(a[pivot][c])) pivot = r;
    }
    if (!(std::abs(a[pivot][c]) > 1e-14 * scale)) return false;
    std::swap(a[c], a[pivot]);
    std::swap(b[c], b[pivot]);
    for (int r = c + 1; r < 6; ++r) {
      const double f = a[r][c] / a[c][c];
      for (int k = c; k < 6; ++k) a[r][k] -= f * a[c][k];
      b[r] -= f * b[c];
    }
  }
  for (int c = 5; c >= 0; --c) {
    for (int k = c + 1; k < 6; ++k) b[c] -= a[c][k] * b[k];
    b[c] /= a[c][c];
  }
  return true;
}

// Neighbours lying on a surface (d: their offsets from their weighted centroid, w: the weights)
// as a height over their plane (axes 0 and 1), quadratic in the in-plane coordinates u, v:
// h = q0 + q1 u + q2 v + q3 u^2 + q4 u v + q5 v^2, fitted by weighted least squares.
bool fit_height(const double (*d)[3], const double* w, int n, const double axes[3][3],
                double q[6]) {
  double normal[6][6] = {};
  std::fill(q, q + 6, 0.0);
  for (int k = 0; k < n; ++k) {
    double s[3] = {0, 0, 0};
    for (int j = 0; j < 3; ++j) {
      for (int a = 0; a < 3; ++a) s[j] += d[k][a] * axes[a][j];
    }
    const double basis[6] = {1, s[0], s[1], s[0] * s[0], s[0] * s[1], s[1] * s[1]};
    for (int r = 0; r < 6; ++r) {
      q[r] += w[k] * basis[r] * s[2];
      for (int c = 0; c < 6; ++c) normal[r][c] += w[k] * basis[r] * basis[c];
    }
  }
  return solve6(normal, q);
}

double height(const double q[6], double u, double v) {
  return q[0] + q[1] * u + q[2] * v + q[3] * u * u + q[4] * u * v + q[5] * v * v;
}

// Moves t (the target's coordinates along the axes, from the centroid) to its foot on the
// fitted surface: down the surface's normal below it, one step, which the small slopes of a
// surface over its own best-fit plane make close to the exact foot.
void to_foot(const double q[6], double t[3]) {
  const double above = t[2] - height(q, t[0], t[1]);
  const double du = q[1] + 2 * q[3] * t[0] + q[4] * t[1];
  const double dv = q[2] + q[4] * t[0] + 2 * q[5] * t[1];
  t[0] += above * du;
  t[1] += above * dv;
  t[2] = height(q, t[0], t[1]);
}

}  // namespace


// With weights w_k summing to 1, the weighted centroid m and the eigenpairs (l_j, e_j) of the
// weighted covariance sum w_k (d_k - m)(d_k - m)^T: value = sum w_k f_k + sum over resolved j of
// g_j t_j, slope g_j = sum w_k s_kj f_k / l_j with s_kj = (d_k - m).e_j, and t_j = -m.e_j the
// point's offset from the centroid along e_j.
int weighted_linear_fit(double (*d)[3], int n, double magnitude2, double* c,
                        bool at_surface_foot) {
  double far2 = 0;
  for (int k = 0; k < n; ++k) far2 = std::max(far2, vtkMath::Dot(d[k], d[k]));
  if (n < 2 || far2 == 0) return 0;
  const double soft2 = far2 / 100;
  double* w = c;  // each weight turns into its coefficient below
  double total = 0, m[3] = {0, 0, 0};
  for (int k = 0; k < n; ++k) total += w[k] = 1 / (vtkMath::Dot(d[k], d[k]) + soft2);
  for (int k = 0; k < n; ++k) {
    w[k] /= total;
    for (int a = 0; a < 3; ++a) m[a] += w[k] * d[k][a];
  }
  double cov[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
  for (int k = 0; k < n; ++k) {
    for (int a = 0; a < 3; ++a) d[k][a] -= m[a];
    for (int a = 0; a < 3; ++a) {
      for (int b = 0; b < 3; ++b) cov[a][b] += w[k] * d[k][a] * d[k][b];
    }
  }
  double spread[3], axes[3][3];
  double* cov_rows[3] = {cov[0], cov[1], cov[2]};
  double* axes_rows[3] = {axes[0], axes[1], axes[2]};
  vtkMath::Jacobi(cov_rows, spread, axes_rows);  // descending; eigenvectors are the columns
  // Points that coincide but for rounding (a spread of a billionth of the coordinates' size)
  // are one point: their "slopes" would be noise divided by noise.
  if (!(spread[0] > 1e-18 * (far2 + magnitude2)) || !std::isfinite(spread[0])) return 0;
  double t[3] = {0, 0, 0};
  int resolved = 0;
  for (int j = 0; j < 3 && spread[j] > kLinearFitFlatness * spread[0]; ++j, ++resolved) {
    for (int a = 0; a < 3; ++a) t[j] -= m[a] * axes[a][j];
  }
  double q[6];
  if (at_surface_foot && resolved == 3 && spread[2] < kLinearFitSurface * spread[1] &&
      fit_height(d, w, n, axes, q)) {
    to_foot(q, t);
  }
  for (int k = 0; k < n; ++k) {
    double slope_part = 0;
    for (int j = 0; j < resolved; ++j) {
      double s = 0;
      for (int a = 0; a < 3; ++a) s += d[k][a] * axes[a][j];
      slope_part += s * t[j] / spread[j];
    }
    c[k] *= 1 + slope_part;
  }
  return resolved;
}

}  // namespace fieldferry_core
