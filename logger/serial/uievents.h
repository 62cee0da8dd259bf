#pragma once
// Lets pending events run between the steps of a long loop, so timers and menu
// commands stay alive during a device exchange. Does nothing without an
// application object (fuzzers, plain library use).

#include <QCoreApplication>

namespace quillet {

inline void ProcessPendingEvents()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

} // namespace quillet
