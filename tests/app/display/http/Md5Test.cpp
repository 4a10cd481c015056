#include "display/http/md5.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>

#include <string>

namespace {

std::string reference(const std::string& bytes)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Md5).toHex().toStdString();
}

std::string patterned(std::size_t length)
{
    std::string bytes;
    for (std::size_t i = 0; i < length; ++i)
        bytes += char((i * 7 + 3) & 0xff);
    return bytes;
}

} // namespace

TEST(Md5, MatchesTheRfc1321Suite)
{
    const std::pair<std::string, std::string> suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [input, digest] : suite) {
        EXPECT_EQ(http_client::md5Hex(input), digest) << '"' << input << '"';
        EXPECT_EQ(http_client::md5Hex(input), reference(input));
    }
}

// The lengths around the padding boundary: the length field fits after 55 bytes, not after 56.
TEST(Md5, MatchesAroundThePaddingBoundary)
{
    for (const std::size_t length : {55, 56, 63, 64, 65, 119, 120, 128, 1000})
        EXPECT_EQ(http_client::md5Hex(patterned(length)), reference(patterned(length))) << length << " bytes";
}

TEST(Md5, FeedingInPiecesGivesTheSameDigest)
{
    const std::string bytes = patterned(300);
    for (const std::size_t piece : {1, 13, 63, 64, 65, 200}) {
        http_client::Md5State state;
        for (std::size_t at = 0; at < bytes.size(); at += piece)
            http_client::md5Update(state, std::string_view(bytes).substr(at, piece));
        EXPECT_EQ(http_client::md5Hex(http_client::md5Final(state)), reference(bytes)) << "pieces of " << piece;
    }
}
