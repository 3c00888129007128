#pragma once

#include "dialogs.h"

#include <QStringList>
#include <deque>
#include <functional>

namespace mirv::test {

// Answers the message boxes from a script and records what they said.
class ScriptedDialogs : public Dialogs {
  public:
    void message(const QString& text) override {
        messages << text;
        if (whileOpen)
            whileOpen();
    }
    bool askYesNo(const QString& title, const QString& text) override {
        questions << title + QStringLiteral("|") + text;
        if (whileOpen)
            whileOpen();
        if (answers.empty())
            return false;
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
    void endProgram() override { ++ended; }

    // Runs while a box is open, as the operator takes their time (events go on meanwhile).
    std::function<void()> whileOpen;
    std::deque<bool> answers;
    QStringList messages;
    QStringList questions;
    int ended = 0;
};

} // namespace mirv::test
