// Handling of secrets: wipes the compiler may not drop, comparisons whose time
// does not depend on where the first difference lies, and owners that wipe
// what they hold on every way out of the scope that holds them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Overwrites `len` bytes at `p` with zeros, even when `p` is never read again.
void secureZero(void* p, size_t len);

// True when the `len` bytes at `a` and `b` are equal; the time taken depends
// on `len` only.
bool constantTimeEqual(const void* a, const void* b, size_t len);

// N secret bytes, wiped when their owner ends.
template <size_t N>
class WipedBytes {
  public:
    WipedBytes() = default;
    ~WipedBytes() { secureZero(bytes_, N); }
    WipedBytes(const WipedBytes&) = delete;
    WipedBytes& operator=(const WipedBytes&) = delete;

    uint8_t* data() { return bytes_; }
    const uint8_t* data() const { return bytes_; }
    static constexpr size_t size() { return N; }

  private:
    uint8_t bytes_[N];
};

// Secret bytes whose count is known only at run time: inside the owner up to
// `Inline` bytes, so the common sizes cost no allocation, on the heap beyond.
// Only the bytes handed out are wiped, when the owner ends.
template <size_t Inline>
class WipedBuffer {
  public:
    WipedBuffer() = default;
    ~WipedBuffer() {
        secureZero(data_, size_);
        if (data_ != inline_) {
            std::free(data_);
        }
    }
    WipedBuffer(const WipedBuffer&) = delete;
    WipedBuffer& operator=(const WipedBuffer&) = delete;

    // Makes room for `size` bytes, their contents unset; once per owner.
    // False when the heap has no room, and the owner then holds nothing.
    bool reserve(size_t size) {
        data_ = size <= Inline ? inline_ : static_cast<uint8_t*>(std::malloc(size));
        size_ = data_ != nullptr ? size : 0;
        return data_ != nullptr;
    }
    uint8_t* data() { return data_; }
    size_t size() const { return size_; }

  private:
    uint8_t inline_[Inline];
    uint8_t* data_ = inline_;
    size_t size_ = 0;
};
