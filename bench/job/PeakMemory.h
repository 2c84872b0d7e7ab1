#pragma once

#include <cstdint>

// The most memory this process has held in RAM so far, in bytes; 0 where the
// platform does not say.
std::uint64_t PeakResidentBytes();
