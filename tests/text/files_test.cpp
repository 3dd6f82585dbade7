#include "text/Files.h"

#include <gtest/gtest.h>

#include "TempFolder.h"

#include <filesystem>
#include <fstream>
#include <system_error>

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
