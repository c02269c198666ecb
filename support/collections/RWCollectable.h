// The common base of everything the collections hold. A collection stores
// pointers to collectables and learns about them only through these virtual
// operations: a hash to pick a bucket and equality to pick the element.
#pragma once

#include <cstdint>

// Class identifiers are unsigned 16-bit values, one per class. The library's
// own classes use 0x8000 and up; application classes take smaller values.
using RWClassID = std::uint16_t;

inline constexpr RWClassID RW_COLLECTABLE_CLASS_ID = 0x8007;
inline constexpr RWClassID RW_CLASS_ID_ASSOCIATION_CLASS_ID = 0x8062;
inline constexpr RWClassID RW_STRING_ID_ASSOCIATION_CLASS_ID = 0x8063;
inline constexpr RWClassID RW_HASH_TABLE_CLASS_ID = 0x8040;
inline constexpr RWClassID RW_SET_CLASS_ID = 0x8041;
inline constexpr RWClassID RW_SLIST_COLLECTABLES_CLASS_ID = 0x8042;
inline constexpr RWClassID RW_SLIST_COLLECTABLES_QUEUE_CLASS_ID = 0x8043;

// The string identifier of the base class, and the two texts that mean a
// class has no string identifier at all.
inline constexpr const char* RW_COLLECTABLE_STRING_ID = "RWCollectable";
inline constexpr const char* RW_NO_STRING_ID = "NoID";
inline constexpr const char* RW_NO_STRING_ID_LONG = "No_RWStringID";

class RWCollectable {
  public:
    RWCollectable() = default;
    RWCollectable(const RWCollectable&) = default;
    RWCollectable& operator=(const RWCollectable&) = default;

    // A class created by the factory overrides these five with its own class.
    virtual RWCollectable* newInstance() const;
    virtual RWCollectable* copy() const;
    virtual RWClassID classId() const;
    virtual RWCollectable* selfAsCollectable();
    virtual const RWCollectable* selfAsCollectable() const;

    virtual ~RWCollectable();

    // Bytes that storing the object would take; nothing here is ever stored.
    virtual std::uint32_t storeSize() const;

    // Orders by address: 0 for this object, 1 when `other` lies lower,
    // -1 when it lies higher.
    virtual int compareTo(const RWCollectable* other) const;

    // Equal objects must hash alike: a hashed collection searches only the
    // bucket the probe's hash selects. The base hashes and compares identity.
    virtual std::uint32_t hash() const;
    virtual bool isEqual(const RWCollectable* other) const;
};

// The factory creator of the base class: a new default RWCollectable.
RWCollectable* rwCreateRWCollectable();
