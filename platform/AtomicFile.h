#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

// Replaces a whole file so that a crash at any moment leaves either the old
// or the new content, never a truncated mix: the bytes go to a temporary file
// in the same folder, which is flushed, synced and renamed over the target,
// and then the folder itself is synced so the rename is durable.
// The temporary file is named after the target plus ".tmp" and six characters, so
// that the leftovers of a crash can be found and removed at the next start.
class AtomicFileWriter {
  public:
    // Store files belong to the service alone, hence 0600 unless told otherwise.
    explicit AtomicFileWriter(std::string targetPath, unsigned mode = 0600);
    ~AtomicFileWriter();  // discards the temporary file unless committed

    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Creates the temporary file; false when the folder is not writable.
    bool open();
    // Buffered write; false once any write has failed.
    bool write(const void* data, size_t size);
    // Flush, fsync, rename over the target, fsync the folder. False when any step
    // failed; the target is untouched unless replacedTarget() says otherwise (the
    // folder sync failed after the rename, so the new content may not survive a crash).
    bool commit();
    // Only the flush and fsync of commit; a later commit no longer needs them.
    bool syncTemporary();
    bool replacedTarget() const { return replaced_; }
    void discard();

    FILE* stream() const { return file_; }
    const std::string& temporaryPath() const { return tempPath_; }

  private:
    std::string target_;
    std::string tempPath_;
    FILE* file_ = nullptr;
    unsigned mode_;
    bool failed_ = false;
    bool synced_ = false;
    bool replaced_ = false;
};

// One-call form for content that is already in memory.
bool replaceFileContents(const std::string& path, std::string_view content, unsigned mode = 0600);

// Removes the temporary files that interrupted replacements of path left behind;
// returns how many went.
int removeLeftoverTemporaries(const std::string& path);

// fsync of the folder that holds path, so that a rename or create in it survives a crash.
bool syncParentFolder(const std::string& path);
// fflush + fsync of an open stream.
bool syncStream(FILE* file);
