// A module as the compiler and linker make one by default, every function
// exported: scripts/check_module_exports.sh must refuse it
// (scripts/test_check_module_exports.sh). Built once with mexFunction and once
// without it (VENDRAL_FIXTURE_NO_ENTRY). It is never loaded.
int vendral_leaked(int value) { return value + 1; }

#if !defined(VENDRAL_FIXTURE_NO_ENTRY)
extern "C" void mexFunction(int, void **, int, const void **) { vendral_leaked(0); }
#endif
