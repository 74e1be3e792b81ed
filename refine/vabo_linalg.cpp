/*
 * vabo_linalg.cpp -- small dense vector and matrix arithmetic of the
 * refinement, on flat column-major arrays owned by the caller.
 *
 * Entry points: mat_mul, transpose_mul, transpose_mul_weight, vec_mul,
 * vec_add, the scalar sums and extremes, and the debug printers
 * fprint_vector, fprint_matrix and fprint_matrix_3d.  Element (r, c) of a
 * matrix with nrows rows is at c * nrows + r.  Nothing here knows about
 * detectors; dimensions and storage are the caller's responsibility.
 */
#include "vabo_base.h"
#include "vabo_internal.h"

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

} // namespace

void mat_mul(double *Out, const double *A, const double *B, int L, int M,
             int N)
{
  vabo_trace("mat_mul");
  for (int l = 0; l < L; ++l)
    for (int n = 0; n < N; ++n) {
      double &out = Out[flat(l, N, n)];
      out = 0.0;
      for (int m = 0; m < M; ++m) out += A[flat(m, N, n)] * B[flat(l, M, m)];
    }
}

void transpose_mul(double *Out, const double *A, const double *B, int L,
                   int M, int N)
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
  double sum = 0.0;
  for (int i = 0; i < N; ++i) sum += W[i];
  return sum;
}

double scalar_absmin(const double *V, int N)
{
  vabo_trace("scalar_absmin");
  if (N <= 0) return 0.0;
  double candidate = V[0];
  for (int i = 1; i < N; ++i)
    if (std::fabs(V[i]) < std::fabs(candidate)) candidate = V[i];
  return candidate;
}

double scalar_absmax(const double *V, int N)
{
  vabo_trace("scalar_absmax");
  if (N <= 0) return 0.0;
  double candidate = V[0];
  for (int i = 1; i < N; ++i)
    if (std::fabs(V[i]) > std::fabs(candidate)) candidate = V[i];
  return candidate;
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
