#include "SvdSolver.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kMaxSweeps = 30;

// sqrt(a^2 + b^2) scaled by the larger magnitude, so it cannot overflow.
double Hypotenuse(double a, double b) {
    const double absA = std::fabs(a);
    const double absB = std::fabs(b);
    if (absA > absB) {
        const double r = absB / absA;
        return absA * std::sqrt(1.0 + r * r);
    }
    if (absB == 0.0)
        return 0.0;
    const double r = absA / absB;
    return absB * std::sqrt(1.0 + r * r);
}

double WithSignOf(double magnitude, double sign) {
    return sign >= 0.0 ? std::fabs(magnitude) : -std::fabs(magnitude);
}

void ZeroSolution(alglib::real_1d_array& x, int n) {
    x.setlength(std::max(n, 0));
    for (int j = 1; j <= n; ++j)
        At(x, j) = 0.0;
}

}  // namespace

bool SolveLeastSquaresSVD(alglib::real_2d_array& a, int m, int n, alglib::real_1d_array& x) {
    // The bidiagonalisation below needs at least as many rows as unknowns.
    if (n < 1 || m < n || a.rows() < m || a.cols() < n + 1) {
        ZeroSolution(x, n);
        return false;
    }

    alglib::real_1d_array w;  // singular values
    alglib::real_1d_array e;  // super-diagonal of the bidiagonal form
    alglib::real_2d_array v;  // right singular vectors
    w.setlength(n);
    e.setlength(n);
    v.setlength(n, n);

    // Householder reduction to bidiagonal form.
    double g = 0.0;
    double scale = 0.0;
    double norm = 0.0;
    int l = 1;
    for (int i = 1; i <= n; ++i) {
        l = i + 1;
        At(e, i) = scale * g;
        g = 0.0;
        double s = 0.0;
        scale = 0.0;
        for (int k = i; k <= m; ++k)
            scale += std::fabs(At(a, k, i));
        if (scale != 0.0) {
            for (int k = i; k <= m; ++k) {
                At(a, k, i) /= scale;
                s += At(a, k, i) * At(a, k, i);
            }
            double f = At(a, i, i);
            g = -WithSignOf(std::sqrt(s), f);
            const double h = f * g - s;
            At(a, i, i) = f - g;
            for (int j = l; j <= n; ++j) {
                s = 0.0;
                for (int k = i; k <= m; ++k)
                    s += At(a, k, i) * At(a, k, j);
                f = s / h;
                for (int k = i; k <= m; ++k)
                    At(a, k, j) += f * At(a, k, i);
            }
            for (int k = i; k <= m; ++k)
                At(a, k, i) *= scale;
        }
        At(w, i) = scale * g;

        g = 0.0;
        s = 0.0;
        scale = 0.0;
        if (i != n) {
            for (int k = l; k <= n; ++k)
                scale += std::fabs(At(a, i, k));
            if (scale != 0.0) {
                for (int k = l; k <= n; ++k) {
                    At(a, i, k) /= scale;
                    s += At(a, i, k) * At(a, i, k);
                }
                const double f = At(a, i, l);
                g = -WithSignOf(std::sqrt(s), f);
                const double h = f * g - s;
                At(a, i, l) = f - g;
                for (int k = l; k <= n; ++k)
                    At(e, k) = At(a, i, k) / h;
                for (int j = l; j <= m; ++j) {
                    s = 0.0;
                    for (int k = l; k <= n; ++k)
                        s += At(a, j, k) * At(a, i, k);
                    for (int k = l; k <= n; ++k)
                        At(a, j, k) += s * At(e, k);
                }
                for (int k = l; k <= n; ++k)
                    At(a, i, k) *= scale;
            }
        }
        norm = std::max(norm, std::fabs(At(w, i)) + std::fabs(At(e, i)));
    }

    // Accumulation of the right-hand transformations into V.
    for (int i = n; i >= 1; --i) {
        if (i < n) {
            if (g != 0.0) {
                // Two divisions keep a possible underflow away.
                for (int j = l; j <= n; ++j)
                    At(v, j, i) = (At(a, i, j) / At(a, i, l)) / g;
                for (int j = l; j <= n; ++j) {
                    double s = 0.0;
                    for (int k = l; k <= n; ++k)
                        s += At(a, i, k) * At(v, k, j);
                    for (int k = l; k <= n; ++k)
                        At(v, k, j) += s * At(v, k, i);
                }
            }
            for (int j = l; j <= n; ++j) {
                At(v, i, j) = 0.0;
                At(v, j, i) = 0.0;
            }
        }
        At(v, i, i) = 1.0;
        g = At(e, i);
        l = i;
    }

    // Accumulation of the left-hand transformations into U, over the matrix.
    for (int i = n; i >= 1; --i) {
        l = i + 1;
        g = At(w, i);
        for (int j = l; j <= n; ++j)
            At(a, i, j) = 0.0;
        if (g != 0.0) {
            g = 1.0 / g;
            for (int j = l; j <= n; ++j) {
                double s = 0.0;
                for (int k = l; k <= m; ++k)
                    s += At(a, k, i) * At(a, k, j);
                const double f = (s / At(a, i, i)) * g;
                for (int k = i; k <= m; ++k)
                    At(a, k, j) += f * At(a, k, i);
            }
            for (int j = i; j <= m; ++j)
                At(a, j, i) *= g;
        } else {
            for (int j = i; j <= m; ++j)
                At(a, j, i) = 0.0;
        }
        At(a, i, i) += 1.0;
    }

    // Diagonalisation of the bidiagonal form by implicit shifted QR, from the
    // last singular value to the first.
    for (int k = n; k >= 1; --k) {
        for (int sweep = 0;; ++sweep) {
            // Look for a negligible off-diagonal element (split) or diagonal
            // element (cancellation needed). e(1) is zero by construction.
            bool cancel = true;
            int nm = 0;
            for (l = k; l >= 1; --l) {
                nm = l - 1;
                if (l == 1 || std::fabs(At(e, l)) + norm == norm) {
                    cancel = false;
                    break;
                }
                if (std::fabs(At(w, nm)) + norm == norm)
                    break;
            }
            if (cancel) {
                double c = 0.0;
                double s = 1.0;
                for (int i = l; i <= k; ++i) {
                    const double f = s * At(e, i);
                    At(e, i) = c * At(e, i);
                    if (std::fabs(f) + norm == norm)
                        break;
                    g = At(w, i);
                    double h = Hypotenuse(f, g);
                    At(w, i) = h;
                    h = 1.0 / h;
                    c = g * h;
                    s = -f * h;
                    for (int j = 1; j <= m; ++j) {
                        const double y = At(a, j, nm);
                        const double z = At(a, j, i);
                        At(a, j, nm) = y * c + z * s;
                        At(a, j, i) = z * c - y * s;
                    }
                }
            }
            double z = At(w, k);
            if (l == k) {
                // Converged; singular values are kept non-negative.
                if (z < 0.0) {
                    At(w, k) = -z;
                    for (int j = 1; j <= n; ++j)
                        At(v, j, k) = -At(v, j, k);
                }
                break;
            }
            // Not converged within the limit: keep the value and go on.
            if (sweep == kMaxSweeps)
                break;

            // Shift from the bottom 2 x 2 minor.
            double x0 = At(w, l);
            nm = k - 1;
            double y = At(w, nm);
            g = At(e, nm);
            double h = At(e, k);
            double f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2.0 * h * y);
            g = Hypotenuse(f, 1.0);
            f = ((x0 - z) * (x0 + z) + h * ((y / (f + WithSignOf(g, f))) - h)) / x0;

            // Next QR transformation.
            double c = 1.0;
            double s = 1.0;
            for (int j = l; j <= nm; ++j) {
                const int i = j + 1;
                g = At(e, i);
                y = At(w, i);
                h = s * g;
                g = c * g;
                z = Hypotenuse(f, h);
                At(e, j) = z;
                c = f / z;
                s = h / z;
                f = x0 * c + g * s;
                g = g * c - x0 * s;
                h = y * s;
                y *= c;
                for (int jj = 1; jj <= n; ++jj) {
                    const double vx = At(v, jj, j);
                    const double vz = At(v, jj, i);
                    At(v, jj, j) = vx * c + vz * s;
                    At(v, jj, i) = vz * c - vx * s;
                }
                z = Hypotenuse(f, h);
                At(w, j) = z;
                if (z != 0.0) {
                    z = 1.0 / z;
                    c = f * z;
                    s = h * z;
                }
                f = c * g + s * y;
                x0 = c * y - s * g;
                for (int jj = 1; jj <= m; ++jj) {
                    const double uy = At(a, jj, j);
                    const double uz = At(a, jj, i);
                    At(a, jj, j) = uy * c + uz * s;
                    At(a, jj, i) = uz * c - uy * s;
                }
            }
            At(e, l) = 0.0;
            At(e, k) = f;
            At(w, k) = x0;
        }
    }

    // Back-substitution over the singular values above the tolerance.
    double largest = 0.0;
    for (int j = 1; j <= n; ++j)
        largest = std::max(largest, At(w, j));
    const double tolerance = n * largest * 5e-16;

    alglib::real_1d_array t;
    t.setlength(n);
    for (int j = 1; j <= n; ++j) {
        double sum = 0.0;
        for (int i = 1; i <= m; ++i)
            sum += At(a, i, j) * At(a, i, n + 1);
        At(t, j) = sum;
    }

    bool allKept = true;
    ZeroSolution(x, n);
    for (int j = 1; j <= n; ++j) {
        if (At(w, j) <= tolerance) {
            allKept = false;
            continue;
        }
        for (int i = 1; i <= n; ++i)
            At(v, i, j) /= At(w, j);
        for (int i = 1; i <= n; ++i)
            At(x, i) += At(v, i, j) * At(t, j);
    }
    return allKept;
}
