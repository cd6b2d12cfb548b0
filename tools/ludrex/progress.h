// The command's progress bar and its Ctrl-C handling, both through the library's callbacks:
// the library reports progress to these functions and stops when the step function asks it to.
#pragma once

namespace ludrex_tool {

// Installs the progress callbacks and the Ctrl-C handler. Progress is drawn on standard error
// when it is a terminal (or when forced), never mixed into standard output.
void InstallProgress(bool force);
// True once the user pressed Ctrl-C; the next progress step asks the library to stop.
bool Interrupted();

}  // namespace ludrex_tool
