#pragma once

#include <string>
#include <vector>

namespace FileSystem {

bool fileExists(const std::string& path);
bool folderExists(const std::string& path);
// Creates the folder and its missing parents; true when it exists afterwards.
// Private to the owner by default: the data folder holds the stores and config.xml.
bool createFolders(const std::string& path, unsigned mode = 0700);
bool removeFile(const std::string& path);
// Size in bytes, or -1 when the file cannot be examined.
long long fileSize(const std::string& path);
// Names (not paths) of the entries of a folder, without "." and "..".
std::vector<std::string> listFolder(const std::string& path);
// Reads a whole file; false when it cannot be opened or read.
bool readFile(const std::string& path, std::string& content);

}  // namespace FileSystem
