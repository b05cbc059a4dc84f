#include "corvane/CFrame.h"

#include <gtest/gtest.h>

#include <vector>

using corvane::CFrame;

namespace {

TEST(Frame, HeaderCarriesFlagLengthAndZeroes)
{
    std::uint8_t header[24];
    CFrame::BuildHeader(header, 0x01020304u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(header), 8), "RAS_DATA");
    for (int i : {8, 9, 10, 11, 16, 17, 23})
        EXPECT_EQ(header[i], 0) << i;
    EXPECT_EQ(header[12], 0x04);
    EXPECT_EQ(header[15], 0x01);
}

TEST(Frame, ParseNeedsWholeFrameAndNeverReadsBeyond)
{
    std::vector<std::uint8_t> bytes(24 + 3, 'p');
    CFrame::BuildHeader(bytes.data(), 3);
    bytes[16] = 9;
    CFrame::View view;
    for (std::size_t size = 0; size < bytes.size(); ++size)
        EXPECT_EQ(CFrame::Parse(bytes.data(), size, view), CFrame::Status::kNeedMore) << size;
    ASSERT_EQ(CFrame::Parse(bytes.data(), bytes.size(), view), CFrame::Status::kComplete);
    EXPECT_EQ(view.length, 3u);
    EXPECT_EQ(view.version, 9);
    EXPECT_EQ(view.payload, bytes.data() + 24);
}

TEST(Frame, HugeLengthDoesNotWrap)
{
    std::vector<std::uint8_t> bytes(64, 0);
    CFrame::BuildHeader(bytes.data(), 0xFFFFFFFFu);
    CFrame::View view;
    EXPECT_EQ(CFrame::Parse(bytes.data(), bytes.size(), view), CFrame::Status::kNeedMore);
}

} // namespace
