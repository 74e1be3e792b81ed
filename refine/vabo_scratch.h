/*
 * vabo_scratch -- working arrays of the refinement's algebra (internal to
 * the refinement module, not part of its interface).
 *
 * A ScratchArray<N> keeps up to N doubles in itself and takes heap storage
 * only beyond that, so that the linear systems of a refinement (at most
 * VABO_MAX_UNKNOWNS unknowns, the wavelength included) are solved without
 * allocating and cannot fail for want of memory, while larger systems of
 * other callers still work.
 */
#ifndef VABO_SCRATCH_H
#define VABO_SCRATCH_H

#include "vabo_internal.h"

#include <algorithm>
#include <cstddef>
#include <vector>

template <size_t N> class ScratchArray {
public:
  ScratchArray() = default;
  ScratchArray(const ScratchArray &) = delete;
  ScratchArray &operator=(const ScratchArray &) = delete;

  /* Room for size doubles, all 0.  false when heap storage is needed and
   * cannot be obtained (the array is then unusable). */
  bool obtain(size_t size)
  {
    if (size <= N) {
      std::fill_n(local_, size, 0.0);
      data_ = local_;
      return true;
    }
    if (!vabo_obtain(heap_, size)) return false;
    data_ = heap_.data();
    return true;
  }

  double *data() { return data_; }
  double &operator[](size_t i) { return data_[i]; }

private:
  double local_[N];
  std::vector<double> heap_;
  double *data_ = local_;
};

#endif
