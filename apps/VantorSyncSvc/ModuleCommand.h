#pragma once

#include <initializer_list>
#include <string>

// What the service program was asked to do by its command line.
enum class ModuleCommand {
    Help,         // print the usage and exit
    Version,      // print the version and exit
    UnregServer,  // remove the registration files (and the systemd unit)
    RegServer,    // register for bus activation as a local server
    Service,      // install as a systemd service
    Foreground,   // run without registration and without the idle exit
    Start,        // no switch: the registration decides the mode
};

// Index (into words) of the first switch word on the command line that equals one
// of words, or -1. A switch word is the text after any '-' or '/', up to the next
// blank, TAB or the end; it is compared without regard to ASCII case.
int firstSwitchOf(const std::string& commandLine, std::initializer_list<const char*> words);

// "help" ("h") or "version" anywhere: nothing else is done. Then the first of
// "UnregServer"/"RegServer" decides; "Service" counts only when
// neither is present; then "Foreground"; otherwise Start.
ModuleCommand chooseModuleCommand(const std::string& commandLine);

extern const char* const kServiceUsage;
