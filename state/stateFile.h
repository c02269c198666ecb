// The state file on disk: written whole beside its final name and renamed
// over it, read whole, and set aside once read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "state/stateFormat.h"

// A new state file for `path`: a temporary file created exclusively in the
// same directory (mode 0600, never through a link), filled through write(),
// then flushed to disk and renamed over `path` by commit(). A writer that is
// not committed removes its temporary file.
class StateFileWriter : public StateSink {
  public:
    explicit StateFileWriter(std::string path);
    ~StateFileWriter() override;
    StateFileWriter(const StateFileWriter&) = delete;
    StateFileWriter& operator=(const StateFileWriter&) = delete;

    // False with the failing call in error().
    bool open();
    bool write(const std::uint8_t* bytes, std::size_t length) override;
    bool commit();
    // The failing call, its subject and the system's reason.
    const std::string& error() const { return error_; }

  private:
    bool fail(const char* call, const std::string& subject);

    std::string path_;
    std::string temporary_;
    int fd_ = -1;
    bool committed_ = false;
    std::string error_;
};

enum class StateFileRead {
    Read,
    Missing,     // no file at the path
    Refused,     // unreadable, not a regular file, or writable by others
    Unreadable,  // the service's own file, but it could not be held in memory
};

// Reads the whole file at `path` into `bytes`. It must be a regular file of
// the effective user that group and others cannot write: anyone on the host
// can derive the host key, so only the file's permissions keep a forged
// state out. Refused gives the reason in `reason`.
StateFileRead readStateFile(const std::string& path, std::vector<std::uint8_t>& bytes,
                            std::string& reason);

// True when the directory that holds `path` belongs to the service's user
// (or root) and neither group nor others may write it; otherwise false with
// the reason in `reason`.
bool checkStateDirectory(const std::string& path, std::string& reason);

// Where a state file goes once it has been read, so that no later start
// takes it again.
std::string stateFileAsideName(const std::string& path);
// Renames the file at `path` aside; false with the reason in `reason`.
bool setStateFileAside(const std::string& path, std::string& reason);
