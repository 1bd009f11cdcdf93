#include "os/file_sys.h"

#include <cstring>

#include "support/fail.h"

namespace zq {

std::FILE* OFileSys::openForRd(const std::wstring& path, bool mustExist) {
    std::string refusal;
    return openForRd(path, mustExist, refusal);
}

std::FILE* OFileSys::openForRd(const std::wstring& path, bool mustExist, std::string& refusal) {
    refusal.clear();
    std::FILE* file = fs_detail::openBinaryForRead(path, refusal);
    if (file == nullptr && mustExist) failExplicit("OFileSys::openForRd");
    return file;
}

void OFileSys::close(std::FILE* file) {
    if (file != nullptr) std::fclose(file);
}

bool OFileSys::exists(const std::wstring& path) {
    return fs_detail::statPath(path);
}

std::uint32_t OFileSys::getFileSize(std::FILE* file) {
    std::uint64_t size = 0;
    if (!fs_detail::fileSize(file, size) || size > 0xFFFFFFFFu) {
        failExplicit("OFileSys::getFileSize()");
        return 0;
    }
    return static_cast<std::uint32_t>(size);
}

std::uint32_t OFileSys::read(std::FILE* file, void* destination, std::uint32_t n) {
    if (n == 0) return 0;
    return static_cast<std::uint32_t>(std::fread(destination, 1, n, file));
}

void OFileSys::seekBw(std::FILE* file, std::uint32_t n) {
    if (!fs_detail::seek(file, -static_cast<std::int64_t>(n), SEEK_CUR))
        failExplicit("OFileSys::seekBw");
}

void OFileSys::seekFw(std::FILE* file, std::uint32_t n) {
    if (!fs_detail::seek(file, n, SEEK_CUR)) failExplicit("OFileSys::seekFw");
}

void OFileSys::seekStart(std::FILE* file, std::uint32_t n) {
    if (!fs_detail::seek(file, n, SEEK_SET)) failExplicit("OFileSys::seekStart");
}

void OFileSys::seekEnd(std::FILE* file, std::uint32_t n) {
    if (!fs_detail::seek(file, -static_cast<std::int64_t>(n), SEEK_END))
        failExplicit("OFileSys::seekEnd");
}

FileSource::FileSource(std::FILE* file) : file_(file) {
    OFileSys::seekStart(file_, 0);
}

std::uint32_t FileSource::size() const {
    return OFileSys::getFileSize(file_);
}

std::uint32_t FileSource::remaining() const {
    std::uint32_t total = size();
    return total > position_ ? total - position_ : 0;
}

bool FileSource::read(void* destination, std::uint32_t n) {
    if (!require(n <= remaining(), "enough free space")) {
        if (n != 0) std::memset(destination, 0, n);
        return false;
    }
    // A file that shrinks or fails under us delivers fewer bytes than its size promised; that
    // must not pass as data, so the rest is zeroed and the read reported as failed.
    std::uint32_t got = OFileSys::read(file_, destination, n);
    position_ += got;
    if (got == n) return true;
    std::memset(static_cast<std::uint8_t*>(destination) + got, 0, n - got);
    return false;
}

void FileSource::skipForward(std::uint32_t n) {
    if (!require(n <= remaining(), "correct offset")) return;
    position_ += n;
    OFileSys::seekFw(file_, n);
}

void FileSource::skipBackward(std::uint32_t n) {
    if (!require(n <= position_, "correct offset")) return;
    position_ -= n;
    OFileSys::seekBw(file_, n);
}

void FileSource::seekFromStart(std::uint32_t position) {
    if (!require(position <= size(), "correct offset")) return;
    position_ = position;
    OFileSys::seekStart(file_, position);
}

void FileSource::seekFromEnd(std::uint32_t n) {
    std::uint32_t total = size();
    if (!require(n <= total, "correct offset")) return;
    position_ = total - n;
    OFileSys::seekEnd(file_, n);
}

}  // namespace zq
