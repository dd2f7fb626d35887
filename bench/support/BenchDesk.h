#pragma once

#include <QStringList>

class ProgramFolderFixture;

namespace Bench {

// Lays out a trading desk in the program folder: on-duty users "Desk 1" ...
// with numbers +15550001 ..., and watched folders terminal-1 ... Returns the
// watched folders.
QStringList setUpDesk(ProgramFolderFixture &program, int onDuty, int folders);

} // namespace Bench
