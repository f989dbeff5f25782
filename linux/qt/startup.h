#pragma once
// The main window procedure: the start-up sequence, the event loop and the shutdown
// sequence, run once for the whole life of the process.

class QApplication;

namespace kelvor {

struct StartOptions;

int runMainWindowProcedure(QApplication& app, const StartOptions& options);

}  // namespace kelvor
