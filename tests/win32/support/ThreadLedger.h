// Threads that ended without the loader's thread detach. A thread ended that
// way leaves its freed thread block in the loader's list of threads with TLS
// slots, which every later load or unload of a module with a TLS directory
// walks and writes through (Wine 8's serial driver ends the helper thread of
// each pending WaitCommEvent so).
#pragma once

#include <cstddef>

namespace winetest {

// Threads of this process that have ended since the program started without
// their DLL_THREAD_DETACH, as seen by a TLS callback of the test program.
std::size_t ThreadsEndedWithoutDetach();

}  // namespace winetest
