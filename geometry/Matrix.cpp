#include "geometry/Matrix.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_linalg.h>
#include <gsl/gsl_matrix.h>
#include <gsl/gsl_vector.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "log/DebugStream.h"

namespace epipolar {

double Vector::norm() const {
  double sum = 0.0;
  for (double x : data_) sum += x * x;
  return std::sqrt(sum);
}

double Vector::dot(const Vector& w) const {
  if (w.count() != count()) return 0.0;
  double sum = 0.0;
  for (size_t i = 0; i < data_.size(); ++i) sum += data_[i] * w.data_[i];
  return sum;
}

Vector homogeneousPoint(double x, double y) {
  const double values[3] = {x, y, 1.0};
  return Vector(values, 3);
}

std::ostream& operator<<(std::ostream& out, const Vector& v) {
  out << '<';
  for (int i = 0; i < v.count(); ++i) {
    if (i > 0) out << ", ";
    out << v[i];
  }
  return out << '>';
}

void Matrix::setIdentity() {
  for (int i = 0; i < rows_; ++i)
    for (int j = 0; j < cols_; ++j) (*this)(i, j) = i == j ? 1.0 : 0.0;
}

Matrix Matrix::transpose() const {
  Matrix result(cols_, rows_);
  for (int i = 0; i < rows_; ++i)
    for (int j = 0; j < cols_; ++j) result(j, i) = (*this)(i, j);
  return result;
}

Matrix Matrix::operator*(const Matrix& B) const {
  Matrix result(rows_, B.cols_);
  if (cols_ != B.rows_) return result;
  // Each element is dot(row i, column j), summed from 0.0 in index order.
  for (int i = 0; i < rows_; ++i) {
    for (int j = 0; j < B.cols_; ++j) {
      double sum = 0.0;
      for (int k = 0; k < cols_; ++k) sum += (*this)(i, k) * B(k, j);
      result(i, j) = sum;
    }
  }
  return result;
}

Vector Matrix::operator*(const Vector& v) const {
  if (rows_ != cols_) return v;
  Vector result(rows_);
  if (v.count() != cols_) return result;  // every dot product is 0.0
  for (int i = 0; i < rows_; ++i) {
    double sum = 0.0;
    for (int k = 0; k < cols_; ++k) sum += (*this)(i, k) * v[k];
    result[i] = sum;
  }
  return result;
}

Vector Matrix::column(int j) const {
  Vector result(rows_);
  for (int i = 0; i < rows_; ++i) result[i] = (*this)(i, j);
  return result;
}

Vector Matrix::row(int i) const {
  return Vector(data_.data() + static_cast<size_t>(i) * cols_, cols_);
}

namespace {

// GSL's default handler aborts the process. Make sure a logging handler is in place before
// the first GSL call, keeping any handler the program installed itself.
void ensureGslHandler() {
  static const bool installed = [] {
    gsl_error_handler_t* previous = gsl_set_error_handler(nullptr);
    gsl_set_error_handler(previous != nullptr ? previous : &logGslError);
    return true;
  }();
  (void)installed;
}

struct GslMatrixDeleter {
  void operator()(gsl_matrix* m) const { gsl_matrix_free(m); }
};
struct GslVectorDeleter {
  void operator()(gsl_vector* v) const { gsl_vector_free(v); }
};

// GSL rejects zero dimensions itself (through the handler); negative ones would wrap to huge
// sizes in its unsigned interface, so they become 0.
size_t gslDimension(int n) { return n > 0 ? static_cast<size_t>(n) : 0; }

}  // namespace

void Matrix::svd(Matrix& U, Vector& S, Matrix& V) const {
  ensureGslHandler();
  const int m = rows_;
  const int n = cols_;
  // Outputs are zero-filled with their documented dimensions first, so a failed
  // decomposition leaves them defined.
  U = Matrix(std::max(m, 0), std::max(n, 0));
  S = Vector(std::max(n, 0));
  V = Matrix(std::max(n, 0), std::max(n, 0));

  std::unique_ptr<gsl_matrix, GslMatrixDeleter> a(
      gsl_matrix_alloc(gslDimension(m), gslDimension(n)));
  std::unique_ptr<gsl_matrix, GslMatrixDeleter> v(
      gsl_matrix_alloc(gslDimension(n), gslDimension(n)));
  std::unique_ptr<gsl_vector, GslVectorDeleter> s(gsl_vector_alloc(gslDimension(n)));
  std::unique_ptr<gsl_vector, GslVectorDeleter> work(gsl_vector_alloc(gslDimension(n)));
  if (!a || !v || !s || !work) return;  // GSL has reported the failure

  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) gsl_matrix_set(a.get(), i, j, (*this)(i, j));
  if (gsl_linalg_SV_decomp(a.get(), v.get(), s.get(), work.get()) != GSL_SUCCESS) return;

  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) {
      const double x = gsl_matrix_get(a.get(), i, j);
      U(i, j) = j < n - 2 ? x : -x;
    }
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const double x = gsl_matrix_get(v.get(), i, j);
      V(i, j) = j < n - 2 ? x : -x;
    }
  for (int j = 0; j < n; ++j) S[j] = gsl_vector_get(s.get(), j);
}

void Matrix::composeSvd(const Matrix& U, const Vector& S, const Matrix& V) {
  const int k = S.count();
  Matrix diagonal(k, k);
  for (int i = 0; i < k; ++i) diagonal(i, i) = S[i];
  *this = (U * diagonal) * V.transpose();
}

}  // namespace epipolar
