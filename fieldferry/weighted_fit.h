// The weighted least-squares linear fit that "Linear fit" evaluates at a target point and the
// face-to-point reconstruction evaluates at a source point: one solver, so that both resolve the
// same directions and give up on the same neighbourhoods.
#pragma once

#include <vtkType.h>

namespace fieldferry_core {

// Ratio of variances, i.e. a spread 1/1000 of the largest: a direction whose weighted spread is
// below this times the largest carries no slope (a cloud on a surface is flat across it,
// neighbours on a line resolve only that line).
inline constexpr double kLinearFitFlatness = 1e-6;
// Ratio of variances, i.e. a spread across a tenth of the spread along the surface: neighbours
// this flat lie on a surface, and a point off it (a target across a gap) takes the fit's value at
// its foot on the surface instead of one extrapolated from the curvature across the gap.
inline constexpr double kLinearFitSurface = 1e-2;

// Coefficients c_k (n of them, summing to 1) with which sum c_k f_k is the value at x of the
// linear function fitted to values f_k at the points x + d_k, weighted 1 / (|d|^2 + d_far^2 / 100)
// (near points count most, never infinitely). `d` is overwritten. `magnitude2` is the squared
// size of the coordinates, below whose billionth a spread is rounding. Returns the number of
// directions resolved (0 to 3); 0 when the points coincide, with c left unset. With
// `at_surface_foot`, neighbours lying on a surface are fitted as a quadratic height over their
// plane and the fit is evaluated at x's foot on it.
int weighted_linear_fit(double (*d)[3], int n, double magnitude2, double* c,
                        bool at_surface_foot = false);

}  // namespace fieldferry_core
