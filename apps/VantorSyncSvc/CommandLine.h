#pragma once

#include <string>

// The program's arguments joined by blanks, as one command line.
std::string joinCommandLine(int argc, char** argv);

// True when a switch word (the text after any '-' or '/', up to a blank, TAB or
// the end) equals word without regard to ASCII case.
bool hasSwitch(const std::string& commandLine, const std::string& word);
