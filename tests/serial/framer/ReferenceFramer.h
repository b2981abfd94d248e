#pragma once
// A deliberately naive framer written straight from the framing rules: recursive scan, the
// buffer as one string that is cut by copying, markers searched in case-folded copies. It is
// slow and its stack grows with every packet, but every step is plain to check, so the real
// framer's loop, offsets and resumed searches are compared against it.

#include <cstdint>
#include <string>
#include <string_view>

#include "ComDataPacket.h"

class ReferenceFramer {
public:
    // --- the same surface the tests drive on TComDataPacket ---
    void SetStartString(const std::string& v) { Write(start_, v); }
    void SetStopString(const std::string& v) { Write(stop_, v); }
    void SetSize(std::int32_t v) { Write(size_, v); }
    void SetCaseInsensitive(bool v) { Write(caseInsensitive_, v); }
    void SetIncludeStrings(bool v) { includeStrings_ = v; }
    void SetMaxBufferSize(std::int32_t v) { maxBufferSize_ = v; }
    const std::string& StopString() const { return stop_; }
    const std::string& StartString() const { return start_; }
    std::string_view Buffer() const { return buffer_; }
    bool PacketOpen() const { return packetOpen_; }
    void ResetBuffer() { DiscardBuffer(); }

    TComStrEvent OnDiscard;
    TComStrEvent OnPacket;
    TCustPacketEvent OnCustomStart;
    TCustPacketEvent OnCustomStop;

    void AppendChunk(std::string_view chunk) {
        const std::string copy(chunk);
        if (HasStopRule()) {
            buffer_ += copy;
            ScanBuffer();
        } else {
            FirePacket(copy);
        }
    }

private:
    template <typename T>
    void Write(T& field, const T& value) {
        if (field == value) return;
        field = value;
        DiscardBuffer();
        packetOpen_ = false;  // a packet opened under the old rules is not continued
    }

    bool HasStopRule() const { return size_ > 0 || !stop_.empty() || bool(OnCustomStop); }

    std::string FoldCase(std::string s) const {
        if (caseInsensitive_)
            for (char& c : s)
                if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
        return s;
    }

    // 1-based position of the first occurrence of `needle` in `hay`; 0 when absent.
    static std::int64_t Pos(const std::string& needle, const std::string& hay) {
        if (needle.empty()) return 0;
        const auto at = hay.find(needle);
        return at == std::string::npos ? 0 : static_cast<std::int64_t>(at) + 1;
    }

    void ScanBuffer() {
        try {
            if (!packetOpen_) LocateStart();
            if (packetOpen_) {
                LocateStop();
                if (!packetOpen_) ScanBuffer();
            }
        } catch (...) {
            LimitTest();  // when this raises, its exception goes on instead
            throw;
        }
        LimitTest();
    }

    void LimitTest() {
        if (maxBufferSize_ > 0 &&
            static_cast<std::int64_t>(buffer_.size()) >= maxBufferSize_)
            DiscardBuffer();
    }

    void LocateStart() {
        std::int32_t pos = -1;
        if (OnCustomStart) {
            const std::string copy = buffer_;
            OnCustomStart(nullptr, copy, pos);
        }
        if (pos > 0) CutLeading(pos);
        if (pos == -1) {
            if (!start_.empty()) {
                const std::int64_t p = Pos(FoldCase(start_), FoldCase(buffer_));
                if (p > 0) CutLeading(p);
            } else {
                packetOpen_ = true;
            }
        }
    }

    void CutLeading(std::int64_t p) {
        packetOpen_ = true;
        if (p > 1) {
            const std::string removed = buffer_.substr(0, static_cast<std::size_t>(p - 1));
            buffer_.erase(0, static_cast<std::size_t>(p - 1));
            FireDiscard(removed);
        }
    }

    void LocateStop() {
        std::int32_t pos = -1;
        if (OnCustomStop) {
            const std::string copy = buffer_;
            OnCustomStop(nullptr, copy, pos);
        }
        std::int64_t n = 0;
        bool ended = false;
        if (pos > 0) {
            if (!buffer_.empty()) {  // an empty buffer holds no packet
                n = pos;
                ended = true;
            }
        } else if (pos == -1) {
            const auto ls = static_cast<std::int64_t>(start_.size());
            if (size_ > 0 && static_cast<std::int64_t>(buffer_.size()) >= size_) {
                n = size_;
                ended = true;
            } else {
                const std::string rest =
                    ls < static_cast<std::int64_t>(buffer_.size()) ? buffer_.substr(ls) : "";
                const std::int64_t p = Pos(FoldCase(stop_), FoldCase(rest));
                if (p > 0) {
                    n = ls + p + static_cast<std::int64_t>(stop_.size()) - 1;
                    ended = true;
                }
            }
        }
        if (!ended) return;
        packetOpen_ = false;
        EmitPacket(n);
    }

    void EmitPacket(std::int64_t n) {
        std::string packet = buffer_.substr(0, static_cast<std::size_t>(n));
        buffer_.erase(0, static_cast<std::size_t>(n));
        StripMarkers(packet);
        FirePacket(packet);
    }

    void StripMarkers(std::string& packet) const {
        if (includeStrings_) return;
        if (!start_.empty() && Pos(FoldCase(start_), FoldCase(packet)) == 1)
            packet.erase(0, start_.size());
        if (!stop_.empty()) {
            const auto len = static_cast<std::int64_t>(packet.size());
            const auto ls = static_cast<std::int64_t>(stop_.size());
            const std::int64_t p = Pos(FoldCase(stop_), FoldCase(packet));
            if (p > 0 && p == len - ls + 1)
                packet.erase(static_cast<std::size_t>(len - ls));
        }
    }

    void DiscardBuffer() {
        if (buffer_.empty()) return;
        try {
            FireDiscard(buffer_);
        } catch (...) {
            buffer_.clear();
            packetOpen_ = false;
            throw;
        }
        buffer_.clear();
        packetOpen_ = false;
    }

    void FirePacket(const std::string& s) {
        if (OnPacket) OnPacket(nullptr, s);
    }
    void FireDiscard(const std::string& s) {
        if (OnDiscard) {
            const std::string copy = s;  // the handler may change the buffer
            OnDiscard(nullptr, copy);
        }
    }

    std::string start_;
    std::string stop_;
    std::int32_t maxBufferSize_ = 1024;
    std::int32_t size_ = 0;
    bool includeStrings_ = false;
    bool caseInsensitive_ = false;
    bool packetOpen_ = false;
    std::string buffer_;
};
