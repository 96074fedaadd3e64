#pragma once
// One misbehaviour of the simulated boot loader, for the tables of rows that drive a
// link against it.

#include <cstdint>

#include "sim/DeviceFault.h"

namespace flashwise::test {

inline sim::DeviceFault Fault(sim::Misbehaviour what, sim::Step step, int unit = 1, std::uint32_t value = 0,
                              std::uint32_t count = 1) {
    sim::DeviceFault f;
    f.what = what;
    f.step = step;
    f.unit = unit;
    f.value = value;
    f.count = count;
    return f;
}

}  // namespace flashwise::test
