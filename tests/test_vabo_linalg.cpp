/*
 * test_vabo_linalg.cpp -- the vector and matrix arithmetic of
 * refine/vabo_linalg.cpp.
 *
 * The products against hand-written loops, the sums by hand, the tie rules
 * of the extremes; CholeskySolve against hand-solved systems and a Gaussian
 * elimination written here, CholeskyInverse against inverses solved by hand
 * (also of badly scaled matrices); the exact texts of the printers and of
 * the showtemp printout of a failed factorisation.  The trace of the entries
 * is checked with every module's in test_vabo_debug.cpp.
 */
#include "vabo_base.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using vabo_test::format;
using vabo_test::kUntouched;
using vabo_test::output_with;
using vabo_test::printed;

/* A column-major matrix filled with high-entropy values. */
std::vector<double> random_matrix(std::mt19937_64 &rng, int rows, int cols)
{
  std::uniform_real_distribution<double> value(-3.7, 4.3);
  std::vector<double> m(static_cast<size_t>(rows * cols));
  for (double &x : m) x = value(rng);
  return m;
}

double at(const std::vector<double> &m, int rows, int r, int c)
{
  return m[static_cast<size_t>(c * rows + r)];
}

/* Solves A x = b by Gaussian elimination with partial pivoting; A is
 * column-major n x n. */
std::vector<double> gauss_solve(int n, std::vector<double> a,
                                std::vector<double> b)
{
  auto at = [&](int r, int c) -> double & { return a[c * n + r]; };
  for (int col = 0; col < n; ++col) {
    int pivot = col;
    for (int r = col + 1; r < n; ++r)
      if (fabs(at(r, col)) > fabs(at(pivot, col))) pivot = r;
    for (int c = 0; c < n; ++c) std::swap(at(col, c), at(pivot, c));
    std::swap(b[col], b[pivot]);
    for (int r = col + 1; r < n; ++r) {
      double f = at(r, col) / at(col, col);
      for (int c = col; c < n; ++c) at(r, c) -= f * at(col, c);
      b[r] -= f * b[col];
    }
  }
  std::vector<double> x(n);
  for (int r = n - 1; r >= 0; --r) {
    double s = b[r];
    for (int c = r + 1; c < n; ++c) s -= at(r, c) * x[c];
    x[r] = s / at(r, r);
  }
  return x;
}

/* ---- products, sums and extremes ----------------------------------------- */

/* Products of random column-major matrices against hand-written loops:
 * Out (N x L) = op(A) B, op(A) being A (N x M) for mat_mul and the
 * transpose of A (M x N) otherwise, with the terms of row k weighted by
 * W[k] where W is given.  Unit weights must give the plain product, and a
 * row of weight 0 must drop out whatever it holds. */
TEST(Linalg, ProductsMatchHandWrittenLoops)
{
  const double W[6] = {0.75, 2.125, 0.0, 1.5, 0.3125, 4.0625};
  const struct {
    const char *name;
    unsigned seed;
    int N, M, L;
    bool transposed;
    const double *W;
  } cases[] = {
      {"mat_mul", 4242, 3, 4, 2, false, nullptr},
      {"transpose_mul", 777, 3, 5, 4, true, nullptr},
      {"transpose_mul_weight", 31337, 2, 6, 3, true, W},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const int N = c.N, M = c.M, L = c.L;
    std::mt19937_64 rng(c.seed);
    const auto A =
        c.transposed ? random_matrix(rng, M, N) : random_matrix(rng, N, M);
    const auto B = random_matrix(rng, M, L);
    std::vector<double> Out(N * L, 99.0);
    if (!c.transposed)
      mat_mul(Out.data(), A.data(), B.data(), L, M, N);
    else if (c.W == nullptr)
      transpose_mul(Out.data(), A.data(), B.data(), L, M, N);
    else
      transpose_mul_weight(Out.data(), A.data(), B.data(), c.W, L, M, N);
    for (int r = 0; r < N; ++r)
      for (int col = 0; col < L; ++col) {
        double expected = 0.0;
        for (int k = 0; k < M; ++k) {
          const double a = c.transposed ? at(A, M, k, r) : at(A, N, r, k);
          const double term = a * at(B, M, k, col);
          expected += c.W != nullptr ? term * c.W[k] : term;
        }
        EXPECT_DOUBLE_EQ(at(Out, N, r, col), expected) << r << "," << col;
      }
    if (c.W == nullptr) continue;

    const std::vector<double> ones(M, 1.0);
    std::vector<double> Weighted(N * L), Plain(N * L);
    transpose_mul_weight(Weighted.data(), A.data(), B.data(), ones.data(), L, M,
                         N);
    transpose_mul(Plain.data(), A.data(), B.data(), L, M, N);
    EXPECT_EQ(Weighted, Plain);
    auto A2 = A, B2 = B;
    for (int col = 0; col < N; ++col) A2[col * M + 2] = 1e6; /* W[2] is 0 */
    for (int col = 0; col < L; ++col) B2[col * M + 2] = -1e6;
    std::vector<double> Out2(N * L);
    transpose_mul_weight(Out2.data(), A2.data(), B2.data(), c.W, L, M, N);
    EXPECT_EQ(Out2, Out);
  }
}

TEST(Linalg, MatMulWithEmptyInnerDimensionGivesZeros)
{
  std::vector<double> Out(6, 99.0);
  const double dummy = 1.0;
  mat_mul(Out.data(), &dummy, &dummy, 2, 0, 3);
  for (double x : Out) EXPECT_EQ(x, 0.0);
}

TEST(Linalg, VecMulMultipliesMatrixByVector)
{
  /* (1 3; 2 4) column-major times (2.5, -1.25). */
  const double A[4] = {1, 2, 3, 4};
  const double V[2] = {2.5, -1.25};
  double Out[2];
  vec_mul(Out, A, V, 2);
  EXPECT_EQ(Out[0], 1 * 2.5 + 3 * -1.25);
  EXPECT_EQ(Out[1], 2 * 2.5 + 4 * -1.25);
}

TEST(Linalg, VectorSumsAndProducts)
{
  double V[3] = {1.5, -2.25, 4.125};
  const double W[3] = {0.5, 3.0, -1.75};
  const double Weight[3] = {2.0, 0.0, 0.25};
  EXPECT_EQ(scalar_product(V, W, 3), 1.5 * 0.5 + -2.25 * 3.0 + 4.125 * -1.75);
  EXPECT_EQ(scalar_product_weight(V, W, Weight, 3),
            1.5 * 0.5 * 2.0 + 4.125 * -1.75 * 0.25);
  EXPECT_EQ(scalar_components_sum(V, 3), 1.5 - 2.25 + 4.125);
  EXPECT_EQ(scalar_components_sum(V, 0), 0.0);
  vec_add(V, V, W, 3);
  EXPECT_EQ(V[0], 2.0);
  EXPECT_EQ(V[1], 0.75);
  EXPECT_EQ(V[2], 2.375);
}

struct ExtremeCase {
  std::vector<double> values;
  double absmin;
  double absmax;
};

TEST(Linalg, ExtremesKeepTheSignAndTheFirstOfTies)
{
  const ExtremeCase cases[] = {
      {{-3, 2, -2}, 2, -3},
      {{-3, 3}, -3, -3},
      {{0.5, -7.25, 7.25, -0.5}, 0.5, -7.25},
      {{-1.125}, -1.125, -1.125},
      {{}, 0, 0},
  };
  for (const auto &c : cases) {
    const int n = static_cast<int>(c.values.size());
    EXPECT_EQ(scalar_absmin(c.values.data(), n), c.absmin);
    EXPECT_EQ(scalar_absmax(c.values.data(), n), c.absmax);
  }
  const double v[2] = {4.5, -9.0};
  EXPECT_EQ(scalar_absmin(v, -3), 0.0);
  EXPECT_EQ(scalar_absmax(v, -3), 0.0);
}

/* ---- Cholesky solution ------------------------------------------------- */

TEST(Linalg, CholeskySolvesHandSolvedSystems)
{
  struct Case {
    const char *what;
    int n;
    std::vector<double> a, b, x;
    int status;
  };
  // clang-format off
  const Case cases[] = {
      {"2x2 exact", 2, {4, 2, 2, 3}, {2, 1}, {0.5, 0}, 0},
      {"1x1", 1, {6.25}, {-3.75}, {-0.6}, 0},
      {"diagonal 3x3", 3, {4, 0, 0, 0, 0.25, 0, 0, 0, 16}, {2, 1.5, -8},
       {0.5, 6, -0.5}, 0},
      {"indefinite at the second pivot", 2, {1, 2, 2, 1}, {1, 1}, {}, -1},
      {"zero pivot", 2, {0, 0, 0, 2.5}, {1, 1}, {}, -1},
      {"negative first pivot", 1, {-2.5}, {1}, {}, -1},
      {"singular to working precision", 2, {1, 1, 1, 1 + 0x1p-50}, {1, 2}, {},
       -1},
      {"tiny but well conditioned", 2, {4e-30, 2e-30, 2e-30, 3e-30},
       {2e-30, 1e-30}, {0.5, 0}, 0},
      {"badly scaled but well conditioned", 2, {4e8, 2, 2, 3e-8}, {2e4, 1e-4},
       {5e-5, 0}, 0},
  };
  // clang-format on
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<double> x(c.n, kUntouched);
    EXPECT_EQ(CholeskySolve(c.n, c.a.data(), c.b.data(), x.data()), c.status);
    for (int i = 0; i < c.n; ++i)
      EXPECT_DOUBLE_EQ(x[i], c.status == 0 ? c.x[i] : kUntouched);
  }
}

TEST(Linalg, CholeskyReadsOnlyOneTriangle)
{
  // A[i*n + j] with j >= i is read; A[2] (j < i) carries garbage.
  const double a[] = {4, 2, NAN, 3};
  const double b[] = {2, 1};
  double x[2];
  ASSERT_EQ(CholeskySolve(2, a, b, x), 0);
  EXPECT_EQ(x[0], 0.5);
  EXPECT_EQ(x[1], 0.0);
}

TEST(Linalg, CholeskyNotANumberPivotFails)
{
  const double a[] = {NAN, 1, 1, 3};
  const double b[] = {2, 1};
  double x[2] = {kUntouched, kUntouched};
  EXPECT_EQ(CholeskySolve(2, a, b, x), -1);
  EXPECT_EQ(x[0], kUntouched);
}

TEST(Linalg, CholeskyEmptyAndInvalidArguments)
{
  EXPECT_EQ(CholeskySolve(0, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(CholeskySolve(-1, nullptr, nullptr, nullptr), -1);
  const double a[] = {2.5};
  double x[1];
  EXPECT_EQ(CholeskySolve(1, a, nullptr, x), -1);
}

TEST(Linalg, CholeskyAgreesWithGaussianEliminationOnRandomSPD)
{
  std::mt19937 rng(20131209);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  for (int n : {3, 6, 8}) {
    SCOPED_TRACE(n);
    std::vector<double> r(n * n), a(n * n, 0.0), b(n);
    for (double &v : r) v = uniform(rng);
    for (double &v : b) v = 10 * uniform(rng);
    // A = R^T R + 0.5 I is symmetric positive definite.
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        for (int k = 0; k < n; ++k) a[j * n + i] += r[i * n + k] * r[j * n + k];
        if (i == j) a[j * n + i] += 0.5;
      }
    std::vector<double> x(n);
    ASSERT_EQ(CholeskySolve(n, a.data(), b.data(), x.data()), 0);
    std::vector<double> want = gauss_solve(n, a, b);
    for (int i = 0; i < n; ++i)
      EXPECT_NEAR(x[i], want[i], 1e-11 * (1 + fabs(want[i])));
  }
}

/* ---- Cholesky inversion ------------------------------------------------ */

TEST(Linalg, CholeskyInverseInvertsHandSolvedMatrices)
{
  /* ((4, 2), (2, 3)) has the inverse ((3, -2), (-2, 4)) / 8. */
  const double A[4] = {4, 2, 2, 3};
  double Ainv[4];
  ASSERT_EQ(CholeskyInverse(2, A, Ainv), 0);
  const double expected[4] = {0.375, -0.25, -0.25, 0.5};
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(Ainv[k], expected[k], 1e-15) << k;

  /* D B D with D = diag(1e-5, 1, 1e6) and B = ((2,1,0),(1,2,1),(0,1,2)),
   * whose inverse is ((3,-2,1),(-2,4,-2),(1,-2,3)) / 4: the scales of a
   * pixel size, an angle and a distance in micrometres. */
  const double D[3] = {1e-5, 1.0, 1e6};
  const double B[9] = {2, 1, 0, 1, 2, 1, 0, 1, 2};
  const double Binv4[9] = {3, -2, 1, -2, 4, -2, 1, -2, 3};
  double S[9], Sinv[9];
  for (int c = 0; c < 3; ++c)
    for (int r = 0; r < 3; ++r) S[c * 3 + r] = D[r] * B[c * 3 + r] * D[c];
  ASSERT_EQ(CholeskyInverse(3, S, Sinv), 0);
  for (int c = 0; c < 3; ++c)
    for (int r = 0; r < 3; ++r) {
      const double want = Binv4[c * 3 + r] / 4 / (D[r] * D[c]);
      EXPECT_NEAR(Sinv[c * 3 + r], want, 1e-14 * std::fabs(want)) << r << c;
    }
  EXPECT_EQ(CholeskyInverse(0, nullptr, nullptr), 0);
}

TEST(Linalg, CholeskyInverseIsExactlySymmetric)
{
  /* A 6 x 6 normal matrix of uneven rows. */
  const int n = 6;
  double A[n * n] = {}, Ainv[n * n];
  for (int row = 0; row < 40; ++row) {
    double v[n];
    for (int k = 0; k < n; ++k) v[k] = std::cos(1.7 * row * (k + 1) + k);
    for (int c = 0; c < n; ++c)
      for (int r = 0; r < n; ++r) A[c * n + r] += v[r] * v[c];
  }
  ASSERT_EQ(CholeskyInverse(n, A, Ainv), 0);
  for (int c = 0; c < n; ++c)
    for (int r = 0; r < n; ++r) EXPECT_EQ(Ainv[c * n + r], Ainv[r * n + c]);
}

TEST(Linalg, CholeskyInverseRejectsMatricesWithoutAnInverse)
{
  struct Case {
    const char *what;
    std::array<double, 4> A;
  } cases[] = {
      {"dependent columns", {1, 2, 2, 4}},
      {"not positive definite", {1, 2, 2, 1}},
      {"zero diagonal", {0, 0, 0, 1}},
      {"not a number", {1, NAN, NAN, 1}},
      {"infinite", {INFINITY, 0, 0, 1}},
  };
  for (const auto &c : cases) {
    double Ainv[4] = {7.777, 7.777, 7.777, 7.777};
    EXPECT_EQ(CholeskyInverse(2, c.A.data(), Ainv), -1) << c.what;
    for (double v : Ainv) EXPECT_EQ(v, 7.777) << c.what << ": Ainv written";
  }
  EXPECT_EQ(CholeskyInverse(-1, nullptr, nullptr), -1);
  EXPECT_EQ(CholeskyInverse(2, nullptr, nullptr), -1);
}

/* ---- printing ---------------------------------------------------------- */

TEST(Linalg, FprintMatrixPrintsRowsOfTheColumnMajorArray)
{
  const double M[4] = {1, 2, 3, 4};
  const std::string text = printed(
      [&](FILE *out) { EXPECT_EQ(fprint_matrix(out, 2, 2, M, "M"), 0); });
  EXPECT_EQ(text, "             M \n"
                  "             1              3 \n"
                  "             2              4 \n"
                  "\n");
}

TEST(Linalg, FprintMatrix3dPrintsThreeRows)
{
  const double M[9] = {1.5, -2, 3, 4, 5e-7, 6, 7, 8, 123456789};
  const std::string text =
      printed([&](FILE *out) { fprint_matrix_3d(out, M, "R"); });
  EXPECT_EQ(text, "             R \n"
                  "           1.5              4              7 \n"
                  "            -2          5e-07              8 \n"
                  "             3              6    1.23457e+08 \n"
                  "\n");
}

TEST(Linalg, FprintVectorNumbersTheElementsFromZero)
{
  const double V[3] = {2.5, -0.001953125, 1e20};
  const std::string text =
      printed([&](FILE *out) { EXPECT_EQ(fprint_vector(out, 3, V, "B"), 0); });
  EXPECT_EQ(text, "           Num              B\n"
                  "             0            2.5\n"
                  "             1    -0.00195312\n"
                  "             2          1e+20\n"
                  "\n");
}

TEST(Linalg, CholeskyShowtempPrintsTheFactorSoFarWhenItFails)
{
  // ((1, 2), (2, 1)): G(0, 0) = 1 and G(0, 1) = 2, then the second pivot
  // 1 - 4 fails; the second row of G is still empty.
  const double a[] = {1, 2, 2, 1};
  const double b[] = {1, 1};
  double x[2];
  int status = 0;
  const std::string out =
      output_with(VABO_SHOWTEMP, [&] { status = CholeskySolve(2, a, b, x); });
  EXPECT_EQ(status, -1);
  EXPECT_EQ(out, format("%14s \n%14g %14g \n%14g %14g \n\n", "G", 1.0, 2.0, 0.0,
                        0.0));
}

} // namespace
