#include "system/Files.h"

#include <gtest/gtest.h>

#include "TempFolder.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef __linux__
#include <sys/xattr.h>
#endif

namespace melodrift {
namespace {

namespace fs = std::filesystem;

using testing::TempFolder;

TEST(SplitLines, AcceptsEveryLineEnd) {
    using Lines = std::vector<std::string>;
    EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("a\r\n"), (Lines{"a"}));
    EXPECT_EQ(SplitLines("a\n\nb"), (Lines{"a", "", "b"}));
    EXPECT_EQ(SplitLines("\r\n"), (Lines{""}));
    EXPECT_TRUE(SplitLines("").empty());
}

TEST(JoinLinesCrLf, EndsEveryLineWithCrLf) {
    EXPECT_EQ(JoinLinesCrLf({"[#SETTING]", "Tempo=120"}), "[#SETTING]\r\nTempo=120\r\n");
    EXPECT_EQ(JoinLinesCrLf({}), "");
}

TEST(WriteFileAtomically, ReplacesTheWholeContentAndLeavesNoTemporaryFile) {
    TempFolder folder;
    const fs::path target = folder.path() / "plugin.tmp";
    WriteFileAtomically(target, std::string(100000, 'x'));
    WriteFileAtomically(target, "short\r\n");
    EXPECT_EQ(ReadFileBytes(target), "short\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
}

// A host or a virus scanner may have the file open for reading while it is
// replaced: on Windows the rename waits for it (here 300 ms), elsewhere
// the reader keeps the old file.
TEST(WriteFileAtomically, ATargetOpenForReadingElsewhereIsReplaced) {
    TempFolder folder;
    const fs::path target = folder.path() / Utf8Path("プラグイン.tmp");
    WriteFileAtomically(target, "old\r\n");
    auto reader = std::make_unique<std::ifstream>(target, std::ios::binary);
    ASSERT_TRUE(reader->is_open());
    std::thread closer([&reader] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        reader.reset();
    });
    WriteFileAtomically(target, "new\r\n");
    closer.join();
    EXPECT_EQ(ReadFileBytes(target), "new\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
}

// A read-only file is replaced and stays read-only, as on POSIX, where a
// rename ignores the target's mode; Windows refuses to replace or delete a
// read-only file unless the attribute is lifted. A failed replace leaves
// no temporary file, though the temporary copy is read-only too.
TEST(WriteFileAtomically, AReadOnlyFileIsReplacedAndStaysReadOnly) {
    TempFolder folder;
    const fs::path target = folder.path() / "oto.ini";
    WriteFileAtomically(target, "old\r\n");
    fs::permissions(target, fs::perms::owner_read, fs::perm_options::replace);
    WriteFileAtomically(target, "new\r\n");
    EXPECT_EQ(ReadFileBytes(target), "new\r\n");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::owner_write, fs::perms::none);

    SetFileFaultHook([](FileStep step) { return step == FileStep::Rename; });
    EXPECT_ANY_THROW(WriteFileAtomically(target, "lost\r\n"));
    SetFileFaultHook({});
    EXPECT_EQ(ReadFileBytes(target), "new\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
    fs::permissions(target, fs::perms::owner_all, fs::perm_options::replace);
}

// A reader that keeps the target open: Windows refuses the rename; after
// about a second of trying the write fails, the old file stays and no
// temporary file is left.
TEST(WriteFileAtomically, ATargetHeldOpenOnWindowsFailsCleanly) {
#ifndef _WIN32
    GTEST_SKIP()
        << "POSIX renames over a file open elsewhere at once (the reader keeps the old file)";
#else
    TempFolder folder;
    const fs::path target = folder.path() / "oto.ini";
    WriteFileAtomically(target, "old\r\n");
    std::ifstream reader(target, std::ios::binary);
    ASSERT_TRUE(reader.is_open());
    EXPECT_ANY_THROW(WriteFileAtomically(target, "new\r\n"));
    reader.close();
    EXPECT_EQ(ReadFileBytes(target), "old\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
#endif
}

// Names outside the ANSI code page: on Windows the paths are UTF-16 all the
// way to the system.
TEST(WriteFileAtomically, NamesInAnyScriptAreWrittenAndRead) {
    TempFolder folder;
    for (const char* name :
         {"声.ini", "\xED\x95\x9C.txt", "\xC3\xA9t\xC3\xA9\xF0\x9F\x8E\xB5.tmp"}) {
        const fs::path target = folder.path() / Utf8Path(name);
        WriteFileAtomically(target, name);
        WriteFileAtomically(target, std::string(name) + "!");
        EXPECT_EQ(ReadFileBytes(target), std::string(name) + "!");
        EXPECT_TRUE(fs::exists(target));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 3);
}

TEST(WriteFileAtomically, AFailedRenameLeavesTheTargetAndNoLitter) {
    TempFolder folder;
    // A non-empty folder in the target's place: the rename must fail.
    const fs::path target = folder.path() / "oto.ini";
    fs::create_directories(target / "inside");
    EXPECT_ANY_THROW(WriteFileAtomically(target, "a.wav=a,0,0,0,0,0\r\n"));
    EXPECT_TRUE(fs::is_directory(target / "inside"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
}

TEST(WriteFileAtomically, AMissingFolderThrowsAndCreatesNothing) {
    TempFolder folder;
    EXPECT_ANY_THROW(WriteFileAtomically(folder.path() / "no" / "such.txt", "x"));
    EXPECT_FALSE(fs::exists(folder.path() / "no"));
}

// The names in a folder, sorted.
std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(WriteFileAtomically, ASymbolicLinkStaysALinkAndItsFileGetsTheContent) {
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links: Windows makes them only with a privilege, and MinGW's "
                    "std::filesystem makes none";
#else
    TempFolder folder;
    const fs::path real = folder.Write("store/plugin.tmp", "old\r\n");
    const fs::path link = folder.path() / "plugin.tmp";
    fs::create_symlink(fs::path("store") / "plugin.tmp", link);  // relative, as users make them
    const fs::path second = folder.path() / "again.tmp";
    fs::create_symlink(link, second);  // a chain of two links
    WriteFileAtomically(second, "new\r\n");
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(second)));
    EXPECT_EQ(ReadFileBytes(real), "new\r\n");
    EXPECT_EQ(Names(folder.path()), (std::vector<std::string>{"again.tmp", "plugin.tmp", "store"}));
    EXPECT_EQ(Names(folder.path() / "store"), (std::vector<std::string>{"plugin.tmp"}));

    // A link whose file does not exist yet: the file is made where it points.
    fs::create_symlink("store/made.txt", folder.path() / "dangling");
    WriteFileAtomically(folder.path() / "dangling", "made");
    EXPECT_EQ(ReadFileBytes(folder.path() / "store" / "made.txt"), "made");
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(folder.path() / "dangling")));
#endif
}

TEST(WriteFileAtomically, ALinkLoopIsRefusedWithoutWriting) {
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links: Windows makes them only with a privilege, and MinGW's "
                    "std::filesystem makes none";
#else
    TempFolder folder;
    fs::create_symlink("b", folder.path() / "a");
    fs::create_symlink("a", folder.path() / "b");
    try {
        WriteFileAtomically(folder.path() / "a", "x");
        ADD_FAILURE() << "no error";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::errc::too_many_symbolic_link_levels);
    }
    EXPECT_EQ(Names(folder.path()), (std::vector<std::string>{"a", "b"}));
#endif
}

TEST(WriteFileAtomically, PermissionBitsAreKept) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX permission bits: Windows keeps only a read-only attribute";
#else
    TempFolder folder;
    const fs::path target = folder.Write("plugin.tmp", "old");
    for (const fs::perms mode :
         {fs::perms::owner_read | fs::perms::owner_write,
          fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec,
          fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read,
          fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
              fs::perms::group_exec | fs::perms::set_gid}) {
        fs::permissions(target, mode, fs::perm_options::replace);
        WriteFileAtomically(target, "new");
        EXPECT_EQ(fs::status(target).permissions() & fs::perms::mask, mode);
        EXPECT_EQ(ReadFileBytes(target), "new");
    }
#endif
}

TEST(WriteFileAtomically, OwnerAndGroupAreKeptWhereTheProcessMaySetThem) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX owners and groups: Windows files have access control lists instead";
#else
    if (::geteuid() != 0) GTEST_SKIP() << "only root may give a file to another user";
    TempFolder folder;
    const fs::path target = folder.Write("oto.ini", "old");
    ASSERT_EQ(::chown(target.c_str(), 12345, 23456), 0);
    WriteFileAtomically(target, "new");
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 12345u);
    EXPECT_EQ(info.st_gid, 23456u);
#endif
}

#ifdef __linux__
// A POSIX access list as the kernel stores it (system.posix_acl_access):
// version 2, then (tag, permissions, id) sorted by tag and id.
std::string AccessList(std::initializer_list<std::array<std::uint32_t, 3>> entries) {
    std::string bytes;
    const auto put = [&bytes](std::uint32_t value, int size) {
        for (int i = 0; i < size; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    put(2, 4);
    for (const auto& [tag, permissions, id] : entries) {
        put(tag, 2);
        put(permissions, 2);
        put(id, 4);
    }
    return bytes;
}

std::optional<std::string> Attribute(const fs::path& path, const char* name) {
    char value[256];
    const ssize_t size = ::getxattr(path.c_str(), name, value, sizeof value);
    if (size < 0) return std::nullopt;
    return std::string(value, static_cast<std::size_t>(size));
}
#endif

// A replaced file keeps its access list, its extended attributes and its
// mode bits (set-group-ID too); the group does not gain write permission
// from the list's mask, and a list the folder would give a new file is not
// added to a file that had none.
TEST(WriteFileAtomically, AccessListsAndExtendedAttributesAreKept) {
#ifndef __linux__
    GTEST_SKIP() << "extended attributes are copied on Linux only";
#else
    constexpr std::uint32_t kAll = 0xFFFFFFFF;  // no id: the owner, group, mask, others entries
    TempFolder folder;
    const fs::path target = folder.Write("oto.ini", "old");
    // user::rw- user:12345:rw- group::r-- mask::rw- other::r--, shown as 0664.
    const std::string list = AccessList(
        {{0x01, 6, kAll}, {0x02, 6, 12345}, {0x04, 4, kAll}, {0x10, 6, kAll}, {0x20, 4, kAll}});
    if (::setxattr(target.c_str(), "user.melodrift.test", "kept", 4, 0) != 0 ||
        ::setxattr(target.c_str(), "system.posix_acl_access", list.data(), list.size(), 0) != 0)
        GTEST_SKIP() << "the temporary folder's file system takes no user attributes or access "
                        "lists: "
                     << std::strerror(errno);
    ASSERT_EQ(::chmod(target.c_str(), 02664), 0);  // the mask stays rw-
    struct stat before {};
    ASSERT_EQ(::stat(target.c_str(), &before), 0);
    WriteFileAtomically(target, "new");
    EXPECT_EQ(ReadFileBytes(target), "new");
    struct stat after {};
    ASSERT_EQ(::stat(target.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, before.st_mode & 07777);
    EXPECT_EQ(Attribute(target, "user.melodrift.test"), "kept");
    EXPECT_EQ(Attribute(target, "system.posix_acl_access"), list);

    // A folder whose default list gives a group write permission: a file
    // without a list is replaced by one without a list.
    const std::string folderDefault = AccessList(
        {{0x01, 7, kAll}, {0x04, 7, kAll}, {0x08, 6, 23456}, {0x10, 7, kAll}, {0x20, 5, kAll}});
    ASSERT_EQ(::setxattr(folder.path().c_str(), "system.posix_acl_default", folderDefault.data(),
                         folderDefault.size(), 0),
              0);
    const fs::path plain = folder.path() / "plain.ini";
    std::ofstream(plain).put('o');  // inherits the default list, which is taken away
    ASSERT_EQ(::removexattr(plain.c_str(), "system.posix_acl_access"), 0);
    ASSERT_EQ(::chmod(plain.c_str(), 0644), 0);
    WriteFileAtomically(plain, "new");
    ASSERT_EQ(::stat(plain.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0644u);
    EXPECT_FALSE(Attribute(plain, "system.posix_acl_access").has_value());
#endif
}

// A file with a second name is refused rather than split: both names keep
// the old content, and nothing is left beside them.
TEST(WriteFileAtomically, AHardLinkedFileIsRefusedByName) {
    TempFolder folder;
    const fs::path target = folder.Write("oto.ini", "old");
    std::error_code ec;
    fs::create_hard_link(target, folder.path() / "copy.ini", ec);
    if (ec) GTEST_SKIP() << "no hard links here: " << ec.message();
    try {
        WriteFileAtomically(target, "new");
        ADD_FAILURE() << "no error";
    } catch (const std::system_error& error) {
        EXPECT_NE(std::string(error.what()).find("2 names (hard links)"), std::string::npos)
            << error.what();
        EXPECT_NE(std::string(error.what()).find("oto.ini"), std::string::npos) << error.what();
    }
    EXPECT_EQ(ReadFileBytes(target), "old");
    EXPECT_EQ(ReadFileBytes(folder.path() / "copy.ini"), "old");
    EXPECT_EQ(Names(folder.path()), (std::vector<std::string>{"copy.ini", "oto.ini"}));
}

TEST(WriteFileAtomically, NamesAsLongAsTheFileSystemAllowsAreWritten) {
    TempFolder folder;
    const std::string ascii(250, 'n');
    WriteFileAtomically(folder.path() / ascii, "a");
    EXPECT_EQ(ReadFileBytes(folder.path() / ascii), "a");
    std::string japanese;  // 84 characters of 3 UTF-8 bytes: 252 bytes
    for (int i = 0; i < 84; ++i) japanese += "音";
    WriteFileAtomically(folder.path() / Utf8Path(japanese), "b");
    EXPECT_EQ(ReadFileBytes(folder.path() / Utf8Path(japanese)), "b");
    EXPECT_EQ(Names(folder.path()).size(), 2u);
}

TEST(WriteFileAtomically, AFolderInTheTargetsPlaceIsNamed) {
    TempFolder folder;
    fs::create_directories(folder.path() / "oto.ini");
    try {
        WriteFileAtomically(folder.path() / "oto.ini", "x");
        ADD_FAILURE() << "no error";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::errc::is_a_directory);
        EXPECT_NE(std::string(error.what()).find("oto.ini"), std::string::npos) << error.what();
    }
    EXPECT_EQ(Names(folder.path()), (std::vector<std::string>{"oto.ini"}));
}

TEST(RemoveStaleTemporaries, RemovesOnlyOurOldOrOrphanedTemporaries) {
    TempFolder folder;
    const auto pid36 = [](std::uint64_t pid) {
        std::string text;
        do {
            text.insert(text.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[pid % 36]);
            pid /= 36;
        } while (pid != 0);
        return text;
    };
    const std::string mine = pid36(static_cast<std::uint64_t>(::getpid()));
    // 2^31 − 2 is above every Linux pid_max: that writer is surely gone.
    const std::string gone = pid36(0x7FFFFFFEU);
    folder.Write(".melodrift-" + mine + "-fresh1.tmp", "being written");
    const fs::path old = folder.Write(".melodrift-" + mine + "-old001.tmp", "left two hours ago");
    fs::last_write_time(old, fs::file_time_type::clock::now() - std::chrono::hours(2));
    folder.Write(".melodrift-" + gone + "-orphan.tmp", "its writer was killed");
    folder.Write(".melodrift-notes.tmp", "not ours: no process part");
    folder.Write("voice.tmp", "the user's");
    EXPECT_EQ(RemoveStaleTemporaries(folder.path()), 2);
    std::vector<std::string> kept{".melodrift-" + mine + "-fresh1.tmp", ".melodrift-notes.tmp",
                                  "voice.tmp"};
    std::sort(kept.begin(), kept.end());  // the process part may sort after "notes"
    EXPECT_EQ(Names(folder.path()), kept);
    // A write beside them clears what is stale there.
    folder.Write(".melodrift-" + gone + "-orphan.tmp", "again");
    WriteFileAtomically(folder.path() / "voice.tmp", "new");
    EXPECT_FALSE(fs::exists(folder.path() / (".melodrift-" + gone + "-orphan.tmp")));
}

// Fails the step numbered `failAt` (counted from 1) of every write on this
// thread while it lives; counts the steps.
class FailNthStep {
  public:
    explicit FailNthStep(int failAt) : failAt_(failAt) {
        SetFileFaultHook([this](FileStep) { return ++steps_ == failAt_; });
    }
    ~FailNthStep() { SetFileFaultHook({}); }
    bool Fired() const { return steps_ >= failAt_; }

  private:
    int failAt_;
    int steps_ = 0;
};

TEST(WriteFileAtomically, AFailureAtAnyStepLeavesTheWholeOldFileAndNoTemporary) {
    TempFolder folder;
    const fs::path target = folder.path() / "voice_wav.frq";
    const std::string oldBytes(150000, 'o');  // three write chunks
    const std::string newBytes(200000, 'n');  // four write chunks
    for (const bool existed : {true, false}) {
        bool finished = false;
        for (int n = 1; !finished && n < 100; ++n) {
            std::error_code ec;
            fs::remove(target, ec);
            if (existed) folder.Write("voice_wav.frq", oldBytes);
            FailNthStep fault(n);
            try {
                WriteFileAtomically(target, newBytes);
                finished = !fault.Fired();
                EXPECT_TRUE(finished) << "step " << n << " failed without an error";
            } catch (const std::system_error&) {
                EXPECT_TRUE(fault.Fired());
            }
            const std::string now =
                fs::exists(target) ? ReadFileBytes(target) : std::string("<none>");
            if (finished)
                EXPECT_EQ(now, newBytes);
            else
                EXPECT_EQ(now, existed ? oldBytes : std::string("<none>")) << "failing step " << n;
            EXPECT_EQ(Names(folder.path()).size(), fs::exists(target) ? 1u : 0u)
                << "failing step " << n;
        }
        EXPECT_TRUE(finished);
    }
}

// How the fault seam acts from the step it is set at: that step fails and
// the next ones work (a passing glitch), every step fails from there on (a
// disk gone bad, a remount read-only), or the process dies there.
enum class FaultMode { FailOnce, FailFromThenOn, Die };

// The three files of a voice correction: a new frequency table and the
// recording folder's oto.ini, and the plug-in file in the host's folder.
struct CorrectionFiles {
    TempFolder folder;
    fs::path plugin = folder.path() / "host" / "plugin.tmp";
    fs::path oto = folder.path() / "voice" / "oto.ini";
    fs::path table = folder.path() / "voice" / "rec_wav.frq";
    const std::string tableBytes = std::string(70000, 'f');  // two write chunks

    CorrectionFiles() {
        folder.Write("host/plugin.tmp", "[#SETTING]\r\n");
        folder.Write("voice/oto.ini", "a.wav=a,0,0,0,0,0\r\n");
    }
    std::string State() const {
        std::string all;
        for (const fs::path& file : {plugin, oto, table})
            all += (fs::exists(file) ? ReadFileBytes(file) : std::string("<none>")) + "|";
        return all;
    }
    std::string NewState() const {
        return "[#INSERT]\r\n|a.wav=a,0,0,0,0,0\r\nrec.wav=ka,0,0,0,0,0\r\n|" + tableBytes + "|";
    }
    void Commit() const {
        FileTransaction files;
        files.Add(table, tableBytes);
        files.Add(oto, "a.wav=a,0,0,0,0,0\r\nrec.wav=ka,0,0,0,0,0\r\n");
        files.Add(plugin, "[#INSERT]\r\n");
        files.Commit();
    }
    // What a later run does first in each folder.
    std::vector<std::string> Recover() const {
        std::vector<std::string> notices = RecoverInterruptedCommits(oto.parent_path());
        for (const std::string& notice : RecoverInterruptedCommits(plugin.parent_path()))
            notices.push_back(notice);
        return notices;
    }
};

// Every file call of the commit, in each mode: a failure reported leaves
// every file old, or (when even the rollback failed) keeps every old file and
// names it; after a death or a failed rollback, the next run's recovery
// leaves all three of one generation, and nothing else behind.
TEST(FileTransaction, EveryStepFailingOnceFailingFromThenOnOrDyingLeavesOneGeneration) {
    for (const FaultMode mode : {FaultMode::FailOnce, FaultMode::FailFromThenOn, FaultMode::Die}) {
        bool finished = false;
        int faults = 0;
        for (int n = 1; !finished && n < 200; ++n) {
            const CorrectionFiles files;
            const std::string before = files.State();
            int step = 0;
            bool fired = false;
            SetFileFaultHook([&](FileStep) {
                ++step;
                if (step < n || (mode == FaultMode::FailOnce && step > n)) return false;
                fired = true;
                if (mode == FaultMode::Die) throw SimulatedProcessDeath{};
                return true;
            });
            std::string error;
            bool died = false;
            try {
                files.Commit();
            } catch (const SimulatedProcessDeath&) {
                died = true;
            } catch (const std::system_error& e) {
                error = e.what();
            }
            SetFileFaultHook({});
            finished = !fired;
            if (fired) ++faults;
            const std::string left = files.State();
            const std::string context =
                "mode " + std::to_string(static_cast<int>(mode)) + ", step " + std::to_string(n);
            if (!error.empty() && left != before) {
                // Only a failed rollback leaves files new, and it says so.
                EXPECT_EQ(mode, FaultMode::FailFromThenOn) << context;
                EXPECT_NE(error.find("could not be put back"), std::string::npos)
                    << context << ": " << error;
                EXPECT_NE(error.find(PathToUtf8(files.table)), std::string::npos)
                    << context << ": " << error;
            }
            if (!error.empty() && mode == FaultMode::FailOnce) {
                EXPECT_EQ(left, before) << context;
            }
            if (error.empty() && !died) {
                EXPECT_EQ(left, files.NewState()) << context;
            }
            const std::vector<std::string> notices = files.Recover();
            if (mode == FaultMode::FailOnce && !error.empty()) {
                EXPECT_TRUE(notices.empty()) << context;
            }
            const std::string after = files.State();
            EXPECT_TRUE(after == before || after == files.NewState())
                << context << ": " << after.substr(0, 60);
            // What a dead run left that no record names goes with the clean-up.
            (void)RemoveStaleTemporaries(files.oto.parent_path(), std::chrono::seconds(-1));
            (void)RemoveStaleTemporaries(files.plugin.parent_path(), std::chrono::seconds(-1));
            EXPECT_EQ(Names(files.plugin.parent_path()), (std::vector<std::string>{"plugin.tmp"}))
                << context;
            const std::vector<std::string> voiceFiles =
                after == before ? std::vector<std::string>{"oto.ini"}
                                : std::vector<std::string>{"oto.ini", "rec_wav.frq"};
            EXPECT_EQ(Names(files.oto.parent_path()), voiceFiles) << context;
        }
        EXPECT_TRUE(finished);
        // Each file: create, (for the two old files) keeping what they
        // have besides their content, 2 writes (1 for the small ones),
        // flush, sync, close; a second name for the two old files, the
        // record and its pointer, three renames, then the two old versions
        // and the two journal files removed.
        EXPECT_EQ(faults, 6 + 6 + 6 + 2 + 2 + 3 + 4) << static_cast<int>(mode);
    }
}

// The clean-up of stale temporary files keeps what a record names, even when
// they are old; the next run then finishes the commit.
TEST(FileTransaction, FilesARecordNamesOutliveTheStaleCleanUpAndTheCommitIsFinished) {
    const CorrectionFiles files;
    SetFileFaultHook([](FileStep step) {
        if (step == FileStep::Rename) throw SimulatedProcessDeath{};
        return false;
    });
    EXPECT_THROW(files.Commit(), SimulatedProcessDeath);
    SetFileFaultHook({});
    // Old enough to be stale by age: still kept, a record names them.
    (void)RemoveStaleTemporaries(files.oto.parent_path(), std::chrono::seconds(-1));
    const std::vector<std::string> notices = files.Recover();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("完了しました"), std::string::npos) << notices[0];
    EXPECT_EQ(files.State(), files.NewState());
}

// A run that dies in the middle of a rollback: the next run puts the rest
// back rather than finishing the commit.
TEST(FileTransaction, ADeathDuringTheRollbackIsUndoneByTheNextRun) {
    const CorrectionFiles files;
    const std::string before = files.State();
    int renames = 0;
    int restores = 0;
    SetFileFaultHook([&](FileStep step) {
        if (step == FileStep::Restore && ++restores == 2) throw SimulatedProcessDeath{};
        return step == FileStep::Rename && ++renames == 3;
    });
    EXPECT_THROW(files.Commit(), SimulatedProcessDeath);
    SetFileFaultHook({});
    const std::vector<std::string> notices = files.Recover();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("元のファイルに戻しました"), std::string::npos) << notices[0];
    EXPECT_EQ(files.State(), before);
}

TEST(FileTransaction, ARefusedTargetChangesNothing) {
    TempFolder folder;
    const fs::path plugin = folder.Write("plugin.tmp", "old");
    fs::create_directories(folder.path() / "oto.ini");
    FileTransaction files;
    files.Add(plugin, "new");
    files.Add(folder.path() / "oto.ini", "entries");
    EXPECT_THROW(files.Commit(), std::system_error);
    EXPECT_EQ(ReadFileBytes(plugin), "old");
    EXPECT_EQ(Names(folder.path()), (std::vector<std::string>{"oto.ini", "plugin.tmp"}));
}

TEST(ReadLines, ReadsEveryLineEndAcrossBufferEdgesAndRefusesOverlongLines) {
    TempFolder folder;
    // A CR LF split by the reader's 64 KiB buffer, then LF, CR and no end.
    const std::string first(65535, 'a');
    const fs::path file = folder.Write("text.ini", first + "\r\nb\nc\r\rd");
    std::vector<std::string> lines;
    ReadLines(file, kMaxLineBytes, [&](std::string_view line) {
        lines.emplace_back(line);
        return true;
    });
    EXPECT_EQ(lines, (std::vector<std::string>{first, "b", "c", "", "d"}));
    EXPECT_EQ(lines, SplitLines(ReadFileBytes(file)));

    lines.clear();
    ReadLines(file, kMaxLineBytes, [&](std::string_view line) {
        lines.emplace_back(line.substr(0, 1));
        return lines.size() < 2;
    });
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b"}));

    const fs::path longLine =
        folder.Write("long.ini", "x=1\r\n" + std::string(kMaxLineBytes + 1, 'v') + "\r\n");
    try {
        ReadLines(longLine, kMaxLineBytes, [](std::string_view) { return true; });
        ADD_FAILURE() << "no error";
    } catch (const LineTooLong& error) {
        EXPECT_NE(std::string(error.what()).find("line 2 is longer than 65536 bytes"),
                  std::string::npos)
            << error.what();
    }
    EXPECT_NO_THROW(ReadLines(folder.Write("fits.ini", std::string(kMaxLineBytes, 'v')),
                              kMaxLineBytes, [](std::string_view) { return true; }));
    EXPECT_THROW(ReadLines(folder.path(), kMaxLineBytes, [](std::string_view) { return true; }),
                 std::system_error);
}

TEST(ReadFileBytes, KeepsBytesAndThrowsForMissingFiles) {
    TempFolder folder;
    const std::string bytes("\x82\xA0\0\r\n\xFF", 6);
    {
        std::ofstream out(folder.path() / "b.bin", std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    EXPECT_EQ(ReadFileBytes(folder.path() / "b.bin"), bytes);
    EXPECT_THROW(ReadFileBytes(folder.path() / "missing"), std::system_error);
    EXPECT_THROW(ReadFileBytes(folder.path()), std::system_error);
}

TEST(NativePath, ConvertsCp932FolderNamesBothWays) {
    const std::string cp932 = "/tmp/\x89\xB9\x8C\xB9/a.wav";  // 音源
    const fs::path path = NativePath(cp932);
    EXPECT_EQ(PathToUtf8(path), "/tmp/音源/a.wav");
    EXPECT_EQ(PathToCp932(path), cp932);
    EXPECT_EQ(Utf8Path("/tmp/音源/a.wav"), path);
}

}  // namespace
}  // namespace melodrift
