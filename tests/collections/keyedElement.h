// A collectable found by content: equal keys mean equal elements, and the
// hash is the key itself, so tests choose buckets exactly.
#pragma once

#include <cstdint>

#include "support/collections/RWCollectable.h"

class KeyedElement : public RWCollectable {
  public:
    explicit KeyedElement(std::uint32_t key) : key_(key) {}

    std::uint32_t hash() const override { return key_; }
    bool isEqual(const RWCollectable* other) const override {
        return static_cast<const KeyedElement*>(other)->key_ == key_;
    }

    std::uint32_t key() const { return key_; }

  private:
    std::uint32_t key_;
};
