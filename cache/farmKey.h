// HMAC-SHA-1 under the farm secret: the key every host of a farm shares,
// prepared once, so each MAC costs only the blocks of its message.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/hmacSha1.h"

// Shorter secrets are refused when sharing is configured.
inline constexpr std::size_t kFarmSecretMinSize = 32;

class FarmKey {
  public:
    FarmKey(const std::uint8_t* secret, std::size_t length);
    // Wipes the prepared key: it is as good as the secret.
    ~FarmKey();
    FarmKey(const FarmKey&) = delete;
    FarmKey& operator=(const FarmKey&) = delete;

    // One MAC computed piece by piece, finished once.
    class Mac {
      public:
        explicit Mac(const FarmKey& key);
        ~Mac();
        Mac(const Mac&) = delete;
        Mac& operator=(const Mac&) = delete;

        void update(const void* data, std::size_t length);
        void finish(std::uint8_t out[kSha1DigestSize]);

      private:
        HmacSha1Context context_;
    };

  private:
    HmacSha1Key key_;
};
