#include "fileio/SaveFile.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace epipolar {
namespace {

namespace fs = std::filesystem;

// A fresh directory per test, removed afterwards.
class SaveFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "epipolar-save-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string file(const std::string& name) const { return (dir_ / name).string(); }
  static void write(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
  }
  static std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // The names in the directory: a save must leave nothing of its own behind.
  std::set<std::string> names() const {
    std::set<std::string> out;
    for (const auto& entry : fs::directory_iterator(dir_)) out.insert(entry.path().filename());
    return out;
  }
  static struct stat statOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status;
  }

  fs::path dir_;
};

TEST_F(SaveFileTest, PlainFilesAreReplacedWithTheirModeAndMissingOnesCreatedOnlyWhenAllowed) {
  const std::string path = file("cams.conf");
  // Never created when creating is not allowed.
  SaveOptions existingOnly;
  existingOnly.create = false;
  errno = 0;
  EXPECT_FALSE(saveFile(path, "x", Sync::kYes, existingOnly));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_TRUE(names().empty());

  // Created as fopen(path, "wb") creates it: 0666 less the umask.
  const mode_t mask = ::umask(022);
  ASSERT_TRUE(saveFile(path, "first", Sync::kNo));
  EXPECT_EQ(statOf(path).st_mode & 07777, 0644u);

  // A plain file is replaced whole through a rename (a new inode) and keeps its mode, set-ID
  // bits included; a user's own file of the old fixed temporary name is left alone.
  write(file("cams.conf.saving"), "mine");
  ASSERT_EQ(::chmod(path.c_str(), 02640), 0);
  const ino_t before = statOf(path).st_ino;
  ASSERT_TRUE(saveFile(path, "second, longer", Sync::kYes, existingOnly));
  EXPECT_EQ(read(path), "second, longer");
  EXPECT_NE(statOf(path).st_ino, before);
  EXPECT_EQ(statOf(path).st_mode & 07777, 02640u);
  EXPECT_EQ(read(file("cams.conf.saving")), "mine");
  EXPECT_EQ(names(), (std::set<std::string>{"cams.conf", "cams.conf.saving"}));

  // A directory in the way is refused, not replaced.
  fs::create_directory(file("pic0.bmp"));
  errno = 0;
  EXPECT_FALSE(saveFile(file("pic0.bmp"), "x", Sync::kNo));
  EXPECT_EQ(errno, EISDIR);
  EXPECT_TRUE(fs::is_directory(file("pic0.bmp")));
  ::umask(mask);
}

TEST_F(SaveFileTest, LinksAreRewrittenInPlaceSoEveryNameSeesTheNewContent) {
  const std::string path = file("cams.conf");
  write(path, "old content, longer than the new one");
  fs::create_hard_link(path, file("second-link"));
  const ino_t inode = statOf(path).st_ino;
  ASSERT_TRUE(saveFile(path, "new", Sync::kYes));
  EXPECT_EQ(read(file("second-link")), "new");
  EXPECT_EQ(statOf(path).st_ino, inode);
  EXPECT_EQ(statOf(path).st_nlink, 2u);

  // A symbolic link is written through and stays a link; a dangling one gets its target
  // created when creating is allowed, as fopen(path, "wb") would.
  fs::create_symlink("second-link", file("link"));
  ASSERT_TRUE(saveFile(file("link"), "through the link", Sync::kNo));
  EXPECT_TRUE(fs::is_symlink(file("link")));
  EXPECT_EQ(read(path), "through the link");
  fs::create_symlink("target", file("dangling"));
  SaveOptions existingOnly;
  existingOnly.create = false;
  EXPECT_FALSE(saveFile(file("dangling"), "x", Sync::kNo, existingOnly));
  EXPECT_FALSE(fs::exists(file("target")));
  ASSERT_TRUE(saveFile(file("dangling"), "made", Sync::kNo));
  EXPECT_TRUE(fs::is_symlink(file("dangling")));
  EXPECT_EQ(read(file("target")), "made");
  EXPECT_EQ(names(),
            (std::set<std::string>{"cams.conf", "second-link", "link", "dangling", "target"}));
}

TEST_F(SaveFileTest, AFileBoundOverTheTargetIsRewrittenInPlace) {
  const std::string path = file("cams.conf");
  const std::string source = file("outside");
  write(path, "hidden");
  write(source, "old content");
  if (::mount(source.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "cannot bind-mount a file here (" << std::strerror(errno) << ")";
  }
  const bool saved = saveFile(path, "new", Sync::kYes);
  const std::string seen = read(source);
  ::umount2(path.c_str(), MNT_DETACH);
  EXPECT_TRUE(saved);
  EXPECT_EQ(seen, "new");
  EXPECT_EQ(names(), (std::set<std::string>{"cams.conf", "outside"}));
}

// An access ACL in the kernel's xattr form (linux/posix_acl_xattr.h): version 2, then
// (tag, permissions, id) entries sorted by tag. Owner rw, user 65534 r, group r, mask r,
// others nothing.
std::string aclGivingNobodyRead() {
  std::string acl;
  auto put = [&acl](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) acl += static_cast<char>((value >> (8 * i)) & 0xff);
  };
  put(2, 4);
  const std::uint32_t kUndefined = 0xffffffff;
  const std::uint32_t entries[][3] = {{0x01, 6, kUndefined},
                                      {0x02, 4, 65534},
                                      {0x04, 4, kUndefined},
                                      {0x10, 4, kUndefined},
                                      {0x20, 0, kUndefined}};
  for (const auto& entry : entries) {
    put(entry[0], 2);
    put(entry[1], 2);
    put(entry[2], 4);
  }
  return acl;
}

std::string attribute(const std::string& path, const char* name) {
  char value[256];
  const ssize_t size = ::getxattr(path.c_str(), name, value, sizeof value);
  return size < 0 ? "(none)" : std::string(value, static_cast<std::size_t>(size));
}

// Refuses to copy extended attributes, as a file system or a security module may.
class NoAttributeCopy : public FileOps {
 public:
  int fsetxattr(int, const char*, const void*, std::size_t, int) override {
    errno = EPERM;
    return -1;
  }
};

TEST_F(SaveFileTest, AclsAndExtendedAttributesAreKept) {
  const std::string path = file("cams.conf");
  write(path, "old");
  const std::string acl = aclGivingNobodyRead();
  if (::setxattr(path.c_str(), "user.origin", "rig", 3, 0) != 0 ||
      ::setxattr(path.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0) {
    GTEST_SKIP() << "the file system under " << dir_ << " refuses user attributes or ACLs ("
                 << std::strerror(errno) << ")";
  }
  const mode_t mode = statOf(path).st_mode & 07777;
  ASSERT_TRUE(saveFile(path, "new", Sync::kYes));
  EXPECT_EQ(read(path), "new");
  EXPECT_EQ(attribute(path, "user.origin"), "rig");
  EXPECT_EQ(attribute(path, "system.posix_acl_access"), acl);
  EXPECT_EQ(statOf(path).st_mode & 07777, mode);

  // Attributes that cannot be copied: the original is rewritten in place and keeps them.
  NoAttributeCopy refusing;
  SaveOptions options;
  options.ops = &refusing;
  const ino_t inode = statOf(path).st_ino;
  ASSERT_TRUE(saveFile(path, "newer", Sync::kNo, options));
  EXPECT_EQ(read(path), "newer");
  EXPECT_EQ(statOf(path).st_ino, inode);
  EXPECT_EQ(attribute(path, "user.origin"), "rig");
  EXPECT_EQ(attribute(path, "system.posix_acl_access"), acl);

  // A file without an ACL in a directory with a default ACL does not gain one on saving.
  const std::string plain = file("pic0.bmp");
  write(plain, "old");
  ASSERT_EQ(::setxattr(dir_.c_str(), "system.posix_acl_default", acl.data(), acl.size(), 0), 0);
  ASSERT_TRUE(saveFile(plain, "new", Sync::kNo));
  EXPECT_EQ(read(plain), "new");
  EXPECT_EQ(attribute(plain, "system.posix_acl_access"), "(none)");
  EXPECT_EQ(names(), (std::set<std::string>{"cams.conf", "pic0.bmp"}));
}

// In a child that has given up root for uid and gid 65534: saves `path` and exits with 0 when
// the save succeeded, 1 when it failed, 2 when the privileges could not be dropped.
int saveAsNobody(const std::string& path, const std::string& bytes) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    ::_exit(saveFile(path, bytes, Sync::kNo) ? 0 : 1);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST_F(SaveFileTest, OwnerAndGroupAreKeptWhenTheSaverIsNotTheOwner) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to hand a file to another user";
  // The saver may create files in the directory, so a rename is possible, but cannot give a
  // new file root's ownership: the file is rewritten in place.
  ASSERT_EQ(::chmod(dir_.c_str(), 0777), 0);
  const std::string path = file("cams.conf");
  write(path, "old content");
  ASSERT_EQ(::chown(path.c_str(), 0, 0), 0);
  ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
  ASSERT_EQ(saveAsNobody(path, "new"), 0);
  EXPECT_EQ(read(path), "new");
  const struct stat status = statOf(path);
  EXPECT_EQ(status.st_uid, 0u);
  EXPECT_EQ(status.st_gid, 0u);
  EXPECT_EQ(status.st_mode & 07777, 0666u);

  // A file the saver may not write is not replaced behind its owner's back.
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  EXPECT_EQ(saveAsNobody(path, "intruder"), 1);
  EXPECT_EQ(read(path), "new");
  EXPECT_EQ(names(), std::set<std::string>{"cams.conf"});
}

}  // namespace
}  // namespace epipolar
