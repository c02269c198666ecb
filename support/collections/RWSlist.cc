#include "support/collections/RWSlist.h"

RWSlist::RWSlist() : head_{&tail_, nullptr}, tail_{&tail_, nullptr}, last_(&head_), count_(0) {}

RWSlist::~RWSlist() {
    clear();
}

void RWSlist::linkAfter(RWSlistLink* at, RWSlistLink* link) {
    link->next = at->next;
    at->next = link;
    if (at == last_) {
        last_ = link;
    }
    ++count_;
}

RWSlistLink* RWSlist::unlinkAfter(RWSlistLink* at) {
    RWSlistLink* link = at->next;
    at->next = link->next;
    if (link == last_) {
        last_ = at;
    }
    --count_;
    return link;
}

void RWSlist::insertAfter(RWSlistLink* at, RWCollectable* element) {
    linkAfter(at, new RWSlistLink{nullptr, element});
}

RWCollectable* RWSlist::removeAfter(RWSlistLink* at) {
    RWSlistLink* link = unlinkAfter(at);
    RWCollectable* element = link->element;
    delete link;
    return element;
}

RWSlistLink* RWSlist::unlinkFirst() {
    return unlinkAfter(&head_);
}

void RWSlist::appendLink(RWSlistLink* link) {
    linkAfter(last_, link);
}

void RWSlist::appendAllLinks(RWSlist& other) {
    if (other.count_ == 0) {
        return;
    }
    last_->next = other.head_.next;
    // The moved chain ended at the other list's sentinel; it ends at ours now.
    other.last_->next = &tail_;
    last_ = other.last_;
    count_ += other.count_;
    other.head_.next = &other.tail_;
    other.last_ = &other.head_;
    other.count_ = 0;
}

void RWSlist::clear() {
    RWSlistLink* link = head_.next;
    while (link != &tail_) {
        RWSlistLink* next = link->next;
        delete link;
        link = next;
    }
    head_.next = &tail_;
    last_ = &head_;
    count_ = 0;
}
