/*
 * chain.h -- the sorted doubly linked chains of the modules: the program
 * registry and the units table of the expression library, and the keyed
 * lists.  Their records link through Previous and Next; these templates
 * seek the place of a key, link a record in and unlink it, so that each
 * chain is kept in one way.  Header only, internal to the libraries (not
 * installed); the records and their order stay each module's own.
 */
#ifndef VABO_CHAIN_H
#define VABO_CHAIN_H

/* The first record of the chain from first whose key is not before the
 * sought one -- order(record) <= 0, with order(record) < 0 while the
 * record's key sorts before it, 0 when it equals it -- or null past the
 * end; *after receives the record before that place (null: the front) and
 * *equal whether the record found holds the key. */
template <typename Record, typename Order>
Record *chain_seek(Record *first, Order order, Record **after, bool *equal)
{
  *after = nullptr;
  *equal = false;
  for (Record *at = first; at != nullptr; at = at->Next) {
    const int o = order(at);
    if (o >= 0) {
      *equal = o == 0;
      return at;
    }
    *after = at;
  }
  return nullptr;
}

/* Links record between after and at (its neighbours to be, either may be
 * null) in the chain whose ends are *first and, when given, *last. */
template <typename Record>
void chain_link(Record *record, Record *after, Record *at, Record **first,
                Record **last)
{
  record->Previous = after;
  record->Next = at;
  if (after != nullptr)
    after->Next = record;
  else
    *first = record;
  if (at != nullptr)
    at->Previous = record;
  else if (last != nullptr)
    *last = record;
}

/* Unlinks record from the chain whose ends are *first and, when given,
 * *last; its own links become null. */
template <typename Record>
void chain_unlink(Record *record, Record **first, Record **last)
{
  if (record->Previous != nullptr)
    record->Previous->Next = record->Next;
  else if (*first == record)
    *first = record->Next;
  if (record->Next != nullptr)
    record->Next->Previous = record->Previous;
  else if (last != nullptr && *last == record)
    *last = record->Previous;
  record->Previous = record->Next = nullptr;
}

#endif
