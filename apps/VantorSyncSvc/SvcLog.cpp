#include "apps/VantorSyncSvc/SvcLog.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "http/IOB.h"
#include "platform/FileSystem.h"

namespace {

constexpr uint32_t kFirstBufferSize = 512;
// A batch is written at once when it grows this large, else this long after its first line.
constexpr size_t kBatchBytes = 64 * 1024;
constexpr std::chrono::milliseconds kBatchDelay(200);
// Files dated further back than this are not kept, whatever the lifetime; the bound keeps
// a huge configured lifetime from turning the first write of a day into a long loop.
constexpr int kLongestLifetimeChecked = 100000;

bool hasLogExtension(const std::string& name) {
    if (name.size() < 4)
        return false;
    std::string extension = name.substr(name.size() - 4);
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return extension == ".log";
}

// Control bytes become "\xNN" so that a logged value cannot end the line or start another.
std::string withControlBytesEscaped(const char* text, size_t length) {
    static const char kHex[] = "0123456789abcdef";
    std::string escaped;
    escaped.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            escaped += "\\x";
            escaped += kHex[c >> 4];
            escaped += kHex[c & 0x0F];
        } else {
            escaped += static_cast<char>(c);
        }
    }
    return escaped;
}

// Formats into a buffer that starts at 512 bytes and doubles until the text fits; false
// when it would not fit even in the largest buffer allowed.
bool formatMessage(const char* format, va_list arguments, HTTPParser::IOB& buffer) {
    uint32_t size = kFirstBufferSize;
    while (true) {
        buffer.clear();
        if (!buffer.append(nullptr, size, false))
            return false;
        std::memset(buffer.data(), 0, size);
        va_list attempt;
        va_copy(attempt, arguments);
        int needed = std::vsnprintf(reinterpret_cast<char*>(buffer.data()), size, format, attempt);
        va_end(attempt);
        if (needed < 0)
            return false;
        if (static_cast<uint32_t>(needed) < size) {
            buffer.setLength(static_cast<uint32_t>(needed));
            return true;
        }
        if (size > buffer.lengthLimit() / 2)
            return false;
        size *= 2;
    }
}

}  // namespace

SvcLog& SvcLog::instance() {
    static SvcLog log;
    return log;
}

SvcLog::SvcLog()
    : clock_([] { return std::time(nullptr); }),
      // file_ is only used with lock_ held, so its hook runs under it.
      file_([this]() REQUIRES(lock_) { removeOldFiles(); }),
      batchFlusher_(kBatchDelay, [this] { flushBatch(); }) {}

SvcLog::~SvcLog() {
    close();
}

void SvcLog::setFolder(const std::string& folder) {
    AutoLock guard(lock_);
    folder_ = folder;
}

void SvcLog::setEnabled(bool enabled) {
    AutoLock guard(lock_);
    enabled_ = enabled;
}

void SvcLog::setLifetime(int days) {
    AutoLock guard(lock_);
    lifetimeDays_ = days;
}

void SvcLog::setClock(Clock clock) {
    AutoLock guard(lock_);
    clock_ = clock ? std::move(clock) : Clock([] { return std::time(nullptr); });
}

bool SvcLog::enabled() const {
    AutoLock guard(lock_);
    return enabled_;
}

int SvcLog::lifetime() const {
    AutoLock guard(lock_);
    return lifetimeDays_;
}

std::string SvcLog::folder() const {
    AutoLock guard(lock_);
    return folder_;
}

std::string SvcLog::currentPath() const {
    AutoLock guard(lock_);
    return currentPath_;
}

void SvcLog::write(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    writeV(format, arguments);
    va_end(arguments);
}

void SvcLog::writeV(const char* format, va_list arguments) {
    AutoLock guard(lock_);
    if (!enabled_ || format == nullptr)
        return;
    currentPath_ = folder_ + fileNameFor(clock_());

    HTTPParser::IOB message;
    if (!formatMessage(format, arguments, message))
        return;
    std::string line =
        timeOfDay() + " " + withControlBytesEscaped(message.chars(), message.length()) + "\r\n";

    file_.append(currentPath_, line);
    if (file_.pendingBytes() >= kBatchBytes) {
        file_.flush(false);
    } else {
        batchFlusher_.schedule();
    }
}

void SvcLog::flush() {
    AutoLock guard(lock_);
    file_.flush(true);
}

void SvcLog::close() {
    // The flusher thread takes the lock, so it is stopped before the lock is taken here.
    batchFlusher_.stop();
    AutoLock guard(lock_);
    file_.close();
}

void SvcLog::flushBatch() {
    AutoLock guard(lock_);
    file_.flush(false);
}

std::string SvcLog::fileNameFor(time_t t) {
    struct tm local;
    if (localtime_r(&t, &local) == nullptr)
        return std::string();
    char name[64];
    std::snprintf(name, sizeof name, "%02d-%02d-%d.log", local.tm_mday, local.tm_mon + 1,
                  local.tm_year + 1900);
    return name;
}

std::string SvcLog::timeOfDay() const {
    time_t now = clock_();
    struct tm local;
    if (localtime_r(&now, &local) == nullptr)
        return std::string();
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

void SvcLog::removeOldFiles() {
    std::set<std::string> doomed;
    for (std::string& name : FileSystem::listFolder(folder_)) {
        if (hasLogExtension(name))
            doomed.insert(std::move(name));
    }
    if (doomed.empty())
        return;
    const time_t now = clock_();
    struct tm today;
    if (localtime_r(&now, &today) == nullptr)
        return;  // without a date nothing can be told apart: keep everything
    const int keptDays = std::min(lifetimeDays_, kLongestLifetimeChecked);
    for (int day = 0; day < keptDays && !doomed.empty(); ++day) {
        // Calendar days, not multiples of 86,400 s: around a daylight-saving change a day
        // has 23 or 25 hours. Noon of each day is never skipped or repeated by a change.
        struct tm earlier = today;
        earlier.tm_mday -= day;
        earlier.tm_hour = 12;
        earlier.tm_min = 0;
        earlier.tm_sec = 0;
        earlier.tm_isdst = -1;
        doomed.erase(fileNameFor(std::mktime(&earlier)));
    }
    for (const std::string& name : doomed)
        std::remove((folder_ + name).c_str());
}
