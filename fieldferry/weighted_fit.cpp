#include "weighted_fit.h"

#include <vtkMath.h>

#include <algorithm>
#include <cmath>

namespace fieldferry_core {

// With weights w_k summing to 1, the weighted centroid m and the eigenpairs (l_j, e_j) of the
// weighted covariance sum w_k (d_k - m)(d_k - m)^T: value = sum w_k f_k + sum over resolved j of
// g_j t_j, slope g_j = sum w_k s_kj f_k / l_j with s_kj = (d_k - m).e_j, and t_j = -m.e_j the
// point's offset from the centroid along e_j.
int weighted_linear_fit(double (*d)[3], int n, double magnitude2, double* c) {
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
