#include "tests/support/ScratchFolder.h"

#include <atomic>
#include <random>
#include <stdexcept>

namespace flashwise::test {

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder(Use use) {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    // A name nobody else holds: create_directory refuses one that exists.
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const fs::path candidate = fs::temp_directory_path() /
                                   ("flashwise-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
        if (fs::create_directory(candidate)) path_ = candidate;
    }
    if (path_.empty()) throw std::runtime_error("no scratch folder could be made");
    if (use == Use::AsCurrentFolder) inside_ = std::make_unique<InCurrentFolder>(path_);
}

ScratchFolder::~ScratchFolder() {
    inside_.reset();   // out of the folder before it goes
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

}  // namespace flashwise::test
