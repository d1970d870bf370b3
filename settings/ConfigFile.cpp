#include "settings/ConfigFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log/DebugStream.h"

namespace epipolar {
ConfigFile::ConfigFile(const std::string& fileName, FileOps& ops) {
  auto file = std::make_unique<StdioFile>(fileName, "r+", ops);
  bool readOnly = false;
  if (!file->isOpen() && file->openError() != ENOENT) {
    const int error = file->openError();
    auto reader = std::make_unique<StdioFile>(fileName, "r", ops);
    if (reader->isOpen()) {
      reportError(fileName + ": cannot be opened for writing (" + std::strerror(error) +
                  "); changes to the settings will not be kept");
      file = std::move(reader);
      readOnly = true;
    }
  }
  load(std::move(file));
  readOnly_ = readOnly_ || readOnly;
}

ConfigFile::~ConfigFile() {
  if (file_ != nullptr) file_->close();
}

bool ConfigFile::load(std::unique_ptr<File> file) {
  if (file_ != nullptr) file_->close();
  sections_.clear();
  readOnly_ = false;
  file_ = std::move(file);
  Section* current = &sections_[std::string()];
  while (file_ != nullptr && !file_->atEnd()) {
    const std::string line = file_->readLine();
    const std::size_t n = line.size();
    if (n == 1) {
      current = &sections_[std::string()];
      continue;
    }
    if (line[0] == '[') {
      // The text between "[" and the last character before the line feed.
      const std::size_t length = n >= 3 ? n - 3 : 0;
      current = &sections_[line.substr(1, length)];
    }
    if (line[0] == ';') continue;
    const std::size_t p = line.find('=');
    if (p == std::string::npos) continue;
    (*current)[line.substr(0, p)] = line.substr(p + 1, n - p - 2);
  }
  if (file_ == nullptr) return true;
  if (file_->readFailed()) {
    reportError(file_->path() +
                ": the settings could not be read to the end; changes to them will not be kept");
    readOnly_ = true;
  }
  if (file_->longLines() > 0) {
    reportError(file_->path() + ": " + std::to_string(file_->longLines()) +
                " line(s) longer than " + std::to_string(kMaxLineLength) + " bytes ignored");
  }
  return true;
}

std::string ConfigFile::getString(std::string_view section, std::string_view key) const {
  const auto s = sections_.find(section);
  if (s == sections_.end()) return std::string();
  const auto k = s->second.find(key);
  if (k == s->second.end()) return std::string();
  return k->second;
}

bool ConfigFile::getBool(std::string_view section, std::string_view key) const {
  const std::string value = getString(section, key);
  return value == "true" || value == "1";
}

double ConfigFile::getDouble(std::string_view section, std::string_view key) const {
  return std::atof(getString(section, key).c_str());
}

bool ConfigFile::hasValue(std::string_view section, std::string_view key) const {
  return !getString(section, key).empty();
}

void ConfigFile::setString(std::string_view section, std::string_view key, std::string_view value) {
  auto s = sections_.find(section);
  if (s == sections_.end()) s = sections_.emplace(std::string(section), Section()).first;
  auto k = s->second.find(key);
  if (k == s->second.end()) {
    s->second.emplace(std::string(key), std::string(value));
  } else {
    k->second.assign(value);
  }
}

void ConfigFile::setBool(std::string_view section, std::string_view key, bool value) {
  setString(section, key, value ? "true" : "false");
}

void ConfigFile::setDouble(std::string_view section, std::string_view key, double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", value);
  setString(section, key, text);
}

std::string ConfigFile::text() const {
  std::string out;
  for (auto s = sections_.begin(); s != sections_.end(); ++s) {
    if (s->second.empty()) continue;
    if (!s->first.empty()) {
      out += '[';
      out += s->first;
      out += "]\n";
    }
    for (const auto& [key, value] : s->second) {
      out += key;
      out += '=';
      out += value;
      out += '\n';
    }
    if (std::next(s) != sections_.end()) out += '\n';
  }
  return out;
}

bool ConfigFile::save() {
  if (!canSave()) return false;
  if (file_->replaceContent(text())) return true;
  reportError(file_->path() + ": the settings could not be saved (" + std::strerror(errno) +
              "); the file keeps its previous content");
  return false;
}

}  // namespace epipolar
