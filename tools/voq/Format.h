// Text formatting of the `voq` tool: colours, numbers, rows and tables.
#ifndef VOQ_TOOL_FORMAT_H
#define VOQ_TOOL_FORMAT_H

#include <string>
#include <vector>

#include "Tool.h"

namespace voqtool {

// Whether to colour what goes to the descriptor `fd`: always/never as asked;
// automatically only on a terminal and when NO_COLOR is unset or empty.
bool UseColour(ColourMode mode, int fd);

// ANSI colouring that does nothing when disabled.
class Style {
public:
    explicit Style(bool enabled = false) : enabled_(enabled) {}
    bool Enabled() const { return enabled_; }
    std::string Bold(const std::string& s) const { return Wrap("1", s); }
    std::string Dim(const std::string& s) const { return Wrap("2", s); }
    std::string Red(const std::string& s) const { return Wrap("31", s); }
    std::string Green(const std::string& s) const { return Wrap("32", s); }
    std::string Yellow(const std::string& s) const { return Wrap("33", s); }

private:
    std::string Wrap(const char* code, const std::string& s) const {
        return enabled_ ? "\x1b[" + std::string(code) + "m" + s + "\x1b[0m" : s;
    }
    bool enabled_;
};

// The one-line error report: "voq: error: MESSAGE (hint: HINT)".  Line
// breaks inside the message become "; ".
std::string ErrorLine(const std::string& message, const std::string& hint, const Style& style);
// Line breaks and runs of blanks around them become "; ".
std::string OneLine(const std::string& text);

// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A sample value for rows: fixed with 3 decimals ("-0.000" is written
// "0.000"), or a whole number for trigger channels.
std::string SampleText(double value, bool wholeNumber);
// A field of a CSV (',') or TSV ('\t') row: CSV fields that contain the
// separator, a quote or a line break are quoted; TSV fields have tabs and
// line breaks replaced by blanks.
std::string Field(const std::string& text, char separator);

// Electrode contact from an impedance estimate in kOhm.
enum class Contact { Unknown, Good, Fair, Poor };
Contact Grade(double kOhm, double goodKOhm, double fairKOhm);
const char* ContactText(Contact c);
std::string ColouredContact(Contact c, const Style& style);
// An impedance for the table: one decimal, or "--" when not measured (< 0).
std::string ImpedanceText(double kOhm);

// Root mean square of the values.
double Rms(const std::vector<double>& values);

// Names for the columns of a row: each channel's name, or, for a name that
// is empty or taken by an earlier channel, its specification; the
// specification too is made unique with "#2", "#3" ...
std::vector<std::string> ColumnNames(const std::vector<std::string>& names,
                                     const std::vector<std::string>& specifications);

}  // namespace voqtool

#endif
