#include "platform/linux/files/atomic_write.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/base/errno_status.h"
#include "platform/linux/base/file_tree.h"
#include "platform/linux/base/file_writing.h"
#include "platform/linux/files/run_journal.h"

namespace platform::linux_platform {
namespace {
// Letters and digits enough that no other writer ever picks the same name: a
// record names the temporary before it exists, and a sweep removes it by
// that name.
std::string RandomSuffix() {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char random[12] = {};
  std::size_t got = 0;
  while (got < sizeof random) {
    const ssize_t n = ::getrandom(random + got, sizeof random - got, 0);
    if (n < 0 && errno != EINTR) break;
    if (n > 0) got += static_cast<std::size_t>(n);
  }
  std::string suffix;
  for (unsigned char byte : random) suffix += kAlphabet[byte % (sizeof kAlphabet - 1)];
  return suffix;
}

bool RenameFlagUnsupported(int err) { return err == EINVAL || err == ENOSYS || err == EOPNOTSUPP; }


// Renames the written temporary over `name`, telling the run's record first
// what the rename is about to do. -1 with errno set on failure.
int RenameIntoPlace(int dir, const std::string& temporaryName, const std::string& name, const ItemIdentity& written,
                    const std::string& path, const AtomicWriteOptions& options) {
  RunJournal* journal = options.journal;
  if (journal == nullptr) return ::renameat(dir, temporaryName.c_str(), dir, name.c_str());
  if (options.isSuite) {
    journal->willRenameSuite();
    const int renamed = ::renameat(dir, temporaryName.c_str(), dir, name.c_str());
    if (renamed == 0) journal->suiteRenamed();
    return renamed;
  }
  journal->willPlaceNewItem(path, written);
  if (::renameat2(dir, temporaryName.c_str(), dir, name.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EEXIST && !RenameFlagUnsupported(errno)) return -1;
  // Over a file of that name: it stays whatever becomes of this run.
  journal->willReplaceItem(path, written);
  return ::renameat(dir, temporaryName.c_str(), dir, name.c_str());
}

}  // namespace

Status WriteFileAtomically(const std::string& path, std::string_view bytes, const AtomicWriteOptions& options) {
  StatusOr<ParentAndName> opened = OpenParent(path);
  if (!opened.ok()) return opened.status();
  const ParentAndName& target = *opened;
  const int dir = target.parent.get();

  const std::size_t slash = path.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  RunJournal* journal = options.journal;
  std::string temporaryName;
  UniqueFd fd;
  for (int attempt = 0; attempt < 10 && !fd.valid(); ++attempt) {
    temporaryName = "." + target.name.substr(0, 200) + "." + RandomSuffix();
    const std::string temporary = JoinPath(directory, temporaryName);
    if (journal != nullptr) {
      if (options.isSuite) journal->willWriteSuite(temporary);
      else journal->willCreateTemporary(temporary);
    }
    fd = UniqueFd(::openat(dir, temporaryName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                           0600));
    if (!fd.valid() && errno != EEXIST) return ErrnoStatus("cannot create a file beside", path, errno);
  }
  if (!fd.valid()) return ErrnoStatus("cannot create a file beside", path, EEXIST);

  const auto fail = [&](Status failure) {
    fd.reset();
    (void)::unlinkat(dir, temporaryName.c_str(), 0);  // The failure is what the caller needs to hear.
    return failure;
  };
  if (Status written = WriteAll(fd.get(), bytes, "cannot write", path); !written.ok()) return fail(written);
  if (options.mode) {
    if (::fchmod(fd.get(), *options.mode) != 0) {
      return fail(ErrnoStatus("cannot set the permissions of", path, errno));
    }
  } else {
    // A file written over keeps its permissions; a new one stays owner-only.
    struct stat previous {};
    if (::fstatat(dir, target.name.c_str(), &previous, 0) == 0 && S_ISREG(previous.st_mode)) {
      (void)::fchmod(fd.get(), previous.st_mode & 07777);  // Owner-only is the safe side of a failure.
    }
  }
  // The data reaches the disk before the name does.
  if (::fsync(fd.get()) != 0) return fail(ErrnoStatus("cannot write", path, errno));
  struct stat written {};
  if (::fstat(fd.get(), &written) != 0) return fail(ErrnoStatus("cannot read", path, errno));
  if (Status closed = CloseChecked(fd, path); !closed.ok()) return fail(closed);
  if (RenameIntoPlace(dir, temporaryName, target.name, IdentityOf(written), path, options) != 0) {
    const int err = errno;
    if (journal != nullptr && options.isSuite) journal->suiteRenameFailed();
    return fail(ErrnoStatus("cannot move the new contents into", path, err));
  }
  // The rename is only durable once the directory entry is.
  if (options.syncDirectory && ::fsync(dir) != 0) return ErrnoStatus("cannot write to disk", directory, errno);
  return Status::OK();
}

}  // namespace platform::linux_platform
