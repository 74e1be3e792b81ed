/*
 * tilt3d -- conversion between 3x3 rotation matrices and tilt angles.
 *
 * A tilt vector TILT (radians) holds the direction of the tilt TILT[0], the
 * tilt angle proper TILT[1] and a turn about z TILT[2]; its matrix is
 * R = Rz(T0) * Ry(-T1) * Rz(-T0 - T2).  Matrices are 3x3 doubles stored by
 * rows (R[i][j] is row i, column j).  tilt3d_matrix builds the matrix of a
 * vector, tilt3d_angles decomposes a (possibly scaled) rotation matrix.
 * Stateless; errors are written to standard error as one line
 * "ERROR: <operation>: <what>" and reported by the result.
 */
#ifndef VABO_TILT3D_H
#define VABO_TILT3D_H

/* The one tolerance of every test of the module. */
extern const double tilt3d_eps; /* 1e-08 */
extern const double tilt3d_pi;  /* 3.141592653589793 */

/* "tilt3d : Kelvardo V1.11 2011-06-16" */
const char *tilt3d_version(void);

/* Determinant by expansion along the first row; 0 (and a message) for a
 * null matrix. */
double tilt3d_determinante(const double A[3][3]);
/* Multiplies all elements by scale (a factor of exactly 1 changes nothing);
 * 0, or -1 for a null matrix. */
int tilt3d_mat_scale(double A[3][3], double scale);
/* Transposes A in place; 0, or -1 (and a message) for a null matrix. */
int tilt3d_mat_transpose(double A[3][3]);
/* 0 if R is a rotation matrix within tilt3d_eps (determinant 1 and rows of
 * length 1), 1 if not (also when an element is not a number), -1 for a null
 * matrix. */
int tilt3d_isnottilt(const double R[3][3]);
/* R = the matrix of TILT; 0, or -1 if either is null. */
int tilt3d_matrix(const double TILT[3], double R[3][3]);
/* R = the inverse (transpose) of the matrix of TILT. */
int tilt3d_inverse_matrix(const double TILT[3], double R[3][3]);
/* TILT = the angles of R, with TILT[0] in (-pi, pi], TILT[1] in [0, pi],
 * TILT[2] in (-pi, pi].  R is rescaled in place to determinant 1.  -1 for a
 * null argument, a determinant below tilt3d_eps (TILT untouched) or a matrix
 * that is no rotation after scaling (TILT = (-pi/2, 0, 0)). */
int tilt3d_angles(double TILT[3], double R[3][3]);

#endif
