#pragma once
// A read-only run of bytes owned by someone else (a mapped resource, a test buffer).

#include <cstddef>
#include <cstdint>

namespace flashwise::package {

struct ByteView {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

}  // namespace flashwise::package
