#pragma once
// Least-squares solution of a linear system through a singular value
// decomposition; the solver of the robust fits and the marker matcher.

#include <ap.h>

// The solver and its callers index rows 1..m and columns 1..n+1 of the
// augmented matrix, and 1..n of the solution, as the textbook formulation of
// the method does. ALGLIB stores 0-based; these two accessors are the only
// place where the two meet.
inline double& At(alglib::real_2d_array& a, int row, int col) {
    return a(row - 1, col - 1);
}
inline double& At(alglib::real_1d_array& v, int i) {
    return v(i - 1);
}

// Solves the m x n system whose right-hand side is column n+1 of `a` (at
// least m rows and n+1 columns). `a` is overwritten: its first n columns
// become U. `x` is resized to n. Singular values at or below
// n * largest * 5e-16 are dropped, giving the minimum-norm solution over the
// rest; the result is false when any was dropped. m < n, n < 1 or a matrix
// smaller than m x (n+1) give false and a zero solution.
// Lets alglib::ap_error through when the work storage cannot be allocated.
bool SolveLeastSquaresSVD(alglib::real_2d_array& a, int m, int n, alglib::real_1d_array& x);
