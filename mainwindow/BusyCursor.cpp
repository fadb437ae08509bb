#include "BusyCursor.h"

#include <QApplication>
#include <QCursor>

BusyCursor::BusyCursor()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // The window system learns of the cursor (and of the password dialog that just closed)
    // only when the event loop turns; without user input, so nothing new is started meanwhile.
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void BusyCursor::end()
{
    if (!shown)
        return;
    shown = false;
    QApplication::restoreOverrideCursor();
}
