// The factory's entries: one keyed by class identifier, one keyed by string
// identifier, each carrying the class's creator. Two entries are equal only
// when they are of the same entry class with equal keys. The reference
// count counts the registrations of the key.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "support/collections/RWCollectable.h"
#include "support/collections/RWReference.h"

// Makes a new default-constructed object of a registered class.
using RWUserCreator = RWCollectable* (*)();

class RWClassIDAssociation : public RWCollectable, public RWReference {
  public:
    RWClassIDAssociation(RWClassID id, RWUserCreator creator, std::string_view stringId);

    RWClassID classId() const override;
    // The class identifier is its own hash.
    std::uint32_t hash() const override;
    bool isEqual(const RWCollectable* other) const override;

    RWClassID id() const { return id_; }
    RWUserCreator creator() const { return creator_; }
    const std::string& stringId() const { return stringId_; }

  private:
    RWClassID id_;
    RWUserCreator creator_;
    std::string stringId_;
};

class RWStringIDAssociation : public RWCollectable, public RWReference {
  public:
    RWStringIDAssociation(std::string_view stringId, RWUserCreator creator, RWClassID id);

    RWClassID classId() const override;
    std::uint32_t hash() const override;
    // Compares the string identifiers byte for byte.
    bool isEqual(const RWCollectable* other) const override;

    const std::string& stringId() const { return stringId_; }
    RWUserCreator creator() const { return creator_; }
    RWClassID id() const { return id_; }

  private:
    std::string stringId_;
    RWUserCreator creator_;
    RWClassID id_;
};
