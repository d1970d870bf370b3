#include "fileio/SaveFile.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <map>

namespace epipolar {
namespace {

using Attributes = std::map<std::string, std::string>;

enum class Outcome { kSaved, kFailed, kInPlace };

// A temporary file: open, and named once it has a name. Whatever is left of it when it goes
// out of scope is removed; errno survives that.
struct Temporary {
  int fd = -1;
  std::string name;
  Temporary() = default;
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  ~Temporary() {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (!name.empty()) ::unlink(name.c_str());
    errno = error;
  }
};

std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "<directory>/.<name>.XXXXXX" with six random letters or digits, as mkstemp makes them.
std::string uniqueName(const std::string& directory, const std::string& base) {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::uint64_t bits = 0;
  if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
    // No entropy yet (early boot): the clock and a per-thread counter still differ per call.
    thread_local std::uint64_t counter = 0;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    bits = static_cast<std::uint64_t>(now.tv_nsec) ^
           (static_cast<std::uint64_t>(now.tv_sec) << 30) ^
           (static_cast<std::uint64_t>(::gettid()) << 40) ^ (++counter * 0x9E3779B97F4A7C15ull);
  }
  std::string name = directory + "/." + base + ".";
  for (int i = 0; i < 6; ++i) {
    name += kLetters[bits % 62];
    bits /= 62;
  }
  return name;
}

bool writeAll(FileOps& ops, int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ops.write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) {
      errno = ENOSPC;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Reads every extended attribute through `list` (listxattr-like) and `get` (getxattr-like).
// A file system without extended attributes has none. Attributes that change while they are
// read are read again.
template <typename List, typename Get>
bool readAttributes(List list, Get get, Attributes& out) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    out.clear();
    ssize_t size = list(nullptr, 0);
    if (size < 0) return errno == ENOTSUP;
    std::string names(static_cast<std::size_t>(size), '\0');
    size = list(names.data(), names.size());
    if (size < 0) {
      if (errno == ERANGE) continue;
      return false;
    }
    names.resize(static_cast<std::size_t>(size));
    bool changed = false;
    for (std::size_t at = 0; at < names.size() && !changed;) {
      const std::string name = names.c_str() + at;
      at += name.size() + 1;
      ssize_t length = get(name.c_str(), nullptr, 0);
      std::string value;
      if (length >= 0) {
        value.resize(static_cast<std::size_t>(length));
        length = get(name.c_str(), value.data(), value.size());
      }
      if (length < 0) {
        if (errno != ERANGE && errno != ENODATA) return false;
        changed = true;
        break;
      }
      value.resize(static_cast<std::size_t>(length));
      out.emplace(name, std::move(value));
    }
    if (!changed) return true;
  }
  errno = EAGAIN;
  return false;
}

// Gives the temporary file the owner, group, extended attributes and mode of `old` (the file
// at `path`). False when any of them cannot be given: the original is then rewritten in place.
bool takeIdentity(FileOps& ops, const std::string& path, const struct stat& old, int fd) {
  struct stat made;
  if (::fstat(fd, &made) != 0) return false;
  // chown clears set-user-ID, set-group-ID and file capabilities, so it comes first and the
  // mode and attributes after it.
  if ((made.st_uid != old.st_uid || made.st_gid != old.st_gid) &&
      ::fchown(fd, old.st_uid, old.st_gid) != 0) {
    return false;
  }
  Attributes wanted, present;
  if (!readAttributes(
          [&](char* list, std::size_t size) { return ::listxattr(path.c_str(), list, size); },
          [&](const char* name, void* value, std::size_t size) {
            return ::getxattr(path.c_str(), name, value, size);
          },
          wanted) ||
      !readAttributes([&](char* list, std::size_t size) { return ::flistxattr(fd, list, size); },
                      [&](const char* name, void* value, std::size_t size) {
                        return ::fgetxattr(fd, name, value, size);
                      },
                      present)) {
    return false;
  }
  // What the new file got by itself (an ACL from the directory's default ACL) but the old
  // file did not have goes.
  for (const auto& [name, value] : present) {
    if (wanted.count(name) == 0 && ::fremovexattr(fd, name.c_str()) != 0) return false;
  }
  for (const auto& [name, value] : wanted) {
    const auto have = present.find(name);
    if (have != present.end() && have->second == value) continue;
    if (ops.fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0) return false;
  }
  // Last: an ACL written above set the permission bits from its entries, and the set-ID bits
  // are only kept by a chmod after the chown.
  if (::fchmod(fd, old.st_mode & 07777) != 0 || ::fstat(fd, &made) != 0) return false;
  return made.st_uid == old.st_uid && made.st_gid == old.st_gid &&
         (made.st_mode & 07777) == (old.st_mode & 07777);
}

// Creates the temporary file in `directory`: unnamed where the file system allows it and
// /proc can name it later, otherwise under a fresh unique name.
bool createTemporary(FileOps& ops,
                     const std::string& directory,
                     const std::string& base,
                     mode_t mode,
                     Temporary& t) {
  static const bool procNamesDescriptors = ::access("/proc/self/fd", X_OK) == 0;
  if (procNamesDescriptors) {
    t.fd = ops.open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    if (t.fd >= 0) return true;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = uniqueName(directory, base);
    t.fd = ops.open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (t.fd >= 0) {
      t.name = name;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// Gives an unnamed temporary file a unique name in `directory`.
bool nameTemporary(const std::string& directory, const std::string& base, Temporary& t) {
  const std::string source = "/proc/self/fd/" + std::to_string(t.fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = uniqueName(directory, base);
    if (::linkat(AT_FDCWD, source.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      t.name = name;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// `old` is the regular file at `path` with a single link, or null when there is no file yet.
Outcome replaceThroughTemporary(FileOps& ops,
                                const std::string& path,
                                std::string_view bytes,
                                Sync sync,
                                const struct stat* old) {
  const std::string directory = directoryOf(path);
  // Cut so that ".<name>.XXXXXX" stays within the 255 bytes a file name may have.
  const std::string base = baseOf(path).substr(0, 240);
  Temporary t;
  // A new file is created as fopen(path, "wb") creates it: 0666 less the umask, or as the
  // directory's default ACL says. A replacement starts private and takes the old mode later.
  if (!createTemporary(ops, directory, base, old != nullptr ? 0600 : 0666, t)) {
    return Outcome::kInPlace;
  }
  // The bytes go first: writing into a file clears its file capabilities.
  if (!writeAll(ops, t.fd, bytes)) return Outcome::kFailed;
  if (old != nullptr && !takeIdentity(ops, path, *old, t.fd)) return Outcome::kInPlace;
  if (sync == Sync::kYes && ops.fsync(t.fd) != 0) return Outcome::kFailed;
  // A name the directory cannot take (no room for another entry, a name at the length limit)
  // leaves the original to be rewritten in place.
  if (t.name.empty() && !nameTemporary(directory, base, t)) return Outcome::kInPlace;
  // close reports delayed write errors (a full disk on some file systems).
  const int fd = t.fd;
  t.fd = -1;
  if (::close(fd) != 0) return Outcome::kFailed;
  if (ops.rename(t.name.c_str(), path.c_str()) != 0) {
    // EBUSY: the target is a mount point (a single file bound into a container), which only
    // an in-place rewrite can reach.
    return errno == EBUSY ? Outcome::kInPlace : Outcome::kFailed;
  }
  t.name.clear();
  if (sync == Sync::kYes) {
    // Makes the rename itself durable.
    const int directoryFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directoryFd >= 0) {
      ops.fsync(directoryFd);
      ::close(directoryFd);
    }
  }
  return Outcome::kSaved;
}

bool rewriteInPlace(FileOps& ops,
                    const std::string& path,
                    std::string_view bytes,
                    Sync sync,
                    const SaveOptions& options) {
  struct stat named;
  const bool exists = ::stat(path.c_str(), &named) == 0;
  int fd = -1;
  if (exists && options.openDescriptor >= 0) {
    struct stat held;
    if (::fstat(options.openDescriptor, &held) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      fd = options.openDescriptor;
    }
  }
  const bool own = fd < 0;
  if (own) {
    // A regular file is opened for reading too, to keep its old bytes. Anything else (a FIFO,
    // a device behind a link) only for writing, and without waiting for a reader to appear.
    const bool regular = !exists || S_ISREG(named.st_mode);
    fd = ::open(path.c_str(),
                (regular ? O_RDWR : O_WRONLY) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                    (options.create ? O_CREAT : 0),
                0666);
    if (fd < 0) return false;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  }
  // Closes what was opened here; close reports delayed write errors, but never hides the
  // cause of an earlier failure.
  auto finish = [&](bool saved) {
    if (!own) return saved;
    const int error = errno;
    const bool closed = ::close(fd) == 0;
    if (saved && !closed) return false;
    errno = error;
    return saved;
  };

  struct stat status;
  if (::fstat(fd, &status) != 0) return finish(false);
  if (status.st_nlink == 0) {
    // Deleted while open: writing into it would keep nothing.
    errno = ENOENT;
    return finish(false);
  }
  const bool regular = S_ISREG(status.st_mode);
  // The old bytes, to write them back if the rewrite fails part-way.
  std::string old;
  if (regular) {
    char buffer[65536];
    for (;;) {
      const ssize_t got = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(old.size()));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return finish(false);
      if (got == 0) break;
      old.append(buffer, static_cast<std::size_t>(got));
    }
  }
  auto put = [&](std::string_view content) {
    if (regular && ::lseek(fd, 0, SEEK_SET) < 0) return false;
    if (!writeAll(ops, fd, content)) return false;
    if (!regular) return true;
    if (ops.ftruncate(fd, static_cast<off_t>(content.size())) != 0) return false;
    return sync == Sync::kNo || ops.fsync(fd) == 0;
  };
  const bool saved = put(bytes);
  if (!saved && regular) {
    const int error = errno;
    put(old);
    errno = error;
  }
  return finish(saved);
}

}  // namespace

bool saveFile(const std::string& path,
              std::string_view bytes,
              Sync sync,
              const SaveOptions& options) {
  FileOps& ops = options.ops != nullptr ? *options.ops : FileOps::system();
  struct stat status;
  const struct stat* old = nullptr;
  if (::lstat(path.c_str(), &status) != 0) {
    if (errno != ENOENT) return false;
    if (!options.create) return false;
  } else if (S_ISDIR(status.st_mode)) {
    errno = EISDIR;
    return false;
  } else {
    old = &status;
  }
  if (old == nullptr || (S_ISREG(old->st_mode) && old->st_nlink == 1)) {
    switch (replaceThroughTemporary(ops, path, bytes, sync, old)) {
      case Outcome::kSaved:
        return true;
      case Outcome::kFailed:
        return false;
      case Outcome::kInPlace:
        break;
    }
  }
  return rewriteInPlace(ops, path, bytes, sync, options);
}

}  // namespace epipolar
