// Sector traffic of the sample cycle's append (mount, open always, seek to
// the end, write 200 bytes, close) as the data file grows, on a 1 GiB FAT32
// card image (sparse file) with the volume in an MBR partition at 1 MiB as
// on the simulated card, and the module's RAM cost.  Each point is measured
// twice: seeking by walking the cluster chain, and with the end-of-file hint
// kept from the previous append (as the firmware keeps it in FRAM).  Prints
// counts only.
//
//   fatfs_bench            records up to 100000
//   fatfs_bench --quick    records up to 1000 (smoke run)
#include "storage/fatfs/ff.h"
#include "tests/fatfs/fat_helpers.h"
#include "tests/fatfs/test_disk.h"
#include "tests/fatfs/tool_support.h"

#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv)
{
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const std::vector<long> points =
        quick ? std::vector<long>{10, 1000} : std::vector<long>{10, 10000, 100000};
    const int samples = 20; // appends measured at each point

    tools::TempDir tmp;
    const std::string img = tmp.path("card.img");
    tools::make_image(img, {32, 1024 * 1024, 0, 2048, ""});
    testdisk::use_file(img);
    FATFS fs;
    f_mount(&fs, "", 0);
    DWORD nfree = 0;
    FATFS* pfs = nullptr;
    if (f_getfree("", &nfree, &pfs) != FR_OK) {
        std::fprintf(stderr, "cannot mount the image\n");
        return 1;
    }
    std::printf("FAT32 image 1 GiB, %u sectors per cluster, %lu clusters\n\n", pfs->csize,
                static_cast<unsigned long>(pfs->n_fatent - 2));
    std::printf("%-10s %-6s %14s %14s %14s %14s\n", "records", "seek", "reads/append", "writes/append",
                "max reads", "max writes");

    const std::string rec = std::string(198, 'r') + "\r\n";
    long count = 0;
    FFHINT hint{};
    bool have = false;
    for (long point : points) {
        while (count < point) {
            f_mount(&fs, "", 0); // every sample wakes from reset
            if (fathelp::append_hinted("DATA.TXT", rec, &hint, &have) != FR_OK) {
                std::fprintf(stderr, "append failed at record %ld\n", count);
                return 1;
            }
            count++;
        }
        for (int hinted = 0; hinted < 2; hinted++) {
            uint64_t reads = 0, writes = 0, max_r = 0, max_w = 0;
            for (int s = 0; s < samples; s++) {
                f_mount(&fs, "", 0);
                testdisk::reset_counters();
                const FRESULT res = hinted ? fathelp::append_hinted("DATA.TXT", rec, &hint, &have)
                                           : fathelp::append_record("DATA.TXT", rec);
                if (res != FR_OK) {
                    std::fprintf(stderr, "append failed at record %ld\n", count);
                    return 1;
                }
                count++;
                const auto& c = testdisk::counters();
                reads += c.sectors_read;
                writes += c.sectors_written;
                max_r = std::max(max_r, c.sectors_read);
                max_w = std::max(max_w, c.sectors_written);
            }
            std::printf("%-10ld %-6s %14.2f %14.2f %14llu %14llu\n", point, hinted ? "hint" : "walk",
                        double(reads) / samples, double(writes) / samples,
                        static_cast<unsigned long long>(max_r), static_cast<unsigned long long>(max_w));
        }
    }
    f_mount(nullptr, "", 0);
    testdisk::close_file();
    tools::Result r = tools::fsck(img, 2048);
    std::printf("\nfsck.fat -n: exit %d\n", r.rc);

    std::printf("\nRAM: sizeof(FATFS) %zu, sizeof(FIL) %zu, sizeof(DIR) %zu, sizeof(FILINFO) %zu bytes\n",
                sizeof(FATFS), sizeof(FIL), sizeof(DIR), sizeof(FILINFO));
    std::printf(
        "(module statics: one volume pointer and a 16-bit mount counter; stack use is not counted)\n");
    return r.rc == 0 ? 0 : 1;
}
