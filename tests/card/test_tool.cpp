// The simulated card image and the card tool, cross-checked with mtools
// and dosfstools.
#include "tests/card/card_support.h"

#include "tests/support/harness.h"

#include <gtest/gtest.h>

#include <random>

using namespace cardtest;

namespace {

std::string q(const std::string& s)
{
    return "'" + s + "'";
}

TEST(CardTool, NewBoardHasAFormattedCardThatTheToolsAccept)
{
    std::string dir = board_dir("newcard");
    sim::RunOptions opts;
    opts.board_dir = dir;
    test::Run r = test::run_script(opts, "", 1.0);
    ASSERT_EQ(r.status, 0);
    std::string image = dir + "/card.img";
    auto boot = read_sectors(image, 2048, 1);
    EXPECT_EQ(std::string(boot.begin() + 82, boot.begin() + 90), "FAT32   ");
    EXPECT_EQ(sh("test $(stat -c %s " + q(image) + ") -eq 1073741824").rc, 0);

    Cmd ls = card("--board " + q(dir) + " ls");
    EXPECT_EQ(ls.rc, 0) << ls.out;
    EXPECT_NE(ls.out.find("0 file(s), 0 bytes; 0 dir(s);"), std::string::npos) << ls.out;
    Cmd fsck = card("--board " + q(dir) + " fsck");
    EXPECT_EQ(fsck.rc, 0) << fsck.out;
    EXPECT_NE(fsck.out.find("0 files, 1/261372 clusters"), std::string::npos) << fsck.out;
    EXPECT_EQ(sh("mdir " + mimg(image) + " ::").rc, 0);
    // fsck.fat reads a volume from its first sector: on the partitioned
    // image it fails, on the partition copied out (as docs/card.md shows) it
    // passes.
    EXPECT_NE(sh("fsck.fat -n " + q(image)).rc, 0);
    Cmd part = sh("cd " + q(dir) + " && dd if=card.img of=part.img bs=1M skip=1 conv=sparse status=none && " +
                  "fsck.fat -n part.img && rm part.img");
    EXPECT_EQ(part.rc, 0) << part.out;
}

TEST(CardTool, RoundTripAgreesWithMtools)
{
    std::string dir = board_dir("roundtrip");
    ASSERT_EQ(sh("mkdir -p " + q(dir)).rc, 0);
    std::string image = dir + "/card.img";
    // A board folder without a card gets a new one.
    Cmd first = card("--board " + q(dir) + " mkdir logs");
    ASSERT_EQ(first.rc, 0) << first.out;
    EXPECT_NE(first.out.find("new microSD card"), std::string::npos);

    std::string payload(100000, '\0');
    std::mt19937 rng(7);
    for (char& c : payload) {
        c = static_cast<char>(rng());
    }
    test::write_file(dir + "/blob.bin", std::vector<uint8_t>(payload.begin(), payload.end()));
    ASSERT_EQ(card("--board " + q(dir) + " put " + q(dir + "/blob.bin")).rc, 0);
    ASSERT_EQ(card("--board " + q(dir) + " put " + q(dir + "/blob.bin") + " logs/copy.bin").rc, 0);

    // Read back by the tool and by mtools.
    Cmd got = card("--board " + q(dir) + " get BLOB.BIN -");
    EXPECT_EQ(got.rc, 0);
    EXPECT_TRUE(got.out == payload) << got.out.size();
    ASSERT_EQ(sh("mcopy -n " + mimg(image) + " ::LOGS/COPY.BIN " + q(dir + "/m.bin")).rc, 0);
    auto m = test::read_file(dir + "/m.bin");
    EXPECT_TRUE(std::string(m.begin(), m.end()) == payload);

    // Files mtools writes, read by the tool.
    test::write_file(dir + "/note.txt", {'h', 'i', '\n'});
    ASSERT_EQ(sh("mcopy " + mimg(image) + " " + q(dir + "/note.txt") + " ::NOTE.TXT").rc, 0);
    EXPECT_EQ(card("--board " + q(dir) + " get note.txt -").out, "hi\n");

    ASSERT_EQ(card("--board " + q(dir) + " mv BLOB.BIN logs/").rc, 0);
    ASSERT_EQ(card("--board " + q(dir) + " mv NOTE.TXT README.TXT").rc, 0);
    Cmd ls = card("--board " + q(dir) + " ls logs");
    EXPECT_NE(ls.out.find("100000"), std::string::npos);
    EXPECT_NE(ls.out.find("BLOB.BIN"), std::string::npos);
    Cmd mdir = sh("mdir -b " + mimg(image) + " ::LOGS");
    EXPECT_NE(mdir.out.find("::/LOGS/BLOB.BIN"), std::string::npos) << mdir.out;
    EXPECT_NE(mdir.out.find("::/LOGS/COPY.BIN"), std::string::npos) << mdir.out;
    EXPECT_EQ(sh("mtype " + mimg(image) + " ::README.TXT").out, "hi\n");

    ASSERT_EQ(card("--board " + q(dir) + " rm logs/copy.bin").rc, 0);
    Cmd rmdir = card("--board " + q(dir) + " rm logs");
    EXPECT_EQ(rmdir.rc, 1);
    EXPECT_NE(rmdir.out.find("rm logs: the directory is not empty"), std::string::npos) << rmdir.out;
    ASSERT_EQ(card("--board " + q(dir) + " rm logs/blob.bin").rc, 0);
    ASSERT_EQ(card("--board " + q(dir) + " rm logs").rc, 0);
    EXPECT_EQ(sh("mdir -b " + mimg(image) + " ::").out, "::/README.TXT\n");
    Cmd fsck = card("--board " + q(dir) + " fsck");
    EXPECT_EQ(fsck.rc, 0) << fsck.out;
}

TEST(CardTool, FailuresExitNonZeroWithAMessage)
{
    std::string dir = board_dir("toolfail");
    ASSERT_EQ(sh("mkdir -p " + q(dir)).rc, 0);
    std::string image = dir + "/small.img";
    ASSERT_EQ(card("--image " + q(image) + " format --size 40").rc, 0);
    ASSERT_EQ(sh("mdir " + mimg(image) + " ::").rc, 0);

    Cmd missing = card("--image " + q(image) + " get NOPE.TXT -");
    EXPECT_EQ(missing.rc, 1);
    EXPECT_NE(missing.out.find("no such file"), std::string::npos) << missing.out;
    Cmd nosrc = card("--image " + q(image) + " put " + q(dir + "/absent"));
    EXPECT_EQ(nosrc.rc, 1);
    EXPECT_NE(nosrc.out.find("cannot read"), std::string::npos) << nosrc.out;
    EXPECT_EQ(card("--image " + q(dir + "/none.img") + " ls").rc, 1);
    EXPECT_EQ(card("--board " + q(dir + "/nowhere") + " ls").rc, 1);
    EXPECT_EQ(card("--image " + q(image) + " frobnicate").rc, 2);

    // Larger than the card: refused, and no partial file stays behind.
    ASSERT_EQ(sh("truncate -s 45M " + q(dir + "/big.bin")).rc, 0);
    Cmd full = card("--image " + q(image) + " put " + q(dir + "/big.bin"));
    EXPECT_EQ(full.rc, 1);
    EXPECT_NE(full.out.find("full"), std::string::npos) << full.out;
    EXPECT_EQ(sh("mdir -b " + mimg(image) + " ::").out, "");
    EXPECT_EQ(card("--image " + q(image) + " fsck").rc, 0);

    // Not a FAT volume.
    ASSERT_EQ(sh("head -c 1048576 /dev/urandom > " + q(dir + "/junk.img")).rc, 0);
    Cmd junk = card("--image " + q(dir + "/junk.img") + " ls");
    EXPECT_EQ(junk.rc, 1);
    EXPECT_NE(junk.out.find("not a FAT volume"), std::string::npos) << junk.out;
}

// "1234 bytes free" from the tool's listing.
unsigned long long free_bytes(const std::string& image)
{
    Cmd ls = card("--image " + q(image) + " ls");
    auto end = ls.out.rfind(" bytes free");
    auto begin = ls.out.rfind(' ', end - 1);
    return end == std::string::npos ? 0 : std::stoull(ls.out.substr(begin + 1, end - begin - 1));
}

TEST(CardTool, PutOverAFileReplacesItOnlyWhenTheCopyIsComplete)
{
    std::string dir = board_dir("replace");
    ASSERT_EQ(sh("mkdir -p " + q(dir)).rc, 0);
    std::string image = dir + "/card.img";
    ASSERT_EQ(card("--image " + q(image) + " format --size 40").rc, 0);
    test::write_file(dir + "/first.txt", {'o', 'l', 'd'});
    ASSERT_EQ(card("--image " + q(image) + " mkdir logs").rc, 0);
    ASSERT_EQ(card("--image " + q(image) + " put " + q(dir + "/first.txt") + " logs/data.txt").rc, 0);
    const unsigned long long free_before = free_bytes(image);
    ASSERT_GT(free_before, 30000000u);

    // Larger than the card: refused, the old file stays as it was.
    ASSERT_EQ(sh("truncate -s 45M " + q(dir + "/big.bin")).rc, 0);
    Cmd full = card("--image " + q(image) + " put " + q(dir + "/big.bin") + " logs/data.txt");
    EXPECT_EQ(full.rc, 1);
    EXPECT_NE(full.out.find("the card is full (the file on the card is unchanged)"), std::string::npos)
        << full.out;
    EXPECT_EQ(card("--image " + q(image) + " get logs/data.txt -").out, "old");
    EXPECT_EQ(sh("mdir -b " + mimg(image) + " ::LOGS").out, "::/LOGS/DATA.TXT\n"); // no copy left over
    EXPECT_EQ(free_bytes(image), free_before);
    EXPECT_EQ(card("--image " + q(image) + " fsck").rc, 0);

    // A copy that fits replaces it.
    test::write_file(dir + "/second.txt", {'n', 'e', 'w', '!'});
    Cmd ok = card("--image " + q(image) + " put " + q(dir + "/second.txt") + " logs/data.txt");
    EXPECT_EQ(ok.rc, 0) << ok.out;
    EXPECT_EQ(sh("mtype " + mimg(image) + " ::LOGS/DATA.TXT").out, "new!");
    EXPECT_EQ(sh("mdir -b " + mimg(image) + " ::LOGS").out, "::/LOGS/DATA.TXT\n");
    EXPECT_EQ(card("--image " + q(image) + " fsck").rc, 0);

    // A directory of that name is not replaced.
    Cmd ontodir = card("--image " + q(image) + " put " + q(dir + "/second.txt") + " logs");
    EXPECT_EQ(ontodir.rc, 0) << ontodir.out; // goes into it
    EXPECT_EQ(sh("mtype " + mimg(image) + " ::LOGS/SECOND.TXT").out, "new!");
}

TEST(CardTool, FormatThatCannotSucceedLeavesTheImageAlone)
{
    std::string dir = board_dir("badformat");
    ASSERT_EQ(sh("mkdir -p " + q(dir)).rc, 0);
    // Neither a FAT volume nor a partition table, and too small for FAT32.
    std::string junk = dir + "/junk.img";
    ASSERT_EQ(sh("head -c 10485760 /dev/urandom > " + q(junk)).rc, 0);
    auto before = read_sectors(junk, 0, 1);
    Cmd fmt = card("--image " + q(junk) + " format");
    EXPECT_EQ(fmt.rc, 1);
    EXPECT_NE(fmt.out.find("too small for FAT32"), std::string::npos) << fmt.out;
    EXPECT_TRUE(read_sectors(junk, 0, 1) == before);

    // A new image that cannot be made (here: the host refuses a file that
    // large): the old image stays.
    std::string image = dir + "/card.img";
    ASSERT_EQ(card("--image " + q(image) + " format --size 40").rc, 0);
    test::write_file(dir + "/keep.txt", {'k'});
    ASSERT_EQ(card("--image " + q(image) + " put " + q(dir + "/keep.txt")).rc, 0);
    Cmd big = sh("bash -c \"trap '' XFSZ; ulimit -f 50000; " + std::string(VARVE_SIM_BIN) + " card --image " +
                 q(image) + " format --size 64\"");
    EXPECT_EQ(big.rc, 1);
    EXPECT_NE(big.out.find("cannot size"), std::string::npos) << big.out;
    EXPECT_EQ(card("--image " + q(image) + " get KEEP.TXT -").out, "k");
    EXPECT_EQ(sh("ls " + q(dir)).out, "card.img\njunk.img\nkeep.txt\n");
    EXPECT_EQ(card("--image " + q(image) + " format --size 2097152").rc, 2); // beyond an MBR's reach
}

TEST(CardTool, WorksOnImagesWithoutAPartitionTable)
{
    std::string dir = board_dir("superfloppy");
    ASSERT_EQ(sh("mkdir -p " + q(dir)).rc, 0);
    std::string image = dir + "/fat16.img";
    ASSERT_EQ(sh("mkfs.fat -C -F 16 -s 1 " + q(image) + " 8192").rc, 0);
    test::write_file(dir + "/a.txt", {'a', 'b', 'c'});
    ASSERT_EQ(card("--image " + q(image) + " put " + q(dir + "/a.txt")).rc, 0);
    EXPECT_EQ(sh("mtype -i " + q(image) + " ::A.TXT").out, "abc");
    EXPECT_EQ(card("--image " + q(image) + " fsck").rc, 0);
    // Formatting keeps the layout: no partition table is added.
    Cmd fmt = card("--image " + q(image) + " format");
    EXPECT_EQ(fmt.rc, 1); // 4 MiB is too small for FAT32
    EXPECT_NE(fmt.out.find("too small"), std::string::npos) << fmt.out;
}

} // namespace
