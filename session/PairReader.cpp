#include "session/PairReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iostream>
#include <memory>
#include <system_error>

#include "session/CalibrationYaml.h"
#include "session/ReadParts.h"
#include "settings/Calibration.h"
#include "settings/ConfigFile.h"

namespace epipolar {

namespace session_detail {

std::string quoted(std::string_view token) {
  constexpr std::size_t kShown = 40;
  std::string out = "'";
  for (char c : token.substr(0, kShown)) out += (c >= 0x20 && c < 0x7f) ? c : '?';
  return out + (token.size() > kShown ? "...'" : "'");
}

std::string readNumber(std::string_view token, double& value) {
  std::string_view digits = token;
  // from_chars takes no "+"; a second sign after it stays an error.
  if (digits.starts_with('+') && digits.size() > 1 && digits[1] != '-') digits.remove_prefix(1);
  double number = 0.0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (ec == std::errc::result_out_of_range && end == digits.data() + digits.size()) {
    return quoted(token) + " is out of range";
  }
  if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty()) {
    // OpenCV writes the non-finite values as .Nan, .Inf and -.Inf.
    std::string lower(token);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool nonFiniteWord =
        lower.find("nan") != std::string::npos || lower.find("inf") != std::string::npos;
    return quoted(token) + (nonFiniteWord ? " is not a finite number" : " is not a number");
  }
  if (!std::isfinite(number)) return quoted(token) + " is not a finite number";
  value = number;
  return {};
}

std::string coordinateProblem(double value) {
  if (!std::isfinite(value)) return "not a finite number";
  if (std::fabs(value) > kMaxCoordinatePx) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6g is beyond +-%.0f pixels", value, kMaxCoordinatePx);
    return text;
  }
  return {};
}

std::string matrixProblem(const Matrix3x3& F) {
  for (std::size_t i = 0; i < 9; ++i) {
    if (!std::isfinite(F[i])) return "element " + std::to_string(i) + " is not a finite number";
  }
  if (std::all_of(F.begin(), F.end(), [](double f) { return f == 0.0; })) {
    return "has all elements zero";
  }
  return {};
}

}  // namespace session_detail

namespace {

using session_detail::coordinateProblem;
using session_detail::matrixProblem;
using session_detail::quoted;
using session_detail::readNumber;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kBlanks = " \t\v\f\r";

std::string at(std::size_t line, const std::string& what) {
  return "line " + std::to_string(line) + ": " + what;
}

std::string_view trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// Calls `visit(line, number)` for each line without its "\n" (and any "\r" before it), with
// numbers from 1, until it returns a non-empty message, which is returned.
template <typename Visit>
std::string forEachLine(std::string_view text, Visit visit) {
  std::size_t number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (std::string problem = visit(line, ++number); !problem.empty()) return problem;
  }
  return {};
}

PairFileFormat formatOf(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n\v\f");
  if (first == std::string_view::npos) return PairFileFormat::pairText;
  if (text[first] == '{') return PairFileFormat::sessionJson;
  if (text.substr(first).starts_with("%YAML")) return PairFileFormat::calibrationYaml;
  bool settings = false;
  forEachLine(text, [&](std::string_view line, std::size_t) {
    settings = line.starts_with('[') || line.starts_with("matrixStored=");
    return settings ? "found" : "";
  });
  return settings ? PairFileFormat::camsConf : PairFileFormat::pairText;
}

// ---- pair text ----

// Splits a line (comment and outer blanks removed) into at most 5 fields: at commas when it
// has one (blanks around a comma belong to it), else at runs of blanks. An empty field between
// commas is kept, to be reported.
std::size_t splitFields(std::string_view line, std::array<std::string_view, 5>& fields) {
  std::size_t count = 0;
  const bool commas = line.find(',') != std::string_view::npos;
  while (count < fields.size()) {
    if (commas) {
      const std::size_t comma = line.find(',');
      fields[count++] = trim(line.substr(0, comma));
      if (comma == std::string_view::npos) break;
      line.remove_prefix(comma + 1);
    } else {
      line = trim(line);
      if (line.empty()) break;
      const std::size_t blank = line.find_first_of(kBlanks);
      fields[count++] = line.substr(0, blank);
      if (blank == std::string_view::npos) break;
      line.remove_prefix(blank);
    }
  }
  return count;
}

std::string readPairText(std::string_view text, Session& out) {
  bool contentSeen = false;
  return forEachLine(text, [&](std::string_view line, std::size_t number) -> std::string {
    line = trim(line.substr(0, line.find('#')));
    if (line.empty()) return {};
    std::array<std::string_view, 5> fields;
    const std::size_t count = splitFields(line, fields);
    const bool first = !contentSeen;
    contentSeen = true;
    if (first && count == 4 && fields[0] == "x0" && fields[1] == "y0" && fields[2] == "x1" &&
        fields[3] == "y1") {
      return {};
    }
    if (count != 4) {
      return at(number,
                "expected 4 numbers (x0 y0 x1 y1), found " +
                    (count == 5 ? std::string("more") : std::to_string(count)));
    }
    static constexpr const char* kNames[] = {"x0", "y0", "x1", "y1"};
    std::array<double, 4> values{};
    for (std::size_t i = 0; i < 4; ++i) {
      if (fields[i].empty()) return at(number, std::string("empty field for ") + kNames[i]);
      if (std::string problem = readNumber(fields[i], values[i]); !problem.empty()) {
        return at(number, problem);
      }
      if (std::string problem = coordinateProblem(values[i]); !problem.empty()) {
        return at(number, std::string(kNames[i]) + " " + problem);
      }
    }
    if (out.pairs.size() == kMaxPairs) {
      return at(number, "more than " + std::to_string(kMaxPairs) + " pairs");
    }
    out.pairs.push_back({values[0], values[1], values[2], values[3]});
    return {};
  });
}

// ---- cams.conf ----

// The settings store reads through the File interface; this one serves text in memory with
// StdioFile's line rules (a line ends at "\n", carriage returns before it are dropped, the end
// of the text ends the last line), so the store parses it exactly as it parses cams.conf.
class TextFile final : public File {
 public:
  explicit TextFile(std::string_view text) : text_(text) {}

  int read(void*, std::size_t) override { return -1; }
  int write(const void*, std::size_t) override { return -1; }
  void seek(long, int) override {}
  void close() override {}
  void flush() override {}
  bool atEnd() const override { return atEnd_; }
  std::string readLine() override {
    // StdioFile reports the end only after a read has met it, so the last line of a text
    // ending in "\n" is followed by one more, empty, line; the store treats both the same.
    const std::size_t end = text_.find('\n', position_);
    std::string line(text_.substr(position_, end - position_));
    if (end == std::string_view::npos) {
      position_ = text_.size();
      atEnd_ = true;
    } else {
      position_ = end + 1;
    }
    while (!line.empty() && line.back() == '\r') line.pop_back();
    return line + '\n';
  }
  int reset(int keep) override { return keep; }
  bool writable() const override { return false; }
  bool readFailed() const override { return false; }
  std::size_t longLines() const override { return 0; }
  bool replaceContent(std::string_view) override { return false; }
  const std::string& path() const override { return path_; }

 private:
  std::string_view text_;
  std::size_t position_ = 0;
  bool atEnd_ = false;
  std::string path_ = "cams.conf";
};

std::string readCamsConf(std::string_view text, Session& out) {
  if (text.size() > kMaxSettingsBytes) {
    return "a cams.conf larger than " + std::to_string(kMaxSettingsBytes >> 20) +
           " MiB, the most the reader takes";
  }
  // The store would drop an over-long line with a note on standard error; here it is bad input.
  std::string problem = forEachLine(text, [](std::string_view line, std::size_t number) {
    return line.size() + 1 > kMaxLineLength
               ? at(number, "longer than " + std::to_string(kMaxLineLength) + " bytes")
               : std::string();
  });
  if (!problem.empty()) return problem;

  // A store on a name that cannot exist opens no file; load() then gives it the text.
  ConfigFile settings("");
  settings.load(std::make_unique<TextFile>(text));

  const auto valueProblem =
      [&](std::string_view section, const std::string& key, double value, bool coordinate) {
        std::string where;
        if (!section.empty()) {
          where += '[';
          where += section;
          where += "] ";
        }
        where += key;
        const std::string raw = settings.getString(section, key);
        if (!std::isfinite(value)) return where + ": " + quoted(raw) + " is not a finite number";
        if (coordinate) {
          if (std::string what = coordinateProblem(value); !what.empty())
            return where + ": " + what;
        }
        return std::string();
      };

  if (storedPointsOffered(settings)) {
    std::vector<Correspondence> points = readStoredPoints(settings);
    for (std::size_t i = 0; i < points.size(); ++i) {
      const std::string x = "pt" + std::to_string(i) + "x";
      const std::string y = "pt" + std::to_string(i) + "y";
      const Correspondence& p = points[i];
      for (const std::string& what : {valueProblem("Cam0", x, p.x0, true),
                                      valueProblem("Cam0", y, p.y0, true),
                                      valueProblem("Cam1", x, p.x1, true),
                                      valueProblem("Cam1", y, p.y1, true)}) {
        if (!what.empty()) return what;
      }
    }
    out.pairs = std::move(points);
  }
  if (settings.getBool("", "matrixStored")) {
    const Matrix stored = readStoredMatrix(settings);
    Matrix3x3 F;
    for (std::size_t i = 0; i < 9; ++i) {
      F[i] = stored.data()[i];
      if (std::string what = valueProblem("", "mat" + std::to_string(i), F[i], false);
          !what.empty()) {
        return what;
      }
    }
    if (std::string what = matrixProblem(F); !what.empty()) return "mat0..mat8: F " + what;
    out.F = F;
  }
  return {};
}

// ---- reading bytes ----

PairFile failure(std::string_view name, const std::string& problem) {
  PairFile result;
  result.error = std::string(name) + ": " + problem;
  // One line whatever the name holds.
  for (char& c : result.error) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return result;
}

std::string tooLarge() {
  return "larger than " + std::to_string(kMaxInputBytes >> 20) + " MiB, the most the reader takes";
}

}  // namespace

PairFile readPairBytes(std::string_view bytes, std::string_view name) {
  if (bytes.size() > kMaxInputBytes) return failure(name, tooLarge());
  if (bytes.starts_with(kByteOrderMark)) bytes.remove_prefix(kByteOrderMark.size());
  PairFile result;
  result.format = formatOf(bytes);
  std::string problem;
  switch (result.format) {
    case PairFileFormat::sessionJson:
      problem = session_detail::readSessionJson(bytes, result.session);
      break;
    case PairFileFormat::calibrationYaml: {
      Matrix3x3 F;
      problem = readCalibrationYaml(bytes, F);
      if (problem.empty()) result.session.F = F;
      break;
    }
    case PairFileFormat::camsConf:
      problem = readCamsConf(bytes, result.session);
      break;
    case PairFileFormat::pairText:
      problem = readPairText(bytes, result.session);
      break;
  }
  if (!problem.empty()) {
    PairFile bad = failure(name, problem);
    bad.format = result.format;
    return bad;
  }
  return result;
}

PairFile readPairStream(std::istream& in, std::string_view name) {
  std::string bytes;
  std::array<char, 1 << 16> chunk;
  while (in && bytes.size() <= kMaxInputBytes) {
    in.read(chunk.data(), chunk.size());
    bytes.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) return failure(name, "cannot be read");
  if (bytes.size() > kMaxInputBytes) return failure(name, tooLarge());
  return readPairBytes(bytes, name);
}

PairFile readPairFile(const std::string& path) {
  if (path == "-") return readPairStream(std::cin, "standard input");
  const auto cannotRead = [&](int error) {
    return failure(path, std::string("cannot be read (") + std::strerror(error) + ")");
  };
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return cannotRead(errno);
  std::string bytes;
  struct stat status {};
  int error = 0;
  if (::fstat(fd, &status) != 0) {
    error = errno;
  } else if (S_ISDIR(status.st_mode)) {
    error = EISDIR;
  } else if (S_ISREG(status.st_mode) &&
             static_cast<std::uintmax_t>(status.st_size) > kMaxInputBytes) {
    ::close(fd);
    return failure(path, tooLarge());
  } else {
    std::array<char, 1 << 16> chunk;
    while (bytes.size() <= kMaxInputBytes) {
      const ssize_t got = ::read(fd, chunk.data(), chunk.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) error = errno;
      if (got <= 0) break;
      bytes.append(chunk.data(), static_cast<std::size_t>(got));
    }
  }
  ::close(fd);
  if (error != 0) return cannotRead(error);
  if (bytes.size() > kMaxInputBytes) return failure(path, tooLarge());
  return readPairBytes(bytes, path);
}

PairFile readCalibration(const std::string& calibrationPath, const std::string& pairsPath) {
  if (calibrationPath == "-" && pairsPath == "-") {
    return failure("standard input", "cannot hold both the calibration and the pairs");
  }
  PairFile calibration = readPairFile(calibrationPath);
  if (!calibration.ok()) return calibration;
  if (!calibration.session.F) {
    return failure(calibrationPath,
                   "holds no F (a session JSON with \"F\", a cams.conf with matrixStored=true, "
                   "or the calibration YAML)");
  }
  if (pairsPath.empty()) {
    if (calibration.format == PairFileFormat::calibrationYaml) {
      return failure(calibrationPath,
                     "the calibration YAML holds F only; give the pairs with --pairs");
    }
    return calibration;
  }
  PairFile pairs = readPairFile(pairsPath);
  if (!pairs.ok()) return pairs;
  // Bitwise equality: the fits belong to exactly that matrix.
  const bool sameF = pairs.session.F && std::equal(pairs.session.F->begin(),
                                                   pairs.session.F->end(),
                                                   calibration.session.F->begin(),
                                                   [](double a, double b) {
                                                     return std::bit_cast<std::uint64_t>(a) ==
                                                            std::bit_cast<std::uint64_t>(b);
                                                   });
  calibration.session.pairs = std::move(pairs.session.pairs);
  calibration.session.fits.clear();
  if (sameF) calibration.session.fits = std::move(pairs.session.fits);
  return calibration;
}

}  // namespace epipolar
