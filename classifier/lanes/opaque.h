// A value the optimiser cannot see through, so that pow(x, opaque(2.0)) stays
// a library call instead of being rewritten as x*x.
#ifndef VENDRAL_CLASSIFIER_OPAQUE_H
#define VENDRAL_CLASSIFIER_OPAQUE_H

namespace vendral {

inline double opaque(double value) {
#if defined(__GNUC__)
    __asm__ volatile("" : "+m"(value));
    return value;
#else
    volatile double hidden = value;
    return hidden;
#endif
}

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_OPAQUE_H
