// Test helpers for prompts (message boxes, file dialogs, the folder browser): a script of expected prompts and their
// answers, which makes the test fail when a prompt appears that the script does not expect.
#pragma once

#include "platform/base/strings.h"
#include "platform/ui/msgbox.h"

#include <gtest/gtest.h>

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace uitest {

class PromptScript {
public:
    PromptScript() : m_hook([this](const platform::ui::PromptInfo& info) { return Answer(info); }) {}
    ~PromptScript() {
        std::lock_guard guard(m_lock);
        for (const auto& e : m_expected)
            ADD_FAILURE() << "expected prompt did not appear: " << platform::Utf16ToUtf8(e.textPart);
    }
    PromptScript(const PromptScript&) = delete;
    PromptScript& operator=(const PromptScript&) = delete;

    // The next prompt must be of this kind and its text (or caption) must contain `textPart`.
    PromptScript& Expect(platform::ui::PromptKind kind, std::u16string textPart, platform::ui::PromptReply reply) {
        std::lock_guard guard(m_lock);
        m_expected.push_back(Entry{kind, std::move(textPart), std::move(reply)});
        return *this;
    }

    // Every prompt seen, expected or not.
    std::vector<platform::ui::PromptInfo> Seen() const {
        std::lock_guard guard(m_lock);
        return m_seen;
    }

private:
    struct Entry {
        platform::ui::PromptKind kind;
        std::u16string textPart;
        platform::ui::PromptReply reply;
    };

    platform::ui::PromptReply Answer(const platform::ui::PromptInfo& info) {
        std::lock_guard guard(m_lock);
        m_seen.push_back(info);
        const std::string described = platform::Utf16ToUtf8(platform::ui::DescribePrompt(info));
        if (m_expected.empty()) {
            ADD_FAILURE() << "unexpected prompt: " << described;
            return Fallback(info);
        }
        Entry e = std::move(m_expected.front());
        m_expected.pop_front();
        const bool matches = e.kind == info.kind && (info.text.find(e.textPart) != std::u16string::npos ||
                                                     info.caption.find(e.textPart) != std::u16string::npos);
        if (!matches) {
            ADD_FAILURE() << "prompt does not match the script (expected one with \""
                          << platform::Utf16ToUtf8(e.textPart) << "\"): " << described;
            return Fallback(info);
        }
        return e.reply;
    }

    static platform::ui::PromptReply Fallback(const platform::ui::PromptInfo& info) {
        if (info.kind == platform::ui::PromptKind::MessageBox)
            return platform::ui::PromptReply(info.defaultButton);
        return platform::ui::PromptReply(IDCANCEL);
    }

    mutable std::mutex m_lock;
    std::deque<Entry> m_expected;
    std::vector<platform::ui::PromptInfo> m_seen;
    platform::ui::ScopedPromptHook m_hook;
};

} // namespace uitest
