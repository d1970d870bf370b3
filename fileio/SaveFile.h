// The one careful way this program replaces a whole file (the settings file, snapshots and
// exports): the file keeps its identity, and a crash, a kill or a full disk leaves either the
// old or the new content wherever the file system allows that.
//
// The rule (the one careful editors follow): write a temporary file beside the target and
// rename it over the target only when the new file can be given everything the old one had;
// otherwise rewrite the original in place. In place is chosen when the path
//   - is a symbolic link (written through, as fopen(path, "wb") does; the link stays a link);
//   - names a file with more than one hard link (every link sees the new content);
//   - names a file whose owner or group cannot be given to the temporary file (fchown refused,
//     as when the saver is not the owner and not privileged);
//   - names a file whose extended attributes (ACLs among them: system.posix_acl_access) cannot
//     be copied to the temporary file, or whose mode does not come out the same;
//   - names something other than a regular file (a FIFO, a device);
//   - names a file in a directory where no temporary file can be created or named (read-only
//     directory, no inode left);
//   - names a mount point (a single file bound into a container: the rename fails with EBUSY).
// A directory at the path fails with EISDIR.
//
// The rename path: the temporary file is unnamed (O_TMPFILE) while it is written, so a kill
// leaves nothing behind; it gets the old file's owner, group, extended attributes (and loses
// any the directory's default ACL gave it) and mode, is fsync'ed when asked, then linked under a
// unique name ".<name>.XXXXXX" in the target's directory and renamed over the target; the
// directory is fsync'ed when asked. Where the file system has no unnamed files the temporary is
// created under such a unique name from the start (O_EXCL, never following a link), so no file
// of the user's and no planted name (a link, a directory) is ever touched, and a failed save
// removes only the file it created.
//
// The in-place path keeps the old bytes in memory, writes the complete new bytes from offset 0
// with one write (short and interrupted writes are finished), cuts the file to the new length
// and fsyncs it when asked; when any of that fails, the old bytes are written back. A crash in
// the middle of it can leave a mix, which is why it is used only where renaming would lose
// something.
//
// Failure: false with errno describing the cause (ENOENT when the file is missing and may not
// be created); nothing else is reported. A failed save keeps the old content.
//
// Threads: any number of threads may save different files at once; the function keeps no
// state besides the thread's own name generator.
#pragma once

#include <string>
#include <string_view>

#include "fileio/FileOps.h"

namespace epipolar {

// Whether a save waits until the bytes are on the disk (fsync of the file, and of the directory
// after a rename). Without it the content is whole after a crash of the program but may be lost
// by a crash of the machine; a capture thread must not wait for the disk.
enum class Sync { kNo, kYes };

struct SaveOptions {
  // False: a missing file is never created (the save fails with ENOENT).
  bool create = true;
  // A descriptor already open for reading and writing on the file (a settings file held open
  // for the whole run), or -1. When the file is rewritten in place and this descriptor refers to
  // the file the path names, it is written through it instead of opening the path again, so a
  // file made read-only after it was opened can still be saved. It is not closed.
  int openDescriptor = -1;
  // The system calls that tests make fail; null for the real ones.
  FileOps* ops = nullptr;
};

// Replaces the whole content of `path` (relative to the working directory unless absolute)
// with `bytes` as described above. True when the file now holds exactly `bytes`.
bool saveFile(const std::string& path,
              std::string_view bytes,
              Sync sync,
              const SaveOptions& options = {});

}  // namespace epipolar
