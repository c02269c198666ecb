#include "support/collections/RWSet.h"

#include "support/collections/RWSlistCollectables.h"

RWCollectable* RWSet::newInstance() const {
    return new RWSet;
}

RWCollectable* RWSet::copy() const {
    return new RWSet(*this);
}

RWClassID RWSet::classId() const {
    return RW_SET_CLASS_ID;
}

// One hash serves both the search and the insertion.
RWCollectable* RWSet::insert(RWCollectable* element) {
    std::uint32_t index = bucketIndex(element);
    if (RWCollectable* stored = bucket(index).RWSlistCollectables::find(element)) {
        return stored;
    }
    return insertAt(index, element);
}
