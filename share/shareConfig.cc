#include "share/shareConfig.h"

#include <charconv>
#include <cstdlib>

#include "cache/farmKey.h"
#include "crypto/secureMemory.h"
#include "share/privateFile.h"
#include "share/shareCredentials.h"
#include "share/tlsContext.h"

bool credentialsFromFile() {
    const char* path = std::getenv("VOKLOGOFFSHAREAUTH");
    return path != nullptr && *path != '\0';
}

namespace {

// A secret file larger than this is not a secret file.
constexpr std::size_t kLargestSecret = 4096;

bool parseNumber(const std::string& text, int lowest, int highest, int& out) {
    int value = 0;
    auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (failure != std::errc() || end != text.data() + text.size() || value < lowest ||
        value > highest) {
        return false;
    }
    out = value;
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// A user or password may be written raw as far as it can be told from the
// rest (the last '@' ends it), or percent-encoded, which any byte can be.
bool percentDecode(std::string_view text, const char* what, std::string& out, std::string& error) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded.push_back(text[i]);
            continue;
        }
        int high = i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
        int low = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
        if (high < 0 || low < 0) {
            // Not quoting it: this may be a password.
            error = std::string(what) + ": '%' must be followed by two hex digits (%25 for '%')";
            secureZero(decoded.data(), decoded.size());
            return false;
        }
        decoded.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    out.swap(decoded);
    if (!decoded.empty()) {
        secureZero(decoded.data(), decoded.size());
    }
    return true;
}

// A name holding a control byte would reach the resolver cut short or not at
// all, and the trace and standard error as written, where a line break forges
// a line of its own. Host and master names take no blank either.
bool holdsControl(std::string_view text, bool orBlank) {
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < ' ' || byte == 0x7f || (orBlank && byte == ' ')) {
            return true;
        }
    }
    return false;
}

// host[:port], the host of an IPv6 address in brackets so that its colons are
// not the port's.
bool parseHostPort(std::string_view authority, int defaultPort, std::string& host, int& port,
                   std::string& error) {
    std::string_view name = authority;
    std::string_view portText;
    bool portGiven = false;
    if (!authority.empty() && authority[0] == '[') {
        std::size_t close = authority.find(']');
        if (close == std::string_view::npos ||
            (close + 1 < authority.size() && authority[close + 1] != ':')) {
            error = "unclosed bracket around the host";
            return false;
        }
        name = authority.substr(1, close - 1);
        if (close + 1 < authority.size()) {
            portText = authority.substr(close + 2);
            portGiven = true;
        }
    } else if (std::size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
        name = authority.substr(0, colon);
        portText = authority.substr(colon + 1);
        portGiven = true;
    }
    port = defaultPort;
    if (portGiven && !parseNumber(std::string(portText), 1, 65535, port)) {
        error = "port must be a number from 1 to 65535";
        return false;
    }
    if (name.empty()) {
        error = "no host";
        return false;
    }
    if (holdsControl(name, true)) {
        error = "the host holds a blank or a control character";
        return false;
    }
    host.assign(name);
    return true;
}

std::string hostPort(const std::string& host, int port) {
    bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool parseDbOption(const std::string& option, const char* kind, int& db, std::string& error) {
    if (option.rfind("db=", 0) != 0 || !parseNumber(option.substr(3), 0, 1 << 20, db)) {
        error = std::string(kind) + " endpoint takes only ?db=N";
        return false;
    }
    return true;
}

bool parseUnixEndpoint(const std::string& rest, ShareEndpoint& out, std::string& error) {
    std::string path = rest;
    std::size_t query = rest.find('?');
    if (query != std::string::npos) {
        path = rest.substr(0, query);
        if (!parseDbOption(rest.substr(query + 1), "unix", out.db, error)) {
            return false;
        }
    }
    // unix:///path is the URL form of unix:/path. Anything between the "//"
    // and the path would be a user and password, taken for a path before
    // and printed with it: refused without quoting it.
    if (path.rfind("//", 0) == 0) {
        std::size_t pathStart = path.find('/', 2);
        if (pathStart != 2) {
            error = path.find('@') != std::string::npos
                        ? "unix endpoint takes no user or password: put them in the file "
                          "named by VOKLOGOFFSHAREAUTH"
                        : "unix endpoint takes no host: unix:/path or unix:///path";
            return false;
        }
        path = path.substr(2);
    } else if (path.find('@') != std::string::npos && path.find('@') < path.find('/')) {
        error =
            "unix endpoint takes no user or password: put them in the file named by "
            "VOKLOGOFFSHAREAUTH";
        return false;
    }
    if (path.empty() || path[0] != '/') {
        error = "unix endpoint needs an absolute socket path";
        return false;
    }
    if (holdsControl(path, false)) {
        error = "the socket path holds a control character";
        return false;
    }
    out.unixSocket = true;
    out.path = path;
    return true;
}

bool parseRedisEndpoint(const std::string& rest, ShareEndpoint& out, std::string& error) {
    // The last '@' ends the user and password: a raw '@' or '/' in a
    // password is still taken, as it always was.
    std::size_t at = rest.rfind('@');
    std::string_view hostPart = rest;
    if (at != std::string::npos) {
        std::string_view credentials = std::string_view(rest).substr(0, at);
        hostPart = std::string_view(rest).substr(at + 1);
        std::size_t colon = credentials.find(':');
        // A userinfo without a colon is a password, the default user's: it is
        // the form most written, and taking it for a user name would send
        // the password as one, and show it wherever a user is shown.
        std::string_view password =
            colon == std::string_view::npos ? credentials : credentials.substr(colon + 1);
        std::string_view user =
            colon == std::string_view::npos ? std::string_view() : credentials.substr(0, colon);
        if (!percentDecode(user, "user", out.user, error) ||
            !percentDecode(password, "password", out.password, error)) {
            return false;
        }
        out.hasPassword = true;
    }
    std::string_view authority = hostPart;
    std::size_t slash = hostPart.find('/');
    if (slash != std::string_view::npos) {
        authority = hostPart.substr(0, slash);
        if (!parseNumber(std::string(hostPart.substr(slash + 1)), 0, 1 << 20, out.db)) {
            error = "database must be a number";
            return false;
        }
    }
    return parseHostPort(authority, 6379, out.host, out.port, error);
}

bool parseSentinelEndpoint(const std::string& rest, ShareEndpoint& out, std::string& error) {
    std::size_t slash = rest.find('/');
    std::string_view hosts = std::string_view(rest).substr(0, slash);
    if (hosts.find('@') != std::string_view::npos) {
        error =
            "sentinel endpoint takes no user or password: put them in the file named by "
            "VOKLOGOFFSHAREAUTH";
        return false;
    }
    if (slash == std::string::npos) {
        error = "sentinel endpoint needs /MASTER_NAME after the sentinels";
        return false;
    }
    std::string name = rest.substr(slash + 1);
    std::size_t query = name.find('?');
    if (query != std::string::npos) {
        if (!parseDbOption(name.substr(query + 1), "sentinel", out.db, error)) {
            return false;
        }
        name.resize(query);
    }
    if (name.empty() || name.find('/') != std::string::npos || holdsControl(name, true)) {
        error = "sentinel endpoint needs /MASTER_NAME after the sentinels";
        return false;
    }
    while (!hosts.empty() || out.sentinels.empty()) {
        std::size_t comma = hosts.find(',');
        SentinelAddress address;
        if (!parseHostPort(hosts.substr(0, comma), kShareDefaultSentinelPort, address.host,
                           address.port, error)) {
            error = "sentinel " + std::to_string(out.sentinels.size() + 1) + ": " + error;
            return false;
        }
        out.sentinels.push_back(address);
        hosts = comma == std::string_view::npos ? std::string_view() : hosts.substr(comma + 1);
        if (comma != std::string_view::npos && hosts.empty()) {
            error = "sentinel endpoint ends its list with a comma";
            return false;
        }
    }
    out.masterName = name;
    return true;
}

// VOKLOGOFFSHAREAUTH, when set, gives the endpoint its credentials.
bool applyCredentialsFile(ShareEndpoint& endpoint, std::string& error) {
    if (!credentialsFromFile()) {
        return true;
    }
    const char* path = std::getenv("VOKLOGOFFSHAREAUTH");
    if (!endpoint.user.empty() || endpoint.hasPassword) {
        error =
            "VOKLOGOFFSHAREAUTH: VOKLOGOFFSHARE holds a user or password as well; keep them in "
            "the file alone";
        return false;
    }
    ShareCredentials credentials;
    std::string reason;
    if (!readShareCredentials(path, credentials, reason)) {
        error = "VOKLOGOFFSHAREAUTH: " + reason;
        return false;
    }
    if (credentials.forSentinels && !endpoint.viaSentinel()) {
        error = "VOKLOGOFFSHAREAUTH: a sentinel line, but VOKLOGOFFSHARE names no sentinels";
        return false;
    }
    endpoint.user.swap(credentials.dataNodes.user);
    endpoint.password.swap(credentials.dataNodes.password);
    endpoint.hasPassword = true;
    if (credentials.forSentinels) {
        endpoint.sentinelUser.swap(credentials.sentinels.user);
        endpoint.sentinelPassword.swap(credentials.sentinels.password);
        endpoint.hasSentinelPassword = true;
    }
    return true;
}

// The TLS variables make the context of a rediss:// or sentinels://
// endpoint. Set with an endpoint in clear they are refused: whoever set them
// believes the link encrypted.
bool applyTlsSettings(ShareEndpoint& endpoint, std::string& error) {
    TlsSettings settings;
    if (!readTlsSettings(settings, error)) {
        return false;
    }
    if (!endpoint.useTls) {
        if (settings.any()) {
            const char* set = !settings.caFile.empty()     ? "VOKLOGOFFSHARETLSCA"
                              : !settings.certFile.empty() ? "VOKLOGOFFSHARETLSCERT"
                              : !settings.keyFile.empty()  ? "VOKLOGOFFSHARETLSKEY"
                                                           : "VOKLOGOFFSHARETLSNAME";
            error = std::string(set) +
                    ": set, but VOKLOGOFFSHARE is not a rediss:// or sentinels:// endpoint, so "
                    "the link would be in clear";
            return false;
        }
        return true;
    }
    endpoint.tls = TlsClientContext::make(settings, error);
    return endpoint.tls != nullptr;
}

// One entry of VOKLOGOFFSHAREREPLICAS: an endpoint of `main`'s kind with
// nothing but its place.
bool parseReplica(const std::string& text, const ShareEndpoint& main, ReadAddress& out,
                  std::string& error) {
    ShareEndpoint replica;
    if (text.rfind("sentinel", 0) == 0) {
        error = "a sentinel endpoint cannot be a replica";
        return false;
    }
    if (!parseShareEndpoint(text, replica, error)) {
        return false;
    }
    bool hadCredentials = replica.hasPassword || !replica.user.empty();
    int db = replica.db;
    bool tls = replica.useTls;
    out.unixSocket = replica.unixSocket;
    out.path = replica.path;
    out.host = replica.host;
    out.port = replica.port;
    wipeShareCredentials(replica);
    if (hadCredentials) {
        // Not quoting it: this may be a password.
        error = "takes no user or password: VOKLOGOFFSHARE's (or VOKLOGOFFSHAREAUTH's) are used";
        return false;
    }
    if (db != 0 && db != main.db) {
        error = "database " + std::to_string(db) + " is not VOKLOGOFFSHARE's (" +
                std::to_string(main.db) + ")";
        return false;
    }
    // The TLS settings are VOKLOGOFFSHARE's: a replica in clear beside a
    // primary over TLS would send the password and the logoffs in clear.
    if (tls != main.useTls) {
        error = tls ? "rediss:// beside a VOKLOGOFFSHARE in clear: use rediss:// for both"
                    : "in clear beside a rediss:// VOKLOGOFFSHARE: use rediss:// for both";
        return false;
    }
    return true;
}

bool parseReplicaList(const std::string& text, const ShareEndpoint& main,
                      std::vector<ReadAddress>& out, std::string& error) {
    out.clear();
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t comma = text.find(',', at);
        std::string item =
            text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        // Spaces around an entry are for reading.
        std::size_t first = item.find_first_not_of(" \t");
        std::size_t last = item.find_last_not_of(" \t");
        item = first == std::string::npos ? std::string() : item.substr(first, last - first + 1);
        std::string where = "replica " + std::to_string(out.size() + 1);
        if (item.empty()) {
            error = where + ": empty";
            return false;
        }
        if (out.size() == kShareMostReplicas) {
            error = "more than " + std::to_string(kShareMostReplicas) + " replicas";
            return false;
        }
        ReadAddress address;
        std::string reason;
        if (!parseReplica(item, main, address, reason)) {
            error = where + ": " + reason;
            return false;
        }
        out.push_back(address);
        if (comma == std::string::npos) {
            break;
        }
        at = comma + 1;
    }
    return true;
}

}  // namespace

std::string ReadAddress::text() const {
    return unixSocket ? "unix:" + path : hostPort(host, port);
}

bool readShareReadSettings(ShareEndpoint& endpoint, std::string& error) {
    const char* list = std::getenv("VOKLOGOFFSHAREREPLICAS");
    if (list != nullptr) {
        if (endpoint.viaSentinel()) {
            error =
                "VOKLOGOFFSHAREREPLICAS: set, but VOKLOGOFFSHARE names sentinels, which list the "
                "replicas themselves";
            return false;
        }
        std::string reason;
        if (!parseReplicaList(list, endpoint, endpoint.replicas, reason)) {
            error = "VOKLOGOFFSHAREREPLICAS: " + reason;
            return false;
        }
    }
    // Replicas where the farm lists them: the sentinels, or the operator.
    endpoint.readFromReplicas = endpoint.viaSentinel() || !endpoint.replicas.empty();
    const char* from = std::getenv("VOKLOGOFFSHAREREADFROM");
    if (from == nullptr) {
        return true;
    }
    std::string value = from;
    if (value == "primary") {
        // The replicas stay named, for when the variable is set back.
        endpoint.readFromReplicas = false;
    } else if (value == "replicas") {
        if (!endpoint.readFromReplicas) {
            error =
                "VOKLOGOFFSHAREREADFROM: replicas, but no replica is known: VOKLOGOFFSHARE names "
                "no sentinels and VOKLOGOFFSHAREREPLICAS is not set";
            return false;
        }
    } else {
        error =
            "VOKLOGOFFSHAREREADFROM: '" + value.substr(0, 40) + "' is neither primary nor replicas";
        return false;
    }
    return true;
}

std::string ShareEndpoint::describe() const {
    if (unixSocket) {
        return "unix:" + path + (db != 0 ? "?db=" + std::to_string(db) : "");
    }
    if (viaSentinel()) {
        std::string text = useTls ? "sentinels://" : "sentinel://";
        for (const SentinelAddress& sentinel : sentinels) {
            text += (&sentinel == &sentinels.front() ? "" : ",") +
                    hostPort(sentinel.host, sentinel.port);
        }
        return text + "/" + masterName + (db != 0 ? "?db=" + std::to_string(db) : "");
    }
    // Without the user: a user name is at times a password put in the wrong
    // place, and what is printed here reaches the trace and standard error.
    return (useTls ? "rediss://" : "redis://") + hostPort(host, port) + "/" + std::to_string(db);
}

ShareConfig::~ShareConfig() {
    if (!secret.empty()) {
        secureZero(secret.data(), secret.size());
    }
    wipeShareCredentials(endpoint);
}

void wipeShareCredentials(ShareEndpoint& endpoint) {
    for (std::string* field :
         {&endpoint.user, &endpoint.password, &endpoint.sentinelUser, &endpoint.sentinelPassword}) {
        if (!field->empty()) {
            secureZero(field->data(), field->size());
        }
        field->clear();
    }
    endpoint.hasPassword = false;
    endpoint.hasSentinelPassword = false;
}

bool parseShareEndpoint(const std::string& text, ShareEndpoint& out, std::string& error) {
    out = ShareEndpoint{};
    if (text.rfind("unix:", 0) == 0) {
        return parseUnixEndpoint(text.substr(5), out, error);
    }
    if (text.rfind("redis://", 0) == 0) {
        return parseRedisEndpoint(text.substr(8), out, error);
    }
    if (text.rfind("rediss://", 0) == 0) {
        out.useTls = true;
        return parseRedisEndpoint(text.substr(9), out, error);
    }
    if (text.rfind("sentinel://", 0) == 0) {
        return parseSentinelEndpoint(text.substr(11), out, error);
    }
    if (text.rfind("sentinels://", 0) == 0) {
        out.useTls = true;
        return parseSentinelEndpoint(text.substr(12), out, error);
    }
    error = "endpoint must begin with redis://, rediss://, unix:, sentinel:// or sentinels://";
    return false;
}

bool rereadShareCredentials(ShareEndpoint& endpoint, std::string& error) {
    ShareEndpoint fresh;
    fresh.sentinels = endpoint.sentinels;  // for the check of a sentinel line
    if (!applyCredentialsFile(fresh, error)) {
        wipeShareCredentials(fresh);
        return false;
    }
    wipeShareCredentials(endpoint);
    endpoint.user.swap(fresh.user);
    endpoint.password.swap(fresh.password);
    endpoint.hasPassword = fresh.hasPassword;
    endpoint.sentinelUser.swap(fresh.sentinelUser);
    endpoint.sentinelPassword.swap(fresh.sentinelPassword);
    endpoint.hasSentinelPassword = fresh.hasSentinelPassword;
    return true;
}

bool readFarmSecret(const std::string& path, std::vector<std::uint8_t>& out, std::string& error) {
    return readPrivateFile(path, kFarmSecretMinSize, kLargestSecret, out, error);
}

ShareConfigResult readShareConfig(ShareConfig& out, std::string& error) {
    const char* endpoint = std::getenv("VOKLOGOFFSHARE");
    if (endpoint == nullptr) {
        return ShareConfigResult::Off;
    }
    std::string reason;
    if (!parseShareEndpoint(endpoint, out.endpoint, reason)) {
        error = "VOKLOGOFFSHARE: " + reason;
        return ShareConfigResult::Refused;
    }
    if (!applyCredentialsFile(out.endpoint, error)) {
        return ShareConfigResult::Refused;
    }
    if (!applyTlsSettings(out.endpoint, error)) {
        return ShareConfigResult::Refused;
    }
    if (!readShareReadSettings(out.endpoint, error)) {
        return ShareConfigResult::Refused;
    }
    const char* keyPath = std::getenv("VOKLOGOFFSHAREKEY");
    if (keyPath == nullptr || *keyPath == '\0') {
        error = "VOKLOGOFFSHAREKEY: not set; sharing needs the farm secret";
        return ShareConfigResult::Refused;
    }
    if (!readFarmSecret(keyPath, out.secret, reason)) {
        error = "VOKLOGOFFSHAREKEY: " + reason;
        return ShareConfigResult::Refused;
    }
    const char* stream = std::getenv("VOKLOGOFFSHARESTREAM");
    if (stream != nullptr) {
        if (*stream == '\0') {
            error = "VOKLOGOFFSHARESTREAM: empty";
            return ShareConfigResult::Refused;
        }
        out.streamKey = stream;
    }
    if (!readShareBatchWait(out.readBatchWait, error)) {
        return ShareConfigResult::Refused;
    }
    return ShareConfigResult::On;
}
