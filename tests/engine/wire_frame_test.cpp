// The socket's message framing, from bytes written out by hand and fed in chunks of every size.
#include "wire_frame.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace mirv {
namespace {

using Error = wire::Decoder::Error;
using namespace std::string_literals;

// {"type":"line"} is 15 bytes; {"type":"hello"} 16.
const std::string kLine = "MIRV\x00\x00\x00\x0f{\"type\":\"line\"}"s;
const std::string kHello = "MIRV\x00\x00\x00\x10{\"type\":\"hello\"}"s;

struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::string> types;
    Error error;
};

const Case kCases[] = {
    {"one message", kLine, {"line"}, Error::None},
    {"two messages", kHello + kLine, {"hello", "line"}, Error::None},
    {"a message still coming", kLine + kHello.substr(0, 11), {"line"}, Error::None},
    {"a header still coming", "MIRV\x00\x00"s, {}, Error::None},
    {"garbage", "GET / HTTP/1.1\r\n\r\n", {}, Error::BadMagic},
    {"garbage after a message", kLine + "\x00\x01"s, {"line"}, Error::BadMagic},
    {"a near miss of the magic", "MIRW\x00\x00\x00\x0f{\"type\":\"line\"}"s, {}, Error::BadMagic},
    {"100 MB announced", "MIRV\x05\xf5\xe1\x00"s, {}, Error::TooLong},
    {"one byte over 1 MiB", "MIRV\x00\x10\x00\x01"s, {}, Error::TooLong},
    {"not JSON", "MIRV\x00\x00\x00\x05{abc}"s, {}, Error::BadJson},
    {"a JSON array", "MIRV\x00\x00\x00\x03[1]"s, {}, Error::BadJson},
    {"no type", "MIRV\x00\x00\x00\x07{\"a\":1}"s, {}, Error::NoType},
    {"a type not a text", "MIRV\x00\x00\x00\x0a{\"type\":1}"s, {}, Error::NoType},
    {"nothing after an error", "MIRV\x00\x00\x00\x02{}"s + kLine, {}, Error::NoType},
};

TEST(WireDecoder, MessagesAndErrorsWhateverTheChunks) {
    for (const Case& c : kCases) {
        for (std::size_t chunk : {std::size_t(1), std::size_t(3), std::size_t(7), c.bytes.size()}) {
            wire::Decoder d;
            std::vector<std::string> types;
            for (std::size_t at = 0; at < c.bytes.size(); at += chunk) {
                d.feed(QByteArrayView(c.bytes.data() + at, std::min(chunk, c.bytes.size() - at)));
                while (auto m = d.next())
                    types.push_back(m->value("type").toString().toStdString());
            }
            EXPECT_EQ(types, c.types) << c.name << ", chunks of " << chunk;
            EXPECT_EQ(d.error(), c.error) << c.name << ", chunks of " << chunk;
        }
    }
}

TEST(WireDecoder, GarbageIsRefusedAtItsFirstByte) {
    wire::Decoder d;
    d.feed("G");
    EXPECT_FALSE(d.next());
    EXPECT_EQ(d.error(), Error::BadMagic);
}

TEST(WireEncoder, WritesTheHeaderAndKeepsToTheBound) {
    const QByteArray bytes = wire::encode({{"type", "line"}});
    EXPECT_EQ(bytes.toStdString(), kLine);
    EXPECT_TRUE(wire::encode({{"a", 1}}).isEmpty());
    const QString big(1 << 20, QChar('x'));
    EXPECT_TRUE(wire::encode({{"type", "row"}, {"text", big}}).isEmpty());
}

} // namespace
} // namespace mirv
