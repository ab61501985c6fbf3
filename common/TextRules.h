#pragma once
// The forms of the texts an operator or a line card gives the system: IPv4 addresses,
// interface names, MAC addresses, VLAN ids and display names. Every program checks these
// texts here and nowhere else; each caller keeps its own error message, so the rules only
// answer yes/no (or which fault). Pure functions of the text: thread-safe, throw nothing,
// every loop bounded by the text's length (no std::regex: the texts come from outside).

#include <string>

namespace TextRules {

// How a text reads as a dotted-quad IPv4 address: four dot-separated decimal numbers
// 0..255 of one to three digits each, nothing before, between or after them.
enum class IPv4Form {
    kNotIPv4,
    kLeadingZeros,  // a number written with a leading zero ("192.168.001.10")
    kPlain,         // no number with a leading zero: the form the socket and ping calls take
};
IPv4Form classifyIPv4(const std::string& text);

// Either form: the language of the stored settings and of the web's checks. Leading zeros
// have always been accepted there, so settings saved with them stay loadable.
bool isIPv4(const std::string& text);
// The plain form only: what the line-card manager puts into its socket address and the
// ping command line, where "010.0.0.1" would be read as octal (8.0.0.1).
bool isPlainIPv4(const std::string& text);

// 1 to 15 bytes of letters, digits, '.', '-', '_' and ':'.
bool isInterfaceName(const std::string& text);

// Six pairs of hex digits (either case) separated by ':': "00:0a:5e:01:02:03".
bool isMacAddress(const std::string& text);

// A VLAN id an operator may set: a decimal 0..4094 of at most six digits (leading zeros
// allowed; 0 means none). A '-' sign reads as the number does, so only "-0" passes with one.
bool isVlanId(const std::string& text);

// A name shown in the tables and sent over SNMP: at most 64 bytes, no control character.
enum class NameFault { kNone, kTooLong, kControlCharacter };
NameFault checkName(const std::string& text);

}  // namespace TextRules
