#pragma once
// The seam between a form and the modal dialogs it shows. Production uses Qt's
// message boxes and file dialogs; tests install a double that records and answers.

#include <QString>
#include <optional>

class QWidget;

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A message box with the given text and an OK button.
    virtual void showMessage(QWidget* parent, const QString& text) = 0;
    // A standard open/save dialog with no filter and no default extension;
    // nullopt when the user cancels.
    virtual std::optional<QString> openFileName(QWidget* parent) = 0;
    virtual std::optional<QString> saveFileName(QWidget* parent) = 0;
};

class QtDialogs final : public Dialogs {
public:
    void showMessage(QWidget* parent, const QString& text) override;
    std::optional<QString> openFileName(QWidget* parent) override;
    std::optional<QString> saveFileName(QWidget* parent) override;
};
