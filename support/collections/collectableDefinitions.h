// The overrides that every collectable class declares and defines alike,
// written once.
#pragma once

#include "support/collections/RWCollectable.h"

// In the class body: the declarations of what LC_DEFINE_COLLECTABLE defines.
#define LC_COLLECTABLE_OVERRIDES                 \
    RWCollectable* newInstance() const override; \
    RWCollectable* copy() const override;        \
    RWClassID classId() const override

// In the class's .cc file, at namespace scope: newInstance (a default-made
// object), copy (a copy-made one) and classId (`classID`) of `Class`.
#define LC_DEFINE_COLLECTABLE(Class, classID)   \
    RWCollectable* Class::newInstance() const { \
        return new Class;                       \
    }                                           \
    RWCollectable* Class::copy() const {        \
        return new Class(*this);                \
    }                                           \
    RWClassID Class::classId() const {          \
        return classID;                         \
    }

// In the .cc file of a class that overrides selfAsCollectable as well: both
// overrides, the object itself.
#define LC_DEFINE_SELF_AS_COLLECTABLE(Class)                \
    RWCollectable* Class::selfAsCollectable() {             \
        return this;                                        \
    }                                                       \
    const RWCollectable* Class::selfAsCollectable() const { \
        return this;                                        \
    }
