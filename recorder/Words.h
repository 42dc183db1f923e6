// Splitting a text into words at blanks, tabs and line ends; shared by the
// recorder and the voq tool.
#ifndef VOQREC_WORDS_H
#define VOQREC_WORDS_H

#include <string>
#include <vector>

namespace voqrec {

inline std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

}  // namespace voqrec

#endif
