// quenlo: the sounder receiver's acquisition program.

#include "dialogs.h"
#include "settle_clock.h"
#include "tform1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QtDialogs dialogs;
    SteadySettleClock clock;
    // Creating the window runs the start-up sequence before it is first shown.
    TForm1 form(dialogs, clock);
    form.show();
    return application.exec();
}
