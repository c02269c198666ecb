// The base of the synchronisation objects: each one is its own system
// object (a mutex, a condition, a semaphore), which a copy could not share.
#pragma once

class Uncopyable {
  protected:
    Uncopyable() = default;
    ~Uncopyable() = default;

  public:
    Uncopyable(const Uncopyable&) = delete;
    Uncopyable& operator=(const Uncopyable&) = delete;
};
