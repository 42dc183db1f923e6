// The frame of the small C interfaces beside libVOQ (the recorder's VOQRec_*,
// the LSL outlet's VOQLSL_*): each function runs its body inside it, and
// every exception becomes the stored failure text of the calling thread.
#ifndef VOQREC_CFRAME_H
#define VOQREC_CFRAME_H

#include <exception>
#include <string>

namespace voqrec {

// The last failure of one thread.
struct Failure {
    std::string text;
    bool failed = false;
    const char* Text() const { return failed ? text.c_str() : nullptr; }
    void Clear() {
        failed = false;
        text.clear();
    }
};

// Runs `body`; on an exception stores its text (or `unknown`) in `failure`
// and returns `errorValue`.
template <typename R, typename Body>
R Frame(Failure& failure, const char* unknown, R errorValue, Body&& body) {
    try {
        return body();
    } catch (const std::exception& e) {
        failure.text = e.what();
    } catch (...) {
        failure.text = unknown;
    }
    failure.failed = true;
    return errorValue;
}

}  // namespace voqrec

#endif
