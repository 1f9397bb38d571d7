// What the readers of a machine image's files share (image.cpp, regedit4.cpp): each file is
// read whole, only if it is a plain file of a bounded size, and its text is checked for the
// shapes that a Windows 95/98 tool never writes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace sim {

// No file of an image may be larger: the drives of a Windows 98 machine hold nothing near it,
// and a bound keeps a runaway input (a link to /dev/zero) from filling the memory.
inline constexpr std::uintmax_t kLargestImageFile = std::uintmax_t{256} << 20;

// The bytes of file; throws ImageError naming it when it is not a plain file (a folder, a fifo,
// a device, a socket), is larger than kLargestImageFile, or cannot be read (with the system's
// error). Never blocks: a fifo is refused before it is opened.
std::string ReadImageFile(const std::filesystem::path& file);

// The same file read a block at a time, with the same checks and errors: a registry.reg of 50 MB
// is read line by line without being held whole.
class ImageFile {
 public:
  explicit ImageFile(const std::filesystem::path& file);  // throws ImageError
  ~ImageFile();
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;
  // Appends the next block of the file (64 KB at most) to into; false once it is read to its end.
  bool ReadMore(std::string& into);
  std::uintmax_t Size() const { return size_; }  // as the file was when it was opened

 private:
  std::filesystem::path file_;
  int fd_ = -1;
  std::uintmax_t size_ = 0, read_ = 0;
};

// Why a text file of an image is not single-byte text with CR LF (or LF) line ends, or "": a
// UTF-8 byte order mark, or lines ended by CR alone.
std::string TextShapeProblem(std::string_view text);

// Text quoted in a message, every byte that a terminal would not show as it is written \xNN.
std::string Visible(std::string_view text);

}  // namespace sim
