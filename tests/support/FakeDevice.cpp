#include "FakeDevice.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace device {

const char* FakeDevice::Name(Call call) {
    switch (call) {
        case Call::Open: return "Open";
        case Call::Close: return "Close";
        case Call::SetupComm: return "SetupComm";
        case Call::SetCommState: return "SetCommState";
        case Call::SetCommTimeouts: return "SetCommTimeouts";
        case Call::BeginWrite: return "BeginWrite";
        case Call::BeginRead: return "BeginRead";
        case Call::CompleteOp: return "CompleteOp";
        case Call::Purge: return "Purge";
        case Call::ClearCommError: return "ClearCommError";
        case Call::GetModemStatus: return "GetModemStatus";
        case Call::SetCommMask: return "SetCommMask";
        case Call::WaitCommEvent: return "WaitCommEvent";
    }
    return "?";
}

FakeDevice::FakeDevice() {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

FakeDevice::~FakeDevice() { ::close(wakeFd_); }

SysError FakeDevice::Enter(Call call) {
    calls_.push_back(call);
    if (auto it = failOnce_.find(call); it != failOnce_.end() && !it->second.empty()) {
        const SysError e = it->second.front();
        it->second.pop_front();
        return e;
    }
    if (auto it = fail_.find(call); it != fail_.end()) return it->second;
    return 0;
}

void FakeDevice::Changed() {
    if (waiting_ > 0) {
        const std::uint64_t one = 1;
        while (::write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }
    cv_.notify_all();
}

void FakeDevice::Latch(std::uint32_t bits) {
    latched_ |= bits;
    Changed();
}

// --- Device -------------------------------------------------------------------------------

SysError FakeDevice::Open(const std::string& path) {
    Lock lk(mu_);
    if (const SysError e = Enter(Call::Open)) return e;
    if (open_) return EBUSY;
    open_ = true;
    hungUp_ = false;
    path_ = path;
    return 0;
}

SysError FakeDevice::Close() {
    Lock lk(mu_);
    if (const SysError e = Enter(Call::Close)) return e;
    if (!open_) return EBADF;
    open_ = false;
    queue_.clear();
    latched_ = errors_ = 0;
    ++txEpoch_;  // ends held writes
    Changed();
    return 0;
}

bool FakeDevice::IsOpen() const {
    Lock lk(mu_);
    return open_;
}

SysError FakeDevice::SetupComm(std::uint32_t inSize, std::uint32_t outSize) {
    Lock lk(mu_);
    if (const SysError e = Enter(Call::SetupComm)) return e;
    if (!open_) return EBADF;
    inSize_ = inSize;
    outSize_ = outSize;
    return 0;
}

SysError FakeDevice::SetCommState(const DeviceControlBlock& dcb) {
    Lock lk(mu_);
    if (const SysError e = Enter(Call::SetCommState)) return e;
    if (!open_) return EBADF;
    dcb_ = dcb;
    return 0;
}

SysError FakeDevice::SetCommTimeouts(const CommTimeouts& timeouts) {
    Lock lk(mu_);
    if (const SysError e = Enter(Call::SetCommTimeouts)) return e;
    if (!open_) return EBADF;
    timeouts_ = timeouts;
    return 0;
}

void FakeDevice::CompleteWriteBytes(AsyncOp& op, std::uint32_t count) {
    written_.insert(written_.end(), op.writeData, op.writeData + count);
    op.transferred = count;
    op.pending = false;
    if (count > 0 && autoTxEmpty_) Latch(EV_TXEMPTY);
    Changed();
}

SysError FakeDevice::BeginWrite(const std::uint8_t* data, std::uint32_t count, AsyncOp& op) {
    Lock lk(mu_);
    op.Start(AsyncOp::Kind::Write, data, nullptr, count, txEpoch_, 0);
    if (const SysError e = Enter(Call::BeginWrite)) return e;
    if (!open_) return EBADF;
    if (hungUp_) return EIO;
    if (count == 0) return 0;
    if (writeMode_ == WriteMode::Complete)
        CompleteWriteBytes(op, count);
    else
        op.pending = true;
    return 0;
}

SysError FakeDevice::BeginRead(std::uint8_t* data, std::uint32_t count, AsyncOp& op) {
    Lock lk(mu_);
    op.Start(AsyncOp::Kind::Read, nullptr, data, count, 0, 0);
    if (const SysError e = Enter(Call::BeginRead)) return e;
    if (!open_) return EBADF;
    if (hungUp_ && queue_.empty() && count > 0) return EIO;
    const std::uint32_t n = std::min<std::uint32_t>(count, std::uint32_t(queue_.size()));
    std::copy_n(queue_.begin(), n, data);
    queue_.erase(queue_.begin(), queue_.begin() + n);
    op.transferred = n;
    return 0;
}

SysError FakeDevice::CompleteOp(AsyncOp& op, std::uint32_t& transferred) {
    Lock lk(mu_);
    if (const SysError e = Enter(Call::CompleteOp)) {
        transferred = op.transferred;
        return e;
    }
    if (op.pending && op.kind == AsyncOp::Kind::Write) {
        switch (writeMode_) {
            case WriteMode::Complete:
            case WriteMode::Pending: CompleteWriteBytes(op, op.length); break;
            case WriteMode::Short:
                CompleteWriteBytes(op, std::min(shortCount_, op.length));
                break;
            case WriteMode::ErrorOnCompletion:
                op.error = writeError_;
                op.pending = false;
                break;
            case WriteMode::Hold: {
                const std::uint64_t release = releaseEpoch_;
                ++heldWrites_;
                cv_.notify_all();
                cv_.wait(lk, [&] {
                    return releaseEpoch_ != release || op.abortEpoch != txEpoch_ || hungUp_;
                });
                --heldWrites_;
                if (releaseEpoch_ != release) {
                    CompleteWriteBytes(op, op.length);
                } else {
                    op.error = hungUp_ ? EIO : ECANCELED;
                    op.pending = false;
                }
                break;
            }
        }
    }
    op.pending = false;
    transferred = op.transferred;
    return op.error;
}

SysError FakeDevice::Purge(std::uint32_t flags) {
    Lock lk(mu_);
    if (const SysError e = Enter(Call::Purge)) return e;
    if (!open_) return EBADF;
    purges_.push_back(flags);
    if (flags & PURGE_TXABORT) ++txEpoch_;
    if (flags & PURGE_RXCLEAR) queue_.clear();
    Changed();
    return 0;
}

SysError FakeDevice::ClearCommError(std::uint32_t& errors, std::uint32_t& inQueue) {
    Lock lk(mu_);
    if (const SysError e = Enter(Call::ClearCommError)) return e;
    if (!open_) return EBADF;
    errors = errors_;
    errors_ = 0;
    inQueue = std::uint32_t(queue_.size());
    return 0;
}

SysError FakeDevice::GetModemStatus(std::uint32_t& status) {
    Lock lk(mu_);
    if (const SysError e = Enter(Call::GetModemStatus)) return e;
    if (!open_) return EBADF;
    status = hungUp_ ? 0 : modemLines_;
    return 0;
}

SysError FakeDevice::SetCommMask(std::uint32_t mask) {
    Lock lk(mu_);
    if (const SysError e = Enter(Call::SetCommMask)) return e;
    if (!open_) return EBADF;
    mask_ = mask;
    Changed();
    return 0;
}

WaitResult FakeDevice::WaitCommEvent(std::uint32_t& events, const StopEvent& stop) {
    events = 0;
    Lock lk(mu_);
    const SysError failure = Enter(Call::WaitCommEvent);
    WaitResult result;
    for (;;) {
        if (failure != 0) {
            result = WaitResult::WaitFailed;
            break;
        }
        if (!scriptedWaits_.empty()) {
            result = scriptedWaits_.front().first;
            events = scriptedWaits_.front().second;
            scriptedWaits_.pop_front();
            break;
        }
        if (stop.IsSet()) {
            result = WaitResult::Stopped;
            break;
        }
        if (!open_) {
            result = WaitResult::WaitFailed;
            break;
        }
        const std::uint32_t ev = latched_ & (mask_ | ~kKnownEvents);
        if (ev != 0) {
            latched_ &= ~ev;
            events = ev;
            result = WaitResult::Events;
            break;
        }
        pollfd p[2] = {{stop.Fd(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        ++waiting_;
        cv_.notify_all();
        lk.unlock();
        const int r = ::poll(p, 2, -1);
        lk.lock();
        --waiting_;
        if (r < 0 && errno != EINTR) {
            result = WaitResult::WaitFailed;
            break;
        }
        if (p[1].revents) {
            std::uint64_t value;
            while (::read(wakeFd_, &value, sizeof value) < 0 && errno == EINTR) {
            }
        }
    }
    ++wakeUps_;
    cv_.notify_all();
    return result;
}

// --- Scripting ----------------------------------------------------------------------------

void FakeDevice::Fail(Call call, SysError error) {
    Lock lk(mu_);
    if (error == 0)
        fail_.erase(call);
    else
        fail_[call] = error;
}

void FakeDevice::FailOnce(Call call, SysError error) {
    Lock lk(mu_);
    failOnce_[call].push_back(error);
}

void FakeDevice::ClearFailures() {
    Lock lk(mu_);
    fail_.clear();
    failOnce_.clear();
}

void FakeDevice::ScriptWait(WaitResult result, std::uint32_t events) {
    Lock lk(mu_);
    scriptedWaits_.emplace_back(result, events);
    Changed();
}

void FakeDevice::InjectReceived(std::string_view bytes) {
    InjectReceived(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

void FakeDevice::InjectReceived(const std::vector<std::uint8_t>& bytes) {
    Lock lk(mu_);
    const std::size_t threshold = (std::size_t(inSize_) * 4 + 4) / 5;  // 80 %, rounded up
    const std::size_t before = queue_.size();
    const std::size_t room = inSize_ > before ? inSize_ - before : 0;
    const std::size_t n = std::min(room, bytes.size());
    if (n < bytes.size()) errors_ |= CE_RXOVER;
    if (n == 0) return;
    queue_.insert(queue_.end(), bytes.begin(), bytes.begin() + std::ptrdiff_t(n));
    std::uint32_t ev = EV_RXCHAR;
    if (std::find(bytes.begin(), bytes.begin() + std::ptrdiff_t(n),
                  static_cast<std::uint8_t>(dcb_.EvtChar)) != bytes.begin() + std::ptrdiff_t(n))
        ev |= EV_RXFLAG;
    if (before < threshold && queue_.size() >= threshold) ev |= EV_RX80FULL;
    Latch(ev);
}

void FakeDevice::SetModemLines(std::uint32_t msBits) {
    Lock lk(mu_);
    const std::uint32_t changed = modemLines_ ^ msBits;
    modemLines_ = msBits;
    std::uint32_t ev = 0;
    if (changed & MS_CTS_ON) ev |= EV_CTS;
    if (changed & MS_DSR_ON) ev |= EV_DSR;
    if (changed & MS_RLSD_ON) ev |= EV_RLSD;
    if (ev) Latch(ev);
}

void FakeDevice::Ring() {
    Lock lk(mu_);
    Latch(EV_RING);
}

void FakeDevice::Break() {
    Lock lk(mu_);
    errors_ |= CE_BREAK;
    Latch(EV_BREAK);
}

void FakeDevice::LineError(std::uint32_t ceFlags) {
    Lock lk(mu_);
    errors_ |= ceFlags;
    Latch(EV_ERR);
}

void FakeDevice::InjectEvents(std::uint32_t bits) {
    Lock lk(mu_);
    Latch(bits);
}

void FakeDevice::HangUp() {
    Lock lk(mu_);
    if (hungUp_) return;
    hungUp_ = true;
    errors_ |= CE_IOE;
    Latch(EV_ERR);
}

void FakeDevice::SetWriteMode(WriteMode mode, std::uint32_t shortCount, SysError error) {
    Lock lk(mu_);
    writeMode_ = mode;
    shortCount_ = shortCount;
    writeError_ = error;
}

void FakeDevice::ReleaseWrites() {
    Lock lk(mu_);
    ++releaseEpoch_;
    cv_.notify_all();
}

void FakeDevice::SetAutoTxEmpty(bool on) {
    Lock lk(mu_);
    autoTxEmpty_ = on;
}

// --- Inspection ---------------------------------------------------------------------------

std::vector<std::uint8_t> FakeDevice::Written() const {
    Lock lk(mu_);
    return written_;
}

std::string FakeDevice::WrittenText() const {
    Lock lk(mu_);
    return std::string(written_.begin(), written_.end());
}

void FakeDevice::ClearWritten() {
    Lock lk(mu_);
    written_.clear();
}

std::vector<std::string> FakeDevice::Calls() const {
    Lock lk(mu_);
    std::vector<std::string> out;
    for (Call c : calls_) out.emplace_back(Name(c));
    return out;
}

std::vector<std::string> FakeDevice::CallsExceptWaits() const {
    Lock lk(mu_);
    std::vector<std::string> out;
    for (Call c : calls_)
        if (c != Call::WaitCommEvent) out.emplace_back(Name(c));
    return out;
}

std::size_t FakeDevice::CallCount(Call call) const {
    Lock lk(mu_);
    return std::size_t(std::count(calls_.begin(), calls_.end(), call));
}

void FakeDevice::ClearCalls() {
    Lock lk(mu_);
    calls_.clear();
}

std::string FakeDevice::OpenPath() const {
    Lock lk(mu_);
    return path_;
}

DeviceControlBlock FakeDevice::Dcb() const {
    Lock lk(mu_);
    return dcb_;
}

CommTimeouts FakeDevice::Timeouts() const {
    Lock lk(mu_);
    return timeouts_;
}

std::uint32_t FakeDevice::InSize() const {
    Lock lk(mu_);
    return inSize_;
}

std::uint32_t FakeDevice::OutSize() const {
    Lock lk(mu_);
    return outSize_;
}

std::uint32_t FakeDevice::Mask() const {
    Lock lk(mu_);
    return mask_;
}

std::vector<std::uint32_t> FakeDevice::Purges() const {
    Lock lk(mu_);
    return purges_;
}

std::uint32_t FakeDevice::Queued() const {
    Lock lk(mu_);
    return std::uint32_t(queue_.size());
}

std::uint32_t FakeDevice::LatchedEvents() const {
    Lock lk(mu_);
    return latched_;
}

std::uint64_t FakeDevice::WakeUps() const {
    Lock lk(mu_);
    return wakeUps_;
}

bool FakeDevice::AwaitWakeUps(std::uint64_t n, std::chrono::milliseconds timeout) const {
    Lock lk(mu_);
    return cv_.wait_for(lk, timeout, [&] { return wakeUps_ >= n; });
}

bool FakeDevice::AwaitWaiting(std::chrono::milliseconds timeout) const {
    Lock lk(mu_);
    return cv_.wait_for(lk, timeout, [&] { return waiting_ > 0; });
}

bool FakeDevice::AwaitHeldWrite(std::chrono::milliseconds timeout) const {
    Lock lk(mu_);
    return cv_.wait_for(lk, timeout, [&] { return heldWrites_ > 0; });
}

}  // namespace device
