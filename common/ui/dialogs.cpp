#include "dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

void QtDialogs::showMessage(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), text, QMessageBox::Ok, parent);
    // Messages quote file names and typed text, which must read as they are.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

std::optional<QString> QtDialogs::openFileName(QWidget* parent)
{
    const QString name = QFileDialog::getOpenFileName(parent);
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

std::optional<QString> QtDialogs::saveFileName(QWidget* parent)
{
    // No overwrite prompt: an existing file of the chosen name is replaced.
    const QString name = QFileDialog::getSaveFileName(parent, QString(), QString(), QString(), nullptr,
                                                      QFileDialog::DontConfirmOverwrite);
    if (name.isEmpty())
        return std::nullopt;
    return name;
}
