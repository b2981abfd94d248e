#pragma once
// Receive-side building blocks of the tty implementation: the layer's own receive queue and
// the decoder that undoes the kernel's PARMRK marking. Plain data, no locking, no system calls.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace device::tty {

// A byte ring of fixed capacity (the requested input queue size).
class RxQueue {
public:
    explicit RxQueue(std::size_t capacity = 4096) : buf_(capacity) {}

    std::size_t Capacity() const { return buf_.size(); }
    std::size_t Size() const { return size_; }
    std::size_t Room() const { return buf_.size() - size_; }
    // Appends up to Room() bytes; returns how many were taken.
    std::size_t Push(const std::uint8_t* data, std::size_t n);
    // Removes up to n bytes from the front into `out`; returns how many.
    std::size_t Pop(std::uint8_t* out, std::size_t n);
    void Clear() { head_ = size_ = 0; }
    // New capacity; keeps the oldest queued bytes that fit and returns how many were dropped.
    std::size_t Resize(std::size_t capacity);

private:
    std::vector<std::uint8_t> buf_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

// Error marks met while decoding.
struct RxMarks {
    unsigned zeroMarks = 0;  // \377 \0 \0: a break (or a framing/parity error on a NUL byte)
    unsigned charMarks = 0;  // \377 \0 X, X != 0: a parity or framing error on byte X
};

// Decodes bytes read from a tty with PARMRK set: \377 \377 is a data byte 0xFF; \377 \0 X
// marks byte X as received with an error (X is then delivered, or replaced by `replaceChar`
// when `replace` is on); \377 \0 \0 is a break or an error on a NUL and delivers nothing.
// NUL data bytes are dropped when `discardNull` is on (marks are errors, never data). A mark
// split over two reads is completed by the next call.
class RxDecoder {
public:
    bool discardNull = false;
    bool replace = false;
    std::uint8_t replaceChar = 0;

    // `out` must have room for n + 1 bytes; returns the number of data bytes written.
    std::size_t Decode(const std::uint8_t* in, std::size_t n, std::uint8_t* out, RxMarks& marks);
    void Reset() { state_ = 0; }

private:
    int state_ = 0;  // 0 plain, 1 after \377, 2 after \377 \0
};

}  // namespace device::tty
