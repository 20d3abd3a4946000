// The SECoP message parser and formatter on their own.

#include <gtest/gtest.h>

#include "remote/SecopMessage.h"
#include "remote/SecopNode.h"

namespace moirex::secop {
namespace {

TEST(SecopMessageTest, SplitsActionSpecifierAndData) {
    struct Case {
        const char* line;
        const char* action;
        const char* specifier;
        const char* data;  // compact JSON, or null for none
    } cases[] = {
        {"*IDN?", "*IDN?", "", nullptr},
        {"describe", "describe", "", nullptr},
        {"read gas_a:value", "read", "gas_a:value", nullptr},
        {"read gas_a:value\r", "read", "gas_a:value", nullptr},
        {"change program:target 1", "change", "program:target", "1"},
        {"do program:load \"name,hours\\n\"", "do", "program:load", "\"name,hours\\n\""},
        {"do program:load {\"a\": [1, 2.5, null]}", "do", "program:load", "{\"a\":[1,2.5,null]}"},
        {"ping", "ping", "", nullptr},
        {"ping 42", "ping", "42", nullptr},
    };
    for (const Case& c : cases) {
        const TParseResult r = ParseMessage(c.line);
        ASSERT_TRUE(r.Message) << c.line << ": " << r.Error;
        EXPECT_EQ(r.Message->Action, c.action) << c.line;
        EXPECT_EQ(r.Message->Specifier, c.specifier) << c.line;
        if (c.data) {
            ASSERT_TRUE(r.Message->Data) << c.line;
            EXPECT_EQ(r.Message->Data->dump(), c.data) << c.line;
        } else {
            EXPECT_FALSE(r.Message->Data) << c.line;
        }
    }
    const TParseResult r = ParseMessage("read gas_a:value");
    EXPECT_EQ(r.Message->Module(), "gas_a");
    EXPECT_EQ(r.Message->Accessible(), "value");
}

TEST(SecopMessageTest, RefusesWhatIsNoMessage) {
    struct Case {
        std::string line;
        const char* action;  // as named in the error reply
    } cases[] = {
        {"", "?"},
        {" read", "?"},
        {"read  x", "read"},
        {"change program:target {1", "change"},
        {"change program:target 1 2", "change"},
        {std::string("read gas_a:va\0ue", 16), "read"},
        {"read gas_\x80:value", "read"},
        {"\x01\x02", "??"},
    };
    for (const Case& c : cases) {
        const TParseResult r = ParseMessage(c.line);
        EXPECT_FALSE(r.Message) << c.line;
        EXPECT_FALSE(r.Error.empty()) << c.line;
        EXPECT_EQ(r.Action, c.action) << c.line;
    }
}

TEST(SecopMessageTest, FormatsRepliesAndErrors) {
    const nlohmann::json report = DataReport(1.5, 1700000000.25);
    EXPECT_EQ(FormatMessage("reply", "gas_a:value", &report), "reply gas_a:value [1.5,{\"t\":1700000000.25}]\n");
    EXPECT_EQ(FormatMessage("active"), "active\n");
    EXPECT_EQ(FormatMessage("inactive", "gas_a"), "inactive gas_a\n");
    EXPECT_EQ(ErrorMessage("read", "tx:value", error::NoSuchModule, "no module tx"),
              "error_read tx:value [\"NoSuchModule\",\"no module tx\",{}]\n");
    // An empty specifier leaves two blanks, as the standard has it for an argumentless ping.
    EXPECT_EQ(ErrorMessage("foo", "", error::ProtocolError, "unknown action"),
              "error_foo  [\"ProtocolError\",\"unknown action\",{}]\n");
    // Text that is not UTF-8 (an instrument's name) does not break the reply.
    const nlohmann::json bad = std::string("N\xff");
    EXPECT_NO_THROW(FormatMessage("reply", "gas_a:gas", &bad));
}

TEST(SecopMessageTest, ParsesAddresses) {
    struct Case {
        const char* text;
        bool ok;
        const char* host;
        uint16_t port;
    } cases[] = {
        {"127.0.0.1:10767", true, "127.0.0.1", 10767},
        {":10767", true, "127.0.0.1", 10767},
        {"10767", true, "127.0.0.1", 10767},
        {"0.0.0.0:1", true, "0.0.0.0", 1},
        {"[::1]:10767", true, "::1", 10767},
        {"localhost:0", true, "localhost", 0},
        {"127.0.0.1:65536", false, "", 0},
        {"127.0.0.1:", false, "", 0},
        {"127.0.0.1:x", false, "", 0},
        {"::1:10767", false, "", 0},
        {"[::1]10767", false, "", 0},
    };
    for (const Case& c : cases) {
        TAddress a;
        std::string error;
        EXPECT_EQ(ParseAddress(c.text, a, error), c.ok) << c.text;
        if (!c.ok) {
            EXPECT_FALSE(error.empty()) << c.text;
            continue;
        }
        EXPECT_EQ(a.Host, c.host) << c.text;
        EXPECT_EQ(a.Port, c.port) << c.text;
    }
}

}  // namespace
}  // namespace moirex::secop
