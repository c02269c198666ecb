// TLS over a connected socket, by OpenSSL: the handshake, the server's
// certificate checked against the trusted CAs and the name expected, then
// reads and writes, each wait bounded by the socket's time-out as in clear.
// A failure of TLS itself (a certificate, a refused client certificate, a
// server that does not speak TLS) is told apart from a connection lost, and
// said with what to mend.
#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <string>

#include "share/linkTransport.h"
#include "share/tlsContext.h"

class TlsTransport final : public LinkTransport {
  public:
    // How a handshake failed: the connection (closed, reset), TLS itself
    // (a certificate, an alert, an answer not in TLS), or no answer at all
    // within the time-out, which is what a server in clear gives a handshake
    // it waits to see the end of.
    enum class Failure { Connection, Refused, Unanswered };

    // Handshakes over `socket` with the server reached at `host` (a name or
    // an IP address). Null with the reason in `error` and how it failed in
    // `failure`.
    static std::unique_ptr<TlsTransport> open(std::unique_ptr<SocketTransport> socket,
                                              std::shared_ptr<const TlsClientContext> context,
                                              const std::string& host, std::string& error,
                                              Failure& failure);
    ~TlsTransport() override;
    TlsTransport(const TlsTransport&) = delete;
    TlsTransport& operator=(const TlsTransport&) = delete;

    bool send(std::string_view data, std::string& error) override;
    std::size_t receive(char* buffer, std::size_t size, std::string& error) override;
    bool closedByPeer() const override { return closedByPeer_; }
    bool tlsRefused() const override { return refused_; }

  private:
    TlsTransport(std::unique_ptr<SocketTransport> socket, SSL* ssl,
                 std::shared_ptr<const TlsClientContext> context)
        : socket_(std::move(socket)), ssl_(ssl), context_(std::move(context)) {}

    // After an OpenSSL call that returned `result`: true when it is to be
    // called again once the socket is ready (waited for here, until
    // `deadline`); false with the failure in `error`.
    bool retry(int result, const char* step, std::chrono::steady_clock::time_point deadline,
               std::string& error);

    std::unique_ptr<SocketTransport> socket_;
    SSL* ssl_;
    std::shared_ptr<const TlsClientContext> context_;  // outlives ssl_
    std::string name_;  // the name the server's certificate must carry
    bool closedByPeer_ = false;
    bool refused_ = false;
};

// Whether the server at `host`:`port` answers a TLS handshake: asked when a
// link in clear is closed before the server said a word, which a server
// that speaks only TLS does. Nothing but a handshake is sent.
bool serverSpeaksTls(const std::string& host, int port, std::chrono::milliseconds timeout);
