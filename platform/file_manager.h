#pragma once

#include <optional>
#include <string>

#include "platform/data.h"
#include "platform/status.h"
#include "platform/url.h"

namespace platform {

// File operations on the app-group container and the files shared into it.
// Every operation is safe to call from several threads at once. Failures come
// back as a Status whose message says what went wrong, for a person.
class NSFileManager {
 public:
  virtual ~NSFileManager() = default;

  // The file URL (ending in "/") of the root directory of the storage area
  // shared with the host application for `groupIdentifier`, created when
  // missing; none when it cannot be had.
  virtual std::optional<URL> containerURLForSecurityApplicationGroupIdentifier(
      const std::string& groupIdentifier) = 0;

  // Whether anything (file, directory, link) exists at a file-system path. A
  // dangling symbolic link exists.
  virtual bool fileExistsAtPath(const std::string& path) = 0;

  // Removes the file, link or whole directory tree at `url`. A link is
  // removed, never followed.
  virtual Status removeItemAtURL(const URL& url) = 0;

  // Copies the file or directory tree at `src` to `dst`, which must not exist.
  // A link at `src` itself is followed; links inside a tree are copied as
  // links. Fails when `dst` lies inside `src` (or is `src`). Never reads a
  // whole file into memory.
  virtual Status copyItemAtURL(const URL& src, const URL& dst) = 0;

  // Puts the item at `newItemURL` in the place of `originalItemURL` in one
  // step (the original, if any, is gone afterwards, a link replaced and never
  // followed); `newItemURL` no longer exists afterwards. On failure the
  // original is untouched. Both lie in one directory.
  virtual Status replaceItemAtURL(const URL& originalItemURL, const URL& newItemURL) = 0;

  // Puts a copy of the file or directory tree at `src` in the place of
  // `originalItemURL`, as copyItemAtURL to `temporaryURL` followed by
  // replaceItemAtURL(originalItemURL, temporaryURL) would. `temporaryURL` is
  // a free name beside the original; the copy takes it while it is made, or,
  // where the file system allows, is made without a name and put straight
  // into place, so that nothing of it can be left under that name. On
  // failure the original is untouched, and whatever is left at
  // `temporaryURL` is the caller's to remove.
  virtual Status copyItemIntoPlace(const URL& src, const URL& originalItemURL, const URL& temporaryURL) {
    Status status = copyItemAtURL(src, temporaryURL);
    if (status.ok()) status = replaceItemAtURL(originalItemURL, temporaryURL);
    return status;
  }

  // Writes `data` to the file at `url`. With `atomically`, the bytes go to a
  // temporary file in the same directory that is then renamed to `url`, so
  // the file appears complete or not at all.
  virtual Status writeData(const Data& data, const URL& url, bool atomically) = 0;

  // Makes everything this file manager has written so far durable (file data,
  // and the directory entries that name it) in one batch. Called before a
  // record that names those files is published.
  virtual Status synchronizeWrittenItems() = 0;
};

}  // namespace platform
