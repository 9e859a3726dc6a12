// The host's version stamp, read from the loaded module as the host reads it.
#include <string>

#include "harness.h"
#include "loaded_module.h"

namespace {

std::string module_string(UINT id) {
    char text[256];
    const int length = LoadStringA(runner::loaded_module(), id, text, sizeof text);
    return std::string(text, static_cast<size_t>(length > 0 ? length : 0));
}

}  // namespace

RUNNER_TEST(version_stamp_strings) {
    runner::expect_text(module_string(100), "MATLAB 5.1 native", "string 100");
    runner::expect_text(module_string(101), "not inlined", "string 101");
}

RUNNER_TEST(version_stamp_block_is_otherwise_empty) {
    for (UINT id = 96; id <= 111; ++id)
        if (id != 100 && id != 101)
            runner::expect_text(module_string(id), "", "string " + std::to_string(id));
}

RUNNER_TEST(only_export_is_mexFunction_by_name) {
    runner::expect_true(GetProcAddress(runner::loaded_module(), "mexFunction") != nullptr,
                        "mexFunction found");
    runner::expect_true(GetProcAddress(runner::loaded_module(), "_mexFunction") == nullptr,
                        "no decorated name");
}
