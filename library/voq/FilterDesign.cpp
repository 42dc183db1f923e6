// Filter design: Butterworth high-pass, low-pass, band-pass and band-stop
// filters and second-order notches as second-order sections.
//
// A Butterworth design starts from the analog low-pass prototype (poles
// evenly spaced on the left half of the unit circle, no zeros, gain 1),
// transforms it to the wanted kind at the pre-warped edge frequencies, maps
// it to the digital domain with the bilinear transform, and pairs poles and
// zeros into sections: the pole closest to the unit circle goes into the
// last section with its nearest zero, and so on backwards, the gain into the
// first section.  Every step works on fixed arrays, so that redesigning for
// a new rate allocates nothing.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <limits>

#include "voq/Error.h"
#include "voq/Filter.h"

namespace VOQ {

namespace {

typedef std::complex<double> Complex;

const double kPi = 3.141592653589793;

// A short list of roots of fixed capacity (a band of order 8 has 16).
class Roots {
public:
    static const size_t kCapacity = 2 * kMaxFilterOrder + 2;
    size_t size() const { return n; }
    bool empty() const { return n == 0; }
    Complex& operator[](size_t i) { return v[i]; }
    const Complex& operator[](size_t i) const { return v[i]; }
    void push_back(Complex c) { v[n++] = c; }
    void erase(size_t i) {
        for (size_t k = i + 1; k < n; ++k) v[k - 1] = v[k];
        --n;
    }
    Complex* begin() { return v; }
    Complex* end() { return v + n; }

private:
    Complex v[kCapacity];
    size_t n = 0;
};

bool IsReal(const Complex& c) { return c.imag() == 0.0; }

size_t CountReal(const Roots& r) {
    size_t count = 0;
    for (size_t i = 0; i < r.size(); ++i) count += IsReal(r[i]) ? 1 : 0;
    return count;
}

struct Zpk {
    Roots z, p;
    double k = 1.0;
};

// Orders the roots as complex pairs (one root of each pair, the one with the
// positive imaginary part, averaged with its partner's conjugate) sorted by
// real part, then the real roots sorted by value.  Runs of pairs with the
// same real part are sorted by imaginary part.
Roots PairUp(Roots r) {
    const double tol = 100 * std::numeric_limits<double>::epsilon();
    std::stable_sort(r.begin(), r.end(), [](const Complex& a, const Complex& b) {
        if (a.real() != b.real()) return a.real() < b.real();
        return std::fabs(a.imag()) < std::fabs(b.imag());
    });
    Roots real, positive, negative;
    for (size_t i = 0; i < r.size(); ++i) {
        if (std::fabs(r[i].imag()) <= tol * std::abs(r[i]))
            real.push_back(r[i].real());
        else if (r[i].imag() > 0)
            positive.push_back(r[i]);
        else
            negative.push_back(r[i]);
    }
    if (positive.size() != negative.size()) throw Error("filter design: a complex root has no conjugate");
    const auto byImaginary = [](const Complex& a, const Complex& b) { return std::fabs(a.imag()) < std::fabs(b.imag()); };
    for (size_t start = 0; start < positive.size();) {
        size_t stop = start + 1;
        while (stop < positive.size() &&
               positive[stop].real() - positive[stop - 1].real() <= tol * std::abs(positive[stop - 1]))
            ++stop;
        std::stable_sort(positive.begin() + start, positive.begin() + stop, byImaginary);
        std::stable_sort(negative.begin() + start, negative.begin() + stop, byImaginary);
        start = stop;
    }
    Roots out;
    for (size_t i = 0; i < positive.size(); ++i) out.push_back((positive[i] + std::conj(negative[i])) / 2.0);
    for (size_t i = 0; i < real.size(); ++i) out.push_back(real[i]);
    return out;
}

enum class Which { Real, Complex, Any };

// The index of the root of `from` nearest to `to` among those of the kind
// asked for (the first of equally near ones).
size_t Nearest(const Roots& from, Complex to, Which which) {
    size_t best = from.size();
    double bestDistance = 0.0;
    for (size_t i = 0; i < from.size(); ++i) {
        if (which == Which::Real && !IsReal(from[i])) continue;
        if (which == Which::Complex && IsReal(from[i])) continue;
        const double d = std::abs(from[i] - to);
        if (best == from.size() || d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    if (best == from.size()) throw Error("filter design: no root to pair with");
    return best;
}

// The index of the root closest to the unit circle, among `from` (real ones
// only when asked).
size_t Worst(const Roots& from, bool realOnly) {
    size_t best = from.size();
    double bestDistance = 0.0;
    for (size_t i = 0; i < from.size(); ++i) {
        if (realOnly && !IsReal(from[i])) continue;
        const double d = std::fabs(1.0 - std::abs(from[i]));
        if (best == from.size() || d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}

Complex Take(Roots& r, size_t index) {
    const Complex c = r[index];
    r.erase(index);
    return c;
}

// Polynomial coefficients of (x - a)(x - b), leading 1 left out; `b` is a's
// conjugate or both are real.
void Quadratic(Complex a, Complex b, double& c1, double& c2) {
    c1 = -(a + b).real();
    c2 = (a * b).real();
}

// One section from up to two zeros and two poles (empty slots hold nothing:
// a missing zero lowers the numerator's degree).
Section MakeSection(const Complex* zeros, size_t nz, Complex p1, Complex p2) {
    Section s{0, 0, 0, 0, 0};
    Quadratic(p1, p2, s.a1, s.a2);
    if (nz == 2) {
        s.b0 = 1.0;
        Quadratic(zeros[0], zeros[1], s.b1, s.b2);
    } else if (nz == 1) {
        s.b1 = 1.0;
        s.b2 = -zeros[0].real();
    } else {
        s.b2 = 1.0;
    }
    return s;
}

// Second-order sections of a digital system, nearest pairing.
size_t ToSections(Zpk zpk, Section* out) {
    Roots& z = zpk.z;
    Roots& p = zpk.p;
    while (p.size() < z.size()) p.push_back(0.0);
    while (z.size() < p.size()) z.push_back(0.0);
    const size_t count = (p.size() + 1) / 2;
    if (p.size() % 2 == 1) {
        p.push_back(0.0);
        z.push_back(0.0);
    }
    z = PairUp(z);
    p = PairUp(p);

    for (size_t si = count; si-- > 0;) {
        const Complex p1 = Take(p, Worst(p, false));
        if (IsReal(p1) && CountReal(p) == 0) {
            // The last real pole: a first-order section (padded).
            const Complex zeros[2] = {Take(z, Nearest(z, p1, Which::Real)), 0.0};
            out[si] = MakeSection(zeros, 2, p1, 0.0);
        } else if (p.size() + 1 == z.size() && !IsReal(p1) && CountReal(p) == 1 && CountReal(z) == 1) {
            // One real pole and one real zero remain with as many zeros as
            // poles to pair: this pole must take a complex zero.
            const Complex z1 = Take(z, Nearest(z, p1, Which::Complex));
            const Complex zeros[2] = {z1, std::conj(z1)};
            out[si] = MakeSection(zeros, 2, p1, std::conj(p1));
        } else {
            const Complex p2 = IsReal(p1) ? Take(p, Worst(p, true)) : std::conj(p1);
            if (z.empty()) {
                out[si] = MakeSection(nullptr, 0, p1, p2);
                continue;
            }
            const Complex z1 = Take(z, Nearest(z, p1, Which::Any));
            if (!IsReal(z1)) {
                const Complex zeros[2] = {z1, std::conj(z1)};
                out[si] = MakeSection(zeros, 2, p1, p2);
            } else if (!z.empty()) {
                const Complex zeros[2] = {z1, Take(z, Nearest(z, p1, Which::Real))};
                out[si] = MakeSection(zeros, 2, p1, p2);
            } else {
                out[si] = MakeSection(&z1, 1, p1, p2);
            }
        }
    }
    out[0].b0 *= zpk.k;
    out[0].b1 *= zpk.k;
    out[0].b2 *= zpk.k;
    return count;
}

Complex Product(const Roots& r, Complex offset, double sign) {
    Complex product = 1.0;
    for (size_t i = 0; i < r.size(); ++i) product *= offset + sign * r[i];
    return product;
}

// Analog prototype transformed to the wanted kind, at pre-warped edges
// (the rate normalised to 2, as the bilinear transform below assumes).
Zpk AnalogDesign(const FilterElement& e, double rate) {
    const int n = e.order;
    Zpk proto;
    for (int m = -n + 1; m < n; m += 2) {
        const double angle = kPi * m / (2.0 * n);
        proto.p.push_back(-Complex(std::cos(angle), std::sin(angle)));
    }
    const auto warp = [rate](double f) { return 4.0 * std::tan(kPi * (2.0 * f / rate) / 2.0); };

    Zpk out;
    if (e.kind == FilterElement::LowPass) {
        const double wo = warp(e.low);
        for (size_t i = 0; i < proto.p.size(); ++i) out.p.push_back(wo * proto.p[i]);
        out.k = std::pow(wo, n);
    } else if (e.kind == FilterElement::HighPass) {
        const double wo = warp(e.low);
        for (size_t i = 0; i < proto.p.size(); ++i) out.p.push_back(wo / proto.p[i]);
        for (int i = 0; i < n; ++i) out.z.push_back(0.0);
        out.k = (1.0 / Product(proto.p, 0.0, -1.0)).real();
    } else {
        const double w1 = warp(e.low), w2 = warp(e.high);
        const double bw = w2 - w1, wo = std::sqrt(w1 * w2);
        Roots shifted;
        for (size_t i = 0; i < proto.p.size(); ++i)
            shifted.push_back(e.kind == FilterElement::BandPass ? proto.p[i] * bw / 2.0 : (bw / 2.0) / proto.p[i]);
        for (size_t i = 0; i < shifted.size(); ++i)
            out.p.push_back(shifted[i] + std::sqrt(shifted[i] * shifted[i] - wo * wo));
        for (size_t i = 0; i < shifted.size(); ++i)
            out.p.push_back(shifted[i] - std::sqrt(shifted[i] * shifted[i] - wo * wo));
        if (e.kind == FilterElement::BandPass) {
            for (int i = 0; i < n; ++i) out.z.push_back(0.0);
            out.k = std::pow(bw, n);
        } else {
            for (int i = 0; i < n; ++i) out.z.push_back(Complex(0.0, wo));
            for (int i = 0; i < n; ++i) out.z.push_back(Complex(0.0, -wo));
            out.k = (1.0 / Product(proto.p, 0.0, -1.0)).real();
        }
    }
    return out;
}

// The bilinear transform at a rate of 2: zeros at infinity go to -1.
Zpk Bilinear(const Zpk& analog) {
    const double fs2 = 4.0;
    Zpk out;
    for (size_t i = 0; i < analog.z.size(); ++i) out.z.push_back((fs2 + analog.z[i]) / (fs2 - analog.z[i]));
    for (size_t i = 0; i < analog.p.size(); ++i) out.p.push_back((fs2 + analog.p[i]) / (fs2 - analog.p[i]));
    for (size_t i = analog.z.size(); i < analog.p.size(); ++i) out.z.push_back(-1.0);
    out.k = analog.k * (Product(analog.z, fs2, -1.0) / Product(analog.p, fs2, -1.0)).real();
    return out;
}

// A second-order notch at f with quality q: -3 dB points q times narrower
// than f apart.
Section Notch(double f, double q, double rate) {
    const double w0 = 2.0 * f / rate;
    const double bw = w0 / q * kPi;
    const double gb = 1.0 / std::sqrt(2.0);
    const double beta = (std::sqrt(1.0 - gb * gb) / gb) * std::tan(bw / 2.0);
    const double gain = 1.0 / (1.0 + beta);
    const double c = std::cos(w0 * kPi);
    return Section{gain, gain * (-2.0 * c), gain, -2.0 * gain * c, 2.0 * gain - 1.0};
}

std::string Hz(double f) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", f);
    return text;
}

void CheckBelowHalfRate(const FilterElement& e, double f, double rate) {
    if (!(rate > 0) || !std::isfinite(rate))
        throw Error("cannot design filter \"" + e.text + "\": the sampling rate is not known");
    if (f >= rate / 2)
        throw Error("bad filter \"" + e.text + "\": " + Hz(f) + " is not below half the sampling rate (" +
                    Hz(rate / 2) + " Hz at " + Hz(rate) + " samples/s)");
}

}  // namespace

size_t MaxSections(const FilterElement& e) {
    switch (e.kind) {
        case FilterElement::HighPass:
        case FilterElement::LowPass:
            return size_t(e.order + 1) / 2;
        case FilterElement::BandPass:
        case FilterElement::BandStop:
            return size_t(e.order);
        case FilterElement::Notch:
            return size_t(e.harmonics);
        case FilterElement::CommonAverage:
            break;
    }
    return 0;
}

size_t DesignSections(const FilterElement& e, double rate, Section* out) {
    switch (e.kind) {
        case FilterElement::CommonAverage:
            return 0;
        case FilterElement::Notch: {
            CheckBelowHalfRate(e, e.low, rate);
            size_t count = 0;
            for (int k = 1; k <= e.harmonics && k * e.low < rate / 2; ++k) out[count++] = Notch(k * e.low, e.q, rate);
            return count;
        }
        case FilterElement::BandPass:
        case FilterElement::BandStop:
            CheckBelowHalfRate(e, e.high, rate);
            break;
        case FilterElement::HighPass:
        case FilterElement::LowPass:
            CheckBelowHalfRate(e, e.low, rate);
            break;
    }
    return ToSections(Bilinear(AnalogDesign(e, rate)), out);
}

std::string PrefilteringText(const std::vector<FilterElement>& chain) {
    double highPass = 0.0, lowPass = 0.0;
    std::string others;
    for (const FilterElement& e : chain) {
        if (e.kind == FilterElement::HighPass || e.kind == FilterElement::BandPass) highPass = std::max(highPass, e.low);
        if (e.kind == FilterElement::LowPass) lowPass = lowPass > 0 ? std::min(lowPass, e.low) : e.low;
        if (e.kind == FilterElement::BandPass) lowPass = lowPass > 0 ? std::min(lowPass, e.high) : e.high;
        if (e.kind == FilterElement::Notch) {
            others += " N:";
            for (int k = 1; k <= e.harmonics; ++k) others += (k > 1 ? "," : "") + Hz(k * e.low);
            others += "Hz";
        }
        if (e.kind == FilterElement::BandStop) others += " BS:" + Hz(e.low) + "-" + Hz(e.high) + "Hz";
        if (e.kind == FilterElement::CommonAverage) others += " CAR";
    }
    std::string text;
    if (highPass > 0) text += " HP:" + Hz(highPass) + "Hz";
    if (lowPass > 0) text += " LP:" + Hz(lowPass) + "Hz";
    text += others;
    return text.empty() ? text : text.substr(1);
}

}  // namespace VOQ
