#include "voq/Text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <iomanip>
#include <sstream>

std::string RemoveAllWhitespace(std::string s) {
    std::string out;
    out.reserve(s.size());
    for (unsigned char c : s)
        if (!std::isspace(c)) out.push_back(char(c));
    return out;
}

std::string Upper(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string TrimLeft(std::string s, const std::string& set) {
    size_t start = s.find_first_not_of(set);
    if (start == std::string::npos) return std::string();
    return s.substr(start);
}

std::string TrimRight(std::string s, const std::string& set) {
    size_t end = s.find_last_not_of(set);
    if (end == std::string::npos) return std::string();
    s.erase(end + 1);
    return s;
}

std::string Trim(std::string s, const std::string& set) { return TrimLeft(TrimRight(std::move(s), set), set); }

namespace {

// The whitespace set as a table, so that trimming in place costs one look-up
// per character.
struct WhitespaceTable {
    bool is[256] = {};
    WhitespaceTable() {
        for (const char* c = VOQ_WHITESPACE; *c; ++c) is[static_cast<unsigned char>(*c)] = true;
    }
};
const WhitespaceTable kWhitespace;

void TrimInPlace(const char*& begin, const char*& end) {
    while (begin != end && kWhitespace.is[static_cast<unsigned char>(*begin)]) ++begin;
    while (end != begin && kWhitespace.is[static_cast<unsigned char>(end[-1])]) --end;
}

}  // namespace

std::string Trim(std::string s) {
    const char *begin = s.data(), *end = begin + s.size();
    TrimInPlace(begin, end);
    const size_t lead = size_t(begin - s.data());
    s.erase(size_t(end - s.data()));
    s.erase(0, lead);
    return s;
}

// Compared in place: name matching calls this for every source and alias of
// every term, so it makes no copies.
bool Similar(const std::string& a, const std::string& b) {
    const char *beginA = a.data(), *endA = beginA + a.size();
    const char *beginB = b.data(), *endB = beginB + b.size();
    TrimInPlace(beginA, endA);
    TrimInPlace(beginB, endB);
    if (endA - beginA != endB - beginB) return false;
    for (; beginA != endA; ++beginA, ++beginB) {
        if (std::toupper(static_cast<unsigned char>(*beginA)) != std::toupper(static_cast<unsigned char>(*beginB)))
            return false;
    }
    return true;
}

bool SimilarToKey(const std::string& key, const std::string& text) {
    // Trimming only shortens, and a text as long as the key holds no
    // whitespace at its ends when it matches (the key has none).
    if (text.size() < key.size()) return false;
    const char *begin = text.data(), *end = begin + text.size();
    if (text.size() != key.size()) {
        // Longer: only whitespace at an end can make it the key's length.
        if (!kWhitespace.is[static_cast<unsigned char>(begin[0])] &&
            !kWhitespace.is[static_cast<unsigned char>(end[-1])])
            return false;
        TrimInPlace(begin, end);
        if (size_t(end - begin) != key.size()) return false;
    }
    for (const char* k = key.data(); begin != end; ++begin, ++k) {
        if (*k == *begin) continue;
        // Upper-casing changes only letters: lower-case ASCII, or a byte
        // above ASCII in a locale that has such letters.
        const unsigned char c = static_cast<unsigned char>(*begin);
        if (!((c >= 'a' && c <= 'z') || c >= 0x80) || static_cast<unsigned char>(*k) != std::toupper(c))
            return false;
    }
    return true;
}

std::string ChompWord(std::string& s, const std::string& delimiters) {
    s = TrimLeft(s, delimiters);
    size_t end = s.find_first_of(delimiters);
    if (end == std::string::npos) end = s.size();
    std::string word = s.substr(0, end);
    s.erase(0, end);
    return word;
}

bool Chomp(std::string& s, const std::string& prefix) {
    if (s.compare(0, prefix.size(), prefix) != 0) return false;
    s.erase(0, prefix.size());
    return true;
}

// ChompWord until nothing is left, in one pass over the text (so that a list
// costs one copy per word): a rest of delimiters only gives one empty word.
std::vector<std::string> Split(std::string s, const std::string& delimiters) {
    std::vector<std::string> items;
    s = Trim(std::move(s));
    size_t position = 0;
    while (position < s.size()) {
        const size_t start = s.find_first_not_of(delimiters, position);
        if (start == std::string::npos) {
            items.emplace_back();
            break;
        }
        position = std::min(s.find_first_of(delimiters, start), s.size());
        items.emplace_back(s, start, position - start);
    }
    return items;
}

std::string Join(const std::string& separator, const std::vector<std::string>& items) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += separator;
        out += items[i];
    }
    return out;
}

bool String2Integer(std::string s, int& out) {
    s = Trim(std::move(s));
    if (s.empty()) return false;
    for (unsigned char c : s)
        if (!std::isdigit(c)) return false;
    // A value that does not fit an int is refused rather than wrapped.
    errno = 0;
    long value = std::strtol(s.c_str(), nullptr, 10);
    if (errno == ERANGE || value > INT_MAX) return false;
    out = int(value);
    return true;
}

bool String2Double(std::string s, double& out) {
    s = Trim(std::move(s));
    if (s.empty()) return false;
    char* end = nullptr;
    out = std::strtod(s.c_str(), &end);
    return end == s.c_str() + s.size();
}

namespace VOQ {

std::string HexString(int value, int width, bool uppercase) {
    std::ostringstream stream;
    stream << std::hex << std::setfill('0') << std::setw(width);
    if (uppercase) stream << std::uppercase;
    stream << static_cast<unsigned int>(value);
    return stream.str();
}

std::string PythonString(const void* data, unsigned long count, bool escapeEverything) {
    static const char digits[] = "0123456789ABCDEF";
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    std::string out;
    out.reserve(count * 4 + 2);
    out.push_back('"');
    for (unsigned long i = 0; i < count; ++i) {
        unsigned char b = bytes[i];
        if (!escapeEverything) {
            if (b == '\r') { out += "\\r"; continue; }
            if (b == '\n') { out += "\\n"; continue; }
            if (b == '\t') { out += "\\t"; continue; }
            if (b >= 0x20 && b < 0x80 && b != '"' && b != '\\') { out.push_back(char(b)); continue; }
        }
        out += "\\x";
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    out.push_back('"');
    return out;
}

std::string NumberString(double value) {
    std::ostringstream stream;
    stream << value;
    return stream.str();
}

}  // namespace VOQ
