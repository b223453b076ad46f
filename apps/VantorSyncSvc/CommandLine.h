#pragma once

#include <string>

// The program's arguments joined by blanks, as one command line, so the switch
// scan sees the same text whatever way the arguments were split.
std::string joinCommandLine(int argc, char** argv);
