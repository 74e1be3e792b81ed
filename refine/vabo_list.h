/*
 * vabo_list -- named lists of text key/value elements in numeric-aware order.
 *
 * The module keeps a set of lists, each with a text key, holding elements
 * with a text key and an optional text value.  Lists and elements stand in
 * the order of numcmp, which compares keys right-aligned after dropping a
 * sign and leading zeros (so "9" < "10"), ignoring letter case and blanks.
 * All state is module-level; every stored key and value is a private copy,
 * handed out without copying.  Tracing of each operation to standard output
 * is switched by list_debug_set.  No operation writes an error message:
 * status results are 0 success, -1 failure, and callers report.
 */
#ifndef VABO_LIST_H
#define VABO_LIST_H

#include <cstddef>
#include <cstdio>

struct List_Element;

/* One list.  The lists form one doubly linked chain from the module's root
 * in strictly ascending numcmp order of their keys.  Its elements form such
 * a chain from Elements; ElementsLen equals their number and Last is the
 * final one (kept so that appending in ascending key order, as the data
 * reader does, costs constant time). */
typedef struct List_List {
  char *Key;                     /* the list's key, in the form first given */
  struct List_Element *Elements; /* first element, null when empty */
  size_t ElementsLen;            /* number of elements */
  struct List_Element *Last;     /* last element, null when empty */
  struct List_List *Previous;    /* list with the next smaller key */
  struct List_List *Next;        /* list with the next greater key */
} LList;

/* One element; List names the list that holds it. */
typedef struct List_Element {
  char *Key;                     /* the element's key, as first given,
                                    stored in the element's own block */
  char *Value;                   /* its value, null until one is stored */
  LList *List;                   /* the list that holds the element */
  struct List_Element *Previous; /* element with the next smaller key */
  struct List_Element *Next;     /* element with the next greater key */
} LElement;

/* Keys are normalised to at most this many characters before comparing. */
#define LIST_KEY_MAX 1024

/* Switches and helpers. */
int list_debug_set(int debug);
/* Heap copy (release with free); null for null or no memory. */
char *newstr(const char *string);
/* Negative, 0 or positive as key1 orders before, equal to or after key2. */
int numcmp(const char *key1, const char *key2);
int list_init(void);

/* Lists.  Out-parameters may be null and are set to null first. */
/* A new, empty list under Key; an existing list of that key is deleted. */
int new_list(const char *Key, LList **plist);
/* The list of that key, made empty if there is none. */
int insert_list(const char *Key, LList **plist);
int search_list(const char *Key, LList **plist);
/* Unlinks and frees list with all its elements; *pnext: its successor. */
int delete_list(LList *list, LList **pnext);
/* Deletes the list of that key if any; *pnext: the first list whose key is
 * greater than Key, or null. */
int remove_list(const char *Key, LList **pnext);
int free_lists(void);
/* Deletes every list and switches tracing off without writing a trace, so
 * that the module is as at program start: for a caller that runs its work
 * more than once in one process.  Always 0. */
int reset_lists(void);

/* Elements. */
int insert_element(LList *list, const char *Key, LElement **pelement);
int search_element(LList *list, const char *Key, LElement **pelement);
/* Inserts the element if needed and stores a copy of Value. */
int write_element_value(LList *list, const char *Key, const char *Value);
/* *pValue: the stored value, null when absent (status 0 all the same). */
int read_element_value(LList *list, const char *Key, const char **pValue);
int remove_element(LList *list, const char *Key, LElement **pnext);
int put_element_value(LElement *element, const char *Value);
int get_element_value(LElement *element, const char **pValue);
int delete_element(LElement *element, LElement **pnext);
int free_elements(LList *list);

/* Walking: first_element, then next_element until it returns -1 (past the
 * last element) or hands back null. */
int first_element(LList *list, LElement **pelement);
int next_element(LList *list, LElement **pelement);
int is_element(LList *list, const char *Key);
int is_member(LList *list, const LElement *element);
size_t number_of_elements(const LList *list);
/* How many of the blank-separated keys in Keys are element keys; -1 when
 * the working copy cannot be made. */
int cnt_elements(LList *list, const char *Keys);
/* How many entries of the null-terminated KeyNames are element keys. */
int cnt_params(LList *list, const char *const KeyNames[]);

/* Printing (nothing for level <= 0). */
int print_elements(FILE *out, LList *list, int level, int verbose);
int print_lists(FILE *out, int level, int verbose);

#endif
