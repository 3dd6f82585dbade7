#include "system/FileLock.h"

#include "system/Files.h"

#include <thread>

namespace melodrift {

namespace fs = std::filesystem;

fs::path FileLock::LockPath(const fs::path& file) {
    fs::path lock = file;
    lock += ".melodrift-lock";
    return lock;
}

FileLock::FileLock(const fs::path& file, const std::function<void()>& onWait,
                   std::chrono::milliseconds patience)
    : path_(LockPath(file)) {
    const auto giveUp = std::chrono::steady_clock::now() + patience;
    bool waited = false;
    for (;;) {
        std::error_code ec;
        if (std::optional<platform::HeldLock> lock = platform::TryLockFile(path_, ec)) {
            lock_ = *lock;
            return;
        }
        if (ec)
            throw LockUnavailable(PathToUtf8(file) + ": cannot lock it for this run (" +
                                  PathToUtf8(path_) + ": " + ec.message() + ")");
        if (std::chrono::steady_clock::now() >= giveUp)
            throw LockUnavailable(PathToUtf8(file) + ": another run is still changing it (waited " +
                                  std::to_string((patience.count() + 500) / 1000) +
                                  " s); nothing was written, try again when it has finished");
        if (!waited && onWait) onWait();
        waited = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

FileLock::~FileLock() { platform::UnlockFile(lock_, path_); }

}  // namespace melodrift
