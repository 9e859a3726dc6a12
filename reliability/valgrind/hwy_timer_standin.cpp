// Preloaded into octave-cli under valgrind. libhwy (loaded by Octave through
// GraphicsMagick and libjxl) measures its timer resolution with rdtscp in a
// static initialiser; valgrind 3.19 rejects that instruction on CPUs where it
// does not advertise it and stops Octave at start-up with SIGILL. Octave and
// the module never use this timer, so a constant answer does no harm.
#include <cstdint>

namespace hwy {
namespace platform {

uint64_t TimerResolution() { return 1; }

}  // namespace platform
}  // namespace hwy
