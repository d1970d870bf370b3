// The settings file under attack: random bytes, NUL bytes, one huge line, a million keys,
// CRLF line ends and non-finite numbers for every calibration key must each load in bounded
// time and memory and save back to a file that loads to the same store. Saves killed at random
// moments, a full disk and a file made read-only while the program runs must leave either the
// old or the new content, never a mix.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "settings/Calibration.h"
#include "settings/ConfigFile.h"
#include "tests/reliability/Reliability.h"

namespace epipolar {
namespace {

using reliability::count;
using reliability::readFile;
using reliability::ScratchDir;
using reliability::writeFile;

// Durability is not under test where a case only needs the content: skipping fsync keeps the
// shared disk quiet.
class NoSyncOps : public FileOps {
 public:
  int fsync(int) override { return 0; }
};

// Temporary files of saves of `path` left in its directory (".<name>.XXXXXX").
std::vector<std::string> temporaryFiles(const std::string& path) {
  const std::filesystem::path file(path);
  const std::string prefix = "." + file.filename().string() + ".";
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(file.parent_path())) {
    if (entry.path().filename().string().rfind(prefix, 0) == 0) found.push_back(entry.path());
  }
  return found;
}

std::size_t storeBytes(const ConfigFile& config) {
  std::size_t bytes = 0;
  for (const auto& [name, section] : config.sections()) {
    bytes += name.size();
    for (const auto& [key, value] : section) bytes += key.size() + value.size();
  }
  return bytes;
}

// Loads `path`, saves it and checks that the file holds exactly the store's text, that the
// store holds at most twice the file's bytes (a header line with "=" names a section and
// holds a key), and that loading the saved file gives the same text again
// (less the empty line a trailing empty section leaves). Returns the saved text.
std::string loadSaveReload(const std::string& path, FileOps& ops, std::size_t inputSize) {
  std::string first;
  {
    ConfigFile config(path, ops);
    EXPECT_LE(storeBytes(config), 2 * inputSize);
    first = config.text();
    EXPECT_TRUE(config.save());
  }
  EXPECT_EQ(readFile(path), first);
  ConfigFile again(path, ops);
  const std::string second = again.text();
  EXPECT_TRUE(second == first || second + "\n" == first);
  return second;
}

TEST(SettingsAttack, RandomBinaryFilesLoadAndSaveToAStableText) {
  ScratchDir dir;
  const std::string path = dir.file("cams.conf");
  NoSyncOps ops;
  std::mt19937_64 random(91);
  // Half the files are uniform bytes, half lean on the bytes the parser looks at.
  const char structural[] = {'\n', '\r', '=', '[', ']', ';', '\0', 'a', '0', '.', '-', 'e'};
  const long files = count(200, 20000);
  for (long i = 0; i < files; ++i) {
    const std::size_t size = random() % (i % 10 == 0 ? 200000 : 4000);
    std::string content(size, '\0');
    const bool biased = i % 2 == 1;
    for (char& c : content) {
      c = biased && random() % 4 != 0 ? structural[random() % sizeof structural]
                                      : static_cast<char>(random());
    }
    writeFile(path, content);
    ::testing::internal::CaptureStderr();
    loadSaveReload(path, ops, content.size());
    ::testing::internal::GetCapturedStderr();
    if (HasFailure()) FAIL() << "file " << i << " of " << size << " bytes";
  }
}

TEST(SettingsAttack, NulBytesAreOrdinaryBytes) {
  ScratchDir dir;
  const std::string path = dir.file("cams.conf");
  NoSyncOps ops;
  const std::string nul(1, '\0');
  const std::vector<std::string> files = {
      std::string(1 << 16, '\0'),                                  // one line of NULs, no end
      std::string(1 << 16, '\0') + "\n" + nul + "=" + nul + "\n",  // NUL key and value
      "[" + nul + "]\n" + nul + "mat0=" + nul + "1\n",             // NUL section name
      "mat0=1" + nul + "5\nmatrixStored=true" + nul + "\n",        // NUL inside numbers
  };
  for (const std::string& content : files) {
    writeFile(path, content);
    loadSaveReload(path, ops, content.size());
  }
  // A NUL cuts a number and a truth word where atof and the exact comparison stop.
  writeFile(path, files[3]);
  ConfigFile config(path, ops);
  EXPECT_EQ(config.getDouble("", "mat0"), 1.0);
  EXPECT_FALSE(storedMatrixOffered(config));
}

TEST(SettingsAttack, AHundredMegabyteLineIsSkippedInBoundedMemory) {
  ScratchDir dir;
  const std::string path = dir.file("cams.conf");
  constexpr std::size_t kHuge = 100u << 20;
  {
    std::string content = "matrixStored=true\nmat0=";
    content.append(kHuge, '7');
    content += "\nmat1=2\n[Cam0]\nhasPoints=true\npt0x=";
    content.append(kHuge / 4, '1');  // the last line: no line end
    writeFile(path, content);
  }
  const bool measured = reliability::resetPeakMemory();
  const long before = reliability::statusKilobytes("VmRSS");
  ::testing::internal::CaptureStderr();
  NoSyncOps ops;
  ConfigFile config(path, ops);
  const std::string said = ::testing::internal::GetCapturedStderr();
  const long peak = reliability::statusKilobytes("VmHWM");
  EXPECT_NE(said.find(": 2 line(s) longer than"), std::string::npos) << said;
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  EXPECT_FALSE(config.hasValue("", "mat0"));
  EXPECT_FALSE(config.hasValue("Cam0", "pt0x"));
  EXPECT_EQ(config.getString("", "mat1"), "2");
  EXPECT_TRUE(readStoredPoints(config).empty());
  if (measured && before > 0 && peak > 0) {
    // The line is read through a buffer capped at 1 MiB; nothing near 100 MB is held.
    EXPECT_LT(peak - before, 32 * 1024) << "peak grew by " << peak - before << " kB";
    RecordProperty("peak_growth_kB", std::to_string(peak - before));
  }
  ASSERT_TRUE(config.save());
  EXPECT_EQ(readFile(path), "mat1=2\nmatrixStored=true\n\n[Cam0]\nhasPoints=true\n");
}

TEST(SettingsAttack, AMillionKeysLoadAndRestoreAtMostTheLimit) {
  ScratchDir dir;
  const std::string path = dir.file("cams.conf");
  // A million point keys: 250,000 points in each camera's section.
  const long points = count(50000, 250000);
  std::string content = "matrixStored=false\n\n";
  for (const char* section : {"Cam0", "Cam1"}) {
    content += std::string("[") + section + "]\nhasPoints=true\n";
    for (long i = 0; i < points; ++i) {
      const std::string n = std::to_string(i);
      content += "pt" + n + "x=" + n + "\npt" + n + "y=-" + n + "\n";
    }
    content += "\n";
  }
  writeFile(path, content);
  reliability::resetPeakMemory();
  const long before = reliability::statusKilobytes("VmRSS");
  NoSyncOps ops;
  ConfigFile config(path, ops);
  const long peak = reliability::statusKilobytes("VmHWM");
  EXPECT_EQ(config.sections().at("Cam1").size(), static_cast<std::size_t>(2 * points + 1));
  const std::vector<Correspondence> restored = readStoredPoints(config);
  ASSERT_EQ(restored.size(), kPointRestoreLimit);
  EXPECT_EQ(restored.back(), (Correspondence{9999, -9999, 9999, -9999}));
  if (before > 0 && peak > 0) {
    // Memory grows with the file, by a fixed factor (map nodes and their strings).
    const long fileKilobytes = static_cast<long>(content.size() / 1024);
    EXPECT_LT(peak - before, 40 * fileKilobytes + 64 * 1024);
    RecordProperty("file_kB", std::to_string(fileKilobytes));
    RecordProperty("peak_growth_kB", std::to_string(peak - before));
  }
  // The same key a million times is one key.
  std::string repeated;
  for (long i = 0; i < 4 * points; ++i) repeated += "mat0=" + std::to_string(i) + "\n";
  writeFile(path, repeated);
  ConfigFile same(path, ops);
  EXPECT_EQ(same.text(), "mat0=" + std::to_string(4 * points - 1) + "\n");
}

// A calibrated run's keys: the matrix, three points, the flags.
std::string calibrationText() {
  ScratchDir dir;
  const std::string path = dir.file("cams.conf");
  writeFile(path, "");
  ConfigFile config(path);
  const double values[9] = {1e-6, -2e-5, 0.003, 4e-5, 5e-7, -0.06, -0.007, 0.08, 1};
  const std::vector<Correspondence> points = {{1, 2, 3, 4}, {-5.5, 6e3, 7, 8}, {9, 10, 11, 12}};
  writeCalibration(config, true, Matrix(values, 3, 3), points);
  return config.text();
}

TEST(SettingsAttack, CrlfLineEndsReadLikeLineFeeds) {
  ScratchDir dir;
  const std::string path = dir.file("cams.conf");
  const std::string lf = calibrationText();
  writeFile(path, lf);
  ConfigFile reference(path);
  for (const std::string ending : {"\r\n", "\r\r\n"}) {
    std::string crlf;
    for (char c : lf) crlf += c == '\n' ? ending : std::string(1, c);
    writeFile(path, crlf);
    ConfigFile config(path);
    EXPECT_TRUE(storedMatrixOffered(config));
    EXPECT_TRUE(storedPointsOffered(config));
    EXPECT_EQ(readStoredMatrix(config).data()[8], 1.0);
    EXPECT_EQ(readStoredPoints(config), readStoredPoints(reference));
    ASSERT_TRUE(config.save());
    EXPECT_EQ(readFile(path), lf);
  }
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    out.push_back(text.substr(start, end - start));
  }
  return out;
}

// Sorts a number into what the calibration round trip must keep.
std::string kind(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "+inf" : "-inf";
  return std::to_string(value);
}

TEST(SettingsAttack, NonFiniteNumbersInEveryMatrixAndPointKeyStayThemselves) {
  ScratchDir dir;
  const std::string path = dir.file("cams.conf");
  const std::string good = calibrationText();
  NoSyncOps ops;
  std::vector<std::pair<std::string, std::string>> keys;  // (section, key)
  for (int i = 0; i < 9; ++i) keys.emplace_back("", "mat" + std::to_string(i));
  for (const char* section : {"Cam0", "Cam1"}) {
    for (int i = 0; i < 3; ++i) {
      for (const char* axis : {"x", "y"})
        keys.emplace_back(section, "pt" + std::to_string(i) + axis);
    }
  }
  const std::vector<std::string> values = {"nan",
                                           "-nan",
                                           "NaN",
                                           "nan(0x7)",
                                           "inf",
                                           "-inf",
                                           "INF",
                                           "infinity",
                                           "1e999",
                                           "-1e999",
                                           "1e-999",
                                           "0x1p99999"};
  int cases = 0;
  for (const auto& [section, key] : keys) {
    for (const std::string& value : values) {
      // The good file with this one key replaced.
      writeFile(path, good);
      ConfigFile config(path, ops);
      config.setString(section, key, value);
      ASSERT_TRUE(config.save());
      const std::string attacked = readFile(path);
      ConfigFile loaded(path, ops);
      const Matrix matrix = readStoredMatrix(loaded);
      const std::vector<Correspondence> points = readStoredPoints(loaded);
      ASSERT_EQ(points.size(), 3u) << key << "=" << value;
      const double read =
          section.empty() ? matrix.data()[key[3] - '0'] : loaded.getDouble(section, key);
      EXPECT_EQ(kind(read), kind(std::atof(value.c_str()))) << key << "=" << value;

      // What the end of the run writes back loads to the same numbers, and every other key
      // keeps its text.
      writeCalibration(loaded, true, matrix, points);
      ASSERT_TRUE(loaded.save());
      ConfigFile again(path, ops);
      for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(kind(readStoredMatrix(again).data()[i]), kind(matrix.data()[i]));
      }
      const std::vector<Correspondence> pointsAgain = readStoredPoints(again);
      ASSERT_EQ(pointsAgain.size(), 3u);
      for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(kind(pointsAgain[i].x0), kind(points[i].x0));
        EXPECT_EQ(kind(pointsAgain[i].y1), kind(points[i].y1));
      }
      const std::vector<std::string> before = lines(attacked);
      const std::vector<std::string> after = lines(readFile(path));
      ASSERT_EQ(before.size(), after.size());
      for (std::size_t i = 0; i < before.size(); ++i) {
        if (before[i].rfind(key + "=", 0) != 0) {
          EXPECT_EQ(before[i], after[i]);
        }
      }
      ++cases;
    }
  }
  EXPECT_EQ(cases, static_cast<int>(keys.size() * values.size()));
}

// Three stores of different lengths over the same keys, as a run that saves repeatedly
// writes them.
std::vector<std::string> killTexts(int keys) {
  std::vector<std::string> texts(3);
  for (int variant = 0; variant < 3; ++variant) {
    std::map<std::string, std::string> sorted;
    for (int k = 0; k < keys; ++k) {
      sorted["pt" + std::to_string(k) + "x"] = std::to_string(k) + std::string(variant * 9, '3');
    }
    for (const auto& [key, value] : sorted) texts[variant] += key + "=" + value + "\n";
  }
  return texts;
}

TEST(SettingsAttack, SigkillAtRandomMomentsWhileSavingLosesNothing) {
  ScratchDir dir;
  const std::string path = dir.file("cams.conf");
  constexpr int kKeys = 2000;
  const std::vector<std::string> texts = killTexts(kKeys);
  writeFile(path, texts[0]);
  std::mt19937 random(1234);
  const long kills = count(100, 1000);
  long leftovers = 0;
  for (long round = 0; round < kills; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // The real system calls, fsync included: a child that loads and saves in a loop.
      ConfigFile config(path);
      for (int i = 1;; ++i) {
        for (int k = 0; k < kKeys; ++k) {
          config.setString("",
                           "pt" + std::to_string(k) + "x",
                           std::to_string(k) + std::string((i % 3) * 9, '3'));
        }
        config.save();
      }
    }
    ::usleep(static_cast<useconds_t>(random() % 30000));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    const std::string content = readFile(path);
    const auto found = std::find(texts.begin(), texts.end(), content);
    ASSERT_NE(found, texts.end()) << "round " << round << ": " << content.size() << " bytes";
    // The temporary file has no name until it is whole: only a kill between naming it and the
    // rename leaves it, and then complete.
    for (const std::string& left : temporaryFiles(path)) {
      ++leftovers;
      const std::string partial = readFile(left);
      EXPECT_NE(std::find(texts.begin(), texts.end(), partial), texts.end())
          << "round " << round << ": a temporary file of " << partial.size() << " bytes";
      std::filesystem::remove(left);
    }
  }
  RecordProperty("kills", std::to_string(kills));
  RecordProperty("leftover_temporary_files", std::to_string(leftovers));
  ConfigFile config(path);
  ASSERT_TRUE(config.save());
  EXPECT_TRUE(temporaryFiles(path).empty());
  std::printf("%ld kills, %ld left a (whole) temporary file, every file whole\n", kills, leftovers);
}

// A disk with `budget` free bytes: bytes that grow a file beyond its size take from the
// budget, overwriting bytes it already has takes nothing; past the budget a write is cut
// short, then fails with ENOSPC.
class QuotaOps : public FileOps {
 public:
  explicit QuotaOps(std::size_t budget) : left_(budget) {}
  ssize_t write(int fd, const void* data, std::size_t length) override {
    struct stat status;
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    if (::fstat(fd, &status) != 0 || at < 0) return -1;
    const std::size_t allocated =
        status.st_size > at ? static_cast<std::size_t>(status.st_size - at) : 0;
    const std::size_t allowed = allocated + left_;
    if (allowed == 0) {
      errno = ENOSPC;
      return -1;
    }
    const ssize_t written = FileOps::write(fd, data, std::min(length, allowed));
    if (written > 0 && static_cast<std::size_t>(written) > allocated) {
      left_ -= static_cast<std::size_t>(written) - allocated;
    }
    return written;
  }
  int fsync(int) override { return 0; }

 private:
  std::size_t left_;
};

TEST(SettingsAttack, EveryFillLevelOfADiskKeepsOldOrNewContent) {
  ScratchDir dir;
  const std::string path = dir.file("cams.conf");
  const std::string old = calibrationText();
  const std::string bigger = old + "\n[Extra]\n" + std::string(3000, 'k') + "=v\n";
  for (bool inPlace : {false, true}) {
    for (std::size_t budget = 0; budget <= bigger.size() + 1; budget += 97) {
      writeFile(path, old);
      class Ops : public QuotaOps {
       public:
        Ops(std::size_t budget, bool inPlace) : QuotaOps(budget), inPlace_(inPlace) {}
        int open(const char* path, int flags, mode_t mode) override {
          if (inPlace_) {
            errno = EACCES;  // no temporary file: the open stream is rewritten
            return -1;
          }
          return QuotaOps::open(path, flags, mode);
        }

       private:
        bool inPlace_;
      } ops(budget, inPlace);
      ConfigFile config(path, ops);
      config.setString("Extra", std::string(3000, 'k'), "v");
      ::testing::internal::CaptureStderr();
      const bool saved = config.save();
      const std::string said = ::testing::internal::GetCapturedStderr();
      // In place, the bytes the old file already has cost nothing.
      const std::size_t needed = inPlace ? bigger.size() - old.size() : bigger.size();
      EXPECT_EQ(saved, budget >= needed) << budget;
      if (saved) {
        EXPECT_EQ(readFile(path), bigger) << budget;
      } else {
        EXPECT_EQ(readFile(path), old) << budget << (inPlace ? " in place" : "");
        EXPECT_NE(said.find("No space left on device"), std::string::npos) << said;
      }
      EXPECT_TRUE(temporaryFiles(path).empty());
    }
  }
}

// A small tmpfs mounted for one test; needs the privilege to mount.
class SmallTmpfs {
 public:
  SmallTmpfs(const std::string& where, const std::string& options) : where_(where) {
    std::filesystem::create_directory(where_);
    mounted_ = ::mount("tmpfs", where_.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~SmallTmpfs() {
    if (mounted_) ::umount2(where_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  std::string where_;
  bool mounted_ = false;
};

TEST(SettingsAttack, ARealFullTmpfsKeepsTheOldContent) {
  ScratchDir dir;
  const std::string mountPoint = dir.file("disk");
  SmallTmpfs disk(mountPoint, "size=256k,nr_inodes=16");
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here; the write seam covers this";
  const std::string path = mountPoint + "/cams.conf";
  const std::string old = calibrationText();
  writeFile(path, old);
  // Fill every free block.
  const std::string filler = mountPoint + "/filler";
  {
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    const std::string block(4096, 'f');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    ::close(fd);
  }
  ConfigFile config(path);
  config.setString("Extra", "big", std::string(20000, 'b'));
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(config.save());
  std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("No space left on device"), std::string::npos) << said;
  EXPECT_EQ(readFile(path), old);
  EXPECT_TRUE(temporaryFiles(path).empty());

  // No inode left for the temporary file either: the in-place rewrite runs out of blocks and
  // puts the old bytes back.
  std::vector<std::string> extra;
  for (int i = 0; i < 32; ++i) {
    const std::string name = mountPoint + "/inode" + std::to_string(i);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT, 0600);
    if (fd < 0) break;
    ::close(fd);
    extra.push_back(name);
  }
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(config.save());
  said = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("No space left on device"), std::string::npos) << said;
  EXPECT_EQ(readFile(path), old);

  // Space again: the same store now saves, in place (still no inode) and then normally.
  ::unlink(filler.c_str());
  ASSERT_TRUE(config.save());
  EXPECT_EQ(readFile(path), config.text());
  for (const std::string& name : extra) ::unlink(name.c_str());
  config.setString("Extra", "more", "1");
  ASSERT_TRUE(config.save());
  EXPECT_EQ(readFile(path), config.text());
}

// Sets or clears the immutable flag; false where the file system or privileges refuse.
bool setImmutable(const std::string& path, bool on) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return ok;
}

TEST(SettingsAttack, AFileMadeReadOnlyWhileRunning) {
  ScratchDir dir;
  const std::string path = dir.file("cams.conf");
  const std::string old = calibrationText();
  writeFile(path, old);
  ConfigFile config(path);
  config.setString("", "mat0", "0.5");

  // Mode 0444 while open: the store was opened for update, so the save goes through and the
  // file keeps its new mode.
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  ASSERT_TRUE(config.save());
  EXPECT_EQ(readFile(path), config.text());
  struct stat status;
  ASSERT_EQ(::stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0444u);
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);

  // Immutable (even for root), on a tmpfs where the disk's file system refuses the flag.
  SmallTmpfs disk(dir.file("disk"), "size=1m");
  std::string target = path;
  if (!setImmutable(target, true)) {
    if (!disk.mounted()) GTEST_SKIP() << "no file system here takes the immutable flag";
    target = dir.file("disk") + "/cams.conf";
    writeFile(target, old);
    if (!setImmutable(target, true)) GTEST_SKIP() << "no immutable flag";
    ASSERT_TRUE(setImmutable(target, false));
  } else {
    ASSERT_TRUE(setImmutable(target, false));
  }
  writeFile(target, old);
  ConfigFile locked(target);
  locked.setString("", "mat0", "0.25");
  ASSERT_TRUE(setImmutable(target, true));
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(locked.save());
  std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  EXPECT_EQ(readFile(target), old);
  // The directory too: no temporary file, and the open stream cannot write either.
  const std::string parent = std::filesystem::path(target).parent_path().string();
  if (setImmutable(parent, true)) {
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(locked.save());
    said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("keeps its previous content"), std::string::npos) << said;
    setImmutable(parent, false);
  }
  ASSERT_TRUE(setImmutable(target, false));
  EXPECT_EQ(readFile(target), old);
  // Writable again: the same store saves.
  ASSERT_TRUE(locked.save());
  EXPECT_EQ(readFile(target), locked.text());
}

}  // namespace
}  // namespace epipolar
