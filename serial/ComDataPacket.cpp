#include "ComDataPacket.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "AsciiText.h"
#include "Errors.h"

namespace {

constexpr std::size_t npos = std::string_view::npos;
// A packet string that grew beyond this is released after its handler has run, so one
// oversized packet does not pin its memory for the framer's lifetime.
constexpr std::size_t kKeptPacketCapacity = 64 * 1024;


}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction

TComDataPacket::TComDataPacket(TComponent* owner) : TComponent(owner) {
    // Bound before any attach, so the port counts us as a link that takes received buffers.
    link_.OnRxData = [this](TObject* Sender, const std::uint8_t* Data, std::int32_t Count) {
        ReceiveData(Sender, Data, Count);
    };
}

TComDataPacket::~TComDataPacket() {
    try {
        SetComPort(nullptr);
    } catch (...) {
        framework::ShowCurrentException();
    }
}

// ---------------------------------------------------------------------------------------------
// Properties

void TComDataPacket::SetComPort(TCustomComPort* value) {
    if (value == comPort_) return;
    if (comPort_) {
        comPort_->DetachLink(&link_);
        RemoveFreeNotification(comPort_);
    }
    comPort_ = value;
    if (comPort_) {
        FreeNotification(comPort_);
        comPort_->AttachLink(&link_);
    }
}

void TComDataPacket::SetCaseInsensitive(bool value) {
    if (value == caseInsensitive_) return;
    caseInsensitive_ = value;
    RefoldMarkers();
    RulesChanged();
}

void TComDataPacket::SetStartString(const std::string& value) {
    if (value == startString_) return;
    startString_ = value;
    RefoldMarkers();
    RulesChanged();
}

void TComDataPacket::SetStopString(const std::string& value) {
    if (value == stopString_) return;
    stopString_ = value;
    RefoldMarkers();
    RulesChanged();
}

void TComDataPacket::SetSize(std::int32_t value) {
    if (value == size_) return;
    size_ = value;
    RulesChanged();
}

void TComDataPacket::RulesChanged() {
    if (IsLoading()) return;
    DiscardBuffer();
    // Closed also when nothing was buffered: a packet opened under the old rules (at once,
    // for want of a start string) must not let the next bytes skip a new start string.
    packetOpen_ = false;
}

bool TComDataPacket::HasStopRule() const {
    return size_ > 0 || !stopString_.empty() || static_cast<bool>(OnCustomStop);
}

void TComDataPacket::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    // The port still holds its link list while it tells us it is going.
    if (operation == TOperation::opRemove && component && component == comPort_)
        SetComPort(nullptr);
}

// ---------------------------------------------------------------------------------------------
// Receiving

void TComDataPacket::ReceiveData(TObject* /*Sender*/, const std::uint8_t* Data,
                                 std::int32_t Count) {
    if (!Data || Count <= 0) {
        AppendChunk({});
        return;
    }
    AppendChunk(std::string_view(reinterpret_cast<const char*>(Data),
                                 static_cast<std::size_t>(Count)));
}

void TComDataPacket::AppendChunk(std::string_view Chunk) {
    if (!HasStopRule()) {
        DoPacket(std::string(Chunk));
        return;
    }
    // Drop the dead front once it is at least as long as what is still live: a compaction
    // never moves more bytes than were consumed since the last one, so it costs O(1) per
    // received byte whatever the chunk sizes.
    if (head_ > 0 && head_ >= buf_.size() - head_) {
        buf_.erase(0, head_);
        head_ = 0;
    }
    buf_.append(Chunk);
    ScanBuffer();
}

// ---------------------------------------------------------------------------------------------
// Scanning

void TComDataPacket::ScanBuffer() {
    // One pass per packet, in a loop rather than by recursion, so a chunk of many short
    // packets does not deepen the stack. Each pass owes one limit test; they all run after
    // the last pass, also when a step or a handler raised, and a test that raises takes the
    // place of the exception in flight, as nested clean-up would.
    std::size_t passes = 0;
    std::exception_ptr failure;
    try {
        for (;;) {
            ++passes;
            if (!packetOpen_) LocateStart();
            if (!packetOpen_) break;
            LocateStop();
            if (packetOpen_) break;
        }
    } catch (...) {
        failure = std::current_exception();
    }
    for (; passes > 0; --passes) {
        try {
            CheckLimit();
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (failure) std::rethrow_exception(failure);
}

void TComDataPacket::CheckLimit() {
    if (maxBufferSize_ > 0 && Buffer().size() >= static_cast<std::size_t>(maxBufferSize_))
        DiscardBuffer();
}

void TComDataPacket::LocateStart() {
    std::int32_t pos = -1;
    DoCustomStart(Buffer(), pos);
    if (pos > 0) {
        CutLeading(pos);
        return;
    }
    if (pos != -1) return;  // the handler says the buffer holds no start
    if (startString_.empty()) {
        packetOpen_ = true;
        return;
    }
    const std::string_view live = Buffer();
    const std::size_t from = startResume_;
    const std::size_t at = Find(live, foldedStart_, from);
    if (at == npos) {
        // Only a start that is still partly missing can begin in the last bytes.
        const std::size_t m = foldedStart_.size();
        if (live.size() + 1 > m) startResume_ = std::max(from, live.size() + 1 - m);
        return;
    }
    CutLeading(static_cast<std::int64_t>(at) + 1);
}

void TComDataPacket::CutLeading(std::int64_t p) {
    packetOpen_ = true;
    if (p <= 1) return;
    const std::string_view live = Buffer();
    const std::size_t k = static_cast<std::size_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(p - 1), live.size()));
    std::string removed(live.substr(0, k));
    CutFront(k);
    DoDiscard(removed);
}

void TComDataPacket::LocateStop() {
    std::int32_t pos = -1;
    DoCustomStop(Buffer(), pos);
    std::size_t n = 0;
    bool ended = false;
    bool endsWithStop = false;
    if (pos > 0) {
        // An empty buffer holds no packet. Cutting one anyway would consume nothing, and the
        // next pass would ask the same handler about the same empty buffer without end.
        if (!Buffer().empty()) {
            n = static_cast<std::size_t>(pos);
            ended = true;
        }
    } else if (pos == -1) {
        const std::string_view live = Buffer();
        if (size_ > 0 && live.size() >= static_cast<std::size_t>(size_)) {
            n = static_cast<std::size_t>(size_);
            ended = true;
        } else if (!foldedStop_.empty()) {
            // Never inside the start string's place.
            const std::size_t ls = startString_.size();
            const std::size_t from = std::max(ls, stopResume_);
            const std::size_t at = Find(live, foldedStop_, from);
            if (at != npos) {
                n = at + foldedStop_.size();
                ended = true;
                endsWithStop = true;
            } else {
                const std::size_t m = foldedStop_.size();
                if (live.size() + 1 > m) stopResume_ = std::max(from, live.size() + 1 - m);
            }
        }
    }
    if (!ended) return;
    packetOpen_ = false;
    EmitPacket(n, endsWithStop);
}

void TComDataPacket::EmitPacket(std::size_t n, bool endsWithStop) {
    const std::string_view live = Buffer();
    n = std::min(n, live.size());
    // Only the bytes kept after stripping the markers are copied out.
    const std::string_view kept = StripMarkers(live.substr(0, n), endsWithStop);
    if (packetBusy_) {
        // A handler fed us again while its own packet string is still in use.
        const std::string packet(kept);
        CutFront(n);
        DoPacket(packet);
        return;
    }
    // Resize and copy rather than assign: lines of one length then cost a plain copy.
    packet_.resize(kept.size());
    if (!kept.empty()) std::memcpy(packet_.data(), kept.data(), kept.size());
    CutFront(n);
    packetBusy_ = true;
    try {
        DoPacket(packet_);
    } catch (...) {
        packetBusy_ = false;
        throw;
    }
    packetBusy_ = false;
    if (packet_.capacity() > kKeptPacketCapacity) std::string().swap(packet_);
}

std::string_view TComDataPacket::StripMarkers(std::string_view packet,
                                              bool endsWithStop) const {
    if (includeStrings_) return packet;
    const std::size_t ls = startString_.size();
    if (ls > 0 && packet.size() >= ls && SameFolded(packet.substr(0, ls), foldedStart_)) {
        packet.remove_prefix(ls);
    } else if (ls > 0) {
        endsWithStop = false;  // what is left is not what the stop search looked at
    }
    const std::size_t m = stopString_.size();
    // A packet cut at a stop string found behind the start has that occurrence as its first
    // in what is left; only otherwise must the first occurrence be looked for.
    if (m > 0 && packet.size() >= m &&
        (endsWithStop || Find(packet, foldedStop_, 0) == packet.size() - m))
        packet.remove_suffix(m);
    return packet;
}

std::string TComDataPacket::FoldCase(std::string_view s) const {
    std::string out(s);
    if (caseInsensitive_)
        for (char& c : out) c = framework::UpperAscii(c);
    return out;
}

void TComDataPacket::DiscardBuffer() {
    if (Buffer().empty()) return;
    const std::string all(Buffer());
    try {
        DoDiscard(all);
    } catch (...) {
        ClearBuffer();
        packetOpen_ = false;
        throw;
    }
    ClearBuffer();
    packetOpen_ = false;
}

// ---------------------------------------------------------------------------------------------
// Buffer and search helpers

void TComDataPacket::RefoldMarkers() {
    foldedStart_ = FoldCase(startString_);
    foldedStop_ = FoldCase(stopString_);
    startResume_ = 0;
    stopResume_ = 0;
}

void TComDataPacket::CutFront(std::size_t n) {
    if (n == 0) return;
    head_ += n;
    if (head_ >= buf_.size()) {
        buf_.clear();
        head_ = 0;
    }
    startResume_ = 0;
    stopResume_ = 0;
}

void TComDataPacket::ClearBuffer() {
    buf_.clear();
    head_ = 0;
    startResume_ = 0;
    stopResume_ = 0;
}

bool TComDataPacket::SameFolded(std::string_view text, std::string_view foldedNeedle) const {
    // The needle is already folded, so folding both sides changes nothing for it.
    return caseInsensitive_ ? framework::SameTextAscii(text, foldedNeedle) : text == foldedNeedle;
}

std::size_t TComDataPacket::Find(std::string_view hay, std::string_view foldedNeedle,
                                 std::size_t from) const {
    const std::size_t m = foldedNeedle.size();
    if (m == 0 || from > hay.size() || hay.size() - from < m) return npos;
    const std::size_t last = hay.size() - m;  // the last place a match can begin
    if (!caseInsensitive_) {
        // memchr for the first byte; the rest is compared only where that byte is found.
        const char* const base = hay.data();
        const char* p = base + from;
        while (p <= base + last) {
            p = static_cast<const char*>(
                std::memchr(p, foldedNeedle[0], static_cast<std::size_t>(base + last - p) + 1));
            if (!p) return npos;
            if (m == 1 || std::memcmp(p + 1, foldedNeedle.data() + 1, m - 1) == 0)
                return static_cast<std::size_t>(p - base);
            ++p;
        }
        return npos;
    }
    // The needle is folded, so its first byte is matched by itself or, for a letter, by the
    // lower-case form too.
    const auto first = static_cast<unsigned char>(foldedNeedle[0]);
    const bool letter = first >= 'A' && first <= 'Z';
    for (std::size_t i = from; i <= last; ++i) {
        const auto c = static_cast<unsigned char>(hay[i]);
        if (c != first && !(letter && c == first + 0x20)) continue;
        if (SameFolded(hay.substr(i + 1, m - 1), foldedNeedle.substr(1))) return i;
    }
    return npos;
}

// ---------------------------------------------------------------------------------------------
// Event hooks

void TComDataPacket::DoDiscard(const std::string& Str) {
    if (OnDiscard) OnDiscard(this, Str);
}

void TComDataPacket::DoPacket(const std::string& Str) {
    if (OnPacket) OnPacket(this, Str);
}

void TComDataPacket::DoCustomStart(std::string_view Str, std::int32_t& Pos) {
    if (!OnCustomStart) return;
    const std::string str(Str);
    OnCustomStart(this, str, Pos);
}

void TComDataPacket::DoCustomStop(std::string_view Str, std::int32_t& Pos) {
    if (!OnCustomStop) return;
    const std::string str(Str);
    OnCustomStop(this, str, Pos);
}
