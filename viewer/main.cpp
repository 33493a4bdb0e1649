// veskar: the recording viewer. No command line, no saved settings.

#include "dialogs.h"
#include "tform1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("veskar"));
    QtDialogs dialogs;
    TForm1 form(dialogs);
    form.show();
    return app.exec();
}
