/*
 * numio -- the expression library: numbers read as unit-aware expressions.
 *
 * Text such as "11_cm", "-22_deg" or "atan2(1,2)" is translated into a
 * program of stack-machine instructions, which is run to give the value.
 * Entry points for readers: num_str2double and num_str2long; for formulas
 * evaluated many times: num_str2prog / num_runprog; for writing numbers
 * back: num_double2str and friends.  The library owns a registry of named
 * programs and a table of units and constants (built on first use).
 *
 * Sources behind this header, one concern each:
 *   numio_machine.cpp  programs, registry, variables, registers, instructions,
 *                      running and constant folding, printouts
 *   numio_units.cpp    the table of units and physical constants
 *   numio_grammar.cpp  the floating-point and integer grammars, the readers
 *   numio_compiled.cpp compiled expressions with variables
 *   numio_format.cpp   formatting of numbers, error texts, version, debug
 *
 * Failures are reported through return values and the numeric error value
 * (*perrval, 0 = success); the library prints nothing but its debug output.
 * Single-threaded: the registry and the units table are module state.
 */
#ifndef VABO_NUMIO_H
#define VABO_NUMIO_H

#include <cstddef>
#include <cstdio>

/* ---------------------------------------------------------------------
 * Limits
 * ------------------------------------------------------------------- */

/* Deepest nesting of parentheses, argument lists and casts that the
 * grammars follow.  Each level costs one recursion of the reader; no real
 * expression comes near 256, and the bound keeps hostile input (thousands
 * of "(") from exhausting the stack.  Deeper text fails with NUM_EPAREN. */
#define NUM_MAX_NESTING 256

/* Size of the temporaries used by the formatters. */
#define NUM_FORMAT_BUFLEN 128

/* ---------------------------------------------------------------------
 * Numeric error values (reported through perrval; texts by num_errval2str)
 * ------------------------------------------------------------------- */
#define NUM_SUCCESS 0
#define NUM_ENOMEM 1        /* memory allocation failed */
#define NUM_ESCAN 2         /* error scanning expression */
#define NUM_ECOMMA 3        /* missing comma in expression */
#define NUM_EPAREN 4        /* bad parenthesis in expression */
#define NUM_ENOTFLOAT 5     /* expression is not a float number */
#define NUM_EFUNCTION 6     /* unknown float function in expression */
#define NUM_EDOMAIN 7       /* domain error */
#define NUM_ENOTINT 8       /* expression is not an integer number */
#define NUM_EOVERFLOW 9     /* integer overflow */
#define NUM_EDIVZERO 10     /* division by zero */
#define NUM_EWRITE 11       /* error writing value */
#define NUM_EUNDEFVAR 12    /* undefined variable */
#define NUM_EBADVAR 13      /* bad or repeated variable name (no text) */
#define NUM_EPROGRAM 14     /* error creating program */
#define NUM_EINSTRUCTION 15 /* unknown program instruction */
#define NUM_EREGISTERS 16   /* not enough program registers */
#define NUM_EUNIT 17        /* bad unit */

/* ---------------------------------------------------------------------
 * Records of the stack machine
 * ------------------------------------------------------------------- */

/* Instruction codes.  The print names are in NumCommandStrings. */
/* clang-format off */
typedef enum NumCommand {
  InValidNumCommand = 0,
  PUSHVAL, PUSHADDR, NEG, MUL, NOT, EQU, NEQ, LE, LT, GE, GT, AND, OR, IF,
  DIV, FLOORDIV, REST, ADD, SUB, RAD, DEG, PI, SIN, COS, TAN, ASIN, ACOS,
  ATAN, ATAN2, SINH, COSH, TANH, FLOOR, CEIL, FABS, EXP, LOG, LOG10, POW,
  SQRT, ROUND, GAMMA, FMIN, FMAX, DEGC2K, K2DEGC, DEGF2K, K2DEGF, DEGK2K,
  K2DEGK, DEGF2DEGC, DEGC2DEGF,
  EndNumCommand /* 53 */
} NumCommand;
/* clang-format on */

/* A named input of a compiled program.  Keys within a program are distinct;
 * variables stand in declaration order. */
typedef struct Num_Var {
  char *Key;    /* the variable's name (owned) */
  double Value; /* current value; PUSHADDR points at this field */
  int Used;     /* references read by the translation */
  struct Num_Var *Previous;
  struct Num_Var *Next;
} NumVar;

/* One register of the stack.  Registers are numbered 1, 2, ... from the
 * bottom without gaps and are released only with their program. */
typedef struct Num_Accu {
  long Number;               /* position in the stack, 1 = bottom */
  double Value;              /* content */
  struct Num_Accu *Previous; /* register below */
  struct Num_Accu *Next;     /* register above */
} NumAccu;

/* One instruction. */
typedef struct Num_Instr {
  int Command;     /* a NumCommand value */
  int Nargs;       /* stack values consumed: 0 push, 1, 2, 3 (IF) */
  double Value;    /* PUSHVAL: the constant; PUSHADDR: a copy */
  double *Address; /* PUSHADDR: the variable's Value field */
  struct Num_Instr *Previous;
  struct Num_Instr *Next;
} NumInstr;

/* One program of the registry.  The registry holds at most one program per
 * name, in descending byte order of names.  CurrentAccumulator is the top of
 * the stack (none = empty).  CompiledList is empty except while compiling. */
typedef struct Num_Prog {
  char *Name;                  /* registered name (owned) */
  NumVar *VariableList;        /* variables in declaration order */
  NumAccu *AccumulatorList;    /* all registers, bottom first */
  NumAccu *CurrentAccumulator; /* top of the stack, or none */
  NumInstr *InstructionList;   /* the program that is run */
  NumInstr *CompiledList;      /* scratch list of the compiler */
  struct Num_Prog *Previous;
  struct Num_Prog *Next;
} NumProg;

/* One entry of the units and constants table.  The table is one list in
 * strictly descending byte order of Key, so that the first key that starts a
 * text is the longest one.  Quantity and Unit are filled only while
 * NUMIO_debug > 0 at insertion and never influence a value. */
typedef struct Double_Constant {
  char *Key;                        /* name as written in an expression */
  double Value;                     /* value in the SI unit named by Unit */
  char *Quantity;                   /* what it measures, or none */
  char *Unit;                       /* SI unit of Value, or none */
  struct Double_Constant *Previous; /* towards the head */
  struct Double_Constant *Next;     /* towards the tail */
} DPConstant;

/* Module state. */
extern NumProg *NumProgRoot;       /* first program of the registry */
extern int NUMPROG_init;           /* registry initialised */
extern int NUMIO_debug;            /* library debug level, 0 at start */
extern DPConstant *DPConstantRoot; /* head of the units table */
extern int DPConstantInit;         /* 1 once the table is built */
extern const char *const NumCommandStrings[EndNumCommand + 1];

/* ---------------------------------------------------------------------
 * Programs and the registry (numio_machine.cpp)
 * Status results: 0 success, -1 failure.  Out-parameters may be null.
 * ------------------------------------------------------------------- */

/* Marks the registry as initialised; returns 0. */
int numprog_init(void);
/* The program named Name, created empty if there is none.  -1 for a null
 * name or a failed allocation (*pprogram none); the registry is unchanged. */
int numprog_insert(const char *Name, NumProg **pprogram);
/* Exact-name lookup; 0 also when nothing is found, -1 for a null name. */
int numprog_search(const char *Name, NumProg **pprogram);
/* Unlinks and releases a program with all its lists.  None: 0; a program
 * that is not registered: -1, nothing changed. */
int numprog_free(NumProg *program);
/* Frees the program of that name (none there: 0); a null Name frees every
 * registered program, stopping with -1 at the first failure. */
int numprog_remove(const char *Name);
/* A fresh, empty program under Name, discarding any earlier one; none on
 * failure. */
NumProg *numprog_new(const char *Name);

/* Variables.  A valid name is empty, or a letter followed by letters and
 * digits; numprog_checkvar returns 0 for valid, -1 otherwise. */
int numprog_checkvar(const char *string);
/* Appends a variable (Value = InitValue, Used = 0).  -1 for an invalid or
 * null Key, a duplicate (then *pvariable is the existing one) or no memory;
 * a null program gives 0 and does nothing. */
int numprog_append_variable(NumProg *program, const char *Key, double InitValue,
                            NumVar **pvariable);
/* mode 0: the variable whose key equals Key; other modes: the first declared
 * variable whose key is a prefix of the text Key.  0 found, -1 not. */
int numprog_search_variable(NumProg *program, const char *Key,
                            NumVar **pvariable, int mode);
int numprog_free_variable_list(NumProg *program);
long num_prog_variables(NumProg *program);
size_t num_prog_variable_size(NumProg *program);

/* Registers.  Push returns the register (none: no program or no memory);
 * pop returns the new top (none when the stack is now empty). */
NumAccu *numprog_up_accumulator(NumProg *program, double Value);
NumAccu *numprog_down_accumulator(NumProg *program);
int numprog_free_accumulator_list(NumProg *program);
long num_prog_accumulators(NumProg *program);
size_t num_prog_accumulator_size(NumProg *program);

/* Instructions; mode 0 is InstructionList, 1 CompiledList.  Appending to a
 * null program does nothing and returns 0; another mode or no memory: -1. */
int numprog_append_instruction(NumProg *program, int mode, int Command,
                               int Nargs, double Value, double *Address,
                               NumInstr **pinstruction);
int numprog_free_instruction_list(NumProg *program, int mode);
/* Length of a list; mode 2 counts CompiledList if it is not empty, else
 * InstructionList; other modes 0. */
long num_prog_instructions(NumProg *program, int mode);
size_t num_prog_instruction_size(NumProg *program, int mode);

/* Running.  dpprogram_step executes one instruction: 0, or -1 for the error
 * values NUM_EPROGRAM, NUM_EINSTRUCTION, NUM_EREGISTERS and NUM_ENOMEM (a
 * push for which no register can be allocated); NUM_EDOMAIN and
 * NUM_EDIVZERO return 0 and leave the register unchanged.
 * dpprogram_run runs InstructionList from an empty stack; the value is the
 * current register's Value after a run with error value 0. */
int dpprogram_step(NumProg *program, NumInstr *instruction, int *perrval);
int dpprogram_run(NumProg *program, int *perrval);
/* Constant folding from firstinstruction on; returns the instruction at
 * which folding stopped, or none at the end of the list. */
NumInstr *dpprogram_optimize(NumProg *program, NumInstr *firstinstruction,
                             int *perrval);
/* Rewrites InstructionList with every constant part computed in advance.
 * Folding errors are reported through *perrval with status 0; running out
 * of memory gives NUM_ENOMEM with status -1. */
int dpprogram_compile(NumProg *program, int *perrval);

/* Texts, sizes and printouts. */
const char *numprog_cmd2str(int numprog_cmd);
/* One-line text of an instruction; a buffer shorter than 50 characters
 * receives the empty text. */
char *numprog_ins2str(char *buffer, size_t buflen, const NumInstr *ins);
/* Heap copies (release with free); none for none or no memory. */
char *numprog_newstr(const char *string);
char *num_newstr(const char *string);
/* 1 if s is none, empty or only white space, else 0. */
int numprog_is_empty(const char *s);
void print_spaces(FILE *out, int n);
size_t num_prog_size(NumProg *program);
size_t num_prog_size_all(void);
int num_prog_print_list(FILE *out, NumProg *program, int level, int verbose);
int num_prog_print_variable_list(FILE *out, NumProg *program, int level,
                                 int verbose);
int num_prog_print_accumulator_list(FILE *out, NumProg *program, int level,
                                    int verbose);
int num_prog_print_instruction_list(FILE *out, NumProg *program, int mode,
                                    int level, int verbose);

/* ---------------------------------------------------------------------
 * Units and physical constants (numio_units.cpp)
 * ------------------------------------------------------------------- */

/* Inserts or updates the entry Key.  0, or -1 when memory runs out. */
int dpconstant_insert(const char *Quantity, const char *Unit, const char *Key,
                      double Value, DPConstant **pdpconstant);
/* mode 0: exact key; other modes: the longest key that starts the text Key.
 * 0 found, -1 not found (*pdpconstant none). */
int dpconstant_search(const char *Key, DPConstant **pdpconstant, int mode);
/* Baseunit with all 19 SI prefixes (20 entries), squared (19, no squared
 * zepto) and cubed (20 entries).  -1 on the first failure or a base unit
 * longer than 64 (63) characters. */
int dpconstant_insert_unit(const char *Quantity, const char *Unit,
                           const char *Baseunit, double Basevalue);
int dpconstant_insert_unit2(const char *Quantity, const char *Unit,
                            const char *Baseunit, double Basevalue);
int dpconstant_insert_unit3(const char *Quantity, const char *Unit,
                            const char *Baseunit, double Basevalue);
/* Builds the whole table (615 entries); 0, or -1 on the first failure. */
int dpconstant_init(void);
int dpconstant_print(FILE *out, int level, int verbose);
int dpconstant_free(void);

/* ---------------------------------------------------------------------
 * Grammar and readers (numio_grammar.cpp)
 *
 * The floating-point levels append instructions to program->InstructionList
 * in postfix order and advance *ps over what they read; the integer levels
 * compute their value directly.  All set *perrval (0 on entry).
 * ------------------------------------------------------------------- */

/* Value of the floating-point expression at the start of str (leading white
 * space skipped; none reads as the empty text).  *tail receives the position
 * where reading stopped, *perrval the error value; 0 is returned on error.
 * Running out of memory anywhere -- the temporary program, its registers,
 * the units table on first use -- is NUM_ENOMEM, never a reading error. */
double num_str2double(const char *str, const char **tail, int *perrval);
/* Value of the 32-bit integer expression at the start of str. */
long num_str2long(const char *str, const char **tail, int *perrval);

void dpcondition(NumProg *program, const char **ps, int level, int *perrval);
void dplogicsum(NumProg *program, const char **ps, int level, int *perrval);
void dplogicproduct(NumProg *program, const char **ps, int level, int *perrval);
void dpequality(NumProg *program, const char **ps, int level, int *perrval);
void dpcomparison(NumProg *program, const char **ps, int level, int *perrval);
void dpexpression(NumProg *program, const char **ps, int level, int *perrval);
void dpterm(NumProg *program, const char **ps, int level, int *perrval);
void dpfactor0(NumProg *program, const char **ps, int level, int *perrval);
void dpfactor1(NumProg *program, const char **ps, int level, int *perrval);
void dpfactor2(NumProg *program, const char **ps, int level, int *perrval);
void dpfunction(NumProg *program, const char **ps, int level, int *perrval);
void dpvariable(NumProg *program, const char **ps, int *perrval);
void dpconstant(NumProg *program, const char **ps, int *perrval);

long lvexpression(const char **ps, int level, int *perrval);
long lvterm(const char **ps, int level, int *perrval);
long lvfactor(const char **ps, int level, int *perrval);

/* 1 if s starts with a function call ("name("), else 0. */
int isfunction(const char *s);
/* 1 if s starts with "_", else 0. */
int isvariable(const char *s);

/* ---------------------------------------------------------------------
 * Compiled expressions with variables (numio_compiled.cpp)
 * ------------------------------------------------------------------- */

/* Translates and compiles str under name with nvar variables, whose names
 * (const char *) follow.  Returns the program, or none with *perrval set
 * (NUM_EBADVAR for a bad or repeated variable name, NUM_ENOMEM when memory
 * runs out); a failed call leaves no program under that name. */
NumProg *num_str2prog(const char *name, const char *str, const char **tail,
                      int *perrval, int nvar, ...);
/* How often the n-th declared variable (from 1) is referred to. */
int num_chkvar(NumProg *program, int n, int *perrval);
/* Runs the program with one double per declared variable, in declaration
 * order.  Returns the value, 0 on error. */
double num_runprog(NumProg *program, int *perrval, ...);
NumProg *num_searchprog(const char *name, int *perrval);
int num_rmprog(NumProg *program, int *perrval);

/* ---------------------------------------------------------------------
 * Formatting, error texts, version and debug level (numio_format.cpp)
 * Buffers are written up to buflen - 1 characters and always terminated.
 * ------------------------------------------------------------------- */

char *num_long2str(char *buffer, unsigned long buflen, long value,
                   int *perrval);
/* "0x..." with lower-case digits; negatives show their 32-bit pattern. */
char *num_long2hex(char *buffer, unsigned long buflen, long value,
                   int *perrval);
/* "%lg" (ndigits 0) or "%.<n>lg" with n = |ndigits| <= 80 into buffer, which
 * must hold NUM_FORMAT_BUFLEN characters; none on failure. */
char *double2s(char *buffer, double value, int ndigits);
/* value written in the given unit ("11_cm", "2_(m+1)"), so that reading the
 * text back gives value again; without a unit a plain number. */
char *num_double2str(char *buffer, unsigned long buflen, double value,
                     const char *unit, int ndigits, int *perrval);
char *num_double2hex(char *buffer, unsigned long buflen, double value,
                     int ndigits, int *perrval);
char *num_errval2str(char *buffer, unsigned long buflen, int errval);
int num_strncasecmp(const char *s1, const char *s2, unsigned long n);
const char *numio_version(void);
void numio_debug(int debug);

#endif
