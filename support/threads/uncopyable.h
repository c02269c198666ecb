// The base of objects that each own something a copy could not share: the
// synchronisation objects (a mutex, a condition, a semaphore), and the tests'
// owners of a directory, a lock or a process.
#pragma once

class Uncopyable {
  protected:
    Uncopyable() = default;
    ~Uncopyable() = default;

  public:
    Uncopyable(const Uncopyable&) = delete;
    Uncopyable& operator=(const Uncopyable&) = delete;
};
