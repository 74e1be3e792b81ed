/*
 * vabo_base -- detector geometry refinement.
 *
 * Refines pixel sizes, point of normal incidence, distance and three
 * rotations of a flat detector from calibration points (TwoTheta, i1, i2,
 * weight) by weighted Gauss-Newton least squares; on request the targets
 * are the angles of rings of known d-spacing at a wavelength that is
 * refined with the geometry (VaboOptions.Spacing).  Entry point:
 * VaboOptimize.  The pieces, each in its own source:
 *   vabo_debug.cpp   the debug word and its printout
 *   vabo_order.cpp   the ordered parameter record and the text forms
 *   vabo_linalg.cpp  column-major vector and matrix arithmetic, Cholesky
 *                    solution and inversion
 *   vabo_model.cpp   the forward model and its analytic derivatives
 *   vabo_beam.cpp    beam centre, beam distance, tilt, the BeamPar text
 *   vabo_steplog.cpp the iteration log "vabo_iteration.spec"
 *   vabo_refine.cpp  the loop and its stopping rules, deviations, statistics
 *   vabo_covariance.cpp  covariance and standard errors of a refinement
 *   vabo_reject.cpp  sigma clipping of outliers around the refinement
 * VaboOptimize is Gauss-Newton without damping; VaboOptimizeEx adds
 * Levenberg-Marquardt damping and VaboOptimizeRobust rounds of sigma
 * clipping, both only when asked.
 * The model knows nothing of least squares and the algebra nothing of
 * detectors.  All diagnostic output goes to standard output.
 *
 * Units: pixel sizes and distances in metres (any one length unit works),
 * pixel coordinates in pixels, angles in radians.
 */
#ifndef VABO_BASE_H
#define VABO_BASE_H

#include <cstddef>
#include <cstdio>

/* ---------------------------------------------------------------------
 * Parameters and statistics
 * ------------------------------------------------------------------- */

/* Indexes of the parameter vector (natural order). */
typedef enum VaboParam {
  Pix1 = 0, /* pixel size along i1, m */
  Pix2,     /* pixel size along i2, m */
  Cen1,     /* point of normal incidence, i1, pixels */
  Cen2,     /* point of normal incidence, i2, pixels */
  Dis,      /* sample to point of normal incidence, m */
  Rot1,     /* rotation about axis 1, rad */
  Rot2,     /* rotation about axis 2, rad */
  Rot3,     /* rotation about axis 3, rad */
  NParams
} VaboParam;

/* Indexes of the statistics vector. */
typedef enum VaboStat {
  RStdDev = 0, /* weighted standard deviation of the residuals, rad */
  RMinDev,     /* residual of smallest magnitude, sign kept, rad */
  RMaxDev,     /* residual of largest magnitude, sign kept, rad */
  RTotal,      /* sum of the weights */
  RNData,      /* number of points */
  RNopt,       /* number of refined parameters (with the wavelength when
                  it is refined) */
  NStats
} VaboStat;

/* "pix1" ... "rot3" and a null entry; the default modes 0 0 1 1 1 1 1 0;
 * "stdev" ... "nopt" and a null entry. */
extern const char *const VaboParamNames[NParams + 1];
extern const int VaboParamDefault[NParams];
extern const char *const VaboStatNames[NStats + 1];

const char *const *VaboParamNamesArray(void);
const int *VaboParamDefaultArray(void);

/* The parameter vector reordered so that the nopt refined parameters come
 * first (in natural order), the kept ones after them (in natural order).
 * Index is a permutation of 0 ... 7; parameter p is refined exactly when
 * Index[p] < nopt.  A plain value; Names and StatNames point into the
 * static tables. */
typedef struct VaboOrdered {
  int Index[NParams];            /* ordered position of parameter p */
  const char *Names[NParams];    /* name at ordered position j */
  double Par[NParams];           /* value at ordered position j */
  double ParDev[NParams];        /* deviation at position j; -1 = none */
  const char *StatNames[NStats]; /* names of the statistics */
  double Stat[NStats];           /* statistics; -1 = none */
  size_t nopt;                   /* number of refined parameters */
} VaboOrdered;

/* ---------------------------------------------------------------------
 * Debug switches (vabo_debug.cpp)
 * ------------------------------------------------------------------- */

#define VABO_VERBOSE 0x01   /* one line per step, labelled result lines */
#define VABO_LEVEL 0x06     /* two-bit level read by the front end */
#define VABO_DATA 0x08      /* show start parameters and input tables */
#define VABO_SHOWTEMP 0x10  /* print intermediate vectors and matrices */
#define VABO_VABO 0x20      /* module trace and file messages */
#define VABO_LIST 0x40      /* keyed-list tracing */
#define VABO_SAVESTEPS 0x80 /* write the iteration log */

int VaboDebugSet(int debug);
/* Stores the word and its level; with VABO_VABO prints the switches. */
int vabo_debug_set(int debug);
int VABODebug(void);
int VABOLevel(void);
const char *VaboUsage2str(void);
const char *vabo_usage2str(void);
int fprint_debug(FILE *out);
int fprint_debug_usage(FILE *out);

/* ---------------------------------------------------------------------
 * Ordering and text forms (vabo_order.cpp)
 * Text forms never write past bufsiz - 1 and always terminate.
 * ------------------------------------------------------------------- */

/* Size of the buffers into which the text forms are written: by the module
 * for its printers and the iteration log, by the front end for its lines
 * and messages.  Far above the longest text (eight fields of under 40
 * characters). */
inline constexpr size_t VaboLineSize = 1024;

/* Fills Ordered from Par (natural order) and ParMode (non-zero refines; a
 * null ParMode refines all eight).  Deviations and statistics become -1.
 * Returns nopt. */
size_t order_Par(VaboOrdered *Ordered, const double *Par, const int *ParMode);
/* Copies back to natural order; null outputs are skipped.  Returns nopt. */
size_t reorder_Par(const VaboOrdered *Ordered, double *Par, double *ParDev,
                   double *Stat);
char *sprint_parameters(char *buffer, size_t bufsiz, const double *Par);
char *sprint_statistics(char *buffer, size_t bufsiz, const double *Stat);
char *sprint_ordered_par(char *buffer, size_t bufsiz,
                         const VaboOrdered *Ordered);
char *sprint_ordered_dev(char *buffer, size_t bufsiz,
                         const VaboOrdered *Ordered);
int fprint_ordered(FILE *out, const VaboOrdered *Ordered);

/* ---------------------------------------------------------------------
 * Vector and matrix arithmetic (vabo_linalg.cpp)
 * Matrices are flat, column-major: element (r, c) of a matrix with nrows
 * rows is at c * nrows + r.  Out must not overlap A or B.
 * ------------------------------------------------------------------- */

/* Out (N x L) = A (N x M) * B (M x L) */
void mat_mul(double *Out, const double *A, const double *B, int L, int M,
             int N);
/* Out (N x L) = A^T * B, A is M x N, B is M x L */
void transpose_mul(double *Out, const double *A, const double *B, int L, int M,
                   int N);
/* Out (N x L) = A^T * diag(W) * B */
void transpose_mul_weight(double *Out, const double *A, const double *B,
                          const double *W, int L, int M, int N);
/* VOut = A * V, A is N x N */
void vec_mul(double *VOut, const double *A, const double *V, int N);
/* VOut = A + B (VOut may be A) */
void vec_add(double *VOut, const double *A, const double *B, int N);
/* Sums over i = 0 ... N-1 ascending (0 for N <= 0): V.W, V.diag(Weight).W,
 * and the sum of the components of W. */
double scalar_product(const double *V, const double *W, int N);
double scalar_product_weight(const double *V, const double *W,
                             const double *Weight, int N);
double scalar_components_sum(const double *W, int N);
/* The element of smallest (largest) magnitude, sign kept; 0 for N <= 0. */
double scalar_absmin(const double *V, int N);
double scalar_absmax(const double *V, int N);
/* Smallest Cholesky pivot relative to its diagonal entry (the squared sine
 * between that column and the span of the earlier ones, so independent of
 * the parameters' units).  Columns that depend on each other exactly leave
 * rounding noise of ~1e-16 here; the normal equations square the condition,
 * so below 1e-13 fewer than three digits of a solution would survive.  Both
 * CholeskySolve and CholeskyInverse call a matrix below it singular. */
inline constexpr double VABO_MIN_PIVOT_RATIO = 1e-13;

/* Solves A X = B for a symmetric positive definite n x n matrix A, by
 * A = G^T G with G upper triangular.  Column-major as every matrix here:
 * the factorisation reads A[i*n + j] for j >= i only, the lower triangle,
 * which for a symmetric A holds the same numbers as the upper one.  0; -1
 * with X untouched when A is not positive definite to working precision (a
 * pivot not positive, not a number, or at or below VABO_MIN_PIVOT_RATIO
 * times its diagonal entry), an argument is missing or no workspace can be
 * obtained (which needs no heap up to VABO_MAX_UNKNOWNS). */
int CholeskySolve(int n, const double *A, const double *B, double *X);
/* Ainv = A^-1 for a symmetric positive definite n x n matrix A (both
 * column-major; only the entries A[i*n + j] with j >= i are read).  The
 * matrix is scaled to unit diagonal before its Cholesky factorisation, so
 * parameters of very different units lose no accuracy; the inverse is
 * exactly symmetric.  0; -1 with Ainv untouched when A is not positive
 * definite to working precision (the pivot test of CholeskySolve), holds a
 * value that is not a number, an argument is missing or no workspace is
 * obtained (which needs no heap up to VABO_MAX_UNKNOWNS). */
int CholeskyInverse(int n, const double *A, double *Ainv);
/* Debug printers: a vector as numbered rows, a matrix row by row under its
 * label, each followed by an empty line.  Return 0. */
int fprint_vector(FILE *out, size_t ndata, const double *V, const char *label);
int fprint_matrix(FILE *out, size_t nrows, size_t ncols, const double *M,
                  const char *label);
int fprint_matrix_3d(FILE *out, const double *M, const char *label);

/* ---------------------------------------------------------------------
 * Detector geometry model (vabo_model.cpp)
 * ------------------------------------------------------------------- */

/* R[i][j] as tabled: read column-major it is Rz(rot3) Ry(rot2) Rx(rot1). */
void rotation_matrix_3d(double R[3][3], double rot1, double rot2, double rot3);
/* VOut = ((i1 - cen1) pix1, (i2 - cen2) pix2, -dis); null VOut: nothing. */
void i2normal_3d(double *VOut, double pix1, double pix2, double cen1,
                 double cen2, double dis, double i1, double i2);
/* Laboratory vector from the sample to pixel (i1, i2); returns X. */
double *X_vector_3d(double *X, const VaboOrdered *Ordered, double i1,
                    double i2);
/* Column j (DX[3j .. 3j+2]) = dX/dp for the refined parameter p at ordered
 * position j < nopt; other columns untouched; null DX: nothing. */
void DX_matrix_3d(double *DX, const VaboOrdered *Ordered, double i1, double i2);
double Azimuth_3d(const double *X); /* rad, from axis 1 towards axis 2 */
double Angle_3d(const double *X);   /* TwoTheta, rad, in [0, pi] */
/* d Angle_3d / d (parameter at ordered position Param); 0 for null input
 * or a position outside 0 ... 7. */
double DAngle_3d(const double *X, const double *DX, int Param);
/* Residual: measured angle minus model angle at (i1, i2), rad. */
double DiffAngle(const VaboOrdered *Ordered, double angle, double i1,
                 double i2);

/* ---------------------------------------------------------------------
 * Beam parameters (vabo_beam.cpp)
 * ------------------------------------------------------------------- */

/* Pixel I whose laboratory vector points along X; -1 (I unchanged) when X
 * is parallel to the detector plane or a pixel size is 0. */
int Vabo2Image_X3(double *I, const double *X, const double *Par);
/* Pixel hit by the primary beam (direction (0, 0, -1)); status as above. */
int VaboBeamCenter(double *I, const double *Par);
/* Distance from the sample to the beam centre along the beam; 0, or the
 * failing status of VaboBeamCenter with *pdistance untouched. */
int VaboBeamDistance(double *pdistance, const double *Par);
/* Tilt angles (tilt3d_angles) of the detector rotation; 0, or -1 when they
 * cannot be computed (not a rotation, e.g. a rotation that is not a number). */
int VaboTilt(double *tilt, const double *Par);
/* The beam parameters of Par in the order of VaboBeamNames -- pix1, pix2,
 * beam centre (2), beam distance, tilt (3) -- into Beam, and into Has
 * whether each could be computed (those that cannot are 0).  A null Par
 * has none. */
void VaboBeamValues(double Beam[NParams], bool Has[NParams], const double *Par);
/* pix1 pix2 beam centre (2) beam distance tilt (3) as "%12lg " fields, "-"
 * where unavailable; cut at bufsiz - 1.  Returns buffer (its working storage
 * is local, so it never fails). */
char *sprint_beam_parameters(char *buffer, size_t bufsiz, const double *Par);

/* ---------------------------------------------------------------------
 * Iteration log (vabo_steplog.cpp)
 * ------------------------------------------------------------------- */

#define VABO_ITERATION_LOG "vabo_iteration.spec"

/* Writes one scan for step to VABO_ITERATION_LOG (truncate: new file, else
 * append).  0, or -1 (with one line on standard error naming the file and
 * the system's reason) when the file cannot be written. */
int vabo_save_step(int step, size_t ndata, const VaboOrdered *Ordered,
                   const double *Angle, const double *I1, const double *I2,
                   const double *Weight, int truncate);
/* As vabo_save_step, for a damped step: the first of the empty lines of
 * the scan carries "# Damping = <damping>", the damping the step was made
 * with (dimensionless). */
int vabo_save_step_damping(int step, size_t ndata, const VaboOrdered *Ordered,
                           const double *Angle, const double *I1,
                           const double *I2, const double *Weight, int truncate,
                           double damping);
/* As vabo_save_step for a refinement with a refined wavelength: the first
 * empty line (the next after "# Damping", when damping is given) carries
 * "# Wavelength = <wavelength>" (m); Angle holds the targets at it. */
int vabo_save_step_wavelength(int step, size_t ndata,
                              const VaboOrdered *Ordered, const double *Angle,
                              const double *I1, const double *I2,
                              const double *Weight, int truncate,
                              const double *damping, double wavelength);

/* ---------------------------------------------------------------------
 * Least-squares refinement (vabo_refine.cpp)
 * ------------------------------------------------------------------- */

/* Threshold below which a step's change of the standard deviation ends the
 * loop: changes this small are rounding noise. */
inline constexpr double VABO_MIN_CHANGE = 1e-16;
/* A Jacobian column whose weighted norm is at or below this has no
 * deviation (the parameter does not act on any angle). */
inline constexpr double VABO_MIN_PARTS = 1e-30;
/* A refined parameter whose Jacobian column has a weighted root mean square
 * at or below this (rad of TwoTheta per unit of the parameter: m, pixel or
 * rad) acts on no angle, and the normal equations are singular.  rot3 (a
 * turn about the beam) leaves only rounding noise of ~1e-16 there, while
 * the weakest real influence, a PONI shift of one micrometre pixel seen
 * from 100 m, is 1e-8. */
inline constexpr double VABO_MIN_INFLUENCE = 1e-12;

/* Refines the parameters with non-zero ParMode (null: all) from the start
 * values Par until the standard deviation is at most maxdev (a stopping
 * threshold, rad, fed by the option mindev=; the functions below call it
 * stopdev), it stops changing, or maxstep steps are done.  0 success with ParOpt, ParDev,
 * ParStat written; 1 failure (a missing argument, no storage, a refined
 * parameter without influence on any angle, normal equations not positive
 * definite, log not writable) with the outputs untouched, the reason kept
 * for VaboOptimizeLastFailure. */
int VaboOptimize(double *ParOpt, double *ParDev, double *ParStat,
                 const double *Par, const int *ParMode, size_t ndata,
                 const double *Angle, const double *I1, const double *I2,
                 const double *Weight, double maxdev, int maxstep);
/* As VaboOptimize; *psteps (if given) receives on every path the number of
 * refinement steps completed (before the failure, when it fails). */
int VaboOptimizeSteps(double *ParOpt, double *ParDev, double *ParStat,
                      const double *Par, const int *ParMode, size_t ndata,
                      const double *Angle, const double *I1, const double *I2,
                      const double *Weight, double stopdev, int maxstep,
                      int *psteps);
/* The loops of VaboOptimizeEx. */
typedef enum VaboMethod {
  VaboGaussNewton = 0,   /* full Gauss-Newton steps: VaboOptimize's loop */
  VaboLevenbergMarquardt /* damped steps, taken only when they improve */
} VaboMethod;

/* Levenberg-Marquardt damping.  Far from the minimum the fit has other,
 * poor minima (a detector turned edge-on at a few centimetres), and full
 * Gauss-Newton steps from a start far off often head for them; first steps
 * close to the scaled gradient, and a damping that falls only slowly while
 * steps succeed, keep to the descent that leads to the minimum near the
 * true geometry.  From 200 starts with the centre off by up to 1000
 * pixels, the tilts by 0.15 rad and the distance by 50 % (LaB6, 2000
 * points) these values reach it in 90 %, against 65 % for a first damping
 * of 1e-3 lowered tenfold and 36 % for plain Gauss-Newton; near the
 * minimum they cost a few steps more.  A rejected step raises the damping
 * tenfold; after VABO_LM_MAX_REJECTED rejected steps in a row it has grown
 * by 1e10 and the steps tried are far too short to improve the fit. */
inline constexpr double VABO_LM_START_DAMPING = 100.0; /* first step's */
inline constexpr double VABO_LM_RAISE = 10.0; /* after a rejected step */
inline constexpr double VABO_LM_LOWER = 2.0;  /* divisor after a step made */
inline constexpr int VABO_LM_MAX_REJECTED = 10;

/* Most unknowns of one refinement: the eight geometry parameters and the
 * wavelength (VaboOptions.Spacing).  The normal equations and the
 * covariance have room for this many. */
inline constexpr int VABO_MAX_UNKNOWNS = NParams + 1;

/* The normal equations that a refinement ends with, at its refined
 * parameters and with its weights: all that the covariance needs, so that
 * it takes no other walk over the points (VaboCovarianceNormal).  nopt
 * counts the wavelength when it was refined (wavelength non-zero); it is
 * then the last unknown, after the refined geometry parameters. */
typedef struct VaboNormal {
  int valid;   /* non-zero: the fields below are filled */
  size_t nopt; /* number of refined unknowns, at most VABO_MAX_UNKNOWNS */
  /* J^T W J, nopt x nopt, column-major: the refined parameters in natural
   * order, then the wavelength if it is refined */
  double ATA[VABO_MAX_UNKNOWNS * VABO_MAX_UNKNOWNS];
  double squares; /* sum of W r^2 over the points, rad^2 */
  double total;   /* sum of the weights */
  size_t npoints; /* points of positive weight */
  int wavelength; /* non-zero: the last of the nopt unknowns is the
                     wavelength (m, or the unit of VaboOptions.Spacing) */
} VaboNormal;

/* Options of VaboOptimizeEx; all zero (or a null pointer) is VaboOptimize.
 * continued and first_step let one run refine in several calls (as the
 * rounds of VaboOptimizeRobust do) and still number its steps, and its
 * iteration log, as one sequence. */
typedef struct VaboOptions {
  int method;         /* VaboMethod */
  double damping;     /* Levenberg-Marquardt damping of the first step;
                         0 (or not positive): VABO_LM_START_DAMPING */
  int continued;      /* non-zero: this call continues a refinement: the
                         iteration log is appended to without a scan of the
                         start values */
  int first_step;     /* steps done before this call: step k of the call is
                         shown and logged as first_step + k */
  VaboNormal *Normal; /* out (may be null): the normal equations at the
                         refined parameters after a success; not valid
                         after a failure, nor when the vabo trace or the
                         showtemp printouts take the model point by point */
  /* The wavelength.  With Spacing given, the target of point i is not
   * Angle[i] (which is then not read and may be null) but the angle of its
   * ring, 2 asin(wavelength / (2 Spacing[i])) (VaboTargetAngles), and with
   * wavelength_refined the wavelength is refined as one more unknown, the
   * last, after rot3.  Spacing and wavelength share one length unit (m);
   * every point's ring must be reachable, 0 < wavelength < 2 Spacing[i],
   * at the start and at every parameter set the loop evaluates: otherwise
   * the refinement fails (VaboOptimizeUnreachable), except that a damped
   * step that leaves a ring behind is only rejected. */
  const double *Spacing;  /* in (may be null): d-spacing of the ring of each
                             of the ndata points, m, each > 0; null: no
                             wavelength, the targets are Angle */
  double wavelength;      /* in: wavelength at the start, m, > 0 */
  int wavelength_refined; /* in: non-zero refines the wavelength, zero keeps
                             it (the targets are then fixed) */
  double *WavelengthOpt;  /* out (may be null): the wavelength after a
                             success, m; untouched after a failure or
                             without Spacing */
  double *WavelengthDev;  /* out (may be null): its deviation, m, by the rule
                             of ParDev (the standard deviation over the
                             weighted root mean square of its Jacobian
                             column; -1 without a value), 0 when kept;
                             written as WavelengthOpt is */
} VaboOptions;

/* As VaboOptimizeSteps, with Options (null: the defaults).  With
 * VaboLevenbergMarquardt each step solves the normal equations with
 * Marquardt's damping, (J^T W J + lambda diag(J^T W J)) d = J^T W r, and is
 * taken only when the weighted standard deviation falls (lambda is then
 * divided by VABO_LM_LOWER, else multiplied by VABO_LM_RAISE and the step
 * tried again); *psteps counts the steps taken.  The stopping rules are
 * VaboOptimize's, and the loop also ends after VABO_LM_MAX_REJECTED
 * rejected steps in a row.  It fails as VaboOptimize does, also when the
 * undamped normal equations are singular at a point the loop reaches
 * (damping would hide parameters that the points do not determine).  With
 * Options->Spacing the targets follow the wavelength (see VaboOptions); a
 * refined wavelength is corrected with the parameters in every step, and
 * with verbose each step line ends in ", wavelength=<value>". */
int VaboOptimizeEx(double *ParOpt, double *ParDev, double *ParStat,
                   const double *Par, const int *ParMode, size_t ndata,
                   const double *Angle, const double *I1, const double *I2,
                   const double *Weight, double stopdev, int maxstep,
                   const VaboOptions *Options, int *psteps);
/* Why the last call of VaboOptimize, VaboOptimizeSteps, VaboOptimizeEx or
 * VaboOptimizeRobust in this process returned 1: a caller tells a
 * refinement that failed on its data from one that ran out of memory. */
typedef enum VaboOptimizeFailure {
  VaboOptimizeOk = 0,      /* the last call succeeded (or none was made) */
  VaboOptimizeBadArgument, /* missing tables, more points than indexable,
                              or an unknown method */
  VaboOptimizeNoMemory,    /* working storage (steps or deviations) failed */
  VaboOptimizeSingular,    /* normal equations not positive definite */
  VaboOptimizeLogFailed,   /* the iteration log could not be written */
  VaboOptimizeNoInfluence, /* a refined parameter acts on no angle (its
                              Jacobian column is at most VABO_MIN_INFLUENCE,
                              as rot3's, a turn about the beam) */
  VaboOptimizeUnreachable  /* with d-spacings: the wavelength at the start,
                              or after a Gauss-Newton step, reaches not every
                              ring (wavelength >= 2 d), or a d-spacing or the
                              wavelength is not a positive number */
} VaboOptimizeFailure;
int VaboOptimizeLastFailure(void);
/* TwoTheta[i] = 2 asin(wavelength / (2 Spacing[i])), rad, the diffraction
 * angle of the ring of d-spacing Spacing[i] (the wavelength's length unit).
 * 0; -1 with TwoTheta untouched when an argument is missing, the wavelength
 * is not a positive finite number, or a spacing is not one or is at most
 * wavelength / 2 (the wavelength does not reach that ring). */
int VaboTargetAngles(double *TwoTheta, size_t ndata, const double *Spacing,
                     double wavelength);
/* d TwoTheta / d wavelength of the ring of d-spacing d (rad per unit of
 * length): 2 / sqrt(4 d^2 - wavelength^2).  Not a number where the ring is
 * not reached. */
double VaboTargetSlope(double spacing, double wavelength);
/* VaboB[i] = DiffAngle at point i. */
void get_VaboB(size_t ndata, double *VaboB, const VaboOrdered *Ordered,
               const double *Angle, const double *I1, const double *I2);
/* Jacobian of the model angle, ndata x nopt column-major; returns nopt. */
int get_VaboA(size_t ndata, double *VaboA, const VaboOrdered *Ordered,
              const double *Angle, const double *I1, const double *I2);
/* Fills Ordered->ParDev and Ordered->Stat at the current parameters; -1
 * (record unchanged) when its working storage cannot be obtained. */
int get_VaboParDev(size_t ndata, VaboOrdered *Ordered, const double *Angle,
                   const double *I1, const double *I2, const double *Weight);
double VaboStdDev(size_t n, const double *B, const double *Weight);
double VaboRMS(size_t n, const double *B, const double *Weight);
double VaboMinDev(size_t n, const double *B);
double VaboMaxDev(size_t n, const double *B);
double vabo_parts(size_t n, const double *VaboA, const double *Weight,
                  int Param);

/* ---------------------------------------------------------------------
 * Covariance and standard errors (vabo_covariance.cpp)
 * ------------------------------------------------------------------- */

/* Why VaboCovariance gave no covariance; VaboCovOk when it did. */
typedef enum VaboCovStatus {
  VaboCovOk = 0,
  VaboCovTooFewPoints, /* no more weighted points than refined parameters */
  VaboCovSingular,     /* the normal matrix J^T W J cannot be inverted */
  VaboCovNotFinite,    /* residuals or derivatives are not finite numbers */
  VaboCovFailed,       /* an argument is missing */
  VaboCovNoMemory,     /* storage for the Jacobian could not be obtained */
  NVaboCovStatus
} VaboCovStatus;

/* Covariance of the refined parameters at Par, as a weighted least-squares
 * fit with relative weights reports it: with J the Jacobian of the model
 * angle in the refined parameters, W = diag(Weight), r the residuals and N
 * the number of points of positive weight,
 *   Cov = s2 (J^T W J)^-1,   s2 = sum W r^2 / (N - nopt).
 * Par holds the eight parameters in natural order; ParMode selects the
 * refined ones as VaboOptimize does (null: all).  Cov (room for nopt x nopt
 * doubles, NParams x NParams suffice) receives the matrix column-major, the
 * refined parameters in natural order.  *ps2 receives s2 and *pnopt the
 * number of refined parameters; each output may be null.  Returns a
 * VaboCovStatus; on any status but VaboCovOk, Cov is untouched (*ps2 and
 * *pnopt are set whenever they could be computed, NaN / 0 otherwise).  It
 * knows no wavelength: the covariance of a refinement that refined one
 * comes from its normal equations (VaboCovarianceNormal). */
int VaboCovariance(double *Cov, double *ps2, size_t *pnopt, const double *Par,
                   const int *ParMode, size_t ndata, const double *Angle,
                   const double *I1, const double *I2, const double *Weight);
/* As VaboCovariance, from the normal equations a refinement ended with
 * (VaboOptions.Normal) instead of a walk over the points: the same
 * numbers, bit for bit.  With the wavelength refined (Normal->wavelength)
 * Cov is Normal->nopt x Normal->nopt, the wavelength last (room for
 * VABO_MAX_UNKNOWNS x VABO_MAX_UNKNOWNS doubles suffices).  VaboCovFailed
 * when Normal is missing, not valid or has more than VABO_MAX_UNKNOWNS
 * unknowns. */
int VaboCovarianceNormal(double *Cov, double *ps2, const VaboNormal *Normal);
/* One line saying what a VaboCovStatus means ("unknown status" for any
 * other value); a static text. */
const char *VaboCovStatusText(int status);

/* ---------------------------------------------------------------------
 * Sigma clipping of outliers (vabo_reject.cpp)
 * ------------------------------------------------------------------- */

/* Most rounds of clipping in one refinement: a round that still finds
 * outliers after ten is chasing the tail of the noise, not wrong points. */
inline constexpr int VABO_REJECT_MAX_ROUNDS = 10;
/* The median absolute deviation times this estimates the standard deviation
 * of normally distributed residuals (1 / Phi^-1(3/4)). */
inline constexpr double VABO_MAD_TO_SIGMA = 1.4826;
/* Smallest robust scale used (rad): residuals of exact data are rounding
 * noise of ~1e-16 rad, whose median absolute deviation would make every
 * point an outlier; 1e-12 rad is far below any calibration's accuracy. */
inline constexpr double VABO_REJECT_MIN_SCALE = 1e-12;

/* Median of values[0 ... n-1], which are reordered: the middle value, or
 * the mean of the two middle values for even n; NaN for n = 0.  The values
 * must not be NaN. */
double VaboMedian(size_t n, double *values);

/* How a series of rounds ended. */
typedef enum VaboRejectEnd {
  VaboRejectSettled = 0, /* a round found nothing more to reject */
  VaboRejectRoundLimit,  /* VABO_REJECT_MAX_ROUNDS rounds rejected points */
  VaboRejectHalfGuard    /* the last round would have rejected more than
                            half of the points; it rejected none */
} VaboRejectEnd;

/* The name of a VaboRejectEnd ("settled", "round limit", "half guard");
 * "unknown" for any other value; a static text. */
const char *VaboRejectEndName(int end);

/* One round of clipping.  The points that take part are those of positive
 * weight not rejected before; "kept" counts every point not rejected,
 * weight 0 included (the ndata of the statistics after the round). */
typedef struct VaboRejectRound {
  int round;         /* 1, 2, ... */
  double median;     /* median residual of the points taking part, rad */
  double scale;      /* VABO_MAD_TO_SIGMA times their median absolute
                        deviation from it, rad */
  size_t candidates; /* points taking part beyond k * scale from the median,
                        or with a residual that is not a number */
  size_t rejected;   /* points rejected: the candidates, or 0 when they
                        were more than the half guard allows */
  size_t kept;       /* points not rejected after the round */
  double stddev;     /* weighted standard deviation of the fit that follows
                        the round, over the kept points, rad */
} VaboRejectRound;

/* One round of clipping of the residuals B (rad) of n points: among the
 * points of positive Weight with Round[i] = 0, those whose residual lies
 * more than k * max(scale, VABO_REJECT_MIN_SCALE) from the median of their
 * residuals (or is not a finite number) get Round[i] = round, unless the
 * points rejected in all rounds would then be more than half of the points
 * of positive weight.  Summary (if given) receives the round's figures but
 * its stddev.  Returns 0 (points rejected or none found), 1 when the half
 * guard stopped it (Round unchanged), -1 when an argument is missing or
 * storage fails (Round unchanged, Summary untouched). */
int VaboRejectPass(size_t n, const double *B, const double *Weight, int *Round,
                   int round, double k, VaboRejectRound *Summary);

/* What VaboOptimizeRobust is given and reports.  Round and Residual are the
 * caller's arrays of ndata entries. */
typedef struct VaboRejection {
  double k;         /* in: clipping factor, > 0 (typically 3 to 5) */
  int *Round;       /* out: 0 kept, r: rejected in round r */
  double *Residual; /* out (may be null): every point's residual at the
                       refined parameters, rad */
  VaboRejectRound Rounds[VABO_REJECT_MAX_ROUNDS]; /* out: the rounds done */
  int nrounds;                                    /* out: their number */
  int end;                                        /* out: VaboRejectEnd */
} VaboRejection;

/* Refines as VaboOptimizeEx, then clips: each round (VaboRejectPass at the
 * refined parameters) gives the points it rejects weight 0 and refines
 * again from the current parameters, its steps numbered on; the rounds end
 * when one rejects nothing, after VABO_REJECT_MAX_ROUNDS, or at the half
 * guard.  The statistics are over the kept points: ndata counts them and
 * mindev, maxdev, total and stdev are theirs; deviations likewise.  Points
 * of weight 0 take no part in the scale and are never rejected.  0 success
 * with the outputs written (each may be null; *psteps counts the steps of
 * all rounds); 1 when a refinement fails or storage fails, with ParOpt,
 * ParDev and ParStat untouched, Rejection holding the rounds done and the
 * reason kept for VaboOptimizeLastFailure.  With Options->Spacing each
 * round starts from the wavelength the round before ended with, residuals
 * are taken at the targets of the current wavelength, and WavelengthOpt and
 * WavelengthDev are those of the last round (written only on success). */
int VaboOptimizeRobust(double *ParOpt, double *ParDev, double *ParStat,
                       const double *Par, const int *ParMode, size_t ndata,
                       const double *Angle, const double *I1, const double *I2,
                       const double *Weight, double stopdev, int maxstep,
                       const VaboOptions *Options, VaboRejection *Rejection,
                       int *psteps);

#endif
