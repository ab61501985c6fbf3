#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

#include "TextRules.h"

namespace {

using TextRules::IPv4Form;

struct IPv4Case {
    const char* name;
    std::string text;
    IPv4Form form;
};

const IPv4Case kIPv4Cases[] = {
    {"plain address", "192.168.1.10", IPv4Form::kPlain},
    {"all zeros", "0.0.0.0", IPv4Form::kPlain},
    {"broadcast", "255.255.255.255", IPv4Form::kPlain},
    {"zero padded part", "192.168.001.10", IPv4Form::kLeadingZeros},
    {"double zero", "00.1.2.3", IPv4Form::kLeadingZeros},
    {"octal looking", "010.0.0.1", IPv4Form::kLeadingZeros},
    {"empty", "", IPv4Form::kNotIPv4},
    {"part above 255", "256.1.1.1", IPv4Form::kNotIPv4},
    {"last part above 255", "1.2.3.260", IPv4Form::kNotIPv4},
    {"four digits", "1.2.3.0004", IPv4Form::kNotIPv4},
    {"three parts", "1.2.3", IPv4Form::kNotIPv4},
    {"five parts", "1.2.3.4.5", IPv4Form::kNotIPv4},
    {"trailing dot", "1.2.3.4.", IPv4Form::kNotIPv4},
    {"leading dot", ".1.2.3", IPv4Form::kNotIPv4},
    {"empty part", "1..2.3", IPv4Form::kNotIPv4},
    {"leading blank", " 1.2.3.4", IPv4Form::kNotIPv4},
    {"trailing newline", "1.2.3.4\n", IPv4Form::kNotIPv4},
    {"sign", "1.2.3.+4", IPv4Form::kNotIPv4},
    {"minus", "-1.2.3.4", IPv4Form::kNotIPv4},
    {"letters", "a.b.c.d", IPv4Form::kNotIPv4},
    {"shell tail", "1.2.3.4;reboot", IPv4Form::kNotIPv4},
    {"embedded NUL", std::string("1.2.3.4\0x", 9), IPv4Form::kNotIPv4},
    {"hex part", "0x1.2.3.4", IPv4Form::kNotIPv4},
    {"short form", "127.1", IPv4Form::kNotIPv4},
};

TEST(TextRules, IPv4Forms) {
    for (const auto& c : kIPv4Cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TextRules::classifyIPv4(c.text), c.form);
        EXPECT_EQ(TextRules::isIPv4(c.text), c.form != IPv4Form::kNotIPv4);
        EXPECT_EQ(TextRules::isPlainIPv4(c.text), c.form == IPv4Form::kPlain);
    }
}

// The line-card manager checks with isPlainIPv4 before its socket code converts the text
// with inet_pton: the two must agree, or a checked address could still fail half-way.
TEST(TextRules, PlainIPv4IsWhatInetPtonTakes) {
    for (const auto& c : kIPv4Cases) {
        SCOPED_TRACE(c.name);
        in_addr address{};
        EXPECT_EQ(TextRules::isPlainIPv4(c.text),
                  ::inet_pton(AF_INET, c.text.c_str(), &address) == 1 && c.text.find('\0') == std::string::npos);
    }
}

struct BoolCase {
    const char* name;
    std::string text;
    bool ok;
};

const BoolCase kInterfaceCases[] = {
    {"plain", "eth0", true},
    {"VLAN device", "br0.10", true},
    {"alias", "eth0:1", true},
    {"VLAN device alias", "br0.10:1", true},
    {"underscore and dash", "wlan_x-1", true},
    {"fifteen bytes", "abcdefghijklmno", true},
    {"empty", "", false},
    {"sixteen bytes", "abcdefghijklmnop", false},
    {"trailing blank", "eth0 ", false},
    {"inner blank", "eth0 && reboot", false},
    {"semicolon", "eth0;reboot", false},
    {"command substitution", "$(x)", false},
    {"slash", "a/b", false},
    {"quote", "a'b", false},
    {"newline", "eth0\n", false},
    {"non-ASCII", "eth\xc3\xa9", false},
};

TEST(TextRules, InterfaceNames) {
    for (const auto& c : kInterfaceCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TextRules::isInterfaceName(c.text), c.ok);
    }
}

const BoolCase kMacCases[] = {
    {"lower case", "00:0a:5e:01:02:03", true},
    {"upper case", "00:0A:5E:01:02:FF", true},
    {"empty", "", false},
    {"no colons", "000a5e010203", false},
    {"dashes", "00-0a-5e-01-02-03", false},
    {"one pair short", "00:0a:5e:01:02", false},
    {"one pair more", "00:0a:5e:01:02:03:04", false},
    {"not hex", "00:0a:5e:01:02:0g", false},
    {"colon misplaced", "000:a5:e0:10:20:3", false},
    {"trailing blank", "00:0a:5e:01:02:03 ", false},
};

TEST(TextRules, MacAddresses) {
    for (const auto& c : kMacCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TextRules::isMacAddress(c.text), c.ok);
    }
}

const BoolCase kVlanCases[] = {
    {"none", "0", true},           {"lowest", "1", true},
    {"highest", "4094", true},     {"zero padded", "000100", true},
    {"negative zero", "-0", true}, {"reserved 4095", "4095", false},
    {"empty", "", false},          {"seven digits", "0000001", false},
    {"negative", "-1", false},     {"plus sign", "+5", false},
    {"lone minus", "-", false},    {"trailing letter", "10a", false},
    {"blank", " 10", false},
};

TEST(TextRules, VlanIds) {
    for (const auto& c : kVlanCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TextRules::isVlanId(c.text), c.ok);
    }
}

TEST(TextRules, Names) {
    using TextRules::NameFault;
    const struct {
        const char* name;
        std::string text;
        NameFault fault;
    } cases[] = {
        {"empty", "", NameFault::kNone},
        {"printable with blanks", "Rack 2, shelf A", NameFault::kNone},
        {"UTF-8", "Caf\xc3\xa9", NameFault::kNone},
        {"64 bytes", std::string(64, 'x'), NameFault::kNone},
        {"65 bytes", std::string(65, 'x'), NameFault::kTooLong},
        {"too long wins over a control character", std::string(65, '\n'), NameFault::kTooLong},
        {"newline", "a\nb", NameFault::kControlCharacter},
        {"tab", "a\tb", NameFault::kControlCharacter},
        {"DEL", "a\x7f", NameFault::kControlCharacter},
        {"NUL", std::string("a\0b", 3), NameFault::kControlCharacter},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TextRules::checkName(c.text), c.fault);
    }
}

}  // namespace
