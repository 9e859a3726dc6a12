// A roofline probe: this machine's peak rates for the operations the
// engine's inner loops are made of, measured on every core with operands in
// registers (no memory traffic), at the vector width the engine runs with.
// From them, the fastest any evaluation of a workload could go.
#ifndef VENDRAL_BENCH_ROOFLINE_H
#define VENDRAL_BENCH_ROOFLINE_H

namespace roofline {

// Lanes per second on all cores.
struct rates {
    double fused_terms;     // s += a * b (one multiply-add): a p = 2 term as a dot product
    double absolute_terms;  // s += |b - a|: a p = 1 term
    double cube_terms;      // s += |b - a|^3: a p = 3 term
    double exponentials;    // the fast path's exp polynomial
    double cube_roots;      // the fast path's cube root
    double reciprocals;     // 1 / (q^2 + 1): the cauchy kernel
    double sines;           // the fast path's sine: the squared sinc kernel
};

// At a vector width vector_width() gave.
rates measure(double seconds_per_probe, int width);

// The most pattern-template pairs per second for d columns, norm p and
// kernel_type: every column's term at its peak rate, then the kernel (and
// the root, for p = 3).
double pairs_per_second(const rates &peak, int d, int kernel_type, double p);

}  // namespace roofline

#endif  // VENDRAL_BENCH_ROOFLINE_H
