// Text formatting of the `voq` tool.
#include "Format.h"

#include <unistd.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace voqtool {

bool UseColour(ColourMode mode, int fd) {
    if (mode == ColourMode::Always) return true;
    if (mode == ColourMode::Never) return false;
    const char* noColour = std::getenv("NO_COLOR");
    if (noColour != nullptr && noColour[0] != '\0') return false;
    const char* term = std::getenv("TERM");
    if (term != nullptr && std::string(term) == "dumb") return false;
    return isatty(fd) == 1;
}

std::string OneLine(const std::string& text) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == '\n' || c == '\r') {
            while (!out.empty() && (out.back() == ' ' || out.back() == '\t')) out.pop_back();
            while (i < text.size() && (text[i] == '\n' || text[i] == '\r' || text[i] == ' ' ||
                                       text[i] == '\t'))
                ++i;
            if (!out.empty() && i < text.size()) out += "; ";
            continue;
        }
        out += c;
        ++i;
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '\t')) out.pop_back();
    return out;
}

std::string ErrorLine(const std::string& message, const std::string& hint, const Style& style) {
    std::string line = "voq: " + style.Red("error:") + " " + OneLine(message);
    if (!hint.empty()) line += " (hint: " + OneLine(hint) + ")";
    return line;
}

std::string Format(const char* format, ...) {
    char small[256];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
    std::string big(static_cast<size_t>(n) + 1, '\0');
    va_start(args, format);
    std::vsnprintf(&big[0], big.size(), format, args);
    va_end(args);
    big.resize(static_cast<size_t>(n));
    return big;
}

std::string SampleText(double value, bool wholeNumber) {
    if (!std::isfinite(value)) return "nan";
    char text[64];
    if (wholeNumber) {
        std::snprintf(text, sizeof text, "%.0f", value);
    } else {
        std::snprintf(text, sizeof text, "%.3f", value);
    }
    std::string s(text);
    if (s == "-0.000" || s == "-0") s.erase(0, 1);
    return s;
}

std::string Field(const std::string& text, char separator) {
    if (separator == '\t') {
        std::string out = text;
        for (char& c : out)
            if (c == '\t' || c == '\n' || c == '\r') c = ' ';
        return out;
    }
    if (text.find_first_of(std::string(1, separator) + "\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

Contact Grade(double kOhm, double goodKOhm, double fairKOhm) {
    if (!(kOhm >= 0.0)) return Contact::Unknown;
    if (kOhm <= goodKOhm) return Contact::Good;
    if (kOhm <= fairKOhm) return Contact::Fair;
    return Contact::Poor;
}

const char* ContactText(Contact c) {
    switch (c) {
    case Contact::Good: return "good";
    case Contact::Fair: return "fair";
    case Contact::Poor: return "poor";
    case Contact::Unknown: return "--";
    }
    return "--";
}

std::string ColouredContact(Contact c, const Style& style) {
    switch (c) {
    case Contact::Good: return style.Green(ContactText(c));
    case Contact::Fair: return style.Yellow(ContactText(c));
    case Contact::Poor: return style.Red(ContactText(c));
    case Contact::Unknown: return style.Dim(ContactText(c));
    }
    return ContactText(c);
}

std::string ImpedanceText(double kOhm) {
    if (!(kOhm >= 0.0)) return "--";
    return Format("%.1f", kOhm);
}

double Rms(const std::vector<double>& values) {
    if (values.empty()) return 0.0;
    double sum = 0.0;
    for (double v : values) sum += v * v;
    return std::sqrt(sum / static_cast<double>(values.size()));
}

std::vector<std::string> ColumnNames(const std::vector<std::string>& names,
                                     const std::vector<std::string>& specifications) {
    std::vector<std::string> columns;
    std::set<std::string> taken;
    for (size_t i = 0; i < names.size(); ++i) {
        std::string name = names[i];
        if (name.empty() || taken.count(name) != 0)
            name = i < specifications.size() && !specifications[i].empty() ? specifications[i]
                                                                            : "channel" + std::to_string(i + 1);
        std::string unique = name;
        for (int k = 2; taken.count(unique) != 0; ++k) unique = name + "#" + std::to_string(k);
        taken.insert(unique);
        columns.push_back(unique);
    }
    return columns;
}

}  // namespace voqtool
