#pragma once
// What the bridge leaves for a test to read, in one folder:
//   unit-NN.bin      the bytes of each accepted unit (NN the section code; none in digest mode)
//   store.txt        one line per stored unit: code length crc32 writes image-type file-name
//   verdicts.txt     one line per judged unit: ordinal code result data-length
//   errors.txt       the device's protocol errors, one per line (empty for a correct host)
//   summary.txt      announcements=N, end-transfers=N, gone=0|1
//   capture.txt      the link capture (when capturing)
// Each file is written to a temporary name and renamed, so a reader never sees half of one.

#include <filesystem>

#include "sim/BootLoaderSim.h"

namespace flashwise::bridge {

class ResultFiles {
public:
    explicit ResultFiles(std::filesystem::path folder) : folder_(std::move(folder)) {}
    // False (with the reason in `error`) when the folder cannot be made.
    bool Prepare(std::string* error) const;
    // The store, verdicts, errors and summary; false when a file could not be written.
    bool WriteResults(const sim::BootLoaderSim& device) const;
    bool WriteCapture(sim::BootLoaderSim& device) const;
    const std::filesystem::path& Folder() const { return folder_; }

private:
    bool WriteFile(const std::string& name, const void* data, std::size_t size) const;
    std::filesystem::path folder_;
};

}  // namespace flashwise::bridge
