#pragma once

#include <QString>

class QWidget;

namespace mirv {

// The message boxes and the end of the program, behind a seam so tests can answer the boxes
// and see the program end without ending the test.
class Dialogs {
  public:
    virtual ~Dialogs() = default;
    // OK-only box without a title of its own.
    virtual void message(const QString& text) = 0;
    // Yes/No box with Yes the default and no icon; an empty title shows the application's name.
    virtual bool askYesNo(const QString& title, const QString& text) = 0;
    // Ends the program at once, without asking the window to close.
    virtual void endProgram() = 0;
};

class QtDialogs : public Dialogs {
  public:
    void setParent(QWidget* parent) { parent_ = parent; }
    void message(const QString& text) override;
    bool askYesNo(const QString& title, const QString& text) override;
    void endProgram() override;

  private:
    QWidget* parent_ = nullptr;
};

} // namespace mirv
