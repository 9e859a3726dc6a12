// A model prepared once from labelled templates, then asked about batch
// after batch of patterns, from two threads at once. Built and run by the
// tests (ctest -R model_example); prints each batch's labels.
#include <cstdio>
#include <thread>
#include <vector>

#include "classifier/model.h"

int main() {
    // Six templates in two columns, in classes 10 and 20, each class the
    // other's mirror image through (0.5, 0.5).
    const double rows[6][2] = {{0.0, 0.0}, {0.125, 0.25}, {0.25, 0.125}, {1.0, 1.0}, {0.875, 0.75}, {0.75, 0.875}};
    const double labels[6] = {10, 10, 10, 20, 20, 20};
    const double *templates[6];
    for (int j = 0; j < 6; ++j) templates[j] = rows[j];

    vendral::model_definition definition;
    definition.N = 6;
    definition.d = 2;
    definition.templates = templates;
    definition.labels = labels;
    definition.kernel_type = static_cast<int>(vendral::kernel_kind::gaussian);
    definition.p = 2.0;
    definition.h = 0.5;
    vendral::model *model = nullptr;
    if (vendral::prepare_model(definition, vendral::heap_allocator(), &model) != vendral::model_status::prepared) {
        std::fprintf(stderr, "the model could not be prepared\n");
        return 1;
    }

    // Two batches classified at once; the second holds a pattern exactly
    // between the classes, which their equal scores leave unclassified.
    const double first[2][2] = {{0.05, 0.1}, {1.0, 0.95}};
    const double second[2][2] = {{0.95, 1.05}, {0.5, 0.5}};
    auto classify_batch = [model](const double (*batch)[2], std::vector<int32_t> *classes) {
        const double *patterns[2] = {batch[0], batch[1]};
        vendral::classify_options options;  // one thread, the automatic choices
        vendral::classify_counts counts;
        classes->resize(2);
        return vendral::classify(*model, 2, 2, patterns, options, classes->data(), &counts);
    };
    std::vector<int32_t> first_classes, second_classes;
    vendral::classify_status first_status, second_status;
    std::thread other([&] { second_status = classify_batch(second, &second_classes); });
    first_status = classify_batch(first, &first_classes);
    other.join();
    if (first_status != vendral::classify_status::classified || second_status != vendral::classify_status::classified)
        return 1;

    const int32_t *class_labels = vendral::model_class_labels(*model);
    for (const auto *classes : {&first_classes, &second_classes}) {
        for (int32_t c : *classes) {
            if (c < 0) {
                std::printf(" unclassified");
            } else {
                std::printf(" %d", class_labels[c]);
            }
        }
        std::printf("\n");
    }
    vendral::release_model(model);
    return 0;
}
