// Binding the framer to a port: its link is attached as a buffer link, detached when the
// binding changes, and nothing dangles whichever of the two is destroyed first. The port is
// never opened, so no device is needed. (Run under the address sanitizer to catch a link or
// port left behind.)

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CPort.h"
#include "ComDataPacket.h"
#include "FramerTestSupport.h"

using framer_test::Feed;
using framer_test::Recorder;

namespace {

// The port reports a link that takes received buffers by reading TriggersOnRxChar as off.
bool HasBufferLink(const TCustomComPort& port) { return !port.TriggersOnRxChar(); }

TEST(FramerBinding, AttachesABufferLinkAndDetachesIt) {
    TComPort port;
    ASSERT_FALSE(HasBufferLink(port));
    TComDataPacket framer;
    framer.SetComPort(&port);
    EXPECT_EQ(framer.ComPort(), &port);
    EXPECT_TRUE(HasBufferLink(port));
    // The port refuses to change the flag while a buffer link is attached.
    try {
        port.SetTriggersOnRxChar(false);
        ADD_FAILURE() << "the port accepted TriggersOnRxChar with the framer attached";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.FailureCode, 22);
    }
    framer.SetComPort(&port);  // the same port again: no second attach, no report
    EXPECT_TRUE(HasBufferLink(port));
    framer.SetComPort(nullptr);
    EXPECT_EQ(framer.ComPort(), nullptr);
    EXPECT_FALSE(HasBufferLink(port));
    framer.SetComPort(nullptr);  // unbound again: nothing to detach, no report
}

TEST(FramerBinding, MovingToAnotherPortDetachesFromTheFirst) {
    TComPort first;
    TComPort second;
    TComDataPacket framer;
    framer.SetComPort(&first);
    framer.SetComPort(&second);
    EXPECT_FALSE(HasBufferLink(first));
    EXPECT_TRUE(HasBufferLink(second));
    // The first port no longer knows the framer: destroying it leaves the binding alone.
    {
        TComPort third;
        framer.SetComPort(&third);
        framer.SetComPort(&second);
    }
    EXPECT_EQ(framer.ComPort(), &second);
}

TEST(FramerBinding, BindingWhileLoadingAttachesAtOnce) {
    TComPort port;
    TComDataPacket framer;
    framer.BeginLoading();
    framer.SetComPort(&port);
    EXPECT_TRUE(HasBufferLink(port));
    framer.Loaded();
    EXPECT_TRUE(HasBufferLink(port));
}

TEST(FramerBinding, ChangingThePortKeepsTheBuffer) {
    TComPort port;
    TComDataPacket framer;
    framer.SetStopString("\n");
    Recorder rec;
    rec.Listen(framer);
    Feed(framer, "par");
    framer.SetComPort(&port);
    Feed(framer, "tial");
    framer.SetComPort(nullptr);
    EXPECT_TRUE(rec.events.empty());
    EXPECT_EQ(std::string(framer.Buffer()), "partial");
    EXPECT_TRUE(framer.PacketOpen());
}

TEST(FramerLifetime, PortDestroyedFirstUnbindsTheFramerAndKeepsItsBuffer) {
    TComDataPacket framer;
    framer.SetStopString("\n");
    Recorder rec;
    rec.Listen(framer);
    auto port = std::make_unique<TComPort>();
    framer.SetComPort(port.get());
    Feed(framer, "ab");
    port.reset();
    EXPECT_EQ(framer.ComPort(), nullptr);
    EXPECT_EQ(std::string(framer.Buffer()), "ab");
    EXPECT_TRUE(framer.PacketOpen());
    // Still usable, and can bind to a new port.
    Feed(framer, "c\n");
    EXPECT_EQ(rec.events, std::vector<std::string>{"P:abc"});
    TComPort next;
    framer.SetComPort(&next);
    EXPECT_TRUE(HasBufferLink(next));
}

TEST(FramerLifetime, FramerDestroyedFirstLeavesNoLinkBehind) {
    TComPort port;
    {
        TComDataPacket framer;
        framer.SetComPort(&port);
        ASSERT_TRUE(HasBufferLink(port));
    }
    EXPECT_FALSE(HasBufferLink(port));
    // Attaching walks the port's link list: a freed link left there would be read here.
    TComDataPacket other;
    other.SetComPort(&port);
    EXPECT_TRUE(HasBufferLink(port));
}

// Hears components go and notes, at that moment, whether the port still has a buffer link
// and whether the framer is still bound.
struct Witness : TComponent {
    using TComponent::TComponent;
    void Notification(TComponent* c, TOperation op) override {
        TComponent::Notification(c, op);
        if (op != TOperation::opRemove || !c) return;
        if (c == framer) {
            log.push_back(std::string("framer gone, port link ") +
                          (port && HasBufferLink(*port) ? "present" : "absent"));
            framer = nullptr;
        } else if (c == port) {
            log.push_back("port gone");
            port = nullptr;
        }
    }
    TCustomComPort* port = nullptr;
    TComponent* framer = nullptr;  // compared only: it is half destroyed when it reports
    std::vector<std::string> log;
};

// Reports the framer's binding as soon as it hears a component go.
struct ReportingFramer : TComDataPacket {
    ReportingFramer(TComponent* owner, std::vector<std::string>* log)
        : TComDataPacket(owner), log_(log) {}
    void Notification(TComponent* c, TOperation op) override {
        TComDataPacket::Notification(c, op);
        if (op == TOperation::opRemove)
            log_->push_back(ComPort() ? "framer still bound" : "framer unbound");
    }
    std::vector<std::string>* log_;
};

TEST(FramerLifetime, OwnerDestroysFramerThenPort) {
    Witness witness;
    auto* form = new TComponent(nullptr);
    auto* port = new TComPort(form);
    auto* framer = new TComDataPacket(form);  // created last, destroyed first
    framer->SetComPort(port);
    witness.port = port;
    witness.framer = framer;
    witness.FreeNotification(port);
    witness.FreeNotification(framer);
    delete form;
    const std::vector<std::string> expected = {"framer gone, port link absent", "port gone"};
    EXPECT_EQ(witness.log, expected);
}

TEST(FramerLifetime, OwnerDestroysPortThenFramer) {
    std::vector<std::string> log;
    auto* form = new TComponent(nullptr);
    auto* framer = new ReportingFramer(form, &log);
    auto* port = new TComPort(form);  // created last, destroyed first
    framer->SetComPort(port);
    delete form;
    // The framer hears the port go (from the port, and again through the owner) and is
    // unbound from the first notice on; its own destructor then has nothing to detach.
    ASSERT_FALSE(log.empty());
    for (const std::string& entry : log) EXPECT_EQ(entry, "framer unbound");
}

}  // namespace
