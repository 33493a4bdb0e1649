#pragma once
// Dialogs double for form tests: records every message, answers file dialogs from a script.

#include "dialogs.h"

#include <deque>
#include <optional>
#include <vector>

class ScriptedDialogs final : public Dialogs {
public:
    std::vector<QString> messages;
    std::deque<std::optional<QString>> openAnswers;  // empty: cancel
    std::deque<std::optional<QString>> saveAnswers;  // empty: cancel
    int openAsked = 0;
    int saveAsked = 0;

    void showMessage(QWidget*, const QString& text) override { messages.push_back(text); }
    std::optional<QString> openFileName(QWidget*) override { return next(openAnswers, openAsked); }
    std::optional<QString> saveFileName(QWidget*) override { return next(saveAnswers, saveAsked); }

private:
    static std::optional<QString> next(std::deque<std::optional<QString>>& answers, int& asked)
    {
        ++asked;
        std::optional<QString> answer;
        if (!answers.empty()) {
            answer.swap(answers.front());
            answers.pop_front();
        }
        return answer;
    }
};
