// The process-wide registry of collectable classes: each enters a creator
// under its class identifier and, unless it has none, its string identifier.
// The one instance is created by the first registration and destroyed when
// its last entry goes, so none is left at the end of the exit sequence.
// Safe to call from static initialisation and exit handlers in any order:
// its locks and instance pointer are constant-initialised.
#pragma once

#include <string_view>

#include "support/collections/RWCollectable.h"
#include "support/collections/RWFactoryAssociations.h"
#include "support/collections/RWSet.h"

class RWFactory {
  public:
    RWFactory(const RWFactory&) = delete;
    RWFactory& operator=(const RWFactory&) = delete;

    // Registering a key again counts one more registration of it; each
    // removal undoes one. "NoID" and "No_RWStringID" give no string entry.
    // Allocation failure propagates; registrations made before it stay.
    static void addCreator(RWUserCreator creator, RWClassID id, std::string_view stringId);
    // Removing a class that is not registered does nothing.
    static void removeCreatorById(RWClassID id);
    static void removeCreatorByStringId(std::string_view stringId);

    // The registered creator, or nullptr.
    static RWUserCreator getCreator(RWClassID id);
    static RWUserCreator getCreator(std::string_view stringId);
    // A new object of the registered class, or nullptr when none is.
    static RWCollectable* create(RWClassID id);
    static RWCollectable* create(std::string_view stringId);

    static bool instanceExists();

  private:
    RWFactory();
    ~RWFactory();

    static RWFactory* instanceLocked(bool create);
    static void releaseIfEmpty(RWFactory* factory);

    RWSet entries_;
};

// Registers a class for the life of a static object: built at program start,
// it adds the creator; destroyed at exit, it removes the class by identifier
// and then by string identifier. `stringId` must outlive the object.
class RWFactoryRegistration {
  public:
    RWFactoryRegistration(RWUserCreator creator, RWClassID id, const char* stringId);
    ~RWFactoryRegistration();
    RWFactoryRegistration(const RWFactoryRegistration&) = delete;
    RWFactoryRegistration& operator=(const RWFactoryRegistration&) = delete;

  private:
    RWClassID id_;
    const char* stringId_;
};
