// Text utilities on byte strings ("C" locale; no multi-byte encodings).
#ifndef VOQ_TEXT_H
#define VOQ_TEXT_H

#include <map>
#include <string>
#include <vector>

// The whitespace set: space, tab, carriage return, line feed.
#define VOQ_WHITESPACE " \t\r\n"

std::string RemoveAllWhitespace(std::string s);
std::string Upper(std::string s);
std::string Lower(std::string s);
std::string TrimLeft(std::string s, const std::string& set = VOQ_WHITESPACE);
std::string TrimRight(std::string s, const std::string& set = VOQ_WHITESPACE);
std::string Trim(std::string s, const std::string& set);
// Trim(s, VOQ_WHITESPACE), in place (names and terms are trimmed on every
// look-up).
std::string Trim(std::string s);
// Equal after upper-casing and trimming the whitespace set.
bool Similar(const std::string& a, const std::string& b);
// Similar(key, text) for a `key` that is already trimmed and upper-cased (a
// look-up key compared with many names): only `text` is trimmed and
// upper-cased, in place, and a text too short to match is not looked at.
bool SimilarToKey(const std::string& key, const std::string& text);
// Takes the first word off `s` (leading delimiters skipped first).
std::string ChompWord(std::string& s, const std::string& delimiters = VOQ_WHITESPACE);
// Removes `prefix` from the front of `s` when it is there.
bool Chomp(std::string& s, const std::string& prefix);
std::vector<std::string> Split(std::string s, const std::string& delimiters = VOQ_WHITESPACE);
std::string Join(const std::string& separator, const std::vector<std::string>& items);
// Whole text of decimal digits only (after trimming); `out` written on success.
bool String2Integer(std::string s, int& out);
// Whole trimmed text consumed by strtod.
bool String2Double(std::string s, double& out);

class StringCounter {
public:
    int& Count(const std::string& name) { return counts[name]; }
    std::map<std::string, int> counts;
};

namespace VOQ {
std::string HexString(int value, int width = 2, bool uppercase = true);
std::string PythonString(const void* data, unsigned long count, bool escapeEverything);
inline std::string PythonString(const std::string& s, bool escapeEverything) {
    return PythonString(s.data(), s.size(), escapeEverything);
}
// Decimal text of a number, as a stream writes it by default.
std::string NumberString(double value);
}  // namespace VOQ

#endif
