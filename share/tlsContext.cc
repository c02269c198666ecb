#include "share/tlsContext.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <cstdint>
#include <vector>

#include "crypto/secureMemory.h"
#include "share/privateFile.h"

namespace {

// A PEM key with its chain of comments is a few kilobytes; a file far
// larger is not a key.
constexpr std::size_t kLargestKey = 64 * 1024;

// Never asked: the service runs without a terminal, and a key it cannot
// read alone is refused at start rather than prompted for.
int noPassphrase(char*, int, int, void*) {
    return -1;
}

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateFree {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct CrlFree {
    void operator()(X509_CRL* crl) const { X509_CRL_free(crl); }
};
struct ContextFree {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};

// `object` in DER, appended to `out`; false when it cannot be encoded.
template <typename T>
bool appendDer(T* object, int (*encode)(const T*, unsigned char**),
               std::vector<std::vector<std::uint8_t>>& out) {
    int size = encode(object, nullptr);
    if (size <= 0) {
        return false;
    }
    std::vector<std::uint8_t> der(static_cast<std::size_t>(size));
    unsigned char* end = der.data();
    if (encode(object, &end) != size) {
        secureZero(der.data(), der.size());  // it may be the key
        return false;
    }
    out.push_back(std::move(der));
    return true;
}

X509* certificateFrom(const std::vector<std::uint8_t>& der) {
    const unsigned char* start = der.data();
    return d2i_X509(nullptr, &start, static_cast<long>(der.size()));
}

bool loadKey(SSL_CTX* context, const std::string& path, std::string& error) {
    std::vector<std::uint8_t> bytes;
    std::string reason;
    if (!readPrivateFile(path, 1, kLargestKey, bytes, reason)) {
        error = "VOKLOGOFFSHARETLSKEY: " + reason;
        return false;
    }
    std::unique_ptr<EVP_PKEY, KeyFree> key;
    {
        // The memory BIO reads our buffer in place; it makes no copy.
        std::unique_ptr<BIO, BioFree> bio(
            BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
        if (bio) {
            key.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassphrase, nullptr));
        }
    }
    secureZero(bytes.data(), bytes.size());
    if (!key) {
        error = "VOKLOGOFFSHARETLSKEY: " + path + " holds no key in PEM without a passphrase (" +
                takeTlsError() + ")";
        return false;
    }
    // Checks too that the key is the certificate's.
    if (SSL_CTX_use_PrivateKey(context, key.get()) != 1) {
        error = "VOKLOGOFFSHARETLSKEY: " + path +
                " is not the key of the certificate in VOKLOGOFFSHARETLSCERT (" + takeTlsError() +
                ")";
        return false;
    }
    if (SSL_CTX_check_private_key(context) != 1) {
        error = "VOKLOGOFFSHARETLSKEY: " + path +
                " is not the key of the certificate in VOKLOGOFFSHARETLSCERT";
        ERR_clear_error();
        return false;
    }
    return true;
}

}  // namespace

std::string takeTlsError() {
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) {
        return "no detail";
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

TlsClientContext::Material::~Material() {
    secureZero(key.data(), key.size());
}

std::shared_ptr<const TlsClientContext> TlsClientContext::make(const TlsSettings& settings,
                                                               std::string& error) {
    ERR_clear_error();
    std::shared_ptr<TlsClientContext> made(new TlsClientContext);
    // The files are read into a context of their own, which says what is
    // wrong with them; what it took is then kept in memory, for this context
    // and its copies.
    std::unique_ptr<SSL_CTX, ContextFree> fromFiles(SSL_CTX_new(TLS_client_method()));
    if (!fromFiles) {
        error = "TLS: " + takeTlsError();
        return nullptr;
    }
    SSL_CTX* context = fromFiles.get();
    made->systemStore_ = settings.caFile.empty();
    bool loaded = made->systemStore_
                      ? SSL_CTX_set_default_verify_paths(context) == 1
                      : SSL_CTX_load_verify_file(context, settings.caFile.c_str()) == 1;
    if (!loaded) {
        error = made->systemStore_
                    ? "VOKLOGOFFSHARETLSCA: unset, and the system's CA store cannot be read (" +
                          takeTlsError() + ")"
                    : "VOKLOGOFFSHARETLSCA: " + settings.caFile +
                          " holds no CA certificate in PEM that can be read (" + takeTlsError() +
                          ")";
        return nullptr;
    }
    if (!settings.certFile.empty()) {
        if (SSL_CTX_use_certificate_chain_file(context, settings.certFile.c_str()) != 1) {
            error = "VOKLOGOFFSHARETLSCERT: " + settings.certFile +
                    " holds no certificate in PEM that can be read (" + takeTlsError() + ")";
            return nullptr;
        }
        if (!loadKey(context, settings.keyFile, error)) {
            return nullptr;
        }
        made->clientCertificate_ = true;
    }
    made->name_ = settings.name;
    auto material = std::make_shared<Material>();
    bool kept = true;
    if (!made->systemStore_) {
        STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(SSL_CTX_get_cert_store(context));
        for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i) {
            X509_OBJECT* object = sk_X509_OBJECT_value(objects, i);
            if (X509* ca = X509_OBJECT_get0_X509(object)) {
                kept = kept && appendDer<X509>(ca, i2d_X509, material->cas);
            } else if (X509_CRL* crl = X509_OBJECT_get0_X509_CRL(object)) {
                kept = kept && appendDer<X509_CRL>(crl, i2d_X509_CRL, material->crls);
            }
        }
    }
    if (made->clientCertificate_) {
        kept =
            kept && appendDer<X509>(SSL_CTX_get0_certificate(context), i2d_X509, material->chain);
        STACK_OF(X509)* chain = nullptr;
        SSL_CTX_get0_chain_certs(context, &chain);
        for (int i = 0; i < sk_X509_num(chain); ++i) {
            kept = kept && appendDer<X509>(sk_X509_value(chain, i), i2d_X509, material->chain);
        }
        std::vector<std::vector<std::uint8_t>> key;
        kept = kept && appendDer<EVP_PKEY>(SSL_CTX_get0_privatekey(context), i2d_PrivateKey, key);
        if (!key.empty()) {
            material->key.swap(key.front());
        }
    }
    if (!kept) {
        error = "TLS: cannot keep the certificates and key read (" + takeTlsError() + ")";
        return nullptr;
    }
    made->material_ = std::move(material);
    if (!made->build(error)) {
        return nullptr;
    }
    return made;
}

std::shared_ptr<const TlsClientContext> TlsClientContext::copy(std::string& error) const {
    ERR_clear_error();
    std::shared_ptr<TlsClientContext> made(new TlsClientContext);
    made->material_ = material_;
    made->name_ = name_;
    made->systemStore_ = systemStore_;
    made->clientCertificate_ = clientCertificate_;
    if (!made->build(error)) {
        return nullptr;
    }
    return made;
}

bool TlsClientContext::build(std::string& error) {
    std::unique_ptr<SSL_CTX, ContextFree> made(SSL_CTX_new(TLS_client_method()));
    if (!made) {
        error = "TLS: " + takeTlsError();
        return false;
    }
    SSL_CTX* context = made.get();
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    bool built = true;
    if (systemStore_) {
        built = SSL_CTX_set_default_verify_paths(context) == 1;
    } else {
        X509_STORE* store = SSL_CTX_get_cert_store(context);
        for (const auto& der : material_->cas) {
            std::unique_ptr<X509, CertificateFree> ca(certificateFrom(der));
            built = built && ca && X509_STORE_add_cert(store, ca.get()) == 1;
        }
        for (const auto& der : material_->crls) {
            const unsigned char* start = der.data();
            std::unique_ptr<X509_CRL, CrlFree> crl(
                d2i_X509_CRL(nullptr, &start, static_cast<long>(der.size())));
            built = built && crl && X509_STORE_add_crl(store, crl.get()) == 1;
        }
    }
    if (clientCertificate_ && built) {
        std::unique_ptr<X509, CertificateFree> own(certificateFrom(material_->chain.front()));
        built = own && SSL_CTX_use_certificate(context, own.get()) == 1;
        for (std::size_t i = 1; built && i < material_->chain.size(); ++i) {
            std::unique_ptr<X509, CertificateFree> link(certificateFrom(material_->chain[i]));
            // add0 takes the certificate over when it succeeds.
            built = link && SSL_CTX_add0_chain_cert(context, link.get()) == 1;
            if (built) {
                link.release();
            }
        }
        const unsigned char* start = material_->key.data();
        std::unique_ptr<EVP_PKEY, KeyFree> key(
            built ? d2i_AutoPrivateKey(nullptr, &start, static_cast<long>(material_->key.size()))
                  : nullptr);
        built = key && SSL_CTX_use_PrivateKey(context, key.get()) == 1;
    }
    if (!built) {
        error = "TLS: cannot make a context from the certificates and key read at start (" +
                takeTlsError() + ")";
        return false;
    }
    context_ = made.release();
    return true;
}

TlsClientContext::~TlsClientContext() {
    // Frees the key with it; OpenSSL clears a private key's numbers as it
    // frees them.
    SSL_CTX_free(context_);
}
