// A minimal test harness for the Windows test host: named cases, each passing
// when all its expectations hold, and one closing count line. Self-contained so
// the host needs no test library built for Windows.
#ifndef VENDRAL_WINDOWS_RUNNER_HARNESS_H
#define VENDRAL_WINDOWS_RUNNER_HARNESS_H

#include <string>

namespace runner {

using test_body = void (*)();

struct registrar {
    registrar(const char *name, test_body body);
};

// Records a failed expectation of the case that is running.
void fail(const std::string &what);

void expect_true(bool condition, const std::string &what);
void expect_text(const std::string &actual, const std::string &expected, const std::string &what);
void expect_number(double actual, double expected, const std::string &what);

// Runs every registered case in registration order, prints a line per failed
// case and the closing count; returns the number of failed cases.
int run_all();

}  // namespace runner

#define RUNNER_TEST(name)                                         \
    static void name();                                           \
    static const runner::registrar name##_registrar(#name, name); \
    static void name()

#endif  // VENDRAL_WINDOWS_RUNNER_HARNESS_H
