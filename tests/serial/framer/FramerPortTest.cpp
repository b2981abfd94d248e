// The framer as the console uses it: bound to a port, fed by the port's received-character
// step through its link.

#include <gtest/gtest.h>

#include "ComDataPacket.h"
#include "PortTestSupport.h"

namespace {

using namespace porttest;

TEST(FramerOnAPort, LinesArriveWithoutTheirLineFeedAcrossReads) {
    FakePort p;
    p.port.SetTriggersOnRxChar(false);
    TComDataPacket framer;
    framer.SetComPort(&p.port);
    framer.SetStopString("\n");
    std::vector<std::string> packets;
    framer.OnPacket = [&](TObject* sender, const std::string& s) {
        EXPECT_EQ(sender, &framer);
        packets.push_back(s);
    };
    p.port.SetConnected(true);

    p.fake->InjectReceived("ok\r\n<Idle|WPos:1.000,");
    ASSERT_TRUE(ServeUntil([&] { return packets.size() == 1; }));
    p.fake->InjectReceived("2.000,3.000>\r\nerror:20\r\n");
    ASSERT_TRUE(ServeUntil([&] { return packets.size() == 3; }));
    EXPECT_EQ(packets, (std::vector<std::string>{"ok\r", "<Idle|WPos:1.000,2.000,3.000>\r",
                                                 "error:20\r"}));
    p.port.SetConnected(false);
}

TEST(FramerOnAPort, UnbindsWhenThePortGoesFirst) {
    TComDataPacket framer;
    {
        FakePort p;
        framer.SetComPort(&p.port);
        EXPECT_FALSE(p.port.TriggersOnRxChar());
    }
    EXPECT_EQ(framer.ComPort(), nullptr);
}

}  // namespace
