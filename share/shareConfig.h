// Farm sharing's configuration, read from the environment at start:
//   VOKLOGOFFSHARE        redis://[user[:password]@]host[:port][/db]
//                         or unix:/path/to/redis.sock[?db=N]
//                         or sentinel://host:port[,host:port...]/MASTER_NAME[?db=N]
//                         rediss:// and sentinels:// are the same over TLS
//                         (share/tlsSettings.h), to the sentinels and to the
//                         data nodes they name
//   VOKLOGOFFSHAREKEY     path of the farm secret
//   VOKLOGOFFSHAREAUTH    path of the Redis credentials (share/shareCredentials.h)
//   VOKLOGOFFSHARESTREAM  stream key, default voklogoff:logoffs
//   VOKLOGOFFSHAREREADFROM  primary or replicas: where the receiver reads;
//                         replicas by default with sentinel:// and with
//                         VOKLOGOFFSHAREREPLICAS, else primary
//   VOKLOGOFFSHAREREPLICAS  with redis://, rediss:// or unix:, the replicas
//                         to read from, comma separated, in the endpoint's
//                         own form without user or password (its
//                         credentials, database and TLS settings apply)
//   VOKLOGOFFSHAREBATCHMS the receiver's wait after a short read
//                         (share/readBatching.h)
// With VOKLOGOFFSHARE unset sharing is off and nothing of it runs. The user
// and password of a redis:// URL are percent-decoded (RFC 3986), so any
// byte can be written; a userinfo without a colon is the default user's
// password. unix: and sentinel: endpoints take credentials from the file
// only.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "share/readBatching.h"

class TlsClientContext;

inline constexpr const char* kShareDefaultStream = "voklogoff:logoffs";
inline constexpr int kShareDefaultSentinelPort = 26379;

struct SentinelAddress {
    std::string host;
    int port = kShareDefaultSentinelPort;
};

// A replica named in VOKLOGOFFSHAREREPLICAS: where it is, nothing more.
struct ReadAddress {
    bool unixSocket = false;
    std::string path;
    std::string host;
    int port = 6379;

    // host:port, [v6]:port or unix:/path, for messages and to tell nodes apart.
    std::string text() const;
};

struct ShareEndpoint {
    bool unixSocket = false;
    std::string path;  // of the Unix socket
    std::string host;
    int port = 6379;
    std::string user;  // empty: AUTH with the password alone, if any
    std::string password;
    int db = 0;
    bool hasPassword = false;

    // sentinel://: the data node is the primary these sentinels name for
    // `masterName`; host and port above are unused, user and password are
    // the data node's. The sentinels' own credentials are apart.
    std::vector<SentinelAddress> sentinels;
    std::string masterName;
    std::string sentinelUser;
    std::string sentinelPassword;
    bool hasSentinelPassword = false;

    // rediss:// and sentinels://: every connection is TLS, made with `tls`,
    // which the configuration read at start sets.
    bool useTls = false;
    std::shared_ptr<const TlsClientContext> tls;

    // Where the receiver reads: a replica when set (those the sentinels list
    // with sentinel://, else `replicas`), falling back to the primary; the
    // primary alone otherwise. Writes always go to the primary.
    bool readFromReplicas = false;
    std::vector<ReadAddress> replicas;

    bool viaSentinel() const { return !sentinels.empty(); }
    // The endpoint without its users and passwords, for messages.
    std::string describe() const;
};

struct ShareConfig {
    ShareEndpoint endpoint;
    std::string streamKey = kShareDefaultStream;
    std::vector<std::uint8_t> secret;
    std::chrono::milliseconds readBatchWait = kShareBatchWaitDefault;

    ShareConfig() = default;
    // Wipes the secret.
    ~ShareConfig();
    ShareConfig(const ShareConfig&) = delete;
    ShareConfig& operator=(const ShareConfig&) = delete;
};

// Wipes and empties every field of `endpoint` that may hold a secret: the
// users as well as the passwords, since a password is at times written
// where the user goes.
void wipeShareCredentials(ShareEndpoint& endpoint);

enum class ShareConfigResult { Off, On, Refused };

// Parses `text` into `out`; false with the reason in `error`, which never
// quotes a user or password.
bool parseShareEndpoint(const std::string& text, ShareEndpoint& out, std::string& error);

// Reads the farm secret at `path`: a regular file owned by the effective user,
// neither readable nor writable by group or others, at least
// kFarmSecretMinSize bytes. Its bytes are the secret as they stand.
bool readFarmSecret(const std::string& path, std::vector<std::uint8_t>& out, std::string& error);

// Reads the file named by VOKLOGOFFSHAREAUTH again into `endpoint`'s users
// and passwords, as after Redis refused them: an operator mends the file,
// not the service. False, with `endpoint` as it was and the reason in
// `error`, when the file cannot be taken now. Only for endpoints whose
// credentials came from the file (credentialsFromFile()).
bool rereadShareCredentials(ShareEndpoint& endpoint, std::string& error);
// True when VOKLOGOFFSHAREAUTH names the credentials file.
bool credentialsFromFile();

// The most replicas VOKLOGOFFSHAREREPLICAS may name.
inline constexpr std::size_t kShareMostReplicas = 64;

// Reads VOKLOGOFFSHAREREADFROM and VOKLOGOFFSHAREREPLICAS into `endpoint`
// (parsed already, its TLS settings applied); false with one line naming the
// variable at fault in `error`.
bool readShareReadSettings(ShareEndpoint& endpoint, std::string& error);

// Reads the variables. Refused carries one line in `error`.
ShareConfigResult readShareConfig(ShareConfig& out, std::string& error);
