#include "tests/fatfs/tool_support.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace tools {

Result run(const std::string& cmd)
{
    std::string full = "MTOOLS_SKIP_CHECK=1 MTOOLS_LOWER_CASE=0 " + cmd + " 2>&1";
    FILE* p = ::popen(full.c_str(), "r");
    if (p == nullptr) {
        throw std::runtime_error("popen failed: " + cmd);
    }
    std::string out;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) {
        out.append(buf.data(), n);
    }
    int status = ::pclose(p);
    int rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return {rc, out};
}

TempDir::TempDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "fatfs-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    dir_ = tmpl;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void make_image(const std::string& path, const ImageSpec& spec)
{
    std::ostringstream cmd;
    cmd << "mkfs.fat -F " << spec.fat_bits << " -i 12345678 ";
    if (spec.sectors_per_cluster != 0) {
        cmd << "-s " << spec.sectors_per_cluster << " ";
    }
    cmd << spec.extra << " ";
    if (spec.part_start == 0) {
        std::filesystem::remove(path);
        cmd << "-C " << path << " " << spec.size_kib;
    } else {
        const uint64_t total = static_cast<uint64_t>(spec.part_start) * 512 + spec.size_kib * 1024ull;
        std::filesystem::remove(path);
        {
            std::ofstream f(path, std::ios::binary);
        }
        std::filesystem::resize_file(path, total);
        // Partition table: one entry covering the file system.
        std::array<uint8_t, 512> mbr{};
        uint8_t* pe = mbr.data() + 446;
        pe[0] = 0x00;
        pe[1] = 0xFE; // CHS fields unused (LBA addressing)
        pe[2] = 0xFF;
        pe[3] = 0xFF;
        pe[4] = spec.fat_bits == 32 ? 0x0C : spec.fat_bits == 16 ? 0x0E : 0x01;
        pe[5] = 0xFE;
        pe[6] = 0xFF;
        pe[7] = 0xFF;
        const uint32_t start = spec.part_start;
        const uint32_t count = spec.size_kib * 2;
        for (int i = 0; i < 4; i++) {
            pe[8 + i] = static_cast<uint8_t>(start >> (8 * i));
            pe[12 + i] = static_cast<uint8_t>(count >> (8 * i));
        }
        mbr[510] = 0x55;
        mbr[511] = 0xAA;
        std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
        f.write(reinterpret_cast<const char*>(mbr.data()), 512);
        f.close();
        cmd << "-h " << spec.part_start << " --offset=" << spec.part_start << " " << path << " "
            << spec.size_kib;
    }
    Result r = run(cmd.str());
    if (r.rc != 0) {
        throw std::runtime_error("mkfs.fat failed: " + cmd.str() + "\n" + r.out);
    }
}

std::string mimg(const std::string& path, uint32_t part_start)
{
    if (part_start == 0) {
        return "-i " + path;
    }
    return "-i " + path + "@@" + std::to_string(static_cast<uint64_t>(part_start) * 512);
}

Result fsck(const std::string& path, uint32_t part_start)
{
    std::string target = path;
    if (part_start != 0) {
        target = path + ".part";
        std::ifstream in(path, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(part_start) * 512);
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        out << in.rdbuf();
    }
    Result r = run("fsck.fat -n " + target);
    if (part_start != 0) {
        std::filesystem::remove(target);
    }
    return r;
}

std::string read_file(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void write_file(const std::string& path, const std::string& data)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
}

} // namespace tools
