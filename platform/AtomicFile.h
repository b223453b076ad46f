#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

// Replaces a whole file so that a crash at any moment leaves either the old
// or the new content, never a truncated mix: the bytes go to a temporary file
// in the same folder, which is flushed, synced and renamed over the target,
// and then the folder itself is synced so the rename is durable.
class AtomicFileWriter {
  public:
    explicit AtomicFileWriter(std::string targetPath);
    ~AtomicFileWriter();  // discards the temporary file unless committed

    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Creates the temporary file; false when the folder is not writable.
    bool open();
    // Buffered write; false once any write has failed.
    bool write(const void* data, size_t size);
    // Flush, fsync, rename over the target, fsync the folder.
    // False (and the target untouched) when any step before the rename failed.
    bool commit();
    void discard();

    FILE* stream() const { return file_; }
    const std::string& temporaryPath() const { return tempPath_; }

  private:
    std::string target_;
    std::string tempPath_;
    FILE* file_ = nullptr;
    bool failed_ = false;
};

// One-call form for content that is already in memory.
bool replaceFileContents(const std::string& path, std::string_view content);

// fsync of the folder that holds path, so that a rename or create in it survives a crash.
bool syncParentFolder(const std::string& path);
// fflush + fsync of an open stream.
bool syncStream(FILE* file);
