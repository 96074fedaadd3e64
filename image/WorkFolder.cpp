#include "image/WorkFolder.h"

#include <string>
#include <system_error>

namespace flashwise {

WorkFolder::WorkFolder(const std::filesystem::path& folder) {
    std::error_code error;
    folder_ = std::filesystem::absolute(folder, error);
    if (error) folder_ = folder;
}

WorkFolder WorkFolder::Current() {
    std::error_code error;
    const std::filesystem::path here = std::filesystem::current_path(error);
    return WorkFolder(error ? std::filesystem::path(".") : here);
}

std::filesystem::path WorkFolder::File(std::string_view name) const {
    return folder_ / std::filesystem::path(std::string(name));
}

std::filesystem::path WorkFolder::File(std::u16string_view name) const {
    return folder_ / std::filesystem::path(std::u16string(name));
}

}  // namespace flashwise
