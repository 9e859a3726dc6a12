#include "classifier/classifier.h"
#include "classifier/host_services.h"
#include "classifier/tiles/norms.h"
#include "classifier/u64_text.h"

namespace vendral {

void print_summary(int kernel_type, double p, int32_t P, int32_t M, int32_t unclassified,
                   uint64_t flops, uint64_t comparisons, int seconds) {
    host_printf("\n%s %s Parzen classifier performance summary\n", norm_for(p).display_name,
                kernel_table[kernel_type].display_name);
    host_printf("Test set contained %d test patterns belonging to %d classes\n", P, M);
    if (unclassified != 0) {
        host_printf("unable to classify %d patterns ", unclassified);
        host_printf("(%f%%)\n", 100.0 * unclassified / P);
    }
    // The counters are 64-bit; formatted here so no host printf needs %llu.
    host_printf("%s FLOPs and %s comparisons in %d seconds\n\n", u64_text(flops).digits,
                u64_text(comparisons).digits, seconds);
}

}  // namespace vendral
