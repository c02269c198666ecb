#include "support/collections/RWSlistCollectablesQueue.h"

#include "support/collections/collectableDefinitions.h"
RWSlistCollectablesQueue::RWSlistCollectablesQueue(const RWSlistCollectablesQueue& other)
    : RWSlistCollectables() {
    for (RWSlistLink* link = other.firstLink(); link != other.end(); link = link->next) {
        if (link->element == nullptr) {
            break;
        }
        append(link->element);
    }
}

LC_DEFINE_COLLECTABLE(RWSlistCollectablesQueue, RW_SLIST_COLLECTABLES_QUEUE_CLASS_ID)

RWCollectable* RWSlistCollectablesQueue::moveFirstTo(RWSlistCollectablesQueue& destination) {
    if (count() == 0) {
        return nullptr;
    }
    RWSlistLink* link = unlinkFirst();
    destination.appendLink(link);
    return link->element;
}
