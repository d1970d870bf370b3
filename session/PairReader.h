// The one reader of pairs and calibrations. Every command and option that takes pairs or a
// calibration reads through it, so all of them accept the same files and refuse bad ones the
// same way.
//
// The format is decided by content, after an optional UTF-8 byte order mark:
//   1. the first non-blank character is "{"       -> the session JSON (session/Session.h);
//   2. the text starts with "%YAML"               -> the calibration YAML (CalibrationYaml.h):
//                                                    F only, no pairs;
//   3. a line starts with "[" (a section header) or with "matrixStored=" -> cams.conf, read as
//      the program's start-up restore reads it: the points only when "hasPoints" of Cam0 is
//      true (pt<i>x/pt<i>y of Cam0 and Cam1 for i = 0, 1, ... while pt<i>x of Cam0 has a value,
//      at most kPointRestoreLimit), numbers as atof reads them (so "12abc" is 12 and an
//      unreadable value 0), and F from mat0..mat8 only when "matrixStored" is true. Unlike the
//      restore, "configured" of Cam0 does not hide F: it only skips the start-up question;
//   4. anything else                              -> pair text: one pair "x0 y0 x1 y1" per line,
//      the four numbers separated by blanks or by commas (blanks around a comma allowed), "#"
//      starts a comment, blank lines are skipped, and the first non-blank line may be the
//      header "x0,y0,x1,y1" (or "x0 y0 x1 y1"). Lines may end in "\r\n".
//
// All or nothing: a bad file gives one message of one line, "<name>: <where>: <what is wrong>",
// where <where> is "line N" (text, YAML, JSON syntax), the JSON path ("pairs[3].x0") or the
// cams.conf key ("[Cam1] pt4y"), and an empty session. Bad input is: a malformed line or
// value, a number that is not finite (or not finite once read: 1e999), a coordinate beyond
// +-kMaxCoordinatePx, more than kMaxPairs pairs or kMaxWarnings warnings, a picture side
// outside 1..kMaxPictureSidePx, an F with a non-finite element or all zeros, input longer than
// kMaxInputBytes, a cams.conf longer than kMaxSettingsBytes or with a line longer than
// kMaxLineLength. A file with no pairs (and no F) is not bad input: callers decide how many
// pairs they need.
//
// Memory: the input is held once (at most kMaxInputBytes) and the JSON is read as a stream of
// events straight into the session, so the memory is a small multiple of the input. cams.conf
// goes through the settings store, which keeps every key in a map (up to about 40 times the
// file's bytes for a file of tiny keys); its smaller limit bounds that.
//
// What each caller uses:
//   the program's --pairs FILE:  readPairFile(path).session.pairs (an F in the file is left
//                                for the user's next C; fits and cameras are not used);
//   epipolar calibrate PAIRS:    readPairFile(path or "-").session.pairs;
//   Ctrl+S and the exit save:    sessionJson() and calibrationYaml() produce the bytes;
//   rectify, disparity:          readCalibration(calibration, pairs): F, the pairs and, where
//                                known, their inlier flags.
//
// Threads: any; readPairFile("-") reads std::cin, which the caller must not read concurrently.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>

#include "session/Session.h"

namespace epipolar {

inline constexpr std::size_t kMaxInputBytes = std::size_t{32} << 20;
inline constexpr std::size_t kMaxSettingsBytes = std::size_t{4} << 20;
inline constexpr std::size_t kMaxPairs = 1'000'000;
inline constexpr std::size_t kMaxWarnings = 1000;
inline constexpr double kMaxCoordinatePx = 1e6;
inline constexpr int kMaxPictureSidePx = 100'000;

enum class PairFileFormat { pairText, sessionJson, camsConf, calibrationYaml };

struct PairFile {
  PairFileFormat format = PairFileFormat::pairText;
  // What the file holds: pairs (all formats but the YAML), fits (session JSON only), F (JSON,
  // cams.conf, YAML), method, figures, warnings and cameras (session JSON only).
  Session session;
  // "" when the file was read; otherwise the one-line message, and `session` is empty.
  std::string error;
  bool ok() const { return error.empty(); }
};

// Reads the file at `path`; "-" reads standard input (named "standard input" in messages).
// A file that cannot be opened or read gives "<path>: cannot be read (<reason>)".
PairFile readPairFile(const std::string& path);

// Reads `in` to its end (at most kMaxInputBytes); `name` is used in messages.
PairFile readPairStream(std::istream& in, std::string_view name);

// Reads bytes already in memory; `name` is used in messages.
PairFile readPairBytes(std::string_view bytes, std::string_view name);

// For `rectify` and `disparity`: F from the file `calibrationPath` (a session JSON, a cams.conf,
// or the calibration YAML), and the pairs from `pairsPath` when it is not empty, else from the
// calibration file itself. The result's session is the calibration file's with its pairs and
// fits replaced by those of the pairs file. The pairs file's fits are kept only when that file
// holds the very same F (for example the session JSON that Ctrl+S wrote with the YAML); fits
// made under another F would misclassify the pairs, so they are dropped and the caller
// classifies by F. Refused, with one message: a calibration file without F, the YAML without
// `pairsPath` (it holds no pairs), and "-" for both.
PairFile readCalibration(const std::string& calibrationPath, const std::string& pairsPath = "");

}  // namespace epipolar
