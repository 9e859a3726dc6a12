// Decimal text of an unsigned 64-bit count, independent of the host printf's
// support for long long conversions.
#ifndef VENDRAL_CLASSIFIER_U64_TEXT_H
#define VENDRAL_CLASSIFIER_U64_TEXT_H

#include <cstdint>

namespace vendral {

struct u64_text {
    char digits[21];

    explicit u64_text(uint64_t value) {
        char reversed[20];
        int length = 0;
        do {
            reversed[length++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        for (int i = 0; i < length; ++i) digits[i] = reversed[length - 1 - i];
        digits[length] = '\0';
    }
};

}  // namespace vendral

#endif  // VENDRAL_CLASSIFIER_U64_TEXT_H
