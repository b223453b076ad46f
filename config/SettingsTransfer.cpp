// Moving the configuration text between the model, the data folder's file and streams.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "config/ByteStream.h"
#include "config/Settings.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"

namespace {

constexpr size_t kPieceSize = 4096;

// A new empty file "cnf..." in $TMPDIR (default /tmp); empty path on failure.
std::string makeTemporaryFile() {
    const char* base = getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/cnfXXXXXX";
    int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return std::string();
    ::close(fd);
    return pattern;
}

// The stream's bytes from its start, as many as its size (low 32 bits) says.
bool readWholeStream(ByteStream& stream, std::string& bytes) {
    if (!stream.seek(0))
        return false;
    const uint32_t size = static_cast<uint32_t>(stream.size());
    bytes.clear();
    char piece[kPieceSize];
    while (bytes.size() < size) {
        size_t wanted = std::min<size_t>(sizeof piece, size - bytes.size());
        size_t got = stream.read(piece, wanted);
        if (got == 0)
            return false;
        bytes.append(piece, got);
    }
    return true;
}

// Copies a file into the stream at its current position.
bool copyFileIntoStream(FILE* file, ByteStream& stream) {
    char piece[kPieceSize];
    size_t got;
    while ((got = std::fread(piece, 1, sizeof piece, file)) > 0) {
        if (!stream.write(piece, got))
            return false;
    }
    return std::ferror(file) == 0;
}

bool writeWholeFile(const std::string& path, const std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0)
        ok = false;
    return ok;
}

}  // namespace

bool Settings::saveToStream(ByteStream& stream) {
    AutoLock guard(lock_);
    std::string temporary = makeTemporaryFile();
    if (temporary.empty())
        return false;
    bool ok = saveFile(temporary);
    FILE* file = ok ? std::fopen(temporary.c_str(), "rb") : nullptr;
    if (file != nullptr) {
        long long size = FileSystem::fileSize(temporary);
        ok = size >= 0 && stream.setSize(static_cast<uint64_t>(size)) &&
             copyFileIntoStream(file, stream);
        std::fclose(file);
    } else {
        ok = false;
    }
    std::remove(temporary.c_str());
    return ok;
}

bool Settings::loadFromStream(ByteStream& stream) {
    std::string why;
    return loadFromStream(stream, why);
}

bool Settings::loadFromStream(ByteStream& stream, std::string& why) {
    std::string bytes;
    if (!readWholeStream(stream, bytes)) {
        why = "the text could not be read";
        return false;
    }
    // The text goes through a file of its own, as the service's does, so both read the
    // same bytes the same way.
    std::string temporary = makeTemporaryFile();
    std::string text;
    bool ok = !temporary.empty() && writeWholeFile(temporary, bytes) &&
              FileSystem::readFile(temporary, text);
    if (!temporary.empty())
        std::remove(temporary.c_str());
    if (!ok) {
        why = "no temporary file could be written";
        return false;
    }
    return applyText(text, Check::Complete, ListReading::Merge, why);
}

bool Settings::exportConfig(ByteStream& stream) {
    std::string folder = dataFolder();
    if (folder.empty())
        return false;
    std::string path = folder + kConfigFileName;
    long long size = FileSystem::fileSize(path);
    if (size < 0)
        return false;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    bool ok = stream.setSize(static_cast<uint64_t>(size)) && stream.seek(0) &&
              copyFileIntoStream(file, stream);
    std::fclose(file);
    return ok;
}

bool Settings::importConfig(ByteStream& stream) {
    std::string refusal;
    return importConfig(stream, refusal);
}

bool Settings::importConfig(ByteStream& stream, std::string& refusal) {
    refusal.clear();
    std::string folder = dataFolder();
    if (folder.empty())
        return false;
    std::string bytes;
    if (!readWholeStream(stream, bytes))
        return false;

    AutoLock guard(lock_);
    // Judged whole before anything is written: a refused text leaves the file and the
    // running model as they were.
    Settings staged;
    if (!stageText(bytes, Check::Usable, ListReading::Replace, staged, refusal) ||
        !checkNewEntries(staged, refusal)) {
        return false;
    }
    if (!replaceFileContents(folder + kConfigFileName, bytes))
        return false;
    adopt(staged);
    return true;
}
