// Helpers that drive dosfstools and mtools on image files.
#pragma once

#include <cstdint>
#include <string>

namespace tools {

struct Result {
    int rc;
    std::string out;
};

// Runs a shell command (stdout and stderr captured) with mtools' geometry
// check disabled.
Result run(const std::string& cmd);

// A fresh directory under the temporary directory, removed on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

  private:
    std::string dir_;
};

struct ImageSpec {
    int fat_bits = 16;           // 12, 16 or 32
    uint32_t size_kib = 8192;    // file system size
    int sectors_per_cluster = 0; // 0 = mkfs.fat's choice
    uint32_t part_start = 0;     // MBR partition start sector, 0 = no MBR
    std::string extra;           // more mkfs.fat options
};

// Makes an image with mkfs.fat (and an MBR partition table when
// part_start != 0).  Throws on failure.
void make_image(const std::string& path, const ImageSpec& spec);

// mtools image argument ("-i file" or "-i file@@offset").
std::string mimg(const std::string& path, uint32_t part_start);

// fsck.fat -n on the image's file system (the partition is copied out first).
Result fsck(const std::string& path, uint32_t part_start);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& data);

} // namespace tools
