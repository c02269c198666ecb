// What every TLS link of farm sharing has in common, read once at start
// from the TLS variables: the trusted CAs, this host's certificate and key,
// TLS 1.2 at least, and peer verification, which nothing turns off. One
// context serves one thread: OpenSSL's certificate store fills caches as it
// verifies a handshake, without a lock for every reader, so each thread that
// connects takes its own copy().
#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "share/tlsSettings.h"

class TlsClientContext {
  public:
    // Loads the CA bundle (or the system's store), and the client
    // certificate and key when set; the key's bytes are read by the
    // private-file reader and wiped once loaded. Null with one line naming
    // the variable at fault in `error`.
    static std::shared_ptr<const TlsClientContext> make(const TlsSettings& settings,
                                                        std::string& error);
    // Another context with the same CAs, certificate, key and name, made
    // from what was read at start (no file is read again), sharing no
    // OpenSSL object with this one. Null with the reason in `error` (no
    // memory). May be called from any thread.
    std::shared_ptr<const TlsClientContext> copy(std::string& error) const;
    ~TlsClientContext();
    TlsClientContext(const TlsClientContext&) = delete;
    TlsClientContext& operator=(const TlsClientContext&) = delete;

    SSL_CTX* context() const { return context_; }
    // The name a server's certificate must carry: VOKLOGOFFSHARETLSNAME, or
    // else the host the server was reached at.
    const std::string& nameFor(const std::string& host) const {
        return name_.empty() ? host : name_;
    }
    // Whether the CAs are the system's (no VOKLOGOFFSHARETLSCA), for advice.
    bool systemStore() const { return systemStore_; }
    bool hasClientCertificate() const { return clientCertificate_; }

  private:
    // What a copy is made of, each certificate and the key in DER.
    struct Material {
        std::vector<std::vector<std::uint8_t>> cas;
        std::vector<std::vector<std::uint8_t>> crls;
        std::vector<std::vector<std::uint8_t>> chain;  // this host's first
        std::vector<std::uint8_t> key;                 // wiped when the last copy ends
        Material() = default;
        ~Material();
        Material(const Material&) = delete;
        Material& operator=(const Material&) = delete;
    };

    TlsClientContext() = default;
    // Makes context_ from material_; false with the reason in `error`.
    bool build(std::string& error);

    std::shared_ptr<const Material> material_;  // shared by every copy
    SSL_CTX* context_ = nullptr;
    std::string name_;
    bool systemStore_ = true;
    bool clientCertificate_ = false;
};

// OpenSSL's first queued error of this thread, as a line; the queue is
// emptied.
std::string takeTlsError();
