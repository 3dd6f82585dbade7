// The window's small parts that need no window: the guarded event runner,
// dialog filters and WAVE image layout.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "AppTestSupport.h"
#include "Playback.h"
#include "QtPrompts.h"
#include "RunGuarded.h"
#include "Translations.h"

#include <QCoreApplication>
#include "text/Text.h"

namespace melodrift::testing {
namespace {

TEST(GuardedEvents, AFailureBeepsShowsTheReasonAndGoesNoFurther) {
    auto log = std::make_shared<ScriptedPrompts::Log>();
    ScriptedPrompts prompts(log);
    EXPECT_TRUE(RunGuarded(prompts, [] {}));
    EXPECT_TRUE(log->messages.empty());
    EXPECT_FALSE(RunGuarded(
        prompts, [] { throw std::system_error(ENOSPC, std::generic_category(), "/x/a.tmp"); }));
    EXPECT_EQ(log->beeps, 1);
    ASSERT_EQ(log->messages.size(), 1u);
    EXPECT_EQ(log->messages[0],
              "error: " + GuardedErrorText("ディスクの空き容量が不足しています: /x/a.tmp"));
    EXPECT_NE(log->messages[0].find("エラーが発生しました。"), std::string::npos);
    EXPECT_FALSE(RunGuarded(prompts, [] { throw 42; }));
    EXPECT_EQ(log->beeps, 2);
}

TEST(GuardedEvents, ReasonsAreJapanese) {
    EXPECT_EQ(JapaneseReason(std::runtime_error(
                  "no plug-in file is loaded; there is nothing to insert the notes into")),
              "プラグインファイルが読み込まれていないため、音符を挿入できません。");
    EXPECT_EQ(JapaneseReason(std::runtime_error("the plug-in file /p/a.tmp no longer exists")),
              "プラグインファイルが見つかりません: /p/a.tmp");
    EXPECT_EQ(JapaneseReason(std::filesystem::filesystem_error(
                  "cannot replace the file", "/p/b.tmp",
                  std::make_error_code(std::errc::permission_denied))),
              "アクセスが拒否されました: /p/b.tmp");
    EXPECT_EQ(JapaneseReason(ConversionError("'x' is not a valid integer value")),
              "数値として読めない値があります。");
    EXPECT_EQ(JapaneseReason(std::domain_error("a portamento point time cannot be written")),
              "書き込めない値があります。");
    EXPECT_EQ(JapaneseReason(std::logic_error("odd")), "内部エラー (odd)");
    // Refusals written in Japanese stay as they are; refused sizes are named.
    EXPECT_EQ(JapaneseReason(std::runtime_error("区間 0 は長さ 0 の音符になります。")),
              "区間 0 は長さ 0 の音符になります。");
    EXPECT_EQ(
        JapaneseReason(std::runtime_error(
            "/p/a.tmp: the [#SETTING] section is larger than 1 MB; no host writes that much")),
        "ファイルが大きすぎるため、読み込みませんでした（何も書き込んでいません）。\n/p/a.tmp: "
        "the [#SETTING] section is larger than 1 MB; no host writes that much");
}

TEST(QtTexts, TheStandardButtonsSpeakJapanese) {
    ASSERT_TRUE(InstallJapaneseTranslations(*QCoreApplication::instance()));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"),
              QStringLiteral("キャンセル"));
    EXPECT_TRUE(
        QCoreApplication::translate("QPlatformTheme", "&Yes").startsWith(QStringLiteral("はい")));
}

TEST(GuardedEvents, AFailingErrorBoxDoesNotEscapeEither) {
    struct Throwing : SilentPrompts {
        void Error(std::string_view) override { throw std::runtime_error("no display"); }
    } prompts;
    EXPECT_FALSE(RunGuarded(prompts, [] { throw std::runtime_error("x"); }));
}

TEST(DialogFilters, PipeSeparatedFiltersBecomeQtFilters) {
    EXPECT_EQ(ToQtFilter("Waveファイル(*.wav)|*.wav"),
              QStringLiteral("Waveファイル(*.wav) (*.wav)"));
    EXPECT_EQ(ToQtFilter("メロドリフト編集ファイル(*.mlq)|*.mlq|All|*.a;*.b"),
              QStringLiteral("メロドリフト編集ファイル(*.mlq) (*.mlq);;All (*.a *.b)"));
}

std::string Le(std::uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s.push_back(char((v >> (8 * i)) & 0xFF));
    return s;
}

std::string Fmt(int format, int channels, int rate, int bits) {
    return "fmt " + Le(16, 4) + Le(std::uint32_t(format), 2) + Le(std::uint32_t(channels), 2) +
           Le(std::uint32_t(rate), 4) + Le(std::uint32_t(rate * channels * bits / 8), 4) +
           Le(std::uint32_t(channels * bits / 8), 2) + Le(std::uint32_t(bits), 2);
}

TEST(WaveImages, DataIsFoundAfterAnOddSizedChunkAndItsPadByte) {
    const std::string body = Fmt(1, 1, 44100, 16) + "LIST" + Le(3, 4) + "abc" +
                             std::string(1, '\0') + "data" + Le(4, 4) + "\x01\x02\x03\x04";
    const std::string image = "RIFF" + Le(std::uint32_t(4 + body.size()), 4) + "WAVE" + body;
    const auto layout = ReadWaveImageLayout(image);
    ASSERT_TRUE(layout.has_value());
    EXPECT_EQ(layout->SampleRate, 44100);
    EXPECT_EQ(layout->Channels, 1);
    EXPECT_EQ(layout->BitsPerSample, 16);
    EXPECT_EQ(image.substr(layout->DataOffset, layout->DataBytes), "\x01\x02\x03\x04");
}

TEST(WaveImages, ForeignAndTruncatedImagesAreRefusedOrClipped) {
    EXPECT_FALSE(ReadWaveImageLayout("").has_value());
    EXPECT_FALSE(ReadWaveImageLayout("RIFX0000WAVE").has_value());
    const std::string floatBody = Fmt(3, 1, 44100, 32) + "data" + Le(0, 4);
    EXPECT_FALSE(ReadWaveImageLayout("RIFF" + Le(100, 4) + "WAVE" + floatBody).has_value());
    // A data chunk claiming more than the image holds is clipped to what is there.
    const std::string shortBody = Fmt(1, 1, 44100, 16) + "data" + Le(1000, 4) + "\x05\x06";
    const auto layout = ReadWaveImageLayout("RIFF" + Le(100, 4) + "WAVE" + shortBody);
    ASSERT_TRUE(layout.has_value());
    EXPECT_EQ(layout->DataBytes, 2u);
    // No data before the format is no image.
    EXPECT_FALSE(ReadWaveImageLayout("RIFF" + Le(100, 4) + "WAVE" + "data" + Le(0, 4)).has_value());
    // The player hands no device what it cannot play, device or not: 24-bit
    // samples, a rate of 0, or less than one whole stereo frame.
    PreviewPlayer player;
    EXPECT_FALSE(player.Play("RIFF" + Le(100, 4) + "WAVE" + Fmt(1, 1, 44100, 24) + "data" +
                             Le(3, 4) + "abc"));
    EXPECT_FALSE(
        player.Play("RIFF" + Le(100, 4) + "WAVE" + Fmt(1, 1, 0, 16) + "data" + Le(2, 4) + "ab"));
    EXPECT_FALSE(player.Play("RIFF" + Le(100, 4) + "WAVE" + Fmt(1, 2, 44100, 16) + "data" +
                             Le(3, 4) + "abc"));
}

}  // namespace
}  // namespace melodrift::testing
