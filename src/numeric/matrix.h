#pragma once
// A dense matrix indexed from 0: rows() x cols() elements stored row after row in one
// contiguous block.

#include <algorithm>
#include <cstddef>
#include <vector>

template <typename T>
class BasicMatrix {
 public:
  BasicMatrix() = default;
  // A rows x cols matrix with every element set to `value`.
  BasicMatrix(int rows, int cols, T value = T()) { resize(rows, cols, value); }

  // Number of rows.
  int rows() const { return rows_; }
  // Number of columns.
  int cols() const { return cols_; }
  // True when the matrix has no element.
  bool empty() const { return values_.empty(); }
  // Element in row i, column j.
  T& operator()(int i, int j) { return values_[index(i, j)]; }
  // Element in row i, column j.
  const T& operator()(int i, int j) const { return values_[index(i, j)]; }
  // First element of row i; the row's cols() elements follow it.
  T* row(int i) { return values_.data() + index(i, 0); }
  // First element of row i; the row's cols() elements follow it.
  const T* row(int i) const { return values_.data() + index(i, 0); }
  // The first element of the block.
  T* data() { return values_.data(); }
  // The first element of the block.
  const T* data() const { return values_.data(); }
  // Sets every element to value.
  void fill(T value) { std::fill(values_.begin(), values_.end(), value); }
  // Becomes a rows x cols matrix with every element set to value.
  void resize(int rows, int cols, T value = T()) {
    rows_ = rows;
    cols_ = cols;
    values_.assign(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols), value);
  }
  // Exchanges rows i and j.
  void swap_rows(int i, int j) { std::swap_ranges(row(i), row(i) + cols_, row(j)); }

 private:
  std::size_t index(int i, int j) const {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(cols_) + static_cast<std::size_t>(j);
  }
  std::vector<T> values_;
  int rows_ = 0;
  int cols_ = 0;
};

// The matrix of real numbers.
using Matrix = BasicMatrix<double>;
