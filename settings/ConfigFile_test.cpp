#include "settings/ConfigFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>

namespace epipolar {
namespace {

namespace fs = std::filesystem;

// A fresh directory per test, removed afterwards.
class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "epipolar-settings-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = (dir_ / "cams.conf").string();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(dir_, ignored);
  }

  void write(const std::string& content, const std::string& path = {}) {
    std::ofstream out(path.empty() ? path_ : path, std::ios::binary | std::ios::trunc);
    out << content;
  }
  std::string read(const std::string& path = {}) {
    std::ifstream in(path.empty() ? path_ : path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
  std::string path_;
};

// A FileOps whose chosen call fails with a chosen errno.
class FailingOps : public FileOps {
 public:
  enum class Call { kNone, kOpen, kWrite, kSecondWrite, kFsync, kRename, kFtruncate };
  explicit FailingOps(Call call, int error = ENOSPC) : call_(call), error_(error) {}

  int open(const char* path, int flags, mode_t mode) override {
    if (call_ == Call::kOpen) return fail();
    return FileOps::open(path, flags, mode);
  }
  ssize_t write(int fd, const void* data, std::size_t length) override {
    ++writes;
    if (call_ == Call::kWrite) {
      // Cut short: half the bytes reach the file each time, until the disk is full.
      if (length > 1) return FileOps::write(fd, data, length / 2);
      return fail();
    }
    if (call_ == Call::kSecondWrite && writes <= 2) {
      // The first call writes half, the second finds the disk full; later calls succeed.
      return writes == 1 ? FileOps::write(fd, data, length / 2) : fail();
    }
    return FileOps::write(fd, data, length);
  }
  int fsync(int fd) override { return call_ == Call::kFsync ? fail() : FileOps::fsync(fd); }
  int rename(const char* from, const char* to) override {
    return call_ == Call::kRename ? fail() : FileOps::rename(from, to);
  }
  int ftruncate(int fd, off_t length) override {
    return call_ == Call::kFtruncate ? fail() : FileOps::ftruncate(fd, length);
  }

  int writes = 0;

 private:
  int fail() {
    errno = error_;
    return -1;
  }
  Call call_;
  int error_;
};

// Temporary files in the directory besides the settings file.
int strayFiles(const fs::path& dir) {
  int count = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().filename() != "cams.conf") ++count;
  }
  return count;
}

TEST_F(SettingsFileTest, LinesAreParsedByTheirFirstCharacterAndFirstEquals) {
  write(
      "a=1\n"
      " b = two \n"
      ";c=comment\n"
      "d=x=y\n"
      "e=\n"
      "no equals sign\n"
      "a=later\n"
      "[S]\n"
      "x=in S\n"
      "\n"
      "y=unnamed again\n"
      "[T]=t\n"
      "[U]\n"
      "b=true");
  ConfigFile config(path_);
  EXPECT_EQ(config.getString("", "a"), "later");
  EXPECT_EQ(config.getString("", " b "), " two ");
  EXPECT_FALSE(config.hasValue("", "b"));
  EXPECT_FALSE(config.hasValue("", ";c"));
  EXPECT_EQ(config.getString("", "d"), "x=y");
  EXPECT_EQ(config.getString("", "e"), "");
  EXPECT_FALSE(config.hasValue("", "e"));
  EXPECT_EQ(config.getString("S", "x"), "in S");
  EXPECT_EQ(config.getString("", "y"), "unnamed again");
  // A header that holds "=" opens the section and adds a key to it.
  EXPECT_EQ(config.getString("T]=", "[T]"), "t");
  // The last line has no line feed and still reads whole.
  EXPECT_TRUE(config.getBool("U", "b"));
  EXPECT_EQ(config.sections().size(), 4u);
}

TEST_F(SettingsFileTest, HeaderEdgeCasesAndLineEnds) {
  write("[\nk=in unnamed\n[]\nm=also unnamed\r\n[Cam0]\r\nflag=true\r\nx=1.5\r\n\r\nz=2\r");
  ConfigFile config(path_);
  EXPECT_EQ(config.getString("", "k"), "in unnamed");
  EXPECT_EQ(config.getString("", "m"), "also unnamed");
  // Carriage returns are part of the line end, not of the value.
  EXPECT_TRUE(config.getBool("Cam0", "flag"));
  EXPECT_EQ(config.getString("Cam0", "x"), "1.5");
  EXPECT_EQ(config.getString("", "z"), "2");
  EXPECT_EQ(config.sections().size(), 2u);
}

TEST_F(SettingsFileTest, TypedValuesFollowAtofAndTheExactTruthWords) {
  write("t1=true\nt2=1\nf1=True\nf2= true\nf3=yes\nd1=  -12.5e1xyz\nd2=abc\nd3=0x10\n");
  ConfigFile config(path_);
  EXPECT_TRUE(config.getBool("", "t1"));
  EXPECT_TRUE(config.getBool("", "t2"));
  EXPECT_FALSE(config.getBool("", "f1"));
  EXPECT_FALSE(config.getBool("", "f2"));
  EXPECT_FALSE(config.getBool("", "f3"));
  EXPECT_FALSE(config.getBool("", "absent"));
  EXPECT_EQ(config.getDouble("", "d1"), -125.0);
  EXPECT_EQ(config.getDouble("", "d2"), 0.0);
  EXPECT_EQ(config.getDouble("", "d3"), 16.0);
  EXPECT_EQ(config.getDouble("nowhere", "d1"), 0.0);
  EXPECT_EQ(config.getString("nowhere", "d1"), "");
  // Reading never creates sections.
  EXPECT_EQ(config.sections().size(), 1u);

  config.setDouble("", "third", 1.0 / 3.0);
  config.setDouble("", "tenth", 0.1);
  config.setDouble("", "big", 6.02214076e23);
  config.setDouble("", "negative", -2.5);
  config.setBool("", "yes", true);
  config.setBool("", "no", false);
  EXPECT_EQ(config.getString("", "third"), "0.3333333333");
  EXPECT_EQ(config.getString("", "tenth"), "0.1");
  EXPECT_EQ(config.getString("", "big"), "6.02214076e+23");
  EXPECT_EQ(config.getString("", "negative"), "-2.5");
  EXPECT_EQ(config.getString("", "yes"), "true");
  EXPECT_EQ(config.getString("", "no"), "false");
}

TEST_F(SettingsFileTest, SaveWritesSectionsAndKeysInByteOrder) {
  write("");
  ConfigFile config(path_);
  config.setBool("", "matrixStored", true);
  config.setDouble("", "mat0", 1);
  config.setString("Cam1", "pt2x", "5");
  config.setString("Cam1", "pt10x", "4");
  config.setBool("Cam0", "hasPoints", true);
  config.setString("Cam0", "configured", "false");
  ASSERT_TRUE(config.save());
  EXPECT_EQ(read(),
            "mat0=1\n"
            "matrixStored=true\n"
            "\n"
            "[Cam0]\n"
            "configured=false\n"
            "hasPoints=true\n"
            "\n"
            "[Cam1]\n"
            "pt10x=4\n"
            "pt2x=5\n");
  EXPECT_EQ(strayFiles(dir_), 0);
}

TEST_F(SettingsFileTest, EmptySectionsWriteNothingButTheLastOneLeavesAnEmptyLine) {
  write("[Empty]\n[A]\nk=v\n[Z]\n");
  ConfigFile config(path_);
  ASSERT_TRUE(config.save());
  EXPECT_EQ(read(), "[A]\nk=v\n\n");
}

TEST_F(SettingsFileTest, EmptyFileStaysEmptyAndMissingFileIsNeverCreated) {
  write("");
  {
    ConfigFile config(path_);
    EXPECT_EQ(config.sections().size(), 1u);
    EXPECT_TRUE(config.save());
  }
  EXPECT_EQ(read(), "");

  const std::string missing = (dir_ / "absent.conf").string();
  ConfigFile config(missing);
  EXPECT_FALSE(config.canSave());
  config.setString("", "k", "v");
  EXPECT_FALSE(config.save());
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_EQ(config.getString("", "k"), "v");
}

TEST_F(SettingsFileTest, FileDeletedWhileOpenIsNotCreatedAgain) {
  write("k=v\n");
  ConfigFile config(path_);
  fs::remove(path_);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(config.save());
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("could not be saved"), std::string::npos);
  EXPECT_FALSE(fs::exists(path_));
  EXPECT_EQ(strayFiles(dir_), 0);

  ConfigFile detached(path_);
  detached.load(nullptr);
  EXPECT_FALSE(detached.canSave());
  EXPECT_FALSE(detached.save());
}

TEST_F(SettingsFileTest, ShorterSaveLeavesNoOldBytesBehind) {
  write("long_key_number_one=a long value that takes room\nlong_key_number_two=more\n");
  {
    ConfigFile config(path_);
    config.setString("", "a", "1");
    ASSERT_TRUE(config.save());
  }
  ConfigFile reloaded(path_);
  EXPECT_EQ(reloaded.sections().at("").size(), 3u);
  EXPECT_EQ(read(), reloaded.text());
}

TEST_F(SettingsFileTest, RandomStoresSurviveSaveAndReload) {
  std::mt19937 random(7);
  const std::string alphabet = "abcXYZ019 .-_[]#;\r\t";
  auto randomText = [&](std::size_t maxLength, bool isKey) {
    std::string text;
    const std::size_t length = random() % (maxLength + 1);
    for (std::size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
    // Shapes that the file format cannot carry: keys that start a header or comment, values
    // that end in a carriage return.
    if (isKey && !text.empty() && (text[0] == '[' || text[0] == ';')) text[0] = 'k';
    if (!text.empty() && text.back() == '\r') text.back() = 'r';
    return text;
  };
  for (int round = 0; round < 20; ++round) {
    write("");
    ConfigFile config(path_);
    const int sectionCount = 1 + static_cast<int>(random() % 4);
    for (int s = 0; s < sectionCount; ++s) {
      std::string section = s == 0 ? std::string() : "S" + randomText(6, false);
      for (char& c : section) {
        if (c == '=' || c == '\r') c = 'e';
      }
      const int keys = 1 + static_cast<int>(random() % 5);
      for (int k = 0; k < keys; ++k) {
        std::string key = randomText(8, true);
        config.setString(section, key, randomText(12, false));
      }
      config.setDouble(section, "number", std::ldexp(random() * 1.0, -20));
    }
    ASSERT_TRUE(config.save());
    ConfigFile reloaded(path_);
    EXPECT_EQ(reloaded.sections(), config.sections()) << reloaded.text();
    EXPECT_EQ(read(), config.text());
  }
}

TEST_F(SettingsFileTest, SaveKeepsTheModeFollowsSymlinksAndCanBeRepeated) {
  fs::create_directory(dir_ / "real");
  const std::string target = (dir_ / "real" / "settings.txt").string();
  write("a=1\n", target);
  ::chmod(target.c_str(), 0640);
  fs::create_symlink(target, path_);
  // The user's own files that happen to carry the name of a temporary file stay untouched.
  write("mine", target + ".saving");
  write("mine too", path_ + ".saving");

  ConfigFile config(path_);
  config.setString("", "b", "2");
  ASSERT_TRUE(config.save());
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_EQ(read(target), "a=1\nb=2\n");
  EXPECT_EQ(read(target + ".saving"), "mine");
  EXPECT_EQ(read(path_ + ".saving"), "mine too");
  struct stat status;
  ASSERT_EQ(::stat(target.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);

  config.setString("", "c", "3");
  ASSERT_TRUE(config.save());
  EXPECT_EQ(read(target), "a=1\nb=2\nc=3\n");
}

TEST_F(SettingsFileTest, FailedSaveKeepsTheOldContentAndSaysSoOnce) {
  const std::string old = "mat0=0.5\nmatrixStored=true\n\n[Cam0]\npt0x=1\n";
  for (auto call :
       {FailingOps::Call::kWrite, FailingOps::Call::kFsync, FailingOps::Call::kRename}) {
    write(old);
    FailingOps ops(call);
    ConfigFile config(path_, ops);
    config.setString("", "mat0", "a value long enough to need more than one write call");
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(config.save());
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(read(), old);
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find("No space left on device"), std::string::npos) << said;
    EXPECT_EQ(strayFiles(dir_), 0);
  }
}

TEST_F(SettingsFileTest, KillingTheProcessMidSaveLeavesOldOrNewContent) {
  // The same keys with short or long values; a child saves the two in turn until killed.
  constexpr int kKeys = 3000;
  auto value = [](int variant, int key) {
    return variant == 0 ? std::to_string(key) : std::to_string(key) + "." + std::string(20, '5');
  };
  std::string texts[2];
  for (int variant = 0; variant < 2; ++variant) {
    std::map<std::string, std::string> sorted;
    for (int k = 0; k < kKeys; ++k) sorted["pt" + std::to_string(k) + "x"] = value(variant, k);
    for (const auto& [key, v] : sorted) texts[variant] += key + "=" + v + "\n";
  }
  std::mt19937 random(5);
  for (int round = 0; round < 10; ++round) {
    write(texts[0]);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // A slow disk: small writes with pauses, so that many kills land mid-write. A kill
      // loses nothing that reached the page cache, so fsync may be skipped here.
      class SlowOps : public FileOps {
       public:
        ssize_t write(int fd, const void* data, std::size_t length) override {
          ::usleep(200);
          return FileOps::write(fd, data, std::min<std::size_t>(length, 1024));
        }
        int fsync(int) override { return 0; }
      } slow;
      ConfigFile config(path_, slow);
      for (int i = 1;; ++i) {
        for (int k = 0; k < kKeys; ++k) {
          config.setString("", "pt" + std::to_string(k) + "x", value(i % 2, k));
        }
        config.save();
      }
    }
    ::usleep(10000 + random() % 70000);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    const std::string content = read();
    EXPECT_TRUE(content == texts[0] || content == texts[1]) << "size " << content.size();
  }
}

TEST_F(SettingsFileTest, WithoutATemporaryFileTheOpenFileIsRewrittenAndCut) {
  const std::string old = "first=a long value that will not fit the new text\n";
  write(old);
  {
    FailingOps noTemporary(FailingOps::Call::kOpen, EACCES);
    ConfigFile config(path_, noTemporary);
    config.setString("", "first", "1");
    ASSERT_TRUE(config.save());
    EXPECT_EQ(read(), "first=1\n");
    config.setString("", "second", "2");
    ASSERT_TRUE(config.save());
    EXPECT_EQ(read(), "first=1\nsecond=2\n");
  }
  // A rewrite cut short by a full disk puts the old bytes back.
  write(old);
  class NoTemporaryAndFullDisk : public FailingOps {
   public:
    NoTemporaryAndFullDisk() : FailingOps(Call::kSecondWrite) {}
    int open(const char*, int, mode_t) override {
      errno = EROFS;
      return -1;
    }
  } ops;
  ConfigFile config(path_, ops);
  config.setString("", "first", std::string(200, 'x'));
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(config.save());
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("keeps its previous content"),
            std::string::npos);
  EXPECT_EQ(read(), old);
}

TEST_F(SettingsFileTest, FileThatCannotBeOpenedForUpdateIsReadButNeverWritten) {
  std::string path = path_;
  write("k=v\n");
  ::chmod(path_.c_str(), 0444);
  auto refusesUpdate = [](const std::string& file) {
    const int fd = ::open(file.c_str(), O_RDWR);
    if (fd >= 0) ::close(fd);
    return fd < 0 && ::access(file.c_str(), R_OK) == 0;
  };
  if (!refusesUpdate(path_)) {
    // Running with privileges that ignore file modes: use a read-only kernel file.
    path = "/sys/kernel/mm/transparent_hugepage/hpage_pmd_size";
    if (!refusesUpdate(path)) GTEST_SKIP() << "no file here refuses writing";
  }
  const std::string before = read(path);
  ::testing::internal::CaptureStderr();
  ConfigFile config(path);
  config.setString("", "new", "value");
  EXPECT_FALSE(config.save());
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  EXPECT_NE(said.find("changes to the settings will not be kept"), std::string::npos);
  EXPECT_EQ(read(path), before);
  if (path == path_) {
    EXPECT_EQ(config.getString("", "k"), "v");
  }
}

TEST_F(SettingsFileTest, UnreadableFileEndsTheLoadAndBlocksSaving) {
  // A directory opens for reading but every read fails.
  fs::create_directory(path_ + ".d");
  ::testing::internal::CaptureStderr();
  ConfigFile config(path_ + ".d");
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(config.canSave());
  EXPECT_NE(said.find("will not be kept"), std::string::npos) << said;
  EXPECT_EQ(config.sections().size(), 1u);
}

TEST_F(SettingsFileTest, NulBytesAreKeptAndOverlongLinesSkipped) {
  std::string content = std::string("a\0b=c\0d\n", 8);
  content += "huge=" + std::string(kMaxLineLength + 10, 'h') + "\n";
  content += "after=1\n";
  write(content);
  ::testing::internal::CaptureStderr();
  ConfigFile config(path_);
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(config.getString("", std::string("a\0b", 3)), std::string("c\0d", 3));
  EXPECT_FALSE(config.hasValue("", "huge"));
  EXPECT_EQ(config.getString("", "after"), "1");
  EXPECT_NE(said.find("longer than"), std::string::npos);
  ASSERT_TRUE(config.save());
  EXPECT_EQ(read(), std::string("a\0b=c\0d\nafter=1\n", 16));
}

}  // namespace
}  // namespace epipolar
