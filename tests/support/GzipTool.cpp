#include <cstdlib>
#include <stdexcept>

#include "tests/support/ImageFiles.h"
#include "tests/support/ScratchFolder.h"

namespace flashwise::test {

std::vector<std::uint8_t> GzipWithTool(const std::vector<std::uint8_t>& data, const std::string& options,
                                       const std::string& fileName) {
    ScratchFolder folder;
    const std::filesystem::path plain = folder / fileName;
    const std::filesystem::path packed = folder / (fileName + ".gz");
    WriteFile(plain, data);
    const std::string command = std::string(FLASHWISE_GZIP) + " -c " + options + " '" + plain.string() + "' > '" +
                                packed.string() + "'";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("gzip failed: " + command);
    return ReadFile(packed);
}

}  // namespace flashwise::test
