#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

// A fresh folder under $TMPDIR for one test, removed with everything in it afterwards.
class TempFolder {
  public:
    TempFolder() {
        const char* base = getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/vstestXXXXXX";
        char* made = mkdtemp(pattern.data());
        path_ = made ? made : "";
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder path without a final "/".
    const std::string& path() const { return path_; }
    // The folder path with its final "/", as the stores expect their folder.
    std::string folder() const { return path_ + "/"; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};
