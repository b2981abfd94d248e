#include <gtest/gtest.h>

#include <string>

#include "RxBuffer.h"

namespace {

using device::tty::RxDecoder;
using device::tty::RxMarks;
using device::tty::RxQueue;

std::string Decode(RxDecoder& d, const std::string& in, RxMarks& marks) {
    std::string out(in.size() + 1, '\0');
    const auto n = d.Decode(reinterpret_cast<const std::uint8_t*>(in.data()), in.size(),
                            reinterpret_cast<std::uint8_t*>(out.data()), marks);
    out.resize(n);
    return out;
}

TEST(RxDecoderTest, UnescapesMarksAndAppliesOptions) {
    RxDecoder d;
    RxMarks m;
    EXPECT_EQ(Decode(d, std::string("a\xff\xff" "b\0c", 6), m), std::string("a\xff" "b\0c", 5));
    EXPECT_EQ(m.zeroMarks + m.charMarks, 0u);

    // \377\0X: error on X (delivered, or replaced); \377\0\0: break, no data.
    EXPECT_EQ(Decode(d, std::string("x\xff\0Qy\xff\0\0z", 9), m), "xQyz");
    EXPECT_EQ(m.charMarks, 1u);
    EXPECT_EQ(m.zeroMarks, 1u);

    d.replace = true;
    d.replaceChar = '?';
    d.discardNull = true;
    m = {};
    EXPECT_EQ(Decode(d, std::string("\0a\xff\0Q\xff\0\0\0b", 10), m), "a?b");
    EXPECT_EQ(m.charMarks, 1u);
    EXPECT_EQ(m.zeroMarks, 1u);
}

TEST(RxDecoderTest, MarkSplitAcrossReads) {
    RxDecoder d;
    RxMarks m;
    EXPECT_EQ(Decode(d, "a\xff", m), "a");
    EXPECT_EQ(Decode(d, std::string("\0", 1), m), "");
    EXPECT_EQ(Decode(d, "Zb\xff", m), "Zb");
    EXPECT_EQ(Decode(d, "\xff", m), "\xff");
    EXPECT_EQ(m.charMarks, 1u);
}

TEST(RxQueueTest, WrapsAndResizesKeepingOldest) {
    RxQueue q(4);
    const std::uint8_t in[] = {1, 2, 3, 4, 5};
    EXPECT_EQ(q.Push(in, 5), 4u);
    std::uint8_t out[8];
    EXPECT_EQ(q.Pop(out, 3), 3u);
    EXPECT_EQ(q.Push(in, 3), 3u);  // wraps
    EXPECT_EQ(q.Size(), 4u);
    EXPECT_EQ(q.Resize(2), 2u);  // two dropped
    ASSERT_EQ(q.Pop(out, 8), 2u);
    EXPECT_EQ(out[0], 4);
    EXPECT_EQ(out[1], 1);
}

}  // namespace
