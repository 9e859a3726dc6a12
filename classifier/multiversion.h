// Marks a function to be compiled for several x86-64 levels; the loader picks
// the widest vectors the processor has. One shipped build runs everywhere.
#ifndef VENDRAL_CLASSIFIER_MULTIVERSION_H
#define VENDRAL_CLASSIFIER_MULTIVERSION_H

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__ELF__) && \
    !defined(VENDRAL_NO_MULTIVERSION)
#define VENDRAL_MULTIVERSION \
    __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define VENDRAL_MULTIVERSION
#endif

#endif  // VENDRAL_CLASSIFIER_MULTIVERSION_H
