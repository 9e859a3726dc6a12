#include "harness.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace runner {

namespace {

struct test_case {
    const char *name;
    test_body body;
};

std::vector<test_case> &registry() {
    static std::vector<test_case> cases;
    return cases;
}

std::vector<std::string> current_failures;
long expectations = 0;

// Control characters made visible, so a missing newline shows in the report.
std::string visible(const std::string &text) {
    std::string shown;
    for (char c : text) {
        if (c == '\n')
            shown += "\\n";
        else
            shown += c;
    }
    return "\"" + shown + "\"";
}

}  // namespace

registrar::registrar(const char *name, test_body body) { registry().push_back({name, body}); }

void fail(const std::string &what) { current_failures.push_back(what); }

void expect_true(bool condition, const std::string &what) {
    ++expectations;
    if (!condition) fail(what);
}

void expect_text(const std::string &actual, const std::string &expected, const std::string &what) {
    ++expectations;
    if (actual != expected)
        fail(what + ": got " + visible(actual) + ", expected " + visible(expected));
}

// Bitwise, so -0.0 and NaN count as equal only to themselves.
void expect_number(double actual, double expected, const std::string &what) {
    ++expectations;
    if (std::memcmp(&actual, &expected, sizeof actual) != 0) {
        char detail[128];
        std::snprintf(detail, sizeof detail, ": got %.17g, expected %.17g", actual, expected);
        fail(what + detail);
    }
}

int run_all() {
    int passed = 0;
    int failed = 0;
    for (const test_case &one : registry()) {
        current_failures.clear();
        one.body();
        if (current_failures.empty()) {
            ++passed;
            continue;
        }
        ++failed;
        std::printf("FAILED %s\n", one.name);
        for (const std::string &what : current_failures) std::printf("    %s\n", what.c_str());
    }
    std::printf("%ld expectations checked in %d cases\n", expectations, passed + failed);
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed;
}

}  // namespace runner
