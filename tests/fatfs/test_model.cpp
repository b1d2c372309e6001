// Model-based test: a long seeded random sequence of file operations runs
// against the module and against an in-memory model of files and
// directories; contents and listings must agree throughout, and fsck.fat
// must find the volume clean at the end.
#include "storage/fatfs/ff.h"
#include "tests/fatfs/fat_helpers.h"
#include "tests/fatfs/test_disk.h"
#include "tests/fatfs/tool_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <set>

namespace {

struct Model {
    std::map<std::string, std::string> files; // full path -> content
    std::set<std::string> dirs{""};           // full paths, "" = root

    static std::string parent(const std::string& p)
    {
        auto s = p.rfind('/');
        return s == std::string::npos ? "" : p.substr(0, s);
    }
    bool exists(const std::string& p) const { return files.count(p) || dirs.count(p); }
    bool dir_empty(const std::string& d) const
    {
        for (const auto& [f, c] : files) {
            if (parent(f) == d) {
                return false;
            }
        }
        for (const auto& x : dirs) {
            if (!x.empty() && x != d && parent(x) == d) {
                return false;
            }
        }
        return true;
    }
};

struct ModelLayout {
    int fat_bits;
    uint32_t size_kib;
    int spc;
    unsigned seed;
};

class ModelTest : public ::testing::TestWithParam<ModelLayout> {};

TEST_P(ModelTest, RandomOperationsMatchTheModel)
{
    tools::TempDir tmp;
    const std::string img = tmp.path("card.img");
    tools::make_image(img, {GetParam().fat_bits, GetParam().size_kib, GetParam().spc, 0, ""});
    testdisk::load_image(img);
    FATFS fs;
    ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);

    std::mt19937 rng(GetParam().seed);
    auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
    Model m;
    const char* const names[] = {"A.TXT", "B.DAT", "LOG", "C1234567.ABC", "D", "E.X"};
    auto random_dir = [&] {
        auto it = m.dirs.begin();
        std::advance(it, pick(m.dirs.size()));
        return *it;
    };
    auto join = [](const std::string& d, const std::string& n) { return d.empty() ? n : d + "/" + n; };
    auto random_file = [&]() -> std::string {
        if (m.files.empty()) {
            return "";
        }
        auto it = m.files.begin();
        std::advance(it, pick(m.files.size()));
        return it->first;
    };

    const int steps = 3000;
    for (int step = 0; step < steps; step++) {
        SCOPED_TRACE("step " + std::to_string(step));
        const int op = static_cast<int>(pick(100));

        if (op < 30) { // append (creates when missing)
            // Many names in one directory make directories grow past a cluster.
            const std::string name = pick(2) ? names[pick(6)] : "F" + std::to_string(pick(60)) + ".LOG";
            const std::string p = pick(3) == 0 ? join(random_dir(), name) : random_file();
            if (p.empty() || m.dirs.count(p)) {
                continue;
            }
            std::string data(1 + pick(pick(4) == 0 ? 3000 : 300), '\0');
            for (auto& c : data) {
                c = static_cast<char>(rng());
            }
            FRESULT res = fathelp::append_record(p, data);
            if (!m.dirs.count(Model::parent(p))) {
                ASSERT_EQ(res, FR_NO_PATH);
                continue;
            }
            ASSERT_EQ(res, FR_OK) << p;
            m.files[p] += data;
        } else if (op < 45) { // overwrite in the middle / seek and write
            const std::string p = random_file();
            if (p.empty()) {
                continue;
            }
            std::string& content = m.files[p];
            const size_t ofs = pick(content.size() + 700);
            std::string data(1 + pick(1200), static_cast<char>('a' + pick(26)));
            FIL f;
            ASSERT_EQ(f_open(&f, p.c_str(), FA_WRITE | FA_READ), FR_OK);
            ASSERT_EQ(f_lseek(&f, static_cast<FSIZE_t>(ofs)), FR_OK);
            ASSERT_EQ(f.fptr, ofs);
            UINT bw = 0;
            ASSERT_EQ(f_write(&f, data.data(), static_cast<UINT>(data.size()), &bw), FR_OK);
            ASSERT_EQ(bw, data.size());
            ASSERT_EQ(f_close(&f), FR_OK);
            if (content.size() < ofs) {
                content.resize(ofs, '\0'); // the gap reads as zeros
            }
            content.replace(ofs, std::min(data.size(), content.size() - ofs), data);
        } else if (op < 55) { // truncate
            const std::string p = random_file();
            if (p.empty()) {
                continue;
            }
            const size_t at = pick(m.files[p].size() + 1);
            FIL f;
            ASSERT_EQ(f_open(&f, p.c_str(), FA_WRITE), FR_OK);
            ASSERT_EQ(f_lseek(&f, static_cast<FSIZE_t>(at)), FR_OK);
            ASSERT_EQ(f_truncate(&f), FR_OK);
            ASSERT_EQ(f_close(&f), FR_OK);
            m.files[p].resize(at);
        } else if (op < 65) { // read and compare (random window)
            const std::string p = random_file();
            if (p.empty()) {
                continue;
            }
            std::string got;
            ASSERT_EQ(fathelp::read_all(p, &got), FR_OK);
            ASSERT_EQ(got, m.files[p]) << p;
        } else if (op < 73) { // mkdir
            if (m.dirs.size() > 25) {
                continue;
            }
            const std::string p = join(random_dir(), "DIR" + std::to_string(pick(5)));
            FRESULT res = f_mkdir(p.c_str());
            if (m.exists(p)) {
                ASSERT_EQ(res, FR_EXIST);
            } else {
                ASSERT_EQ(res, FR_OK) << p;
                m.dirs.insert(p);
            }
        } else if (op < 85) { // rename / move
            std::string from = pick(4) == 0 ? random_dir() : random_file();
            if (from.empty()) {
                continue;
            }
            const std::string to =
                join(random_dir(), pick(2) ? names[pick(6)] : "R" + std::to_string(pick(9)));
            FRESULT res = f_rename(from.c_str(), to.c_str());
            if (m.exists(to)) {
                ASSERT_EQ(res, FR_EXIST);
            } else if (m.dirs.count(from) && (to + "/").rfind(from + "/", 0) == 0) {
                ASSERT_EQ(res, FR_INVALID_NAME); // into itself
            } else {
                ASSERT_EQ(res, FR_OK) << from << " -> " << to;
                if (m.files.count(from)) {
                    m.files[to] = m.files[from];
                    m.files.erase(from);
                } else {
                    // Move the whole subtree in the model.
                    std::map<std::string, std::string> nf;
                    for (auto& [f, c] : m.files) {
                        nf[f.rfind(from + "/", 0) == 0 ? to + f.substr(from.size()) : f] = c;
                    }
                    m.files = nf;
                    std::set<std::string> nd;
                    for (auto& d : m.dirs) {
                        nd.insert(d == from || d.rfind(from + "/", 0) == 0 ? to + d.substr(from.size()) : d);
                    }
                    m.dirs = nd;
                }
            }
        } else if (op < 95) { // delete file or directory
            std::string p = pick(3) == 0 ? random_dir() : random_file();
            if (p.empty()) {
                continue;
            }
            FRESULT res = f_unlink(p.c_str());
            if (m.dirs.count(p) && !m.dir_empty(p)) {
                ASSERT_EQ(res, FR_DENIED);
            } else {
                ASSERT_EQ(res, FR_OK) << p;
                m.files.erase(p);
                m.dirs.erase(p);
            }
        } else { // listing of a directory
            const std::string d = random_dir();
            std::map<std::string, fathelp::Entry> got;
            ASSERT_EQ(fathelp::list_dir("/" + d, &got), FR_OK);
            std::set<std::string> expect;
            for (auto& [f, c] : m.files) {
                if (Model::parent(f) == d) {
                    expect.insert(f.substr(f.rfind('/') + 1));
                    ASSERT_EQ(got[f.substr(f.rfind('/') + 1)].size, c.size());
                }
            }
            for (auto& x : m.dirs) {
                if (!x.empty() && Model::parent(x) == d) {
                    expect.insert(x.substr(x.rfind('/') + 1));
                }
            }
            std::set<std::string> names_got;
            for (auto& [n, e] : got) {
                names_got.insert(n);
            }
            ASSERT_EQ(names_got, expect) << "dir /" << d;
        }
        if (step % 500 == 499) { // a reset of the controller: remount
            ASSERT_EQ(f_mount(&fs, "", 0), FR_OK);
        }
    }
    size_t total = 0;
    for (const auto& [p, c] : m.files) {
        total += c.size();
    }
    std::printf("model at the end: %zu files (%zu bytes), %zu directories\n", m.files.size(), total,
                m.dirs.size());
    for (const auto& [p, c] : m.files) {
        std::string got;
        ASSERT_EQ(fathelp::read_all(p, &got), FR_OK);
        ASSERT_EQ(got, c) << p;
    }
    DWORD nfree = 0;
    FATFS* pfs;
    ASSERT_EQ(f_getfree("", &nfree, &pfs), FR_OK);
    const DWORD straddling = fathelp::free_straddling(pfs);
    f_mount(nullptr, "", 0);
    testdisk::save_image(img);
    tools::Result r = tools::fsck(img, 0);
    EXPECT_EQ(r.rc, 0) << r.out;
    // Free count after all the allocation and freeing agrees with fsck.fat.
    auto slash = r.out.rfind('/');
    auto comma = r.out.rfind(", ", slash);
    EXPECT_EQ(std::stoul(r.out.substr(slash + 1)) - std::stoul(r.out.substr(comma + 2, slash - comma - 2)),
              nfree + straddling);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ModelTest,
                         ::testing::Values(ModelLayout{12, 2048, 1, 11}, ModelLayout{16, 8192, 1, 22},
                                           ModelLayout{32, 40960, 1, 33}, ModelLayout{32, 40960, 2, 44}),
                         [](const ::testing::TestParamInfo<ModelLayout>& i) {
                             return "FAT" + std::to_string(i.param.fat_bits) + "_seed" +
                                    std::to_string(i.param.seed);
                         });

} // namespace
