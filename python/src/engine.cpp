// vendral._engine: the prepared model as a Python object. The estimator in
// vendral/_classifier.py validates its inputs the scikit-learn way; this layer
// still checks every shape and status itself, so that no call from Python can
// crash the process.
//
// A call runs the engine on a helper thread while the calling thread, the GIL
// released, waits and every 50 ms takes the GIL briefly to run Python's signal
// handlers: Ctrl-C sets the engine's stop flag, the helper returns, and the
// KeyboardInterrupt goes up. Patterns go to the engine in blocks of at most
// 2^20 rows, so any number of them can be taken and the table of row
// pointers stays small.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "classifier/model.h"

#ifndef VENDRAL_VERSION
#define VENDRAL_VERSION "unknown"
#endif

namespace py = pybind11;

namespace {

constexpr int64_t largest_index = std::numeric_limits<int32_t>::max();
constexpr int64_t default_block_rows = int64_t{1} << 20;
constexpr double short_call_work = 4e6;  // see short_call

using rows_array = py::array_t<double, py::array::c_style | py::array::forcecast>;

[[noreturn]] void raise(PyObject *type, const std::string &message) {
    PyErr_SetString(type, message.c_str());
    throw py::error_already_set();
}

// ---- Memory: the process's heap, with a switch the tests use to refuse it.

// -1: never refuse; k >= 0: grant k more blocks, then refuse every one.
std::atomic<long long> allocations_left{-1};

bool granted() {
    long long left = allocations_left.load();
    while (left >= 0) {
        if (left == 0) return false;
        if (allocations_left.compare_exchange_weak(left, left - 1)) return true;
    }
    return true;
}

const vendral::allocator &heap() {
    static const vendral::allocator memory = vendral::heap_allocator();
    return memory;
}

void *zeroed_block(size_t count, size_t size, void *) {
    return granted() ? heap().zeroed(count, size) : nullptr;
}
void *unzeroed_block(size_t count, size_t size, void *) {
    return granted() ? heap().unzeroed(count, size) : nullptr;
}
void *resized_block(void *block, size_t bytes, void *) {
    return granted() ? heap().resized(block, bytes) : nullptr;
}
void release_block(void *block, void *) { heap().release(block); }

vendral::allocator python_allocator() {
    return {zeroed_block, unzeroed_block, resized_block, release_block, nullptr};
}

// Models re-prepared from a pickle in this process: the Dask tests count them.
std::atomic<long long> models_unpickled{0};

// ---- A call that Ctrl-C can end.

// Runs work(stop) on a helper thread; the GIL is released meanwhile and taken
// back every 50 ms to run the signal handlers. When one raises (Ctrl-C's
// KeyboardInterrupt), stop is set, the helper is waited for and the
// exception is raised here.
//
// A call too short for anyone to interrupt runs on the calling thread: on a
// busy machine, handing it to a helper and back can cost more than the call.
template <class Work>
vendral::classify_status run_interruptibly(Work work, bool short_call) {
    std::atomic<bool> stop{false};
    if (short_call) {
        py::gil_scoped_release released;
        return work(stop);
    }
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    vendral::classify_status status = vendral::classify_status::stopped;
    std::exception_ptr failure;
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    {
        py::gil_scoped_release released;
        std::thread helper([&] {
            try {
                status = work(stop);
            } catch (...) {
                failure = std::current_exception();
            }
            std::lock_guard<std::mutex> lock(mutex);
            done = true;
            finished.notify_all();
        });
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(mutex);
                if (finished.wait_for(lock, std::chrono::milliseconds(50), [&] { return done; }))
                    break;
            }
            py::gil_scoped_acquire held;
            if (PyErr_CheckSignals() != 0) {
                PyErr_Fetch(&type, &value, &traceback);
                stop.store(true);
                break;
            }
        }
        helper.join();
    }
    if (type != nullptr) {
        PyErr_Restore(type, value, traceback);
        throw py::error_already_set();
    }
    if (failure) std::rethrow_exception(failure);
    return status;
}

// Progress lines on stderr. on_ready comes on the helper thread without the
// GIL, so it writes with fprintf and touches no Python object.
struct progress {
    int64_t total = 0;
    int64_t block_start = 0;
    double interval = 1.0;  // seconds between lines
    bool enabled = false;
    bool printed = false;
    const char *what = "classified";
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now(),
                                          last = started;

    void report(int64_t done) {
        if (!enabled) return;
        const auto now = std::chrono::steady_clock::now();
        if (std::chrono::duration<double>(now - last).count() < interval || done >= total) return;
        last = now;
        printed = true;
        std::fprintf(stderr, "vendral: %s %lld of %lld patterns (%.0f%%), %.1f s\n", what,
                     static_cast<long long>(done), static_cast<long long>(total),
                     100.0 * done / total, std::chrono::duration<double>(now - started).count());
        std::fflush(stderr);
    }
    void finish(bool always) {
        if (!enabled || !(always || printed)) return;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::fprintf(stderr, "vendral: %s %lld patterns in %.3f s\n", what,
                     static_cast<long long>(total), seconds);
        std::fflush(stderr);
    }
};

void on_ready(int32_t ready, void *context) {
    auto *told = static_cast<progress *>(context);
    told->report(told->block_start + ready);
}

struct call_settings {
    int threads = 1;
    int prune = 0;  // a vendral::pruning
    int vector_width = 0;
    int verbose = 0;
    int64_t block_rows = default_block_rows;
    double progress_interval = 1.0;
};

class model_object {
  public:
    model_object(py::object templates, py::object labels, int kernel_type, double p, double h)
        : kernel_type_(kernel_type), p_(p), h_(h) {
        const py::array given = py::array::ensure(templates);
        if (!given)
            raise(PyExc_TypeError, "vendral: the training samples must be an array of numbers");
        if (given.ndim() != 2)
            raise(PyExc_ValueError, "vendral: the training samples must be a 2-d array, got " +
                                        std::to_string(given.ndim()) + " dimension(s)");
        check_extent(given.shape(0), given.shape(1), "training samples");
        if (given.shape(0) == 0 || given.shape(1) == 0)
            raise(PyExc_ValueError,
                  "vendral: at least one training sample and one feature are needed");
        const rows_array rows = rows_array::ensure(given);
        if (!rows) raise(PyExc_TypeError, "vendral: the training samples must be numbers");
        const py::array given_labels = py::array::ensure(labels);
        if (!given_labels || given_labels.ndim() != 1 || given_labels.shape(0) != given.shape(0))
            raise(PyExc_ValueError, "vendral: one label per training sample is needed");
        const py::array_t<double, py::array::c_style | py::array::forcecast> label_values =
            py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(given_labels);
        if (!label_values) raise(PyExc_TypeError, "vendral: the labels must be numbers");

        // The model keeps our own read-only copy of the rows rather than a
        // second one of its own: pickling needs them here anyway.
        const py::ssize_t N = given.shape(0), d = given.shape(1);
        templates_ = py::array_t<double>({N, d});
        std::memcpy(templates_.mutable_data(), rows.data(),
                    sizeof(double) * static_cast<size_t>(N * d));
        templates_.attr("setflags")(py::arg("write") = false);
        labels_ = py::array_t<double>(N);
        std::memcpy(labels_.mutable_data(), label_values.data(),
                    sizeof(double) * static_cast<size_t>(N));
        labels_.attr("setflags")(py::arg("write") = false);
        template_rows_.resize(static_cast<size_t>(N));
        for (py::ssize_t j = 0; j < N; ++j)
            template_rows_[static_cast<size_t>(j)] = templates_.data() + j * d;

        vendral::model_definition definition;
        definition.N = static_cast<int32_t>(N);
        definition.d = static_cast<int32_t>(d);
        definition.templates = template_rows_.data();
        definition.labels = labels_.data();
        definition.kernel_type = kernel_type;
        definition.p = p;
        definition.h = h;
        definition.copy_templates = false;
        vendral::model *prepared = nullptr;
        vendral::model_status status;
        {
            py::gil_scoped_release released;
            status = vendral::prepare_model(definition, python_allocator(), &prepared);
        }
        switch (status) {
            case vendral::model_status::prepared:
                break;
            case vendral::model_status::out_of_memory:
                raise(PyExc_MemoryError, "vendral: not enough memory to prepare the model");
            case vendral::model_status::negative_size:
                raise(PyExc_ValueError,
                      "vendral: at least one training sample and one feature are needed");
            case vendral::model_status::label_out_of_range:
                raise(PyExc_ValueError,
                      "vendral: every label must be finite and within the 32-bit range");
            case vendral::model_status::unknown_kernel:
                raise(PyExc_ValueError, "vendral: kernel_type must be 0, 1, 2 or 3, got " +
                                            std::to_string(kernel_type));
            case vendral::model_status::norm_below_one:
                raise(PyExc_ValueError, "vendral: p must be at least 1, got " +
                                            py::str(py::float_(p)).cast<std::string>());
            case vendral::model_status::width_not_positive:
                raise(PyExc_ValueError, "vendral: the bandwidth h must be above 0, got " +
                                            py::str(py::float_(h)).cast<std::string>());
        }
        model_.reset(prepared);

        // The engine numbers its classes in order of first occurrence; ours
        // are the labels 0..K-1 we were given.
        const int32_t M = vendral::model_class_count(*model_);
        const int32_t *model_labels = vendral::model_class_labels(*model_);
        label_of_class_.assign(model_labels, model_labels + M);
        classes_ = 0;
        for (int32_t k = 0; k < M; ++k) {
            if (model_labels[k] < 0 || model_labels[k] >= M)
                raise(PyExc_ValueError, "vendral: the labels must be the class indices 0 .. K-1");
            classes_ = std::max(classes_, model_labels[k] + 1);
        }
    }

    // Class index (0..K-1, in the order of the labels given) of every row, or -1.
    py::array_t<int32_t> classify(py::object patterns, const call_settings &settings) const {
        const rows_array rows = pattern_rows(patterns);
        const int64_t P = rows.shape(0);
        py::array_t<int32_t> out(P);
        int32_t *const decided = out.mutable_data();
        vendral::classify_options options;
        options.prune = static_cast<vendral::pruning>(settings.prune);
        options.threads = short_call(rows) ? 1 : settings.threads;
        options.vector_width = settings.vector_width;
        progress told;
        told.total = P;
        told.enabled = settings.verbose > 0;
        told.interval = settings.progress_interval;
        if (told.enabled) {
            options.on_ready = on_ready;
            options.context = &told;
        }
        options.in_order = told.enabled;  // out of order is faster; in order lets progress count up
        const vendral::classify_status status =
            run_blocks(rows, settings,
                       [&](const double *const *block, int32_t n, int64_t start,
                           const std::atomic<bool> &stop) {
                           options.stop = &stop;
                           told.block_start = start;
                           vendral::classify_counts counts;
                           return vendral::classify(*model_, n, columns(), block, options,
                                                    decided + start, &counts);
                       });
        told.finish(settings.verbose > 1);
        check(status, "classify the patterns");
        for (int64_t n = 0; n < P; ++n)
            if (decided[n] >= 0) decided[n] = label_of_class_[static_cast<size_t>(decided[n])];
        return out;
    }

    // The literal class scores, P x K, column k the class with label k.
    py::array_t<double> scores(py::object patterns, const call_settings &settings) const {
        const rows_array rows = pattern_rows(patterns);
        const int64_t P = rows.shape(0);
        const int32_t M = static_cast<int32_t>(label_of_class_.size());
        py::array_t<double> out({static_cast<py::ssize_t>(P), static_cast<py::ssize_t>(classes_)});
        double *const scored = out.mutable_data();
        std::fill(scored, scored + P * classes_, 0.0);
        vendral::classify_options options;
        options.mode = vendral::evaluation::literal;
        options.threads = short_call(rows) ? 1 : settings.threads;
        options.vector_width = settings.vector_width;
        progress told;
        told.total = P;
        told.enabled = settings.verbose > 0;
        told.interval = settings.progress_interval;
        told.what = "scored";
        std::vector<double> block_scores;
        const vendral::classify_status status = run_blocks(
            rows, settings,
            [&](const double *const *block, int32_t n, int64_t start,
                const std::atomic<bool> &stop) {
                options.stop = &stop;
                block_scores.resize(static_cast<size_t>(n) * static_cast<size_t>(M));
                const vendral::classify_status done = vendral::class_scores(
                    *model_, n, columns(), block, options, block_scores.data());
                for (int32_t i = 0; i < n; ++i)
                    for (int32_t k = 0; k < M; ++k)
                        scored[(start + i) * classes_ + label_of_class_[static_cast<size_t>(k)]] =
                            block_scores[static_cast<size_t>(i) * M + k];
                told.report(start + n);
                return done;
            });
        told.finish(settings.verbose > 1);
        check(status, "score the patterns");
        return out;
    }

    int32_t columns() const { return vendral::model_columns(*model_); }
    int32_t template_count() const { return vendral::model_template_count(*model_); }
    int32_t class_count() const { return classes_; }
    size_t bytes() const { return vendral::model_bytes(*model_); }
    const py::array_t<double> &templates() const { return templates_; }
    const py::array_t<double> &labels() const { return labels_; }
    int kernel_type() const { return kernel_type_; }
    double p() const { return p_; }
    double h() const { return h_; }

  private:
    struct releaser {
        void operator()(vendral::model *m) const { vendral::release_model(m); }
    };

    static void check_extent(int64_t rows, int64_t columns, const char *what) {
        if (rows > largest_index)
            raise(PyExc_ValueError, std::string("vendral: at most 2147483647 ") + what +
                                        " are supported, got " + std::to_string(rows));
        if (columns > largest_index)
            raise(PyExc_ValueError, "vendral: at most 2147483647 features are supported, got " +
                                        std::to_string(columns));
    }

    rows_array pattern_rows(py::object patterns) const {
        const py::array given = py::array::ensure(patterns);
        if (!given) raise(PyExc_TypeError, "vendral: the patterns must be an array of numbers");
        if (given.ndim() != 2)
            raise(PyExc_ValueError, "vendral: the patterns must be a 2-d array, got " +
                                        std::to_string(given.ndim()) + " dimension(s)");
        if (given.shape(1) > largest_index) check_extent(0, given.shape(1), "patterns");
        if (given.shape(1) != columns())
            raise(PyExc_ValueError, "vendral: the patterns have " + std::to_string(given.shape(1)) +
                                        " features, but the model has " +
                                        std::to_string(columns()));
        rows_array rows = rows_array::ensure(given);
        if (!rows) raise(PyExc_TypeError, "vendral: the patterns must be numbers");
        return rows;
    }

    // Whether a call is so short (a few milliseconds by brute force) that it
    // is best run on the calling thread alone: more threads, or a helper
    // thread to wait on, would cost more than they save.
    bool short_call(const rows_array &rows) const {
        // Pairs of a pattern and a template, times the columns.
        const double work = static_cast<double>(rows.shape(0)) * template_count() *
                            static_cast<double>(rows.shape(1));
        return work <= short_call_work;
    }

    // Runs block(rows, n, start, stop) over blocks of at most block_rows rows,
    // on the helper thread, until one does not return classified.
    template <class Block>
    vendral::classify_status run_blocks(const rows_array &rows, const call_settings &settings,
                                        Block block) const {
        const int64_t P = rows.shape(0);
        const int64_t d = rows.shape(1);
        const double *const data = rows.data();
        const int64_t block_rows = std::max<int64_t>(
            1, std::min<int64_t>(settings.block_rows, std::min(largest_index, default_block_rows)));
        return run_interruptibly(
            [&](const std::atomic<bool> &stop) {
                std::vector<const double *> table(static_cast<size_t>(std::min(P, block_rows)));
                vendral::classify_status status = vendral::classify_status::classified;
                for (int64_t start = 0; start < P && status == vendral::classify_status::classified;
                     start += block_rows) {
                    if (stop.load()) return vendral::classify_status::stopped;
                    const int32_t n = static_cast<int32_t>(std::min(block_rows, P - start));
                    for (int32_t i = 0; i < n; ++i)
                        table[static_cast<size_t>(i)] = data + (start + i) * d;
                    status = block(table.data(), n, start, stop);
                }
                return status;
            },
            short_call(rows));
    }

    static void check(vendral::classify_status status, const char *what) {
        switch (status) {
            case vendral::classify_status::classified:
                return;
            case vendral::classify_status::out_of_memory:
                raise(PyExc_MemoryError, std::string("vendral: not enough memory to ") + what);
            case vendral::classify_status::wrong_columns:
                raise(PyExc_ValueError,
                      "vendral: the patterns do not have the model's number of features");
            case vendral::classify_status::stopped:
                raise(PyExc_RuntimeError, "vendral: the classification was stopped");
        }
    }

    std::unique_ptr<vendral::model, releaser> model_;
    py::array_t<double> templates_, labels_;
    std::vector<const double *> template_rows_;  // the model points into these
    std::vector<int32_t> label_of_class_;  // the engine's class k has our label label_of_class_[k]
    int32_t classes_ = 0;
    int kernel_type_;
    double p_, h_;
};

call_settings settings_of(int threads, int prune, int vector_width, int verbose, int64_t block_rows,
                          double progress_interval) {
    if (threads < 0)
        raise(PyExc_ValueError, "vendral: threads must be 0 (every processor) or more");
    if (prune < 0 || prune > 3) raise(PyExc_ValueError, "vendral: prune must be 0, 1, 2 or 3");
    if (vector_width != 0 && vector_width != 1 && vector_width != 2 && vector_width != 4 &&
        vector_width != 8)
        raise(PyExc_ValueError, "vendral: vector_width must be 0, 1, 2, 4 or 8");
    if (block_rows < 1) raise(PyExc_ValueError, "vendral: block_rows must be at least 1");
    return {threads, prune, vector_width, verbose, block_rows, progress_interval};
}

}  // namespace

PYBIND11_MODULE(_engine, module) {
    module.doc() =
        "vendral's Parzen-window engine: a prepared model, classified against from any thread.";
    module.attr("__version__") = VENDRAL_VERSION;
    module.attr("GAUSSIAN") = static_cast<int>(vendral::kernel_kind::gaussian);
    module.attr("SQUARED_SINC") = static_cast<int>(vendral::kernel_kind::squared_sinc);
    module.attr("LAPLACIAN") = static_cast<int>(vendral::kernel_kind::laplacian);
    module.attr("CAUCHY") = static_cast<int>(vendral::kernel_kind::cauchy);
    module.attr("PRUNE_AUTOMATIC") = static_cast<int>(vendral::pruning::automatic);
    module.attr("PRUNE_ALWAYS") = static_cast<int>(vendral::pruning::always);
    module.attr("PRUNE_NEVER") = static_cast<int>(vendral::pruning::never);

    py::class_<model_object>(
        module, "Model",
        "A model prepared from labelled training samples; the labels must be 0..K-1.")
        .def(py::init<py::object, py::object, int, double, double>(), py::arg("templates"),
             py::arg("labels"), py::arg("kernel_type"), py::arg("p"), py::arg("h"))
        .def(
            "classify",
            [](const model_object &self, py::object patterns, int threads, int prune,
               int vector_width, int verbose, int64_t block_rows, double progress_interval) {
                return self.classify(patterns, settings_of(threads, prune, vector_width, verbose,
                                                           block_rows, progress_interval));
            },
            py::arg("patterns"), py::arg("threads") = 1, py::arg("prune") = 0,
            py::arg("vector_width") = 0, py::arg("verbose") = 0,
            py::arg("block_rows") = default_block_rows, py::arg("progress_interval") = 1.0,
            "Class index (the label given) of each row of patterns, or -1 where no class scores "
            "strictly highest.")
        .def(
            "scores",
            [](const model_object &self, py::object patterns, int threads, int vector_width,
               int verbose, int64_t block_rows, double progress_interval) {
                return self.scores(patterns, settings_of(threads, 0, vector_width, verbose,
                                                         block_rows, progress_interval));
            },
            py::arg("patterns"), py::arg("threads") = 1, py::arg("vector_width") = 0,
            py::arg("verbose") = 0, py::arg("block_rows") = default_block_rows,
            py::arg("progress_interval") = 1.0,
            "The literal class scores, one row per pattern, column k for label k.")
        .def_property_readonly("n_features", &model_object::columns)
        .def_property_readonly("n_templates", &model_object::template_count)
        .def_property_readonly("n_classes", &model_object::class_count)
        .def_property_readonly("bytes", &model_object::bytes)
        .def_property_readonly("templates", &model_object::templates)
        .def_property_readonly("labels", &model_object::labels)
        .def_property_readonly("kernel_type", &model_object::kernel_type)
        .def_property_readonly("p", &model_object::p)
        .def_property_readonly("h", &model_object::h)
        .def(py::pickle(
            [](const model_object &self) {
                return py::make_tuple(self.templates(), self.labels(), self.kernel_type(), self.p(),
                                      self.h());
            },
            [](py::tuple state) {
                if (state.size() != 5) raise(PyExc_ValueError, "vendral: not a pickled model");
                auto restored = std::make_unique<model_object>(
                    state[0], state[1], state[2].cast<int>(), state[3].cast<double>(),
                    state[4].cast<double>());
                ++models_unpickled;
                return restored;
            }));

    module.def(
        "_models_unpickled", [] { return models_unpickled.load(); },
        "How many models this process has re-prepared from a pickle.");
    module.def(
        "_refuse_allocations_after",
        [](long long count) { allocations_left.store(count < 0 ? -1 : count); }, py::arg("count"),
        "For tests: grant count more blocks to the engine, then refuse every one (-1: never "
        "refuse).");
}
