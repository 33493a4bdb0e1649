#pragma once
// Every event handler of both programs runs inside runGuarded: a runtime error
// (I/O failure, failed conversion, floating-point fault) ends the handler where it
// arose, its text is shown in a message box, nothing done before is undone, and
// the program goes on.

#include "dialogs.h"
#include "runtime_error.h"

#include <new>
#include <utility>

template <class Handler>
void runGuarded(Dialogs& dialogs, QWidget* parent, Handler&& handler)
{
    try {
        std::forward<Handler>(handler)();
    } catch (const rt::Error& error) {
        dialogs.showMessage(parent, QString::fromStdString(error.what()));
    } catch (const std::bad_alloc&) {
        dialogs.showMessage(parent, QStringLiteral("Out of memory"));
    }
}
