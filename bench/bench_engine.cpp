// Pattern-template pairs per second of the fast evaluation against the literal
// single-threaded one, measured in the same run on the same data, through the
// built-in host. The literal baseline runs on a slice of the patterns (its
// throughput per pair does not depend on how many there are). Then the
// pruned evaluation (the automatic choice) against brute force, in the same
// calls: W1-W4, where nothing can be skipped, W5 (a million templates in
// three columns), W5 through a model prepared once and, with a third
// argument "scaling", how the pruned evaluation scales.
// Usage: vendral_bench [scale] [width] [pruned | model | scaling]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "builtin_host/builtin_host.h"
#include "classifier/model.h"
#include "classifier/lanes/multiversion.h"
#include "host/module_entry.h"
#include "roofline.h"

namespace {

// The width every run is limited to: set once, from the command line.
int width_limit = 0;

// One module call with the engine's options, counting what it did.
builtin_host::call_outcome call_engine(const std::vector<const mxArray *> &args, vendral::evaluation mode,
                                       vendral::pruning prune, vendral::classify_counts *counts) {
    vendral::classify_options engine = vendral::module_options();
    engine.mode = mode;
    engine.prune = prune;
    engine.vector_width = width_limit;
    return builtin_host::call(1, args, {}, [&](int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
        vendral::run_module(nlhs, plhs, nrhs, prhs, engine, counts);
    });
}

struct workload {
    const char *name;
    int N, P, d, classes, kernel_type;
    double p;
    double h = 0.0;  // 0: 0.1 sqrt(d)
};

struct timing {
    double seconds;
    size_t peak_bytes;        // the most the call held at once
    int64_t literal_patterns;  // patterns the fast evaluation scored literally
};

struct data {
    builtin_host::array_ptr templates, labels, patterns;
};

// Class centres in [0.25, 0.75]^d plus uniform noise in +-0.25.
data make_data(const workload &w, int patterns) {
    std::mt19937_64 random(2026);
    std::uniform_real_distribution<double> centre(0.25, 0.75), noise(-0.25, 0.25);
    std::vector<std::vector<double>> centres(w.classes, std::vector<double>(w.d));
    for (auto &c : centres)
        for (double &x : c) x = centre(random);
    auto sample = [&](int count, std::vector<double> *labels) {
        std::vector<double> column_major(static_cast<size_t>(count) * w.d);
        for (int r = 0; r < count; ++r) {
            const int k = r % w.classes;
            if (labels) labels->push_back(k + 1);
            for (int i = 0; i < w.d; ++i) column_major[r + static_cast<size_t>(i) * count] = centres[k][i] + noise(random);
        }
        return builtin_host::make_array(mxDOUBLE_CLASS, {count, w.d}, column_major);
    };
    data out;
    std::vector<double> labels;
    out.templates = sample(w.N, &labels);
    out.labels = builtin_host::make_column(labels);
    out.patterns = sample(patterns, nullptr);
    return out;
}

timing one_run(const workload &w, const data &in, double *checksum, vendral::evaluation mode = vendral::evaluation::fast,
               vendral::pruning prune = vendral::pruning::automatic) {
    const double h = w.h > 0 ? w.h : 0.1 * std::sqrt(w.d);
    auto kernel = builtin_host::make_scalar(w.kernel_type), norm = builtin_host::make_scalar(w.p),
         width = builtin_host::make_scalar(h), unknown = builtin_host::make_scalar(0),
         oflag = builtin_host::make_scalar(0);
    const auto start = std::chrono::steady_clock::now();
    vendral::classify_counts counts;
    const auto outcome = call_engine({in.templates.get(), in.labels.get(), kernel.get(), norm.get(), width.get(),
                                      in.patterns.get(), unknown.get(), oflag.get()},
                                     mode, prune, &counts);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (outcome.raised) {
        std::fprintf(stderr, "%s: %s\n", w.name, outcome.error.c_str());
        std::exit(1);
    }
    for (double label : outcome.results[0]->real) *checksum += label;  // keeps the work observable
    return {elapsed, outcome.peak_bytes, counts.patterns_literal};
}

// The fastest of three runs: the first may pay for page faults and a cold cache.
timing best_of_three(const workload &w, const data &in, double *checksum,
                     vendral::evaluation mode = vendral::evaluation::fast,
                     vendral::pruning prune = vendral::pruning::automatic) {
    timing best{1e300, 0, 0};
    for (int repeat = 0; repeat < 3; ++repeat) {
        const timing run = one_run(w, in, checksum, mode, prune);
        if (run.seconds < best.seconds) best = run;
    }
    return best;
}

// Every template a class of its own against two classes, on the same data:
// the time and memory that many classes cost.
// Both on the brute-force path: with two classes the automatic choice may
// take the tree, which would measure that instead.
void compare_class_counts(const workload &many, double scale, double *checksum) {
    workload two = many;
    two.classes = 2;
    const int patterns = std::max(1, static_cast<int>(many.P * scale));
    const auto fast = vendral::evaluation::fast;
    const auto never = vendral::pruning::never;
    const timing with_many = best_of_three(many, make_data(many, patterns), checksum, fast, never);
    const timing with_two = best_of_three(two, make_data(two, patterns), checksum, fast, never);
    std::printf("\n%s, %d patterns: %.3f s, %.1f MB held at most; with 2 classes %.3f s, %.1f MB: "
                "%.2fx the time; %lld and %lld patterns scored literally\n",
                many.name, patterns, with_many.seconds, with_many.peak_bytes / 1e6, with_two.seconds,
                with_two.peak_bytes / 1e6, with_many.seconds / with_two.seconds,
                static_cast<long long>(with_many.literal_patterns), static_cast<long long>(with_two.literal_patterns));
}

// Ten gaussian clusters (centres uniform in [0, 1]^d, spread sd), labels the
// cluster's number; patterns drawn from the same mixture.
data make_clusters(int N, int P, int d, double sd, uint64_t seed) {
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> normal(0.0, sd);
    std::uniform_int_distribution<int> cluster(0, 9);
    std::vector<std::vector<double>> centres(10, std::vector<double>(d));
    for (auto &c : centres)
        for (double &x : c) x = unit(random);
    auto sample = [&](int count, std::vector<double> *labels) {
        std::vector<double> column_major(static_cast<size_t>(count) * d);
        for (int r = 0; r < count; ++r) {
            const int k = cluster(random);
            if (labels) labels->push_back(k + 1);
            for (int i = 0; i < d; ++i) column_major[r + static_cast<size_t>(i) * count] = centres[k][i] + normal(random);
        }
        return builtin_host::make_array(mxDOUBLE_CLASS, {count, d}, column_major);
    };
    data out;
    std::vector<double> labels;
    out.templates = sample(N, &labels);
    out.labels = builtin_host::make_column(labels);
    out.patterns = sample(P, nullptr);
    return out;
}

// The first `count` rows of a P x d matrix.
builtin_host::array_ptr first_rows(const mxArray *matrix, int count) {
    const int rows = matrix->dims[0], d = matrix->dims[1];
    std::vector<double> column_major(static_cast<size_t>(count) * d);
    for (int i = 0; i < d; ++i)
        for (int r = 0; r < count; ++r)
            column_major[r + static_cast<size_t>(i) * count] = matrix->real[r + static_cast<size_t>(i) * rows];
    return builtin_host::make_array(mxDOUBLE_CLASS, {count, d}, column_major);
}

struct labelled_run {
    double seconds;
    std::vector<double> labels;
    int64_t pruned, literal;
};

labelled_run run_labelled(const data &in, int kernel_type, double p, double h, const mxArray *patterns,
                          vendral::pruning mode) {
    auto kernel = builtin_host::make_scalar(kernel_type), norm = builtin_host::make_scalar(p),
         width = builtin_host::make_scalar(h), unknown = builtin_host::make_scalar(0),
         oflag = builtin_host::make_scalar(0);
    const auto start = std::chrono::steady_clock::now();
    vendral::classify_counts counts;
    const auto outcome = call_engine({in.templates.get(), in.labels.get(), kernel.get(), norm.get(), width.get(),
                                      patterns, unknown.get(), oflag.get()},
                                     vendral::evaluation::fast, mode, &counts);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (outcome.raised) {
        std::fprintf(stderr, "%s\n", outcome.error.c_str());
        std::exit(1);
    }
    return {elapsed, outcome.results[0]->real, counts.patterns_pruned, counts.patterns_literal};
}

// The faster of `runs` calls (the first pays for fresh memory).
labelled_run fastest_labelled(int runs, const data &in, int kernel_type, double p, double h, const mxArray *patterns,
                              vendral::pruning mode) {
    labelled_run best = run_labelled(in, kernel_type, p, h, patterns, mode);
    for (int k = 1; k < runs; ++k) {
        labelled_run next = run_labelled(in, kernel_type, p, h, patterns, mode);
        if (next.seconds < best.seconds) best = std::move(next);
    }
    return best;
}

// Brute force (the tree never used) on the first `count` patterns, the faster
// of three calls (two where one takes seconds, one where it takes more).
labelled_run brute_force(const data &in, int kernel_type, double p, double h, int count) {
    const int P = in.patterns->dims[0];
    const auto some = count < P ? first_rows(in.patterns.get(), count) : nullptr;
    const mxArray *patterns = count < P ? some.get() : in.patterns.get();
    labelled_run brute = run_labelled(in, kernel_type, p, h, patterns, vendral::pruning::never);
    if (brute.seconds < 20.0)
        brute = fastest_labelled(brute.seconds < 1.0 ? 3 : 2, in, kernel_type, p, h, patterns, vendral::pruning::never);
    return brute;
}

// The automatic choice against brute force, each the faster of three calls.
// With brute_patterns > 0, brute force runs on the first pattern and on the
// first brute_patterns only, and its time for all P is estimated as
// t(1) + (t(s) - t(1)) (P - 1) / (s - 1): what a call costs whatever its
// patterns counted once, the rest at the slice's rate per pattern (literal
// fallbacks included). Labels compared on the patterns both ran.
void compare_pruned(const char *name, const data &in, int kernel_type, double p, double h, int brute_patterns) {
    const int P = in.patterns->dims[0];
    const labelled_run pruned =
        fastest_labelled(3, in, kernel_type, p, h, in.patterns.get(), vendral::pruning::automatic);
    const int slice = brute_patterns > 1 && brute_patterns < P ? brute_patterns : P;
    const labelled_run brute = brute_force(in, kernel_type, p, h, slice);
    double brute_seconds = brute.seconds;
    if (slice < P) {
        const double first = brute_force(in, kernel_type, p, h, 1).seconds;
        brute_seconds = first + std::max(0.0, brute.seconds - first) * (P - 1) / (slice - 1);
    }
    const bool same = std::equal(brute.labels.begin(), brute.labels.end(), pruned.labels.begin());
    const double ratio = brute_seconds / pruned.seconds;
    std::printf("%-30s %8d %6d %10.3f %10.3f%s %8.1fx %-6s %-6s %7lld %7lld %7lld\n", name, in.templates->dims[0], P,
                pruned.seconds, brute_seconds, slice < P ? "*" : " ", ratio,
                pruned.pruned > 0 ? "tree" : "brute", same ? "yes" : "NO", static_cast<long long>(pruned.pruned),
                static_cast<long long>(pruned.literal), static_cast<long long>(brute.literal));
    std::fflush(stdout);
}

// A matrix's rows, row-major, with a pointer to each.
struct row_table {
    std::vector<double> values;
    std::vector<const double *> rows;
};

row_table rows_of(const mxArray *matrix, int count) {
    const int P = matrix->dims[0], d = matrix->dims[1];
    row_table table;
    table.values.resize(static_cast<size_t>(count) * d);
    for (int r = 0; r < count; ++r)
        for (int i = 0; i < d; ++i)
            table.values[static_cast<size_t>(r) * d + i] = matrix->real[r + static_cast<size_t>(i) * P];
    for (int r = 0; r < count; ++r) table.rows.push_back(table.values.data() + static_cast<size_t>(r) * d);
    return table;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct model_timing {
    double seconds;  // the fastest
    std::vector<int32_t> classes;
    vendral::classify_counts counts;
};

// The fastest of `runs` classifications of the first `count` patterns.
model_timing time_classify(const vendral::model &m, const row_table &patterns, int count, int d,
                           vendral::pruning prune, int runs) {
    vendral::classify_options options;
    options.threads = 0;
    options.prune = prune;
    options.vector_width = width_limit;
    options.in_order = false;
    model_timing best{1e300, std::vector<int32_t>(static_cast<size_t>(count)), {}};
    std::vector<int32_t> classes(static_cast<size_t>(count));
    for (int k = 0; k < runs; ++k) {
        vendral::classify_counts counts;
        const auto start = std::chrono::steady_clock::now();
        const vendral::classify_status status =
            vendral::classify(m, count, d, patterns.rows.data(), options, classes.data(), &counts);
        const double seconds = seconds_since(start);
        if (status != vendral::classify_status::classified) {
            std::fprintf(stderr, "classify failed\n");
            std::exit(1);
        }
        if (seconds < best.seconds) best = {seconds, classes, counts};
    }
    return best;
}

// A model prepared once and classified against many times: preparing it,
// its first classification (which builds the tree it keeps), then the
// classification alone against brute force through the same model (its
// packed templates made beforehand). Brute force beyond brute_limit patterns
// runs on the first brute_limit and its time is scaled to all (marked *):
// through a prepared model a call has no fixed cost to speak of.
void compare_model(const char *name, const data &in, int kernel_type, double p, double h,
                   std::initializer_list<int> pattern_counts, int brute_limit) {
    const int N = in.templates->dims[0], d = in.templates->dims[1], P = in.patterns->dims[0];
    const row_table templates = rows_of(in.templates.get(), N), patterns = rows_of(in.patterns.get(), P);
    const vendral::model_definition definition{N, d, templates.rows.data(), in.labels->real.data(), kernel_type, p,
                                               h};
    vendral::model *m = nullptr;
    auto start = std::chrono::steady_clock::now();
    if (vendral::prepare_model(definition, vendral::heap_allocator(), &m) != vendral::model_status::prepared) {
        std::fprintf(stderr, "%s: the model could not be prepared\n", name);
        std::exit(1);
    }
    const double preparing = seconds_since(start);
    const model_timing first = time_classify(*m, patterns, std::min(P, 64), d, vendral::pruning::automatic, 1);
    time_classify(*m, patterns, 1, d, vendral::pruning::never, 1);  // packs the templates for brute force
    for (const int count : pattern_counts) {
        if (count > P) continue;
        const model_timing pruned = time_classify(*m, patterns, count, d, vendral::pruning::automatic, 3);
        const int brute_count = std::min(count, brute_limit);
        const model_timing brute =
            time_classify(*m, patterns, brute_count, d, vendral::pruning::never, brute_count <= 2000 ? 3 : 1);
        const double brute_seconds = brute.seconds * count / brute_count;
        const bool same = std::equal(brute.classes.begin(), brute.classes.end(), pruned.classes.begin());
        std::printf("%-28s %7d %9.3f %9.3f %10.4f %10.3f%s %8.1fx %-6s %-4s %7lld %7lld %6.1f\n", name, count,
                    preparing, first.seconds, pruned.seconds, brute_seconds, brute_count < count ? "*" : " ",
                    brute_seconds / pruned.seconds, pruned.counts.patterns_pruned > 0 ? "tree" : "brute",
                    same ? "yes" : "NO", static_cast<long long>(pruned.counts.patterns_pruned),
                    static_cast<long long>(pruned.counts.patterns_literal), vendral::model_bytes(*m) / 1e6);
        std::fflush(stdout);
    }
    vendral::release_model(m);
}

void pruned_heading() {
    std::printf("\n%-30s %8s %6s %10s %11s %9s %-6s %-6s %7s %7s %7s\n", "workload", "N", "P", "auto s", "brute s",
                "speed-up", "path", "same", "on tree", "literal", "brute's");
}

}  // namespace

int main(int argc, char **argv) {
    const double scale = argc > 1 ? std::atof(argv[1]) : 1.0;  // < 1 for a quick run
    // A narrower vector width than the processor's: 4 measures AVX2 on an
    // AVX-512 machine, 2 SSE2.
    if (argc > 2) width_limit = std::atoi(argv[2]);
    const int width = vendral::vector_width(width_limit);
    std::printf("vector width %d doubles (%s), %u threads\n", width,
                width == 8 ? "AVX-512" : width == 4 ? "AVX2" : width == 2 ? "SSE2" : "scalar",
                std::max(1u, std::thread::hardware_concurrency()));
    const workload workloads[] = {
        {"W1 gaussian p=2 d=16", 20000, 5000, 16, 10, 0, 2.0},
        {"W2 laplacian p=1 d=16", 20000, 5000, 16, 10, 2, 1.0},
        {"W3 cauchy p=2 d=256", 2000, 2000, 256, 5, 3, 2.0},
        {"W4 gaussian p=3 d=16", 20000, 5000, 16, 10, 0, 3.0},
    };
    // "pruned": only the tree against brute force; "scaling": that and the scaling table.
    const std::string part = argc > 3 ? argv[3] : "";
    double checksum = 0;
    if (part.empty()) {
        const roofline::rates peak = roofline::measure(0.2, width);
        std::printf("peak lanes/s: multiply-add %.3g, |b-a| sum %.3g, cube sum %.3g, exp %.3g, cube root %.3g, "
                    "cauchy %.3g, sine %.3g\n\n",
                    peak.fused_terms, peak.absolute_terms, peak.cube_terms, peak.exponentials, peak.cube_roots,
                    peak.reciprocals, peak.sines);
        std::printf("%-24s %15s %14s %8s %14s %7s %9s\n", "workload", "literal pairs/s", "fast pairs/s", "ratio",
                    "roofline", "of it", "literal");
        for (const workload &w : workloads) {
            const int fast_patterns = std::max(1, static_cast<int>(w.P * scale));
            // The literal evaluation on a slice of the patterns: its rate per pair
            // does not depend on how many there are.
            const int literal_patterns = std::max(1, fast_patterns / 25);
            const data fast_data = make_data(w, fast_patterns);
            const data literal_data = make_data(w, literal_patterns);

            const double literal_seconds =
                best_of_three(w, literal_data, &checksum, vendral::evaluation::literal).seconds;
            const timing fast = best_of_three(w, fast_data, &checksum);
            const double fast_seconds = fast.seconds;

            const double literal_rate = static_cast<double>(w.N) * literal_patterns / literal_seconds;
            const double fast_rate = static_cast<double>(w.N) * fast_patterns / fast_seconds;
            const double roof = roofline::pairs_per_second(peak, w.d, w.kernel_type, w.p);
            std::printf("%-24s %15.3g %14.3g %7.1fx %14.3g %6.1f%% %9lld\n", w.name, literal_rate, fast_rate,
                        fast_rate / literal_rate, roof, 100.0 * fast_rate / roof,
                        static_cast<long long>(fast.literal_patterns));
            std::fflush(stdout);
        }
        compare_class_counts({"W6 gaussian p=2 d=1", 1000000, 1000, 1, 1000000, 0, 2.0, 0.05}, scale, &checksum);
    }

    // The tree (automatic choice) against brute force on the same calls.
    // W1-W4: the automatic choice where nothing can be skipped.
    if (part != "model") {
        pruned_heading();
        for (const workload &w : workloads) {
            const int patterns = std::max(1, static_cast<int>(w.P * scale));
            compare_pruned(w.name, make_data(w, patterns), w.kernel_type, w.p, w.h > 0 ? w.h : 0.1 * std::sqrt(w.d),
                           0);
        }
        // W5: a million templates in ten overlapping clusters in 3 columns.
        const int w5_patterns = std::max(1, static_cast<int>(2000 * scale));
        const data w5 = make_clusters(1000000, w5_patterns, 3, 0.15, 2026);
        compare_pruned("W5a gaussian p=2 h=0.01", w5, 0, 2.0, 0.01, 0);
        compare_pruned("W5b laplacian p=1 h=0.001", w5, 2, 1.0, 0.001, 0);
    }
    // A model prepared once: W5 classified against many times.
    std::printf("\nprepared model, W5's templates (classify timed alone, the fastest of three; brute force through "
                "the same model; * brute force on the first 2000 patterns, its time scaled)\n");
    std::printf("%-28s %7s %9s %9s %10s %11s %9s %-6s %-4s %7s %7s %6s\n", "workload", "P", "prepare", "1st call",
                "classify", "brute", "speed-up", "path", "same", "on tree", "literal", "MB");
    const data w5_many = make_clusters(1000000, std::max(64, static_cast<int>(20000 * scale)), 3, 0.15, 2026);
    compare_model("W5a gaussian p=2 h=0.01", w5_many, 0, 2.0, 0.01, {64, 2000, 20000}, 2000);
    compare_model("W5b laplacian p=1 h=0.001", w5_many, 2, 1.0, 0.001, {64, 2000, 20000}, 2000);
    // How it scales (optional third argument "scaling"): brute force on a
    // slice of the patterns (marked *), its time for all of them estimated.
    if (part == "scaling") {
        std::printf("\nscaling, W5's mixture (* brute force timed on the first pattern and the first s; its time "
                    "for all P estimated as t(1) + (t(s) - t(1)) (P - 1) / (s - 1); \"brute's\" counts those s)\n");
        pruned_heading();
        const int P = std::max(1, static_cast<int>(2000 * scale));
        for (const int N : {100000, 1000000, 10000000}) {
            const data set = make_clusters(N, P, 3, 0.15, 7);
            // (Slices long enough that the per-pattern time outweighs the noise of a call's own.)
            const int slice = N <= 100000 ? 0 : std::max(2, N <= 1000000 ? P / 5 : P / 10);
            for (const int kernel : {0, 2}) {
                const std::string name = std::string(kernel == 0 ? "gaussian p=2" : "laplacian p=1") + " d=3";
                compare_pruned(name.c_str(), set, kernel, kernel == 0 ? 2.0 : 1.0, kernel == 0 ? 0.01 : 0.001, slice);
            }
        }
        // W5's own data with more patterns: a call's fixed cost (its checks,
        // copies and the tree) against the cost per pattern.
        for (const int patterns : {64, 2000, 20000, 200000}) {
            const int count = std::max(1, static_cast<int>(patterns * scale));
            const data set = make_clusters(1000000, count, 3, 0.15, 2026);
            const int slice = count <= 400 ? 0 : 400;
            for (const int kernel : {0, 2}) {
                const std::string name = std::string(kernel == 0 ? "W5a gaussian" : "W5b laplacian") +
                                         " P=" + std::to_string(count);
                compare_pruned(name.c_str(), set, kernel, kernel == 0 ? 2.0 : 1.0, kernel == 0 ? 0.01 : 0.001, slice);
            }
        }
        for (const int d : {2, 3, 5, 8}) {
            const data set = make_clusters(1000000, P, d, 0.15, 11);
            for (const int kernel : {0, 2}) {
                const std::string name =
                    std::string(kernel == 0 ? "gaussian p=2" : "laplacian p=1") + " d=" + std::to_string(d);
                compare_pruned(name.c_str(), set, kernel, kernel == 0 ? 2.0 : 1.0, kernel == 0 ? 0.01 : 0.001,
                               std::max(2, P / 10));
            }
        }
    }
    std::printf("(checksum %g)\n", checksum);
    return 0;
}
