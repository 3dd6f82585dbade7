#include "RunGuarded.h"

#include <cerrno>
#include <exception>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <system_error>

#include "system/Files.h"
#include "system/Prompts.h"
#include "text/Text.h"

namespace melodrift {

namespace {

// What a failed file operation's error code means, in Japanese.
std::string FileErrorReason(const std::error_code& code) {
    const std::error_condition condition = code.default_error_condition();
    if (condition == std::errc::no_such_file_or_directory)
        return "ファイルまたはフォルダーがありません";
    if (condition == std::errc::permission_denied ||
        condition == std::errc::operation_not_permitted) {
        return "アクセスが拒否されました";
    }
    if (condition == std::errc::is_a_directory) return "同じ名前のフォルダーがあります";
    if (condition == std::errc::no_space_on_device) return "ディスクの空き容量が不足しています";
    if (condition == std::errc::read_only_file_system) return "書き込みできない場所です";
    if (condition == std::errc::file_exists) return "同じ名前のファイルがあります";
    if (condition == std::errc::not_enough_memory) return "メモリが不足しています";
    return "読み書きに失敗しました";
}

// The file a std::system_error names: its message is "<path>: <reason>".
std::string PathOfSystemError(const std::system_error& e) {
    std::string what = e.what();
    const std::string suffix = ": " + e.code().message();
    if (what.size() >= suffix.size() &&
        what.compare(what.size() - suffix.size(), suffix.size(), suffix) == 0) {
        what.resize(what.size() - suffix.size());
    }
    return what;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The editor's own failures, by the start of their (English) message.
std::string KnownFailure(std::string_view what) {
    // A message written for the user already (in Japanese: it starts with a
    // character beyond ASCII) is shown as it is.
    if (!what.empty() && (static_cast<unsigned char>(what.front()) & 0x80) != 0)
        return std::string(what);
    // Inputs larger than any host or voicebank writes, refused by name.
    if (what.find("no host writes that much") != std::string_view::npos ||
        what.find("no voicebank holds that many") != std::string_view::npos ||
        what.find("bytes (not a file of the host") != std::string_view::npos)
        return "ファイルが大きすぎるため、読み込みませんでした（何も書き込んでいません）。\n" +
               std::string(what);
    if (StartsWith(what, "no plug-in file is loaded") ||
        StartsWith(what, "no plug-in file was loaded")) {
        return "プラグインファイルが読み込まれていないため、音符を挿入できません。";
    }
    if (StartsWith(what, "the plug-in file ") && what.ends_with(" no longer exists")) {
        const std::string_view path = what.substr(17, what.size() - 17 - 17);
        return "プラグインファイルが見つかりません: " + std::string(path);
    }
    if (what.find("tempo") != std::string_view::npos)
        return "プラグインファイルのテンポが正の数ではありません。";
    if (what.find("converted") != std::string_view::npos || StartsWith(what, "ICU")) {
        return "文字コードを変換できない文字があります。";
    }
    return {};
}

}  // namespace

std::string GuardedErrorText(std::string_view what) {
    std::string text = "エラーが発生しました。";
    if (!what.empty()) {
        text += "\n\n";
        text += what;
    }
    return text;
}

std::string JapaneseReason(const std::exception& e) {
    if (const auto* fs = dynamic_cast<const std::filesystem::filesystem_error*>(&e)) {
        std::string reason = FileErrorReason(fs->code());
        if (!fs->path1().empty()) reason += ": " + PathToUtf8(fs->path1());
        return reason;
    }
    if (const auto* sys = dynamic_cast<const std::system_error*>(&e)) {
        std::string reason = FileErrorReason(sys->code());
        const std::string path = PathOfSystemError(*sys);
        if (!path.empty()) reason += ": " + path;
        return reason;
    }
    if (dynamic_cast<const ConversionError*>(&e) != nullptr)
        return "数値として読めない値があります。";
    if (dynamic_cast<const std::domain_error*>(&e) != nullptr ||
        dynamic_cast<const std::length_error*>(&e) != nullptr) {
        if (std::string known = KnownFailure(e.what()); !known.empty()) return known;
        return "書き込めない値があります。";
    }
    if (std::string known = KnownFailure(e.what()); !known.empty()) return known;
    return "内部エラー (" + std::string(e.what()) + ")";
}

bool RunGuarded(Prompts& prompts, const std::function<void()>& work) noexcept {
    std::string reason;
    try {
        work();
        return true;
    } catch (const std::bad_alloc&) {
        reason = "メモリが不足しています。";
    } catch (const std::exception& e) {
        try {
            reason = JapaneseReason(e);
        } catch (...) {
            reason.clear();
        }
    } catch (...) {
        reason.clear();
    }
    try {
        prompts.Beep();
        prompts.Error(GuardedErrorText(reason));
    } catch (...) {
        // The box itself failed; there is nobody left to tell.
    }
    return false;
}

}  // namespace melodrift
