#include "session/CalibrationYaml.h"

#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

#include "session/ReadParts.h"

namespace epipolar {
namespace {

using session_detail::matrixProblem;
using session_detail::quoted;
using session_detail::readNumber;

std::string yamlNumber(double value) {
  if (std::isnan(value)) return ".Nan";
  if (std::isinf(value)) return value > 0 ? ".Inf" : "-.Inf";
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  std::string number(text);
  // "%.17g" writes 3.0 as "3" and -0.0 as "-0": typed as integers, they would lose the sign
  // of zero in OpenCV's reader.
  if (number.find_first_of(".e") == std::string::npos) number += ".0";
  return number;
}

std::string_view trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// A YAML comment starts with "#" at the start of the line or after a blank.
std::string_view withoutComment(std::string_view line) {
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '#' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t')) {
      return line.substr(0, i);
    }
  }
  return line;
}

std::string at(std::size_t line, const std::string& what) {
  return "line " + std::to_string(line) + ": " + what;
}

// The mapping under "F: !!opencv-matrix" as it is read.
struct MatrixEntry {
  std::size_t line = 0;  // of the "F:" key
  std::optional<long long> rows, cols;
  bool dtSeen = false;
  std::size_t dataLine = 0;  // of "data:"; 0 when not seen
  bool dataClosed = false;
  std::vector<double> data;
};

class YamlReader {
 public:
  std::string read(std::string_view text, Matrix3x3& F) {
    std::size_t lineNumber = 0;
    while (!text.empty()) {
      const std::size_t end = text.find('\n');
      std::string_view line = text.substr(0, end);
      text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
      ++lineNumber;
      while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (std::string problem = readLine(line, lineNumber); !problem.empty()) return problem;
    }
    return finish(F);
  }

 private:
  enum class State { top, matrix, other, data };

  std::string readLine(std::string_view line, std::size_t number) {
    if (state_ == State::data) return readData(withoutComment(line), number);
    line = withoutComment(line);
    if (trim(line).empty()) return {};
    const std::size_t indent = line.find_first_not_of(' ');
    if (line[indent] == '\t') return at(number, "a tab in the indentation");
    if (indent == 0) {
      if (line[0] == '%' || line.starts_with("---") || line.starts_with("...")) {
        state_ = State::top;
        return {};
      }
      return readTopKey(line, number);
    }
    if (state_ == State::other) return {};
    if (state_ == State::top) return at(number, "indented line outside any key");
    return readMatrixKey(trim(line), number);
  }

  std::string readTopKey(std::string_view line, std::size_t number) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return at(number, "expected \"key: value\"");
    if (trim(line.substr(0, colon)) != "F") {
      state_ = State::other;
      return {};
    }
    if (entry_.line != 0)
      return at(number, "a second F (the first is on line " + std::to_string(entry_.line) + ")");
    const std::string_view tag = trim(line.substr(colon + 1));
    if (tag != "!!opencv-matrix") {
      return at(number, "F is " + quoted(tag) + ", expected \"!!opencv-matrix\"");
    }
    entry_.line = number;
    state_ = State::matrix;
    return {};
  }

  std::string readMatrixKey(std::string_view line, std::size_t number) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return at(number, "expected \"key: value\"");
    const std::string_view key = trim(line.substr(0, colon));
    const std::string_view value = trim(line.substr(colon + 1));
    if (key == "rows" || key == "cols") {
      std::optional<long long>& target = key == "rows" ? entry_.rows : entry_.cols;
      if (target) return at(number, std::string(key) + " appears twice");
      double size = 0.0;
      if (!readNumber(value, size).empty() || size != 3.0) {
        return at(number, std::string(key) + " is " + quoted(value) + ", expected 3");
      }
      target = 3;
      return {};
    }
    if (key == "dt") {
      if (entry_.dtSeen) return at(number, "dt appears twice");
      if (value != "d" && value != "f") {
        return at(number, "dt is " + quoted(value) + ", expected d (double) or f (float)");
      }
      entry_.dtSeen = true;
      return {};
    }
    if (key == "data") {
      if (entry_.dataLine != 0) return at(number, "data appears twice");
      if (!value.starts_with('[')) return at(number, "data must be a list [ ... ]");
      entry_.dataLine = number;
      state_ = State::data;
      // The list starts after "[" on this very line.
      const std::size_t open = line.find('[', colon);
      return readData(line.substr(open + 1), number);
    }
    return at(number, "F holds an unknown key " + quoted(key));
  }

  // Elements of the flow list "[ a, b, ... ]", which may span lines; ends at "]".
  std::string readData(std::string_view line, std::size_t number) {
    std::size_t i = 0;
    while (i < line.size()) {
      const char c = line[i];
      if (c == ' ' || c == '\t') {
        ++i;
      } else if (c == ',') {
        if (!elementSeen_) return at(number, "an empty element in data");
        elementSeen_ = false;
        ++i;
      } else if (c == ']') {
        if (!elementSeen_ && !entry_.data.empty()) return at(number, "an empty element in data");
        if (!trim(withoutComment(line.substr(i + 1))).empty()) {
          return at(number, "text after the end of data");
        }
        entry_.dataClosed = true;
        state_ = State::matrix;
        return {};
      } else {
        if (elementSeen_) return at(number, "data elements must be separated by commas");
        const std::size_t end = line.find_first_of(" \t,]", i);
        const std::string_view token = line.substr(i, end - i);
        double value = 0.0;
        if (std::string problem = readNumber(token, value); !problem.empty()) {
          return at(number, problem);
        }
        if (entry_.data.size() == 9)
          return at(number, "data holds more than 9 numbers, expected 9");
        entry_.data.push_back(value);
        elementSeen_ = true;
        i = end == std::string_view::npos ? line.size() : end;
      }
    }
    return {};
  }

  std::string finish(Matrix3x3& F) {
    if (state_ == State::data) {
      return at(entry_.dataLine, "the data list is not closed with \"]\"");
    }
    if (entry_.line == 0) return "no matrix F (a key \"F: !!opencv-matrix\")";
    if (!entry_.rows || !entry_.cols || !entry_.dtSeen || entry_.dataLine == 0) {
      const char* missing = !entry_.rows     ? "rows"
                            : !entry_.cols   ? "cols"
                            : !entry_.dtSeen ? "dt"
                                             : "data";
      return at(entry_.line, std::string("F has no ") + missing);
    }
    if (entry_.data.size() != 9) {
      return at(entry_.dataLine,
                "data holds " + std::to_string(entry_.data.size()) + " numbers, expected 9");
    }
    Matrix3x3 matrix;
    for (std::size_t i = 0; i < 9; ++i) matrix[i] = entry_.data[i];
    if (const std::string problem = matrixProblem(matrix); !problem.empty()) {
      return at(entry_.dataLine, "F " + problem);
    }
    F = matrix;
    return {};
  }

  State state_ = State::top;
  MatrixEntry entry_;
  bool elementSeen_ = false;
};

}  // namespace

std::string calibrationYaml(const Matrix3x3& F) {
  std::string out =
      "%YAML:1.0\n"
      "---\n"
      "F: !!opencv-matrix\n"
      "   rows: 3\n"
      "   cols: 3\n"
      "   dt: d\n"
      "   data: [ ";
  for (std::size_t i = 0; i < 9; ++i) {
    out += yamlNumber(F[i]);
    out += i == 8 ? " ]\n" : i % 3 == 2 ? ",\n       " : ", ";
  }
  return out;
}

std::string readCalibrationYaml(std::string_view text, Matrix3x3& F) {
  return YamlReader().read(text, F);
}

}  // namespace epipolar
