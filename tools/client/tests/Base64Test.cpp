#include "quorvel_client/CBase64.h"

#include <gtest/gtest.h>

#include <random>

using quorvel::client::CBase64;

TEST(Base64, KnownVectors)
{
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(CBase64::Encode(plain), encoded);
        std::string decoded;
        ASSERT_TRUE(CBase64::Decode(encoded, decoded)) << encoded;
        EXPECT_EQ(decoded, plain);
    }
}

TEST(Base64, RoundTripOfEveryByteAndLength)
{
    std::mt19937 random(7);
    for (std::size_t length = 0; length < 300; ++length) {
        std::string bytes(length, '\0');
        for (char& c : bytes)
            c = static_cast<char>(random());
        const std::string text = CBase64::Encode(bytes);
        EXPECT_EQ(text.size(), CBase64::EncodedSize(length));
        std::string back;
        ASSERT_TRUE(CBase64::Decode(text, back));
        EXPECT_EQ(back, bytes);
    }
}

TEST(Base64, RefusesMalformedText)
{
    std::string out;
    EXPECT_FALSE(CBase64::Decode("Zm9", out));        // not whole groups
    EXPECT_FALSE(CBase64::Decode("Zm9v!A==", out));   // outside the alphabet
    EXPECT_FALSE(CBase64::Decode("Zg==Zm9v", out));   // data after padding
    EXPECT_FALSE(CBase64::Decode("=m9v", out));       // padding first
    EXPECT_FALSE(CBase64::Decode("Zm=v", out));       // padding inside
    ASSERT_TRUE(CBase64::Decode("Zm9v\nYmFy\r\n", out));
    EXPECT_EQ(out, "foobar");
}
