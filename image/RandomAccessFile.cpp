#include "image/RandomAccessFile.h"

namespace flashwise {

namespace {

std::FILE* OpenStream(const std::filesystem::path& path, RandomAccessFile::Mode mode) {
#ifdef _WIN32
    const wchar_t* how = mode == RandomAccessFile::Mode::Read        ? L"rb"
                         : mode == RandomAccessFile::Mode::ReadWrite ? L"r+b"
                                                                     : L"w+b";
    return _wfopen(path.c_str(), how);
#else
    const char* how = mode == RandomAccessFile::Mode::Read        ? "rb"
                      : mode == RandomAccessFile::Mode::ReadWrite ? "r+b"
                                                                  : "w+b";
    return std::fopen(path.c_str(), how);
#endif
}

bool SeekTo(std::FILE* f, std::uint64_t offset, int whence) {
#ifdef _WIN32
    return _fseeki64(f, static_cast<long long>(offset), whence) == 0;
#else
    return fseeko(f, static_cast<off_t>(offset), whence) == 0;
#endif
}

std::int64_t Tell(std::FILE* f) {
#ifdef _WIN32
    return _ftelli64(f);
#else
    return ftello(f);
#endif
}

}  // namespace

RandomAccessFile::~RandomAccessFile() { Close(); }

bool RandomAccessFile::Open(const std::filesystem::path& path, Mode mode) {
    Close();
    file_ = OpenStream(path, mode);
    if (file_ == nullptr) return false;
    // Every caller reads and writes chunks of its own. The stream's buffer would only
    // split a chunk that does not start on the buffer's boundary (a unit's data starts
    // anywhere) into two system calls and a copy.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    return true;
}

void RandomAccessFile::Close() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

bool RandomAccessFile::Seek(std::uint64_t offset) {
    return file_ != nullptr && SeekTo(file_, offset, SEEK_SET);
}

std::size_t RandomAccessFile::Read(void* buffer, std::size_t count) {
    if (file_ == nullptr || count == 0) return 0;
    return std::fread(buffer, 1, count, file_);
}

std::size_t RandomAccessFile::Write(const void* buffer, std::size_t count) {
    if (file_ == nullptr || count == 0) return 0;
    // A stream that was just read must be positioned before it may be written.
    SeekTo(file_, 0, SEEK_CUR);
    return std::fwrite(buffer, 1, count, file_);
}

bool RandomAccessFile::Flush() { return file_ != nullptr && std::fflush(file_) == 0; }

std::uint64_t RandomAccessFile::Length() {
    if (file_ == nullptr) return 0;
    const std::int64_t here = Tell(file_);
    if (here < 0 || !SeekTo(file_, 0, SEEK_END)) return 0;
    const std::int64_t end = Tell(file_);
    SeekTo(file_, static_cast<std::uint64_t>(here), SEEK_SET);
    return end < 0 ? 0 : static_cast<std::uint64_t>(end);
}

}  // namespace flashwise
