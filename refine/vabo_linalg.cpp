/*
 * vabo_linalg.cpp -- small dense vector and matrix arithmetic of the
 * refinement, on flat column-major arrays owned by the caller.
 *
 * Entry points: mat_mul, transpose_mul, transpose_mul_weight, vec_mul,
 * vec_add, the scalar sums and extremes; the Cholesky solution
 * (CholeskySolve, and vabo_cholesky_solve telling why it failed) and
 * inversion (CholeskyInverse) of symmetric positive definite matrices; and
 * the debug printers fprint_vector, fprint_matrix and fprint_matrix_3d.
 * Element (r, c) of a matrix with nrows rows is at c * nrows + r.  Nothing
 * here knows about detectors or least squares; dimensions and storage are
 * the caller's responsibility.
 */
#include "vabo_base.h"
#include "vabo_internal.h"
#include "vabo_scratch.h"

#include <cmath>
#include <cstddef>
#include <cstdio>

namespace {

/* Flat index of a (minor, major) pair, computed wide so that large
 * dimensions cannot overflow an int. */
inline std::ptrdiff_t flat(int major, int stride, int minor)
{
  return static_cast<std::ptrdiff_t>(major) * stride + minor;
}

/* The extremes by magnitude of V[0] ... V[N-1] (none for N <= 0). */
VaboExtremes extremes(const double *V, int N)
{
  VaboExtremes found;
  for (int i = 0; i < N; ++i) found.offer(V[i]);
  return found;
}

/* The Cholesky factorisation A = G^T G of a symmetric n x n matrix, G upper
 * triangular, row by row of G.  Both are column-major, as every matrix
 * here: element (r, c) at c * n + r.  element(i, j) gives A[i * n + j] for
 * j >= i, which is element (j, i) of the lower triangle and, A being
 * symmetric, equals A(i, j); the entries above the diagonal are never read.
 * G(k, i) stands at G[i * n + k]: the sums run over the column above each
 * diagonal entry.  pivot_ok(i, sum) accepts the value whose square root
 * becomes G(i, i).  false at the first pivot it refuses, with G filled up
 * to there. */
template <typename Element, typename PivotOk>
bool cholesky_factor(size_t n, double *G, Element element, PivotOk pivot_ok)
{
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = i; j < n; ++j) {
      double sum = element(i, j);
      for (size_t k = i; k-- > 0;) sum -= G[i * n + k] * G[j * n + k];
      if (j == i) {
        if (!pivot_ok(i, sum)) return false;
        G[i * n + i] = std::sqrt(sum);
      } else {
        G[j * n + i] = sum / G[i * n + i];
      }
    }
  }
  return true;
}

/* Solves G^T G X = B for the factor of cholesky_factor: G^T Y = B forward,
 * then G X = Y backward.  b(i) gives B[i]; Y is workspace of n doubles. */
template <typename Rhs>
void cholesky_substitute(size_t n, const double *G, Rhs b, double *Y, double *X)
{
  for (size_t i = 0; i < n; ++i) {
    double sum = b(i);
    for (size_t k = 0; k < i; ++k) sum -= G[i * n + k] * Y[k];
    Y[i] = sum / G[i * n + i];
  }
  for (size_t i = n; i-- > 0;) {
    double sum = Y[i];
    for (size_t k = n - 1; k > i; --k) sum -= G[k * n + i] * X[k];
    X[i] = sum / G[i * n + i];
  }
}

} // namespace

void mat_mul(double *Out, const double *A, const double *B, int L, int M, int N)
{
  vabo_trace("mat_mul");
  for (int l = 0; l < L; ++l)
    for (int n = 0; n < N; ++n) {
      double &out = Out[flat(l, N, n)];
      out = 0.0;
      for (int m = 0; m < M; ++m) out += A[flat(m, N, n)] * B[flat(l, M, m)];
    }
}

void transpose_mul(double *Out, const double *A, const double *B, int L, int M,
                   int N)
{
  vabo_trace("transpose_mul");
  for (int l = 0; l < L; ++l)
    for (int n = 0; n < N; ++n) {
      double &out = Out[flat(l, N, n)];
      out = 0.0;
      for (int m = 0; m < M; ++m) out += A[flat(n, M, m)] * B[flat(l, M, m)];
    }
}

void transpose_mul_weight(double *Out, const double *A, const double *B,
                          const double *W, int L, int M, int N)
{
  vabo_trace("transpose_mul_weight");
  for (int l = 0; l < L; ++l)
    for (int n = 0; n < N; ++n) {
      double &out = Out[flat(l, N, n)];
      out = 0.0;
      for (int m = 0; m < M; ++m)
        out += (A[flat(n, M, m)] * B[flat(l, M, m)]) * W[m];
    }
}

void vec_mul(double *VOut, const double *A, const double *V, int N)
{
  vabo_trace("vec_mul");
  mat_mul(VOut, A, V, 1, N, N);
}

void vec_add(double *VOut, const double *A, const double *B, int N)
{
  vabo_trace("vec_add");
  for (int i = 0; i < N; ++i) VOut[i] = A[i] + B[i];
}

double scalar_product(const double *V, const double *W, int N)
{
  vabo_trace("scalar_product");
  double sum = 0.0;
  for (int i = 0; i < N; ++i) sum += V[i] * W[i];
  return sum;
}

double scalar_product_weight(const double *V, const double *W,
                             const double *Weight, int N)
{
  vabo_trace("scalar_product_weight");
  double sum = 0.0;
  for (int i = 0; i < N; ++i) sum += V[i] * W[i] * Weight[i];
  return sum;
}

double scalar_components_sum(const double *W, int N)
{
  vabo_trace("scalar_components_sum");
  return N > 0 ? vabo_sum(W, static_cast<size_t>(N)) : 0.0;
}

double scalar_absmin(const double *V, int N)
{
  vabo_trace("scalar_absmin");
  return extremes(V, N).min;
}

double scalar_absmax(const double *V, int N)
{
  vabo_trace("scalar_absmax");
  return extremes(V, N).max;
}

/* Refuses a pivot that is not positive (or not a number), or that is only
 * rounding noise of its diagonal entry (A singular to working precision);
 * with showtemp prints the factor so far when it fails, and the factor and
 * G^T G when it succeeds.  Up to VABO_MAX_UNKNOWNS the workspace is local,
 * so the refinement's systems never fail for want of memory; larger
 * systems whose workspace cannot be obtained end with NoWorkspace. */
VaboCholesky vabo_cholesky_solve(int n, const double *A, const double *B,
                                 double *X)
{
  vabo_trace("CholeskySolve");
  if (n < 0) return VaboCholesky::BadArgument;
  if (n > 0 && !(A && B && X)) return VaboCholesky::BadArgument;

  const size_t un = static_cast<size_t>(n);
  const bool showtemp = vabo_showtemp();
  ScratchArray<VABO_MAX_UNKNOWNS * VABO_MAX_UNKNOWNS> G, GTG;
  ScratchArray<VABO_MAX_UNKNOWNS> Y;
  if (!G.obtain(un * un) || !Y.obtain(un) ||
      !GTG.obtain(showtemp ? un * un : 0))
    return VaboCholesky::NoWorkspace;

  const auto element = [&](size_t i, size_t j) { return A[i * un + j]; };
  const auto pivot_ok = [&](size_t i, double sum) {
    return sum > 0.0 && !(sum <= VABO_MIN_PIVOT_RATIO * A[i * un + i]);
  };
  if (!cholesky_factor(un, G.data(), element, pivot_ok)) {
    if (showtemp) fprint_matrix(stdout, un, un, G.data(), "G");
    return VaboCholesky::NotPositiveDefinite;
  }

  if (showtemp) {
    fprint_matrix(stdout, un, un, G.data(), "G");
    transpose_mul(GTG.data(), G.data(), G.data(), n, n, n);
    fprint_matrix(stdout, un, un, GTG.data(), "GTG");
  }

  cholesky_substitute(
      un, G.data(), [B](size_t i) { return B[i]; }, Y.data(), X);
  return VaboCholesky::Solved;
}

int CholeskySolve(int n, const double *A, const double *B, double *X)
{
  return vabo_cholesky_solve(n, A, B, X) == VaboCholesky::Solved ? 0 : -1;
}

/* Scales A to C = D^-1/2 A D^-1/2 (unit diagonal), factorises C = G^T G,
 * and forms A^-1 = D^-1/2 C^-1 D^-1/2, C^-1 column by column from the unit
 * vectors and made exactly symmetric.  0; -1 with Ainv untouched. */
int CholeskyInverse(int n, const double *A, double *Ainv)
{
  if (n < 0) return -1;
  if (n > 0 && !(A && Ainv)) return -1;
  const size_t un = static_cast<size_t>(n);

  ScratchArray<VABO_MAX_UNKNOWNS> scale, Y;
  ScratchArray<VABO_MAX_UNKNOWNS * VABO_MAX_UNKNOWNS> G, X;
  if (!scale.obtain(un) || !G.obtain(un * un) || !Y.obtain(un) ||
      !X.obtain(un * un))
    return -1;

  for (size_t i = 0; i < un; ++i) {
    const double diagonal = A[i * un + i];
    if (!(diagonal > 0.0) || !std::isfinite(diagonal)) return -1;
    scale[i] = 1.0 / std::sqrt(diagonal);
  }

  const auto element = [&](size_t i, size_t j) {
    return A[i * un + j] * scale[i] * scale[j];
  };
  const auto pivot_ok = [](size_t, double sum) {
    return sum > VABO_MIN_PIVOT_RATIO && std::isfinite(sum);
  };
  if (!cholesky_factor(un, G.data(), element, pivot_ok)) return -1;

  /* Column c of C^-1 solves G^T G x = e_c. */
  for (size_t c = 0; c < un; ++c)
    cholesky_substitute(
        un, G.data(), [c](size_t i) { return (i == c) ? 1.0 : 0.0; }, Y.data(),
        &X[c * un]);

  /* The two triangles differ by rounding; their mean, times a product of
   * scales formed in one multiplication, is exactly symmetric. */
  for (size_t c = 0; c < un; ++c)
    for (size_t r = 0; r < un; ++r)
      Ainv[c * un + r] =
          (0.5 * (X[c * un + r] + X[r * un + c])) * (scale[r] * scale[c]);
  return 0;
}

int fprint_vector(FILE *out, size_t ndata, const double *V, const char *label)
{
  fprintf(out, "%14s %14s\n", "Num", label ? label : "");
  for (size_t i = 0; i < ndata; ++i)
    fprintf(out, "%14lu %14lg\n", static_cast<unsigned long>(i), V[i]);
  fprintf(out, "\n");
  return 0;
}

int fprint_matrix(FILE *out, size_t nrows, size_t ncols, const double *M,
                  const char *label)
{
  fprintf(out, "%14s \n", label ? label : "");
  for (size_t r = 0; r < nrows; ++r) {
    for (size_t c = 0; c < ncols; ++c) fprintf(out, "%14g ", M[r + nrows * c]);
    fprintf(out, "\n");
  }
  fprintf(out, "\n");
  return 0;
}

int fprint_matrix_3d(FILE *out, const double *M, const char *label)
{
  return fprint_matrix(out, 3, 3, M, label);
}
