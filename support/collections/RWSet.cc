#include "support/collections/RWSet.h"

#include "support/collections/RWSlistCollectables.h"
#include "support/collections/collectableDefinitions.h"

LC_DEFINE_COLLECTABLE(RWSet, RW_SET_CLASS_ID)

// One hash serves both the search and the insertion.
RWCollectable* RWSet::insert(RWCollectable* element) {
    std::uint32_t index = bucketIndex(element);
    if (RWCollectable* stored = bucket(index).RWSlistCollectables::find(element)) {
        return stored;
    }
    return insertAt(index, element);
}
