// quenlo: the sounder receiver's acquisition program.

#include "dialogs.h"
#include "gps_reader.h"
#include "settle_clock.h"
#include "tform1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QtDialogs dialogs;
    SteadySettleClock clock;
    // gpsd at localhost:2947 or SOUNDER_GPSD's host:port, read on a thread of its own;
    // it outlives the window.
    GpsReader gps;
    // Creating the window runs the start-up sequence before it is first shown.
    TForm1 form(dialogs, clock);
    form.setGpsSource(&gps);
    form.show();
    return application.exec();
}
