// The Redis credentials file, named by VOKLOGOFFSHAREAUTH, so that passwords
// stay out of the environment and the process list:
//   line 1  PASSWORD, or USER PASSWORD: for the data nodes (redis://, unix:
//           and those found through the sentinels)
//   line 2  optional: sentinel PASSWORD, or sentinel USER PASSWORD: for the
//           sentinels
// A line with a space names a user before its first space; a password with a
// space in it therefore needs its user written out ("default" for the
// default user). Only a final newline may follow; a password holds any byte
// but a newline.
#pragma once

#include <string>
#include <string_view>

struct ShareCredential {
    std::string user;  // empty: the default user
    std::string password;
};

struct ShareCredentials {
    ShareCredential dataNodes;
    bool forSentinels = false;
    ShareCredential sentinels;

    ShareCredentials() = default;
    // Wipes the passwords.
    ~ShareCredentials();
    ShareCredentials(const ShareCredentials&) = delete;
    ShareCredentials& operator=(const ShareCredentials&) = delete;
};

// The largest credentials file taken.
inline constexpr std::size_t kShareCredentialsLargest = 4096;

// Parses the file's content. The reason in `error` never quotes it.
bool parseShareCredentials(std::string_view text, ShareCredentials& out, std::string& error);

// Reads and parses the file at `path`, checked as the farm secret is (a
// regular file of the service's user, open to nobody else).
bool readShareCredentials(const std::string& path, ShareCredentials& out, std::string& error);
