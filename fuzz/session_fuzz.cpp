// Fuzz target for the one pair reader: any bytes either read, or give one line naming the
// input and load nothing. What reads must survive a write: the session JSON written from it
// reads back to bit-identical values and writes the same bytes again, and its F written as the
// calibration YAML reads back bit for bit.
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "session/CalibrationYaml.h"
#include "session/PairReader.h"

namespace {

using epipolar::PairFile;
using epipolar::Session;

void check(bool condition, const char* what, const std::string& detail = std::string()) {
  if (!condition) {
    std::fprintf(stderr, "session fuzz: %s\n%s\n", what, detail.c_str());
    std::abort();
  }
}

bool same(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool same(const std::optional<double>& a, const std::optional<double>& b) {
  return a.has_value() == b.has_value() && (!a || same(*a, *b));
}

bool sameSession(const Session& a, const Session& b) {
  if (a.pairs.size() != b.pairs.size() || a.fits.size() != b.fits.size()) return false;
  for (std::size_t i = 0; i < a.pairs.size(); ++i) {
    const auto& p = a.pairs[i];
    const auto& q = b.pairs[i];
    if (!same(p.x0, q.x0) || !same(p.y0, q.y0) || !same(p.x1, q.x1) || !same(p.y1, q.y1)) {
      return false;
    }
  }
  for (std::size_t i = 0; i < a.fits.size(); ++i) {
    if (a.fits[i].has_value() != b.fits[i].has_value()) return false;
    if (a.fits[i] && (!same(a.fits[i]->residualPx, b.fits[i]->residualPx) ||
                      a.fits[i]->inlier != b.fits[i]->inlier)) {
      return false;
    }
  }
  if (a.F.has_value() != b.F.has_value()) return false;
  for (std::size_t i = 0; a.F && i < 9; ++i) {
    if (!same((*a.F)[i], (*b.F)[i])) return false;
  }
  return a.method == b.method && same(a.rmsSampsonPx, b.rmsSampsonPx) &&
         same(a.meanSymmetricPx, b.meanSymmetricPx) && a.runs == b.runs &&
         same(a.timeMs, b.timeMs) && a.warnings == b.warnings && a.cameras == b.cameras;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const PairFile read = epipolar::readPairBytes(bytes, "input");
  if (!read.ok()) {
    check(read.error.starts_with("input: ") && read.error.size() > 7,
          "a message without the name",
          read.error);
    check(read.error.find_first_of("\r\n") == std::string::npos,
          "a message of several lines",
          read.error);
    check(read.session.pairs.empty() && read.session.fits.empty() && !read.session.F,
          "bad input loaded something",
          read.error);
    return 0;
  }
  const std::string json = epipolar::sessionJson(read.session);
  const PairFile again = epipolar::readPairBytes(json, "written");
  check(again.ok(), "the written session JSON is refused", again.error + "\n" + json);
  check(sameSession(read.session, again.session), "the session JSON changed a value", json);
  check(epipolar::sessionJson(again.session) == json, "writing is not a fixed point", json);
  if (read.session.F) {
    const std::string yaml = epipolar::calibrationYaml(*read.session.F);
    const PairFile matrix = epipolar::readPairBytes(yaml, "written");
    check(
        matrix.ok() && matrix.session.F, "the written YAML is refused", matrix.error + "\n" + yaml);
    Session only;
    only.F = read.session.F;
    check(sameSession(only, matrix.session), "the YAML changed F", yaml);
  }
  return 0;
}
