// A plain singly linked list of collectable pointers, the storage under the
// collectables list, the queue and every bucket of a hashed collection.
// It never owns the elements, only its links.
#pragma once

#include <cstdint>

class RWCollectable;

struct RWSlistLink {
    RWSlistLink* next;
    RWCollectable* element;
};

// Invariants: head_.next is the first link, or &tail_ when empty; every
// chain ends when a next reaches &tail_, whose own next is itself; last_ is
// the last link, or &head_ when empty; count_ is the number of links.
// Remembering last_ makes appending constant time.
class RWSlist {
  public:
    RWSlist();
    ~RWSlist();
    RWSlist(const RWSlist&) = delete;
    RWSlist& operator=(const RWSlist&) = delete;

    std::uint32_t count() const { return count_; }

    // The first link, or the tail sentinel when empty (compare with end()).
    RWSlistLink* firstLink() const { return head_.next; }
    const RWSlistLink* end() const { return &tail_; }
    RWSlistLink* headLink() { return &head_; }
    RWSlistLink* lastLink() const { return last_; }

    // Allocates a link for `element` after `at` (the head, or a link of this
    // list). The list is unchanged when the allocation fails.
    void insertAfter(RWSlistLink* at, RWCollectable* element);
    void append(RWCollectable* element) { insertAfter(last_, element); }

    // Unlinks the link after `at` (which must not be the last) and frees it.
    RWCollectable* removeAfter(RWSlistLink* at);
    // The same, but hands the link over instead of freeing it.
    RWSlistLink* unlinkAfter(RWSlistLink* at);

    // Moves links between lists without allocating: unlinkFirst requires a
    // non-empty list and hands over the link; appendLink takes one over.
    RWSlistLink* unlinkFirst();
    void appendLink(RWSlistLink* link);
    // Moves every link of `other` to the end of this list in constant time,
    // leaving `other` empty.
    void appendAllLinks(RWSlist& other);

    // Frees every link and leaves the list empty.
    void clear();

  private:
    void linkAfter(RWSlistLink* at, RWSlistLink* link);

    RWSlistLink head_;
    RWSlistLink tail_;
    RWSlistLink* last_;
    std::uint32_t count_;
};
