#include "support/collections/RWFactory.h"

#include <pthread.h>

#include <atomic>
#include <memory>

namespace {

// Plain platform mutexes and an atomic pointer, all constant-initialised
// and never destroyed, so registrations work before any constructor of this
// library has run and after every destructor has.
//
// Lock order: contentsMutex, then instanceMutex. Every use of the instance
// happens under contentsMutex and so does its destruction, so no caller can
// hold a pointer to an instance that another thread frees.
constinit pthread_mutex_t instanceMutex = PTHREAD_MUTEX_INITIALIZER;
constinit pthread_mutex_t contentsMutex = PTHREAD_MUTEX_INITIALIZER;
constinit std::atomic<RWFactory*> factoryInstance{nullptr};

class MutexGuard {
  public:
    explicit MutexGuard(pthread_mutex_t& mutex) : mutex_(mutex) { pthread_mutex_lock(&mutex_); }
    ~MutexGuard() { pthread_mutex_unlock(&mutex_); }
    MutexGuard(const MutexGuard&) = delete;
    MutexGuard& operator=(const MutexGuard&) = delete;

  private:
    pthread_mutex_t& mutex_;
};

bool hasNoStringId(std::string_view stringId) {
    return stringId == RW_NO_STRING_ID || stringId == RW_NO_STRING_ID_LONG;
}

// Counts one more registration of the entry's key: on the stored equal
// entry if there is one (the new one is then dropped), else on the new one,
// which the set takes.
template <class Entry>
void registerEntry(RWSet& entries, std::unique_ptr<Entry> entry) {
    RWCollectable* stored = entries.insert(entry.get());
    if (stored != entry.get()) {
        static_cast<Entry*>(stored)->addReference();
        return;
    }
    entry.release()->addReference();
}

// Undoes one registration of the probe's key; the entry goes with its last.
template <class Entry>
void unregisterEntry(RWSet& entries, const Entry& probe) {
    auto* stored = static_cast<Entry*>(entries.find(&probe));
    if (stored != nullptr && stored->removeReference() == 0) {
        entries.removeReference(stored);
        delete stored;
    }
}

template <class Entry>
RWUserCreator creatorOf(const RWSet& entries, const Entry& probe) {
    const auto* stored = static_cast<const Entry*>(entries.find(&probe));
    return stored == nullptr ? nullptr : stored->creator();
}

void deleteEntry(RWCollectable* entry, void*) {
    delete entry;
}

}  // namespace

RWFactory::RWFactory() : entries_(DEFAULT_CAPACITY) {}

RWFactory::~RWFactory() {
    entries_.apply(deleteEntry, nullptr);
    entries_.clear();
}

// Requires contentsMutex. The pointer is tested once without instanceMutex
// and once more under it, so only creation and destruction take it.
RWFactory* RWFactory::instanceLocked(bool create) {
    RWFactory* factory = factoryInstance.load(std::memory_order_acquire);
    if (factory != nullptr || !create) {
        return factory;
    }
    MutexGuard guard(instanceMutex);
    factory = factoryInstance.load(std::memory_order_acquire);
    if (factory == nullptr) {
        factory = new RWFactory;
        factoryInstance.store(factory, std::memory_order_release);
    }
    return factory;
}

// Requires contentsMutex.
void RWFactory::releaseIfEmpty(RWFactory* factory) {
    if (!factory->entries_.isEmpty()) {
        return;
    }
    MutexGuard guard(instanceMutex);
    factoryInstance.store(nullptr, std::memory_order_release);
    delete factory;
}

void RWFactory::addCreator(RWUserCreator creator, RWClassID id, std::string_view stringId) {
    MutexGuard guard(contentsMutex);
    RWFactory* factory = instanceLocked(true);
    try {
        registerEntry(factory->entries_,
                      std::make_unique<RWClassIDAssociation>(id, creator, stringId));
        if (!hasNoStringId(stringId)) {
            registerEntry(factory->entries_,
                          std::make_unique<RWStringIDAssociation>(stringId, creator, id));
        }
    } catch (...) {
        releaseIfEmpty(factory);
        throw;
    }
}

void RWFactory::removeCreatorById(RWClassID id) {
    MutexGuard guard(contentsMutex);
    RWFactory* factory = instanceLocked(false);
    if (factory == nullptr) {
        return;
    }
    unregisterEntry(factory->entries_, RWClassIDAssociation(id, nullptr, {}));
    releaseIfEmpty(factory);
}

void RWFactory::removeCreatorByStringId(std::string_view stringId) {
    MutexGuard guard(contentsMutex);
    RWFactory* factory = instanceLocked(false);
    if (factory == nullptr) {
        return;
    }
    unregisterEntry(factory->entries_, RWStringIDAssociation(stringId, nullptr, 0));
    releaseIfEmpty(factory);
}

RWUserCreator RWFactory::getCreator(RWClassID id) {
    MutexGuard guard(contentsMutex);
    RWFactory* factory = instanceLocked(false);
    return factory == nullptr ? nullptr
                              : creatorOf(factory->entries_, RWClassIDAssociation(id, nullptr, {}));
}

RWUserCreator RWFactory::getCreator(std::string_view stringId) {
    MutexGuard guard(contentsMutex);
    RWFactory* factory = instanceLocked(false);
    return factory == nullptr
               ? nullptr
               : creatorOf(factory->entries_, RWStringIDAssociation(stringId, nullptr, 0));
}

// The creator runs outside the lock, so it may itself use the factory.
RWCollectable* RWFactory::create(RWClassID id) {
    RWUserCreator creator = getCreator(id);
    return creator == nullptr ? nullptr : creator();
}

RWCollectable* RWFactory::create(std::string_view stringId) {
    RWUserCreator creator = getCreator(stringId);
    return creator == nullptr ? nullptr : creator();
}

bool RWFactory::instanceExists() {
    return factoryInstance.load(std::memory_order_acquire) != nullptr;
}

RWFactoryRegistration::RWFactoryRegistration(RWUserCreator creator, RWClassID id,
                                             const char* stringId)
    : id_(id), stringId_(stringId) {
    RWFactory::addCreator(creator, id, stringId);
}

RWFactoryRegistration::~RWFactoryRegistration() {
    RWFactory::removeCreatorById(id_);
    RWFactory::removeCreatorByStringId(stringId_);
}
