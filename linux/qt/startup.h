#pragma once
// The main window procedure: the start-up sequence, the event loop and the shutdown
// sequence, run once for the whole life of the process.

class QApplication;

namespace kelvor {

int runMainWindowProcedure(QApplication& app);

}  // namespace kelvor
