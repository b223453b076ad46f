#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "http/IOB.h"
#include "platform/AutoLock.h"
#include "storage/DescriptorFile.h"

// The common training database: message descriptors that clients push, numbered in
// the order they were accepted so that each client can pull what it has not seen.
// Descriptors stay on disk; memory holds the fingerprint index and the history, the
// file offsets of the newest accepted records, oldest first.
class CommonTrainingDb {
  public:
    CommonTrainingDb() = default;
    virtual ~CommonTrainingDb() = default;

    CommonTrainingDb(const CommonTrainingDb&) = delete;
    CommonTrainingDb& operator=(const CommonTrainingDb&) = delete;

    // Replaces body with the records accepted from startIndex on (all held ones when
    // startIndex lies outside the history). False, with newIndex untouched, when a
    // record cannot be read or the answer does not fit the body.
    bool getUpdates(uint32_t startIndex, HTTPParser::IOB& body, uint32_t& newIndex);
    // Stores the descriptors of body up to the first that does not parse. False when
    // a descriptor could not be written (those before it stay stored).
    bool postUpdates(const HTTPParser::IOB& body, uint32_t& newIndex);
    // Stores one parsed descriptor (status set by the caller); false when it could
    // not be written.
    bool addDescriptor(const MessageDescriptor& descriptor);

    void trimHistory(uint32_t maxSize);
    void clear();
    int32_t count();

    // folder ends in "/".
    bool load(const std::string& folder);
    // Closes the data file with its index and saves the numbering.
    bool flush();
    // Makes every accepted descriptor durable (data synced, index saved); reopens the
    // data file when it was closed. An acknowledged push is safe once this succeeded.
    bool reopen();

    uint32_t historyBase();
    uint32_t end();
    // Distinct descriptors in the record file's index.
    size_t descriptorCount();
    // Bytes held in memory for the index and the history.
    size_t memoryBytes();

    static constexpr const char* kDataFileName = "histdata.bin";
    static constexpr const char* kOptionsFileName = "histopt.bin";

  private:
    bool saveHistoryBase();

    std::string folder_;
    DescriptorFile file_;
    std::vector<uint32_t> history_;
    uint32_t historyBase_ = 0;
    CriticalSection lock_;
};
