// The state file of a warm restart: what the cache and farm sharing held at
// an orderly stop of the worker, for the next start to take back.
//
// Layout, every integer big-endian:
//   magic            8  the letters VOKSTATE
//   format version   4  kStateFormatVersion
//   cache start time 4  signed seconds
//   stop time        4  signed seconds, when the file was written
//   salt            64  the cookie salt of the run
//   stream position 16  milliseconds and sequence (8 each) of the last
//                       farm entry read; both 0 for none
//   cookies          4  count, then per cookie:
//                       digest 20, creation 4, last use 4, time offset 4,
//                       idle timeout 4, lifetime 4 (minutes), kind 1
//   farm logoffs     4  count, then per logoff: farm identity 20, times as above
//   publish queue    4  count, then per entry: as a farm logoff
//   mac             20  HMAC-SHA-1 under the state key over all of the above
//
// The key comes from the host key: a file of another host, or damaged in any
// byte, does not verify. A file is only as trustworthy as the directory that
// holds it; the loader takes none that others may write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cache/LogoffCookie.h"
#include "cache/cookieExpiry.h"
#include "cache/farmLogoff.h"
#include "crypto/hmacSha1.h"

inline constexpr std::uint32_t kStateFormatVersion = 1;
inline constexpr std::size_t kStateKeySize = kSha1DigestSize;
inline constexpr std::size_t kStateHeaderSize = 8 + 4 + 4 + 4 + kLogoffCookieSaltSize + 16;
inline constexpr std::size_t kStateRecordSize = 20 + 5 * 4 + 1;
inline constexpr std::size_t kStateMacSize = kSha1DigestSize;

// Where the farm's receiver had got to; {0, 0} for nowhere.
struct StatePosition {
    std::uint64_t milliseconds = 0;
    std::uint64_t sequence = 0;
};

struct StateHeader {
    std::int32_t cacheStartTime = 0;
    std::int32_t stopTime = 0;
    std::uint8_t salt[kLogoffCookieSaltSize] = {};
    StatePosition position;
};

// The HMAC key of the file, prepared once; wiped when it goes.
class StateKey {
  public:
    explicit StateKey(const std::uint8_t key[kStateKeySize]);
    ~StateKey();
    StateKey(const StateKey&) = delete;
    StateKey& operator=(const StateKey&) = delete;

    const HmacSha1Key* hmac() const { return &key_; }

  private:
    HmacSha1Key key_;
};

// Where the encoder's bytes go; false when they could not be written.
class StateSink {
  public:
    virtual ~StateSink() = default;
    virtual bool write(const std::uint8_t* bytes, std::size_t length) = 0;
};

// Writes one state file to a sink, section by section in the order of the
// layout: header, cookies(count) and as many cookie(), farmLogoffs(count)
// and as many farmLogoff(), queued(count) and as many queuedLogoff(), then
// finish(). Counts that do not match what follows fail finish().
class StateEncoder {
  public:
    StateEncoder(const StateKey& key, StateSink& sink, const StateHeader& header);
    ~StateEncoder();
    StateEncoder(const StateEncoder&) = delete;
    StateEncoder& operator=(const StateEncoder&) = delete;

    void cookies(std::uint32_t count);
    void cookie(const LogoffCookieDigest& digest, const CookieTimes& times);
    void farmLogoffs(std::uint32_t count);
    void farmLogoff(const FarmLogoff& logoff);
    void queued(std::uint32_t count);
    void queuedLogoff(const FarmLogoff& logoff);
    // Appends the MAC and flushes; false when any write failed or a count
    // was not kept.
    bool finish();

  private:
    void section(std::uint32_t count);
    void record(const std::uint8_t* key, const CookieTimes& times);
    void put(const std::uint8_t* bytes, std::size_t length);
    void flush();

    StateSink& sink_;
    HmacSha1Context mac_;
    std::vector<std::uint8_t> buffer_;
    std::uint32_t sectionsBegun_ = 0;
    std::uint32_t owed_ = 0;  // records the current section still owes
    bool failed_ = false;
};

enum class StateCheck {
    Valid,
    OtherVersion,   // a state file of another format version
    DoesNotVerify,  // not a state file, truncated, damaged, or under another key
};

// A verified state file, read in place: the bytes must outlive it.
class StateView {
  public:
    const StateHeader& header() const { return header_; }
    std::uint32_t cookieCount() const { return cookieCount_; }
    std::uint32_t farmLogoffCount() const { return farmCount_; }
    std::uint32_t queuedCount() const { return queuedCount_; }
    void cookie(std::uint32_t index, LogoffCookieDigest& digest, CookieTimes& times) const;
    void farmLogoff(std::uint32_t index, FarmLogoff& logoff) const;
    void queuedLogoff(std::uint32_t index, FarmLogoff& logoff) const;

  private:
    friend bool unverifiedQueuedCount(const std::uint8_t*, std::size_t, std::uint32_t&);
    // Finds the sections in the `covered` bytes before the MAC; false when
    // their counts do not fill them exactly.
    bool lay(const std::uint8_t* bytes, std::size_t covered);
    friend StateCheck checkStateFile(const StateKey&, const std::uint8_t*, std::size_t, StateView&,
                                     std::uint32_t&);
    StateHeader header_;
    const std::uint8_t* cookies_ = nullptr;
    const std::uint8_t* farm_ = nullptr;
    const std::uint8_t* queued_ = nullptr;
    std::uint32_t cookieCount_ = 0;
    std::uint32_t farmCount_ = 0;
    std::uint32_t queuedCount_ = 0;
};

// Checks the `size` bytes at `bytes` as a whole; Valid fills `out`.
// OtherVersion gives the version found in `version`.
StateCheck checkStateFile(const StateKey& key, const std::uint8_t* bytes, std::size_t size,
                          StateView& out, std::uint32_t& version);

// How many farm logoffs a state file that does not verify says it holds,
// for the line that says they are discarded: false when its layout does not
// hold together either. The count is the file's word only.
bool unverifiedQueuedCount(const std::uint8_t* bytes, std::size_t size, std::uint32_t& count);
