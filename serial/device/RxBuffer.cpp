#include "RxBuffer.h"

#include <algorithm>
#include <cstring>

namespace device::tty {

std::size_t RxQueue::Push(const std::uint8_t* data, std::size_t n) {
    n = std::min(n, Room());
    const std::size_t cap = buf_.size();
    std::size_t tail = (head_ + size_) % (cap ? cap : 1);
    std::size_t done = 0;
    while (done < n) {
        const std::size_t chunk = std::min(n - done, cap - tail);
        std::memcpy(buf_.data() + tail, data + done, chunk);
        done += chunk;
        tail = (tail + chunk) % cap;
    }
    size_ += n;
    return n;
}

std::size_t RxQueue::Pop(std::uint8_t* out, std::size_t n) {
    n = std::min(n, size_);
    const std::size_t cap = buf_.size();
    std::size_t done = 0;
    while (done < n) {
        const std::size_t chunk = std::min(n - done, cap - head_);
        std::memcpy(out + done, buf_.data() + head_, chunk);
        done += chunk;
        head_ = (head_ + chunk) % cap;
    }
    size_ -= n;
    if (size_ == 0) head_ = 0;
    return n;
}

std::size_t RxQueue::Resize(std::size_t capacity) {
    std::vector<std::uint8_t> kept(size_);
    Pop(kept.data(), size_);
    const std::size_t keep = std::min(kept.size(), capacity);
    buf_.assign(capacity, 0);
    head_ = size_ = 0;
    Push(kept.data(), keep);
    return kept.size() - keep;
}

std::size_t RxDecoder::Decode(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                              RxMarks& marks) {
    std::size_t k = 0;
    auto emit = [&](std::uint8_t c) {
        if (!(discardNull && c == 0)) out[k++] = c;
    };
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t c = in[i];
        switch (state_) {
            case 0:
                if (c == 0xFF)
                    state_ = 1;
                else
                    emit(c);
                break;
            case 1:
                if (c == 0xFF) {
                    emit(0xFF);
                    state_ = 0;
                } else if (c == 0) {
                    state_ = 2;
                } else {  // cannot come from the kernel with PARMRK on: keep both bytes
                    emit(0xFF);
                    emit(c);
                    state_ = 0;
                }
                break;
            default:
                state_ = 0;
                if (c == 0) {
                    ++marks.zeroMarks;
                } else {
                    ++marks.charMarks;
                    emit(replace ? replaceChar : c);
                }
                break;
        }
    }
    return k;
}

}  // namespace device::tty
