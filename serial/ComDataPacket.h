#pragma once
// The packet framer: listens to one port through its own link and cuts the received byte
// stream into packets by a start string, a stop string, a fixed size or a caller's own
// search. Runs on whichever thread runs the port's event steps; takes no locks.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "CPort.h"
#include "Component.h"

// One string: a packet, or bytes thrown away.
using TComStrEvent = std::function<void(TObject* Sender, const std::string& Str)>;
// A caller's search in the whole unfinished buffer; answers through Pos (-1 on entry).
using TCustPacketEvent =
    std::function<void(TObject* Sender, const std::string& Str, std::int32_t& Pos)>;

class TComDataPacket : public TComponent {
public:
    explicit TComDataPacket(TComponent* owner = nullptr);
    ~TComDataPacket() override;
    const char* ClassName() const override { return "TComDataPacket"; }

    // --- published properties ---
    TCustomComPort* ComPort() const { return comPort_; }
    void SetComPort(TCustomComPort* value);
    bool CaseInsensitive() const { return caseInsensitive_; }
    void SetCaseInsensitive(bool value);
    bool IncludeStrings() const { return includeStrings_; }
    void SetIncludeStrings(bool value) { includeStrings_ = value; }
    std::int32_t MaxBufferSize() const { return maxBufferSize_; }
    void SetMaxBufferSize(std::int32_t value) { maxBufferSize_ = value; }
    const std::string& StartString() const { return startString_; }
    void SetStartString(const std::string& value);
    const std::string& StopString() const { return stopString_; }
    void SetStopString(const std::string& value);
    std::int32_t Size() const { return size_; }
    void SetSize(std::int32_t value);

    // --- state ---
    // A start has been found and a packet is being collected.
    bool PacketOpen() const { return packetOpen_; }
    // The received bytes not yet delivered or discarded. Valid until the buffer next changes.
    std::string_view Buffer() const { return {buf_.data() + head_, buf_.size() - head_}; }
    // Size, a stop string or an OnCustomStop handler; without one each chunk is a packet.
    bool HasStopRule() const;

    // Hands the whole buffer to OnDiscard and starts afresh; nothing happens when it is empty.
    void ResetBuffer() { DiscardBuffer(); }

    // The receive handler bound to the link's OnRxData: `Count` bytes at `Data`, valid only
    // during the call.
    void ReceiveData(TObject* Sender, const std::uint8_t* Data, std::int32_t Count);
    // One received chunk: collected and scanned, or delivered at once without a stop rule.
    void AppendChunk(std::string_view Chunk);

    // --- events ---
    TComStrEvent OnDiscard;
    TComStrEvent OnPacket;
    TCustPacketEvent OnCustomStart;
    TCustPacketEvent OnCustomStop;

protected:
    // Cuts every packet the buffer completes, then applies the size limit.
    virtual void ScanBuffer();

    // Event hooks: each fires its handler when one is set. The custom hooks get a view of the
    // buffer so that a string is built only for a handler that wants one.
    virtual void DoDiscard(const std::string& Str);
    virtual void DoPacket(const std::string& Str);
    virtual void DoCustomStart(std::string_view Str, std::int32_t& Pos);
    virtual void DoCustomStop(std::string_view Str, std::int32_t& Pos);

    void Notification(TComponent* component, TOperation operation) override;

private:
    // The scan's steps, inlined because they run once per packet; defined (and used) only
    // in the framer's own source. Positions count from 1, as the custom handlers give them.
    [[gnu::always_inline]] inline void LocateStart();
    void CutLeading(std::int64_t p);
    [[gnu::always_inline]] inline void LocateStop();
    [[gnu::always_inline]] inline void EmitPacket(std::size_t n, bool endsWithStop);
    // The part of `packet` that is delivered: without its markers unless IncludeStrings.
    [[gnu::always_inline]] inline std::string_view StripMarkers(std::string_view packet,
                                                                 bool endsWithStop) const;
    // ASCII a..z to A..Z when CaseInsensitive is on; the text itself otherwise.
    std::string FoldCase(std::string_view s) const;
    void DiscardBuffer();

    // First occurrence of a folded needle in `hay` at or after `from` (npos when absent).
    [[gnu::always_inline]] inline std::size_t Find(std::string_view hay,
                                                   std::string_view foldedNeedle,
                                                   std::size_t from) const;
    bool SameFolded(std::string_view text, std::string_view foldedNeedle) const;
    void RefoldMarkers();
    // A framing rule was written: unless loading, start afresh under the new rules.
    void RulesChanged();
    inline void CutFront(std::size_t n);
    void ClearBuffer();
    inline void CheckLimit();

    TComLink link_;
    TCustomComPort* comPort_ = nullptr;
    std::string startString_;
    std::string stopString_;
    std::int32_t maxBufferSize_ = 1024;
    std::int32_t size_ = 0;
    bool includeStrings_ = false;
    bool caseInsensitive_ = false;
    bool packetOpen_ = false;

    // The buffer is buf_ from head_ on: cutting a packet moves head_, and the dead front is
    // dropped when a chunk is appended, so k packets from one chunk cost one pass.
    std::string buf_;
    std::size_t head_ = 0;
    // Where the next start or stop search resumes (offsets into the buffer): an unfinished
    // packet fed in small chunks is not searched again from its beginning each time.
    std::size_t startResume_ = 0;
    std::size_t stopResume_ = 0;
    std::string foldedStart_;
    std::string foldedStop_;
    // Reused for every packet, so a line costs no allocation; a handler that feeds the framer
    // again gets a string of its own.
    std::string packet_;
    bool packetBusy_ = false;
};
