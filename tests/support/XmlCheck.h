#pragma once

#include <cstdio>
#include <string>

// Asks an XML parser that is not ours (Python's expat through xml.etree) whether the file
// is well-formed. Returns "ok" or the parser's complaint.
inline std::string independentXmlVerdict(const std::string& path) {
    const std::string command =
        "python3 -c 'import sys, xml.etree.ElementTree as E\n"
        "try:\n    E.parse(sys.argv[1]); print(\"ok\")\n"
        "except Exception as e:\n    print(e)' '" +
        path + "' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return "python3 could not be started";
    std::string output;
    char piece[256];
    size_t got;
    while ((got = std::fread(piece, 1, sizeof piece, pipe)) > 0)
        output.append(piece, got);
    ::pclose(pipe);
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r'))
        output.pop_back();
    return output;
}
