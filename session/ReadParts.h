// Pieces shared by the format readers of the one pair reader (PairReader.h). Not for callers:
// they read every format through readPairFile / readPairBytes, which pick the format and
// prefix the messages with the file name.
//
// Each format reader returns "" and fills its output when the text is good, or the one-line
// message (without the file name) and leaves its output in an unspecified state that the
// caller discards.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "session/Session.h"

namespace epipolar::session_detail {

// The session JSON (Session.cpp).
std::string readSessionJson(std::string_view text, Session& session);

// `token` quoted for a message: at most 40 bytes shown, bytes that are not printable ASCII as
// "?", so a message stays one short line whatever the input holds.
std::string quoted(std::string_view token);

// Reads a whole token as a finite double: an optional sign, then decimal digits with an
// optional point and exponent (std::from_chars, general format: no hex, locale-free, correctly
// rounded). Returns "" and sets `value`, or what is wrong: "'abc' is not a number", "'1e999'
// is out of range", "'nan' is not a finite number" (also for OpenCV's .Nan and .Inf).
std::string readNumber(std::string_view token, double& value);

// "" when `value` is a usable coordinate, else what is wrong with it.
std::string coordinateProblem(double value);

// "" when F is usable (every element finite, not all zero), else what is wrong with it.
std::string matrixProblem(const Matrix3x3& F);

}  // namespace epipolar::session_detail
