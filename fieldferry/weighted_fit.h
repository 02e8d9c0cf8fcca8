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

// Coefficients c_k (n of them, summing to 1) with which sum c_k f_k is the value at x of the
// linear function fitted to values f_k at the points x + d_k, weighted 1 / (|d|^2 + d_far^2 / 100)
// (near points count most, never infinitely). `d` is overwritten. `magnitude2` is the squared
// size of the coordinates, below whose billionth a spread is rounding. Returns the number of
// directions resolved (0 to 3); 0 when the points coincide, with c left unset.
int weighted_linear_fit(double (*d)[3], int n, double magnitude2, double* c);

}  // namespace fieldferry_core
