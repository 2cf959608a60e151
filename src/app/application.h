#pragma once

class Console;

// One whole run of the tool on the given console: the banner, the case
// settings, then the menu until the user exits. Returns the exit status: 0
// when the user exits or the input ends, 1 when a task could not write one of
// its output files.
int RunScrivlet(Console& console);
