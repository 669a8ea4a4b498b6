#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QString>

class QCoreApplication;

// Work that Kelpo does from the command line, without a window:
//   kelpo --export FOLDER [--from DAY] [--to DAY] [--format markdown|html|pdf]
//   kelpo --import FOLDER
//   kelpo --restore FILE
namespace CommandLine {

// Whether the arguments ask for such work; decided before the application object exists,
// so that it can be made without a display.
bool runsWithoutWindow(int argc, char **argv);

// Does the work the arguments ask for and returns the exit code, or -1 when they ask for
// the window. The data folder is the application's own unless strDataDir is given.
int run(QCoreApplication &app, const QString &strDataDir = QString());

} // namespace CommandLine

#endif // COMMANDLINE_H
