// Small dense matrices and vectors of doubles for the stereo geometry: 3x3 fundamental
// matrices and similarity transforms, 9x9 design matrices, homogeneous points (x, y, 1) and
// image lines (a, b, c) meaning a*x + b*y + c = 0, in pixels with y pointing down.
//
// Value semantics: every copy is deep and every operation returns a new object, except
// setIdentity, assignment and composeSvd, which work in place. Storage is row-major.
//
// Dimension mismatches are not errors: `dot` of vectors of different lengths is 0.0, the
// product of matrices whose inner dimensions differ is a matrix of zeros, and a non-square
// matrix times a vector returns that vector unchanged. Element access is unchecked.
//
// The singular value decomposition is GSL's Golub-Reinsch `gsl_linalg_SV_decomp`. It never
// aborts the process: a GSL error (fewer rows than columns, allocation failure) is reported
// through the GSL error handler, which logs an "ERROR: " line (logGslError is made the handler
// if none is installed), and the outputs are then zero-filled with their usual dimensions.
//
// Threads: no shared state; an object is used by one thread at a time.
#pragma once

#include <ostream>
#include <utility>
#include <vector>

#include "geometry/Correspondence.h"

namespace epipolar {

class Vector {
 public:
  // One element, 0.0.
  Vector() : data_(1, 0.0) {}
  // `count` elements, all 0.0.
  explicit Vector(int count) : data_(static_cast<size_t>(count), 0.0) {}
  // Copies `count` elements from `values`.
  Vector(const double* values, int count) : data_(values, values + count) {}

  int count() const { return static_cast<int>(data_.size()); }
  double& operator[](int i) { return data_[static_cast<size_t>(i)]; }
  double operator[](int i) const { return data_[static_cast<size_t>(i)]; }
  double* data() { return data_.data(); }
  const double* data() const { return data_.data(); }

  // Square root of the sum of the squares of all elements (for a line this includes c).
  double norm() const;
  // Sum of products of equal-index elements; 0.0 when the counts differ.
  double dot(const Vector& w) const;

  friend bool operator==(const Vector&, const Vector&) = default;

 private:
  std::vector<double> data_;
};

// The homogeneous image point (x, y, 1).
Vector homogeneousPoint(double x, double y);

// Writes "<" elements separated by ", " ">" with the stream's current number formatting.
std::ostream& operator<<(std::ostream& out, const Vector& v);

class Matrix {
 public:
  // 1 x 1 holding 0.0.
  Matrix() : Matrix(1, 1) {}
  // rows x cols, all 0.0.
  Matrix(int rows, int cols)
      : rows_(rows), cols_(cols), data_(static_cast<size_t>(rows) * cols, 0.0) {}
  // Copies rows x cols elements in row-major order from `values`.
  Matrix(const double* values, int rows, int cols)
      : rows_(rows), cols_(cols), data_(values, values + static_cast<size_t>(rows) * cols) {}

  int rows() const { return rows_; }
  int cols() const { return cols_; }
  double& operator()(int i, int j) { return data_[static_cast<size_t>(i) * cols_ + j]; }
  double operator()(int i, int j) const { return data_[static_cast<size_t>(i) * cols_ + j]; }
  double* data() { return data_.data(); }
  const double* data() const { return data_.data(); }

  // In place: 1.0 on the diagonal, 0.0 elsewhere, over the current dimensions.
  void setIdentity();
  Matrix transpose() const;
  // rows() x B.cols(); all zeros when cols() != B.rows().
  Matrix operator*(const Matrix& B) const;
  // For a square matrix: result[i] = dot(row i, v). Otherwise a copy of v.
  Vector operator*(const Vector& v) const;
  Vector column(int j) const;
  Vector row(int i) const;

  // A = U * diag(S) * transpose(V) for this m x n matrix (m >= n): U is m x n, S has n
  // elements in decreasing order, V is n x n. Columns n-2 and n-1 of both U and V are negated
  // relative to GSL's result (U * diag(S) * transpose(V) is unchanged); this fixes the sign of
  // the null vectors callers read from the last columns.
  void svd(Matrix& U, Vector& S, Matrix& V) const;
  // In place: this = (U * diag(S)) * transpose(V), with diag(S) square of S.count().
  void composeSvd(const Matrix& U, const Vector& S, const Matrix& V);

  friend bool operator==(const Matrix&, const Matrix&) = default;

 private:
  int rows_;
  int cols_;
  std::vector<double> data_;
};

// Two owned vectors: a normalised point pair (camera 0, camera 1) or the two ends of a
// clipped line.
struct VectorPair {
  Vector first;
  Vector second;

  VectorPair() = default;
  VectorPair(Vector a, Vector b) : first(std::move(a)), second(std::move(b)) {}
  void swap() { std::swap(first, second); }
  friend bool operator==(const VectorPair&, const VectorPair&) = default;
};

}  // namespace epipolar
