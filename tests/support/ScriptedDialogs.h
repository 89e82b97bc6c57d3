#pragma once
// Stands in for the operator in window tests: records every message box and
// answers questions, input boxes and file dialogs from queues the test fills.
// Installed for its lifetime.
#include "windows/Dialogs.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace kv::test {

class ScriptedDialogs final : public IDialogs {
public:
    struct Shown {
        MsgKind kind;
        std::string text; // code page 1251
    };

    ScriptedDialogs() { SetDialogs(this); }
    ~ScriptedDialogs() override { SetDialogs(nullptr); }

    void Message(MsgKind kind, const std::string& text, QWidget*) override { messages.push_back({kind, text}); }
    bool AskYesNo(const std::string& text, QWidget*) override
    {
        questions.push_back(text);
        if (yesNoAnswers.empty())
            return false;
        const bool a = yesNoAnswers.front();
        yesNoAnswers.pop_front();
        return a;
    }
    std::optional<std::string> InputQuery(const std::string& caption, const std::string& prompt,
                                          const std::string&, QWidget*) override
    {
        inputs.push_back(caption + "|" + prompt);
        if (inputAnswers.empty())
            return std::nullopt;
        auto a = inputAnswers.front();
        inputAnswers.pop_front();
        return a;
    }
    std::optional<std::pair<std::string, std::string>> AskCredentials(const std::string& text, const std::string& user,
                                                                      QWidget*) override
    {
        credentialQuestions.push_back(text + "|" + user);
        if (whileAsking)
            whileAsking();
        if (credentialAnswers.empty())
            return std::nullopt;
        auto a = credentialAnswers.front();
        credentialAnswers.pop_front();
        return a;
    }
    QString SaveFileName(const QString& title, const QString&, const QString& suffix, QWidget*) override
    {
        fileTitles.push_back(title);
        return Take(suffix);
    }
    QString OpenFileName(const QString& title, const QString&, QWidget*) override
    {
        fileTitles.push_back(title);
        return Take({});
    }

    // The texts of the message boxes shown, in order.
    std::vector<std::string> Texts() const
    {
        std::vector<std::string> t;
        for (const auto& m : messages)
            t.push_back(m.text);
        return t;
    }

    std::vector<Shown> messages;
    std::vector<std::string> questions;
    std::vector<std::string> inputs;
    std::vector<QString> fileTitles;
    std::deque<bool> yesNoAnswers;
    std::deque<std::optional<std::string>> inputAnswers;
    // The name and password questions ("text|offered name") and their answers (none: cancelled).
    std::vector<std::string> credentialQuestions;
    std::deque<std::optional<std::pair<std::string, std::string>>> credentialAnswers;
    // Runs while the name and password are asked (a signal comes under the question).
    std::function<void()> whileAsking;
    // A file name answer; the save dialog's default suffix is added to a name without one.
    std::deque<QString> fileAnswers;

private:
    QString Take(const QString& suffix)
    {
        if (fileAnswers.empty())
            return {};
        const QString f = fileAnswers.front();
        fileAnswers.pop_front();
        return AddDefaultSuffix(f, suffix);
    }
};

} // namespace kv::test
