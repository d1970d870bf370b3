// The settings store: a two-level table of text values (section, key, value) over one text
// file, read completely when the store is opened, changed in memory, and written back only
// by `save`.
//
// File format, one entry per line:
//   key=value      the first "=" splits; nothing is trimmed, blanks stay part of key and value
//   [name]         opens section "name": the text between "[" and the line's last character
//                  (a line of "[" alone opens the unnamed section "")
//   ;comment       ignored, even when it holds "="
//   (empty line)   returns to the unnamed section
// Keys before the first header belong to the unnamed section (name ""). A header line that
// also holds "=" both opens the section and adds a key to it. The later of two equal keys
// wins. Lines of any other form are ignored. Lines may end in "\n" or "\r\n"; the last line
// needs no line end. Lines longer than kMaxLineLength are skipped.
//
// Sections and keys are ordered by unsigned byte value ("pt10x" before "pt2x"); `save`
// writes in that order: the unnamed section's keys without a header, then "[name]" and the
// keys of every other section that holds keys; an empty line follows each written section
// that is not the last section of the store (so a store whose last section is empty ends in
// an empty line).
//
// The file is opened once, for update, and never created: when it does not exist the store
// starts empty and `save` writes nothing. A file that exists but cannot be opened for update
// is read, and the store says once on standard error that changes will not be kept; the same
// happens when a read error cuts the load short, so a partial store never overwrites the
// file. `save` replaces the file crash-safely (see StdioFile.h); a failed save keeps the old
// content and reports one line on standard error.
//
// Typed values: numbers are written with "%.10g" and read with atof (leading blanks skipped,
// longest numeric prefix, 0 when none); truth values are written "true"/"false" and read as
// true exactly for "true" or "1".
//
// No operation removes a key or a section. Threads: one thread at a time; no locks.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "settings/StdioFile.h"

namespace epipolar {

class ConfigFile {
 public:
  using Section = std::map<std::string, std::string, std::less<>>;
  using Sections = std::map<std::string, Section, std::less<>>;

  // Opens `fileName` for update ("r+", never created) and loads it; falls back to reading
  // only when the file exists but cannot be opened for update. `ops` carries the system calls
  // of the save path (tests pass one that fails on purpose).
  explicit ConfigFile(const std::string& fileName, FileOps& ops = FileOps::system());
  ~ConfigFile();
  ConfigFile(const ConfigFile&) = delete;
  ConfigFile& operator=(const ConfigFile&) = delete;

  // Closes the attached file, clears the store and reads everything `file` holds. A null
  // file gives an empty store that saves nothing. Always true.
  bool load(std::unique_ptr<File> file);

  // The value, or "" when the section or key is absent. Creates nothing.
  std::string getString(std::string_view section, std::string_view key) const;
  // True exactly when the value is "true" or "1".
  bool getBool(std::string_view section, std::string_view key) const;
  // atof of the value; 0.0 when absent or not a number.
  double getDouble(std::string_view section, std::string_view key) const;
  // True when the value is not empty.
  bool hasValue(std::string_view section, std::string_view key) const;

  // Creates the section if needed, then creates or overwrites the key.
  void setString(std::string_view section, std::string_view key, std::string_view value);
  // Stores "true" or "false".
  void setBool(std::string_view section, std::string_view key, bool value);
  // Stores the number as "%.10g" formats it: 1/3 -> "0.3333333333", 0.1 -> "0.1".
  void setDouble(std::string_view section, std::string_view key, double value);

  // Writes the whole store to the file (replacing its content). True when the file now holds
  // the store's text; false when the file could not be opened for update, the store is
  // read-only, or the write failed (the file then keeps its old content and one line went to
  // standard error).
  bool save();

  // The text `save` writes.
  std::string text() const;
  const Sections& sections() const { return sections_; }
  // False when saving will write nothing (no file, opened read-only, or a read error).
  bool canSave() const { return file_ != nullptr && file_->writable() && !readOnly_; }

 private:
  std::unique_ptr<File> file_;
  Sections sections_;
  bool readOnly_ = false;
};

}  // namespace epipolar
