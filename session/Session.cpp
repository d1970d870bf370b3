#include "session/Session.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <span>
#include <utility>

#include "session/PairReader.h"
#include "session/ReadParts.h"

namespace epipolar {
namespace {

using Json = nlohmann::json;

// nlohmann writes a double as the shortest text that reads back to it (Grisu2 with a
// round-trip guarantee), and writes NaN and the infinities as null.
std::string jsonNumber(double value) { return std::isfinite(value) ? Json(value).dump() : "null"; }

std::string jsonString(const std::string& text) {
  return Json(text).dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string jsonMember(std::string_view key, const std::string& value) {
  return jsonString(std::string(key)) + ": " + value;
}

std::string jsonObject(const std::vector<std::string>& members) {
  std::string out = "{";
  for (std::size_t i = 0; i < members.size(); ++i) out += (i == 0 ? "" : ", ") + members[i];
  return out + "}";
}

std::string jsonPair(const Correspondence& pair, const std::optional<PairFit>& fit) {
  std::vector<std::string> members = {jsonMember("x0", jsonNumber(pair.x0)),
                                      jsonMember("y0", jsonNumber(pair.y0)),
                                      jsonMember("x1", jsonNumber(pair.x1)),
                                      jsonMember("y1", jsonNumber(pair.y1))};
  if (fit) {
    members.push_back(jsonMember("residual_px", jsonNumber(fit->residualPx)));
    members.push_back(jsonMember("inlier", fit->inlier ? "true" : "false"));
  }
  return jsonObject(members);
}

bool cameraKnown(const SessionCamera& camera) {
  return !camera.name.empty() || (camera.width > 0 && camera.height > 0);
}

std::string jsonCamera(const SessionCamera& camera) {
  std::vector<std::string> members;
  if (!camera.name.empty()) members.push_back(jsonMember("name", jsonString(camera.name)));
  if (camera.width > 0 && camera.height > 0) {
    members.push_back(jsonMember("width", std::to_string(camera.width)));
    members.push_back(jsonMember("height", std::to_string(camera.height)));
  }
  return jsonObject(members);
}

}  // namespace

std::size_t Session::inlierCount() const {
  const std::size_t n = std::min(fits.size(), pairs.size());
  return static_cast<std::size_t>(std::count_if(fits.begin(),
                                                fits.begin() + static_cast<std::ptrdiff_t>(n),
                                                [](auto& fit) { return fit && fit->inlier; }));
}

std::string sessionJson(const Session& session) {
  const std::size_t n = session.pairs.size();
  const auto fitOf = [&](std::size_t i) {
    return i < session.fits.size() ? session.fits[i] : std::optional<PairFit>();
  };
  bool anyFit = false;
  for (std::size_t i = 0; i < n && !anyFit; ++i) anyFit = fitOf(i).has_value();

  std::vector<std::string> members;
  members.push_back(jsonMember("pair_count", std::to_string(n)));
  if (anyFit) members.push_back(jsonMember("inlier_count", std::to_string(session.inlierCount())));
  if (!session.method.empty()) members.push_back(jsonMember("method", jsonString(session.method)));
  if (session.F) {
    std::string list = "[";
    for (std::size_t i = 0; i < 9; ++i) list += (i == 0 ? "" : ", ") + jsonNumber((*session.F)[i]);
    members.push_back(jsonMember("F", list + "]"));
  }
  const auto figure = [&](std::string_view key, const std::optional<double>& value) {
    if (value) members.push_back(jsonMember(key, jsonNumber(*value)));
  };
  figure("rms_sampson_px", session.rmsSampsonPx);
  figure("mean_symmetric_px", session.meanSymmetricPx);
  if (session.runs) members.push_back(jsonMember("runs", std::to_string(*session.runs)));
  figure("time_ms", session.timeMs);
  if (!session.warnings.empty() || !session.method.empty()) {
    std::string list = "[";
    for (std::size_t i = 0; i < session.warnings.size(); ++i) {
      list += (i == 0 ? "" : ", ") + jsonString(session.warnings[i]);
    }
    members.push_back(jsonMember("warnings", list + "]"));
  }
  if (cameraKnown(session.cameras[0]) || cameraKnown(session.cameras[1])) {
    members.push_back(jsonMember(
        "cameras",
        "[" + jsonCamera(session.cameras[0]) + ", " + jsonCamera(session.cameras[1]) + "]"));
  }
  std::string pairs = "[";
  for (std::size_t i = 0; i < n; ++i) {
    pairs += (i == 0 ? "\n    " : ",\n    ") + jsonPair(session.pairs[i], fitOf(i));
  }
  members.push_back(jsonMember("pairs", pairs + (n == 0 ? "]" : "\n  ]")));

  std::string out = "{\n";
  for (std::size_t i = 0; i < members.size(); ++i) {
    out += "  " + members[i] + (i + 1 < members.size() ? ",\n" : "\n");
  }
  return out + "}\n";
}

Session fittedSession(std::span<const Correspondence> pairs,
                      const FundamentalReport& report,
                      std::string method) {
  Session session;
  session.pairs.assign(pairs.begin(), pairs.end());
  session.method = std::move(method);
  session.runs = static_cast<std::uint64_t>(std::max(report.runs, 0));
  session.timeMs = report.timeMs;
  session.warnings = report.warnings;
  if (!report.found) return session;
  session.F = report.F;
  session.rmsSampsonPx = report.rmsSampson;
  session.meanSymmetricPx = report.meanSymmetric;
  session.fits.reserve(pairs.size());
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const bool inlier = i < report.inlierMask.size() && report.inlierMask[i];
    session.fits.push_back(PairFit{sampsonDistance(report.F, pairs[i]), inlier});
  }
  return session;
}

namespace session_detail {
namespace {

// Reads the session JSON as a stream of parser events straight into a Session, so that memory
// follows the session's size rather than the document's (an object costs the DOM about 64
// bytes, however short its text), and every value is checked where it is read. Keys the
// schema does not know are skipped whole, for files written by later versions.
class SessionReader final : public nlohmann::json_sax<Json> {
 public:
  SessionReader(std::string_view text, Session& session) : text_(text), out_(session) {}

  const std::string& error() const { return error_; }

  bool null() override { return scalar(Scalar{Kind::null}); }
  bool boolean(bool value) override {
    Scalar s{Kind::boolean};
    s.boolean = value;
    return scalar(s);
  }
  bool number_integer(std::int64_t value) override {
    // nlohmann gives an integer written with a minus sign here ("-3", "-0").
    if (value >= 0) return number_unsigned(static_cast<std::uint64_t>(value));
    Scalar s{Kind::negative};
    s.number = static_cast<double>(value);
    return scalar(s);
  }
  bool number_unsigned(std::uint64_t value) override {
    Scalar s{Kind::whole};
    s.whole = value;
    s.number = static_cast<double>(value);
    return scalar(s);
  }
  bool number_float(double value, const std::string&) override {
    Scalar s{Kind::real};
    s.number = value;
    return scalar(s);
  }
  bool string(std::string& value) override {
    Scalar s{Kind::string};
    s.text = &value;
    return scalar(s);
  }
  bool binary(Json::binary_t&) override { return fail(where(), "binary data is not JSON"); }

  bool start_object(std::size_t) override { return open(true); }
  bool start_array(std::size_t) override { return open(false); }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }

  bool key(std::string& name) override {
    if (skipDepth_ > 0) return true;
    Frame& top = stack_.back();
    top.key = name;
    const unsigned bit = keyBit(top.place, name);
    if (bit != 0) {
      if ((top.seen & bit) != 0) return fail(where(), "appears twice");
      top.seen |= bit;
    }
    return true;
  }

  bool parse_error(std::size_t position,
                   const std::string&,
                   const nlohmann::detail::exception& e) override {
    if (error_.empty()) error_ = syntaxMessage(e.what(), position);
    return false;
  }

 private:
  // Where a value stands: the root object, or inside one of the schema's lists and objects.
  enum class Place { root, pairs, pair, matrix, warnings, cameras, camera };
  enum class Kind { null, boolean, negative, whole, real, string };

  struct Scalar {
    explicit Scalar(Kind type) : kind(type) {}
    Kind kind;
    bool boolean = false;
    std::uint64_t whole = 0;
    double number = 0.0;
    std::string* text = nullptr;
  };

  struct Frame {
    explicit Frame(Place where) : place(where) {}
    Place place;
    std::size_t index = 0;  // lists: the element being read
    std::string key;        // objects: the key being read
    unsigned seen = 0;      // objects: known keys met so far, by keyBit
  };

  // Keys of the schema, one bit each per kind of object; 0 for keys it does not know.
  static unsigned keyBit(Place place, std::string_view name) {
    static constexpr std::string_view rootKeys[] = {"pairs",
                                                    "pair_count",
                                                    "inlier_count",
                                                    "F",
                                                    "method",
                                                    "rms_sampson_px",
                                                    "mean_symmetric_px",
                                                    "runs",
                                                    "time_ms",
                                                    "warnings",
                                                    "cameras"};
    static constexpr std::string_view pairKeys[] = {
        "x0", "y0", "x1", "y1", "residual_px", "inlier"};
    static constexpr std::string_view cameraKeys[] = {"name", "width", "height"};
    std::span<const std::string_view> keys;
    if (place == Place::root) keys = rootKeys;
    if (place == Place::pair) keys = pairKeys;
    if (place == Place::camera) keys = cameraKeys;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (keys[i] == name) return 1u << i;
    }
    return 0;
  }

  // The path of the value being read ("pairs[3].x0"), or of the frame at `depth` itself.
  std::string pathTo(std::size_t depth) const {
    std::string path;
    for (std::size_t i = 0; i < depth; ++i) {
      const Frame& frame = stack_[i];
      if (frame.place == Place::root || frame.place == Place::pair ||
          frame.place == Place::camera) {
        if (!path.empty()) path += '.';
        path += frame.key;
      } else {
        path += '[';
        path += std::to_string(frame.index);
        path += ']';
      }
    }
    return path;
  }
  std::string where() const { return pathTo(stack_.size()); }

  bool fail(const std::string& path, const std::string& what) {
    if (error_.empty()) error_ = (path.empty() ? std::string("the session") : path) + ": " + what;
    return false;
  }

  // "expected ..., " for a known key's value, for type errors.
  static std::string expected(std::string_view key) {
    if (key == "pairs" || key == "F" || key == "warnings" || key == "cameras") {
      return "expected a list, ";
    }
    if (key == "method" || key == "name") return "expected a string, ";
    if (key == "inlier") return "expected true or false, ";
    if (key == "x0" || key == "y0" || key == "x1" || key == "y1" || key == "residual_px" ||
        key == "rms_sampson_px" || key == "mean_symmetric_px" || key == "time_ms") {
      return "expected a number, ";
    }
    return "expected a whole number, ";
  }

  static std::string found(Kind kind) {
    switch (kind) {
      case Kind::null:
        return "found null";
      case Kind::boolean:
        return "found true or false";
      case Kind::string:
        return "found a string";
      default:
        return "found a number";
    }
  }

  // A value has been read completely: the list holding it moves on to its next element.
  void valueDone() {
    if (!stack_.empty()) ++stack_.back().index;
  }

  bool open(bool object) {
    const char* kind = object ? "found an object" : "found a list";
    if (skipDepth_ > 0) {
      ++skipDepth_;
      return true;
    }
    if (stack_.empty()) {
      if (!object) return fail("", "expected an object, found a list");
      stack_.push_back(Frame(Place::root));
      return true;
    }
    const Frame& top = stack_.back();
    switch (top.place) {
      case Place::root:
        if (!object && top.key == "pairs") return push(Place::pairs);
        if (!object && top.key == "F") return push(Place::matrix);
        if (!object && top.key == "warnings") return push(Place::warnings);
        if (!object && top.key == "cameras") return push(Place::cameras);
        break;
      case Place::pairs:
        if (!object) return fail(where(), "expected an object {x0, y0, x1, y1}, found a list");
        if (top.index >= kMaxPairs) {
          return fail("pairs", "more than " + std::to_string(kMaxPairs) + " pairs");
        }
        return push(Place::pair);
      case Place::cameras:
        if (!object) return fail(where(), "expected an object, found a list");
        if (top.index >= 2) return fail("cameras", "more than 2 entries (camera 0, camera 1)");
        return push(Place::camera);
      case Place::matrix:
        return fail(where(), std::string("expected a number, ") + kind);
      case Place::warnings:
        return fail(where(), std::string("expected a string, ") + kind);
      case Place::pair:
      case Place::camera:
        break;
    }
    // The value of an object's key.
    if (keyBit(top.place, top.key) != 0) return fail(where(), expected(top.key) + kind);
    skipDepth_ = 1;
    return true;
  }

  bool push(Place place) {
    stack_.push_back(Frame(place));
    if (place == Place::pair) {
      out_.pairs.emplace_back();
      out_.fits.emplace_back();
      fit_ = PairFit();
    }
    return true;
  }

  bool close() {
    if (skipDepth_ > 0) {
      if (--skipDepth_ == 0) valueDone();
      return true;
    }
    const Frame frame = stack_.back();
    const std::string path = pathTo(stack_.size() - 1);
    switch (frame.place) {
      case Place::pair:
        if (!closePair(frame, path)) return false;
        break;
      case Place::camera:
        if (((frame.seen & keyBit(Place::camera, "width")) != 0) !=
            ((frame.seen & keyBit(Place::camera, "height")) != 0)) {
          return fail(path, "width and height come together");
        }
        break;
      case Place::matrix:
        if (frame.index != 9) {
          return fail("F", "holds " + std::to_string(frame.index) + " numbers, expected 9");
        }
        if (const std::string problem = matrixProblem(matrix_); !problem.empty()) {
          return fail("F", problem);
        }
        out_.F = matrix_;
        break;
      case Place::cameras:
        if (frame.index != 2) {
          return fail(
              "cameras",
              "expected 2 entries (camera 0, camera 1), found " + std::to_string(frame.index));
        }
        break;
      case Place::root:
        if (!closeRoot()) return false;
        break;
      case Place::pairs:
      case Place::warnings:
        break;
    }
    stack_.pop_back();
    valueDone();
    return true;
  }

  bool closePair(const Frame& frame, const std::string& path) {
    for (std::string_view name : {"x0", "y0", "x1", "y1"}) {
      if ((frame.seen & keyBit(Place::pair, name)) == 0) {
        return fail(path, std::string(name) + " is missing");
      }
    }
    const bool residual = (frame.seen & keyBit(Place::pair, "residual_px")) != 0;
    const bool inlier = (frame.seen & keyBit(Place::pair, "inlier")) != 0;
    if (residual != inlier) {
      return fail(path, residual ? "residual_px without inlier" : "inlier without residual_px");
    }
    if (residual) out_.fits.back() = fit_;
    return true;
  }

  bool closeRoot() {
    if (pairCount_ && *pairCount_ != out_.pairs.size()) {
      return fail("pair_count",
                  "is " + std::to_string(*pairCount_) + " but pairs holds " +
                      std::to_string(out_.pairs.size()));
    }
    if (inlierCount_ && *inlierCount_ != out_.inlierCount()) {
      return fail("inlier_count",
                  "is " + std::to_string(*inlierCount_) + " but " +
                      std::to_string(out_.inlierCount()) + " pairs are marked inlier");
    }
    if (std::none_of(out_.fits.begin(), out_.fits.end(), [](auto& fit) { return fit; })) {
      out_.fits.clear();
    }
    return true;
  }

  bool scalar(const Scalar& value) {
    if (skipDepth_ > 0) return true;
    if (stack_.empty()) return fail("", "expected an object");
    Frame& top = stack_.back();
    bool good = true;
    switch (top.place) {
      case Place::root:
        good = rootValue(top.key, value);
        break;
      case Place::pair:
        good = pairValue(top.key, value);
        break;
      case Place::camera:
        good = cameraValue(top.key, value);
        break;
      case Place::matrix:
        if (top.index >= 9) return fail("F", "holds more than 9 numbers, expected 9");
        good = finiteNumber(value, matrix_[top.index], /*coordinate=*/false);
        break;
      case Place::warnings:
        if (value.kind != Kind::string)
          return fail(where(), "expected a string, " + found(value.kind));
        if (top.index >= kMaxWarnings) {
          return fail("warnings", "more than " + std::to_string(kMaxWarnings) + " warnings");
        }
        out_.warnings.push_back(std::move(*value.text));
        break;
      case Place::pairs:
        return fail(where(), "expected an object {x0, y0, x1, y1}, " + found(value.kind));
      case Place::cameras:
        return fail(where(), "expected an object, " + found(value.kind));
    }
    if (!good) return false;
    valueDone();
    return true;
  }

  bool rootValue(const std::string& key, const Scalar& value) {
    if (key == "pair_count") return count(value, pairCount_);
    if (key == "inlier_count") return count(value, inlierCount_);
    if (key == "runs") return count(value, out_.runs);
    if (key == "method") return text(value, out_.method);
    if (key == "rms_sampson_px") return figure(value, out_.rmsSampsonPx);
    if (key == "mean_symmetric_px") return figure(value, out_.meanSymmetricPx);
    if (key == "time_ms") return figure(value, out_.timeMs);
    if (keyBit(Place::root, key) != 0) return fail(where(), expected(key) + found(value.kind));
    return true;
  }

  bool pairValue(const std::string& key, const Scalar& value) {
    Correspondence& pair = out_.pairs.back();
    if (key == "x0") return finiteNumber(value, pair.x0, true);
    if (key == "y0") return finiteNumber(value, pair.y0, true);
    if (key == "x1") return finiteNumber(value, pair.x1, true);
    if (key == "y1") return finiteNumber(value, pair.y1, true);
    if (key == "inlier") {
      if (value.kind != Kind::boolean)
        return fail(where(), "expected true or false, " + found(value.kind));
      fit_.inlier = value.boolean;
      return true;
    }
    if (key == "residual_px") {
      // null is a residual that is not finite: a pair on an epipole (Session.h).
      if (value.kind == Kind::null) {
        fit_.residualPx = std::numeric_limits<double>::infinity();
        return true;
      }
      std::optional<double> residual;
      if (!figure(value, residual)) return false;
      fit_.residualPx = residual.value_or(0.0);
    }
    return true;
  }

  bool cameraValue(const std::string& key, const Scalar& value) {
    SessionCamera& camera = out_.cameras[stack_[stack_.size() - 2].index];
    if (key == "name") return text(value, camera.name);
    if (key != "width" && key != "height") return true;
    std::optional<std::uint64_t> side;
    if (!count(value, side)) return false;
    if (*side < 1 || *side > static_cast<std::uint64_t>(kMaxPictureSidePx)) {
      return fail(where(),
                  std::to_string(*side) + " is not a picture side (1 to " +
                      std::to_string(kMaxPictureSidePx) + " pixels)");
    }
    (key == "width" ? camera.width : camera.height) = static_cast<int>(*side);
    return true;
  }

  bool finiteNumber(const Scalar& value, double& target, bool coordinate) {
    const bool number =
        value.kind == Kind::negative || value.kind == Kind::whole || value.kind == Kind::real;
    if (value.kind == Kind::null) return fail(where(), "not a finite number (null)");
    if (!number) return fail(where(), "expected a number, " + found(value.kind));
    if (!std::isfinite(value.number)) return fail(where(), "not a finite number");
    if (coordinate) {
      if (const std::string problem = coordinateProblem(value.number); !problem.empty()) {
        return fail(where(), problem);
      }
    }
    target = value.number;
    return true;
  }

  // A non-negative summary figure; null is unknown.
  bool figure(const Scalar& value, std::optional<double>& target) {
    if (value.kind == Kind::null) {
      target.reset();
      return true;
    }
    double number = 0.0;
    if (!finiteNumber(value, number, false)) return false;
    if (number < 0.0) return fail(where(), "must not be negative");
    target = number;
    return true;
  }

  bool count(const Scalar& value, std::optional<std::uint64_t>& target) {
    if (value.kind == Kind::whole) {
      target = value.whole;
      return true;
    }
    if (value.kind == Kind::negative) return fail(where(), "must not be negative");
    if (value.kind == Kind::real) return fail(where(), "expected a whole number");
    return fail(where(), "expected a whole number, " + found(value.kind));
  }

  bool text(const Scalar& value, std::string& target) {
    if (value.kind != Kind::string) return fail(where(), "expected a string, " + found(value.kind));
    target = std::move(*value.text);
    return true;
  }

  // nlohmann's message, "[json.exception.parse_error.101] parse error at line 2, column 5:
  // syntax error while parsing value - invalid literal; last read: '...'; expected ...", as
  // "line 2, column 5: syntax error ...": the token it last read is left out (it may be long,
  // or hold bytes a message should not). Messages without a place ("number overflow parsing
  // '1e999'") get the line and column of `position`, the count of bytes read.
  std::string syntaxMessage(std::string_view what, std::size_t position) const {
    std::string message;
    if (const std::size_t at = what.find(" at line "); at != std::string_view::npos) {
      message = what.substr(at + 4);
    } else {
      const std::size_t tag = what.find("] ");
      const std::string_view before = text_.substr(0, std::min(position, text_.size()));
      const std::size_t lastBreak = before.rfind('\n');
      message =
          "line " + std::to_string(std::count(before.begin(), before.end(), '\n') + 1) +
          ", column " +
          std::to_string(lastBreak == std::string_view::npos ? before.size()
                                                             : before.size() - lastBreak - 1) +
          ": " + std::string(tag == std::string_view::npos ? what : what.substr(tag + 2));
    }
    const std::size_t lastRead = message.find("; last read: ");
    if (lastRead != std::string::npos) {
      const std::size_t expected = message.find("; expected ", lastRead);
      message.erase(lastRead,
                    expected == std::string::npos ? std::string::npos : expected - lastRead);
    }
    std::string clean;
    for (char c : message.substr(0, 200)) clean += (c >= 0x20 && c < 0x7f) ? c : '?';
    return clean;
  }

  std::string_view text_;
  Session& out_;
  std::string error_;
  std::vector<Frame> stack_;
  int skipDepth_ = 0;
  Matrix3x3 matrix_{};
  PairFit fit_;
  std::optional<std::uint64_t> pairCount_;
  std::optional<std::uint64_t> inlierCount_;
};

}  // namespace

std::string readSessionJson(std::string_view text, Session& session) {
  SessionReader reader(text, session);
  try {
    if (Json::sax_parse(text.begin(), text.end(), &reader)) return std::string();
  } catch (const Json::exception& e) {
    return std::string("not valid JSON (") + e.what() + ")";
  }
  return reader.error().empty() ? std::string("not valid JSON") : reader.error();
}

}  // namespace session_detail
}  // namespace epipolar
