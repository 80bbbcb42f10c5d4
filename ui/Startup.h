#pragma once
// The desktop program from its start to its end: the application title from the executable's
// name, the protocol engine and its lock, the program lock with activation of the running copy,
// the option "-d", the six windows created hidden in their fixed order, and Qt's loop (installed
// as the core's main loop before the engine starts) until the main window closes.
#include <QStringList>

namespace scoutor {

// The program's own machine-wide lock (per network namespace, like the engine's).
inline constexpr char kProgramLock[] = "HalvexScoutorMutex";

// The name of the program's desktop entry (ui/desktop/net.halvex.scoutor.desktop).
inline constexpr char kDesktopEntry[] = "net.halvex.scoutor";

// True when one of `arguments` (those after the program name) is "-d", whole and
// case-sensitive; every other argument is ignored.
bool DebugOptionGiven(const QStringList& arguments);

// Exit code 1 when another engine holds the engine lock, else 0 (also after an error that
// escaped, which is shown in the standard error box first).
int RunScoutor(int& argc, char** argv);

}  // namespace scoutor
