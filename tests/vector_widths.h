// Runs a test body at every vector width this processor runs: the widest,
// then AVX2's and SSE2's (each no wider than the processor's). The body
// takes the width.
#ifndef VENDRAL_TESTS_VECTOR_WIDTHS_H
#define VENDRAL_TESTS_VECTOR_WIDTHS_H

#include <gtest/gtest.h>

#include <string>

#include "classifier/lanes/multiversion.h"

template <typename Body>
void at_every_width(Body body) {
    for (int limit : {0, 4, 2}) {
        const int width = vendral::vector_width(limit);
        SCOPED_TRACE("vector width " + std::to_string(width));
        body(width);
    }
}

#endif  // VENDRAL_TESTS_VECTOR_WIDTHS_H
