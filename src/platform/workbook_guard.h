#pragma once
// What keeps a workbook file safe from the writers around it: its stamp (is
// the file still the one that was read?), its permissions (may it be
// rewritten at all?), a rename that never replaces, and the lock that one
// writer at a time holds on it.
//
// The lock. A workbook is replaced by every save (a new file renamed over the
// old one), so a lock on the workbook itself would not outlive the save. The
// lock is therefore an fcntl lock on a small file beside the workbook,
// ".NAME.~lock", taken as an open file description lock: it excludes every
// other holder, in other processes and in this one (two data sources on one
// workbook), and the file names its holder (program, process, user, host,
// since when) for whoever finds it taken. Any fcntl lock on that file counts,
// so a plain F_SETLK of another tool is honoured as well. The holder removes
// the file when it lets go; one left behind by a process that ended is taken
// over, and removed by RemoveStaleWorkbookLock.
//
// LibreOffice marks a document it has open with ".~lock.NAME#" beside it; while
// that file is there the workbook counts as taken, and its holder is named
// from the file's content.

#include <chrono>
#include <cstdint>
#include <string>

#include <sys/types.h>

#include "platform/result.h"

struct stat;

namespace migrator {

// Which file a path named at some moment: a file moved, replaced or written
// since has another stamp. The empty stamp (no file) matches no other.
struct FileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  std::int64_t mtimeSeconds = 0;
  long mtimeNanoseconds = 0;

  static FileStamp Of(const struct stat& st);
  bool empty() const { return size < 0; }
  bool operator==(const FileStamp&) const = default;
};

// The stamp of the regular file at `path` now (links followed); empty when
// there is none.
FileStamp StampOf(const std::string& path);

// Whether the file at `path` may be rewritten: a file that is missing may be
// made; one without any write permission (chmod a-w), or that this process
// may not write, is refused with the system's words for it ("Permission
// denied"), even where the process could replace it anyway.
Status CheckWritable(const std::string& path);

// What stands at `path`, or else at a name in its folder that differs from
// its name only in case ("Report.xls" for "Report.XLS"): that entry's path
// (a link counts, whether or not it leads anywhere); empty when nothing does.
// A file of such a name is the same workbook to a person.
std::string EntryNamedLike(const std::string& path);

// Renames `from` to `to` unless something is at `to` already (then EEXIST),
// in one step. An errno text on failure.
Status RenameNoReplace(const std::string& from, const std::string& to);

// How long a writer waits for the holder of a workbook before it gives up.
inline constexpr std::chrono::milliseconds kWorkbookLockWait{10000};

class WorkbookLock {
 public:
  WorkbookLock() = default;
  WorkbookLock(WorkbookLock&& other) noexcept;
  WorkbookLock& operator=(WorkbookLock&& other) noexcept;
  WorkbookLock(const WorkbookLock&) = delete;
  WorkbookLock& operator=(const WorkbookLock&) = delete;
  ~WorkbookLock() { Release(); }

  // Takes the lock of the workbook at `workbook` (it need not exist yet),
  // waiting up to `wait` for another holder and for LibreOffice to let go.
  // Refused with a sentence that names the workbook and who holds it.
  static Result<WorkbookLock> Acquire(const std::string& workbook,
                                      std::chrono::milliseconds wait = kWorkbookLockWait);

  bool held() const { return fd_ >= 0; }
  // Lets go and removes the lock file. Nothing when not held.
  void Release();

  // The lock file of a workbook, and LibreOffice's.
  static std::string LockFileOf(const std::string& workbook);
  static std::string OfficeLockFileOf(const std::string& workbook);

 private:
  int fd_ = -1;
  std::string file_;
};

// Removes the lock file of a workbook that nobody holds (its holder ended
// without letting go).
void RemoveStaleWorkbookLock(const std::string& workbook);

}  // namespace migrator
