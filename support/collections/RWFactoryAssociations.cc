#include "support/collections/RWFactoryAssociations.h"

#include "support/collections/RWStringHash.h"

RWClassIDAssociation::RWClassIDAssociation(RWClassID id, RWUserCreator creator,
                                           std::string_view stringId)
    : id_(id), creator_(creator), stringId_(stringId) {}

RWClassID RWClassIDAssociation::classId() const {
    return RW_CLASS_ID_ASSOCIATION_CLASS_ID;
}

std::uint32_t RWClassIDAssociation::hash() const {
    return id_;
}

bool RWClassIDAssociation::isEqual(const RWCollectable* other) const {
    const auto* association = dynamic_cast<const RWClassIDAssociation*>(other);
    return association != nullptr && association->id_ == id_;
}

RWStringIDAssociation::RWStringIDAssociation(std::string_view stringId, RWUserCreator creator,
                                             RWClassID id)
    : stringId_(stringId), creator_(creator), id_(id) {}

RWClassID RWStringIDAssociation::classId() const {
    return RW_STRING_ID_ASSOCIATION_CLASS_ID;
}

std::uint32_t RWStringIDAssociation::hash() const {
    return rwStringHash(stringId_);
}

bool RWStringIDAssociation::isEqual(const RWCollectable* other) const {
    const auto* association = dynamic_cast<const RWStringIDAssociation*>(other);
    return association != nullptr && association->stringId_ == stringId_;
}
