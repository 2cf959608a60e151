#pragma once

class Console;

// Menu task H: a fixed page on what the tool looks for, how it decodes dates,
// how its files are encoded and on what terms it may be passed on, with the
// standard database names and folders; then the pause.
void ShowHelp(Console& console);
