// Locks that keep two runs from writing the same files from what they read
// at the same time: a lock file beside the locked file, held from reading to
// the commit. A second run waits a few seconds, saying so, then gives up.
#pragma once

#include "system/Platform.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>

namespace melodrift {

// How long a run waits for another run's lock before giving up.
inline constexpr std::chrono::milliseconds kLockPatience{5000};

// The lock could not be had: another run held it for too long, or the lock
// file cannot be made. The message names the file.
class LockUnavailable : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class FileLock {
  public:
    // Locks `file` for this run through the lock file "<file>.melodrift-lock"
    // beside it. When another run holds it, calls `onWait` once and tries
    // again every 20 ms for `patience`; then throws LockUnavailable.
    explicit FileLock(const std::filesystem::path& file, const std::function<void()>& onWait = {},
                      std::chrono::milliseconds patience = kLockPatience);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // The lock file of `file`.
    static std::filesystem::path LockPath(const std::filesystem::path& file);

  private:
    std::filesystem::path path_;
    platform::HeldLock lock_;
};

}  // namespace melodrift
