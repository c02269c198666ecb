#include "support/collections/RWSlistCollectables.h"

#include "support/collections/collectableDefinitions.h"
RWSlistCollectables::RWSlistCollectables(const RWSlistCollectables& other)
    : RWSequenceable(other), RWSlist() {
    for (RWSlistLink* link = other.firstLink(); link != other.end(); link = link->next) {
        RWSlist::append(link->element);
    }
}

LC_DEFINE_COLLECTABLE(RWSlistCollectables, RW_SLIST_COLLECTABLES_CLASS_ID)

void RWSlistCollectables::clear() {
    RWSlist::clear();
}

RWCollectable* RWSlistCollectables::find(const RWCollectable* probe) const {
    for (RWSlistLink* link = firstLink(); link != end(); link = link->next) {
        RWCollectable* element = link->element;
        if (element != nullptr && element->isEqual(probe)) {
            return element;
        }
    }
    return nullptr;
}

RWCollectable* RWSlistCollectables::insert(RWCollectable* element) {
    return append(element);
}

RWCollectable* RWSlistCollectables::remove(const RWCollectable* probe) {
    for (RWSlistLink* before = headLink(); before->next != end(); before = before->next) {
        RWCollectable* element = before->next->element;
        if (element != nullptr && element->isEqual(probe)) {
            return removeAfter(before);
        }
    }
    return nullptr;
}

void RWSlistCollectables::apply(RWapplyCollectable function, void* data) const {
    for (RWSlistLink* link = firstLink(); link != end(); link = link->next) {
        function(link->element, data);
    }
}

RWCollectable* RWSlistCollectables::append(RWCollectable* element) {
    RWSlist::append(element);
    return element;
}

RWCollectable* RWSlistCollectables::first() const {
    return count() == 0 ? nullptr : firstLink()->element;
}

RWCollectable* RWSlistCollectables::last() const {
    return count() == 0 ? nullptr : lastLink()->element;
}

RWCollectable* RWSlistCollectables::removeFirst() {
    return count() == 0 ? nullptr : removeAfter(headLink());
}

RWCollectable* RWSlistCollectables::removeReference(const RWCollectable* element,
                                                    RWSlist& unlinked) {
    for (RWSlistLink* before = headLink(); before->next != end(); before = before->next) {
        if (before->next->element == element) {
            RWSlistLink* link = unlinkAfter(before);
            unlinked.appendLink(link);
            return link->element;
        }
    }
    return nullptr;
}

RWCollectable* RWSlistCollectables::removeReference(const RWCollectable* element) {
    for (RWSlistLink* before = headLink(); before->next != end(); before = before->next) {
        if (before->next->element == element) {
            return removeAfter(before);
        }
    }
    return nullptr;
}
