#pragma once
// Vectors, matrices and 3-d arrays whose index ranges the caller chooses.
//
// A handle owns its storage and addresses element i as data[i - lo], so no
// pointer is ever positioned outside its block. Matrix rows are separate
// blocks: a row handle can be swapped or passed on by itself. An empty range
// (upper bound one below the lower bound) gives a valid handle to no elements.
// Elements are not initialised by the allocators; callers fill what they read.
// Copies are deep.

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

#include "numeric/nrerror.h"

template <typename T>
class OffsetVector {
 public:
  OffsetVector() = default;
  // Allocates hi - lo + 1 elements; stops through nrerror with `failure` when that fails.
  OffsetVector(int lo, int hi, const char* failure) : lo_(lo), hi_(hi) {
    const long n = static_cast<long>(hi) - lo + 1;
    if (n < 0) nrerror(failure);
    if (n > 0) {
      data_.reset(new (std::nothrow) T[static_cast<std::size_t>(n)]);
      if (!data_) nrerror(failure);
    }
  }
  OffsetVector(const OffsetVector& other) : lo_(other.lo_), hi_(other.hi_) {
    if (other.data_) {
      data_.reset(new (std::nothrow) T[other.size()]);
      if (!data_) nrerror("allocation failure in vector()");
      for (std::size_t i = 0; i < other.size(); ++i) data_[i] = other.data_[i];
    }
  }
  OffsetVector& operator=(const OffsetVector& other) {
    if (this != &other) {
      OffsetVector copy(other);
      swap(copy);
    }
    return *this;
  }
  OffsetVector(OffsetVector&&) noexcept = default;
  OffsetVector& operator=(OffsetVector&&) noexcept = default;

  T& operator[](int i) const { return data_[static_cast<std::size_t>(i - lo_)]; }
  int lo() const { return lo_; }
  int hi() const { return hi_; }
  std::size_t size() const { return static_cast<std::size_t>(hi_ - lo_ + 1); }
  bool allocated() const { return static_cast<bool>(data_) || hi_ == lo_ - 1; }
  // The element at the lower bound (null for an empty range).
  T* data() const { return data_.get(); }
  void fill(const T& value) const {
    for (std::size_t i = 0; i < size(); ++i) data_[i] = value;
  }
  void reset() {
    data_.reset();
    lo_ = 0;
    hi_ = -1;
  }
  void swap(OffsetVector& other) noexcept {
    data_.swap(other.data_);
    std::swap(lo_, other.lo_);
    std::swap(hi_, other.hi_);
  }

 private:
  std::unique_ptr<T[]> data_;
  int lo_ = 0;
  int hi_ = -1;
};

template <typename T>
void swap(OffsetVector<T>& a, OffsetVector<T>& b) noexcept {
  a.swap(b);
}

template <typename T>
class OffsetMatrix {
 public:
  OffsetMatrix() = default;
  OffsetMatrix(int rlo, int rhi, int clo, int chi, const char* table_failure,
               const char* row_failure)
      : rows_(rlo, rhi, table_failure), clo_(clo), chi_(chi) {
    for (int i = rlo; i <= rhi; ++i) rows_[i] = OffsetVector<T>(clo, chi, row_failure);
  }
  OffsetVector<T>& operator[](int i) const { return rows_[i]; }
  int row_lo() const { return rows_.lo(); }
  int row_hi() const { return rows_.hi(); }
  int col_lo() const { return clo_; }
  int col_hi() const { return chi_; }
  void fill(const T& value) const {
    for (int i = rows_.lo(); i <= rows_.hi(); ++i) rows_[i].fill(value);
  }
  void reset() {
    rows_.reset();
    clo_ = 0;
    chi_ = -1;
  }

 private:
  OffsetVector<OffsetVector<T>> rows_;
  int clo_ = 0;
  int chi_ = -1;
};

template <typename T>
class OffsetArray3 {
 public:
  OffsetArray3() = default;
  OffsetArray3(int n1l, int n1h, int n2l, int n2h, int n3l, int n3h, const char* failure)
      : planes_(n1l, n1h, failure) {
    for (int i = n1l; i <= n1h; ++i) planes_[i] = OffsetMatrix<T>(n2l, n2h, n3l, n3h, failure, failure);
  }
  OffsetMatrix<T>& operator[](int i) const { return planes_[i]; }
  void reset() { planes_.reset(); }

 private:
  OffsetVector<OffsetMatrix<T>> planes_;
};

using DVector = OffsetVector<double>;
using IVector = OffsetVector<int>;
using DMatrix = OffsetMatrix<double>;
using IMatrix = OffsetMatrix<int>;
using CMatrix = OffsetMatrix<char>;
using DMatrix3 = OffsetArray3<double>;

// Allocators: bounds lower, upper for each dimension, rows first. They do not return on failure.
DVector dvector(int nl, int nh);
IVector ivector(int nl, int nh);
DMatrix dmatrix(int nrl, int nrh, int ncl, int nch);
IMatrix imatrix(int nrl, int nrh, int ncl, int nch);
// A text table: one text of up to nch - ncl characters per row, each row starting empty.
CMatrix cmatrix(int nrl, int nrh, int ncl, int nch);
DMatrix3 dmatrix3(int n1l, int n1h, int n2l, int n2h, int n3l, int n3h);

// Release routines: take the handle and the bounds it was made with, leave it empty.
void free_dvector(DVector& v, int nl, int nh);
void free_ivector(IVector& v, int nl, int nh);
void free_dmatrix(DMatrix& m, int nrl, int nrh, int ncl, int nch);
void free_imatrix(IMatrix& m, int nrl, int nrh, int ncl, int nch);
void free_cmatrix(CMatrix& m, int nrl, int nrh, int ncl, int nch);
void free_dmatrix3(DMatrix3& t, int n1l, int n1h, int n2l, int n2h, int n3l, int n3h);
