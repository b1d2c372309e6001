// fsck.fat -n findings a power cut may leave on a card: unreferenced
// clusters, FAT copies that differ by the newest change, the appended
// file's size.  Any other line (cross-links, bad entries, orphaned long
// names...) is a fault.
#pragma once

#include <sstream>
#include <string>

namespace test {

// `file` is the appended file as fsck.fat names it ("/DATA.TXT"); `tail`
// the start of the summary line fsck.fat ends with for this image.
inline bool fsck_findings_acceptable(const std::string& out, const std::string& file, const std::string& tail,
                                     std::string* bad)
{
    static const char* const ok[] = {"fsck.fat ",
                                     "Reclaimed ",
                                     "Leaving filesystem unchanged",
                                     "FATs differ but appear to be intact",
                                     "  Using first FAT",
                                     "Free cluster summary uninitialized",
                                     "  File size is",
                                     "  Truncating"};
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        bool fine =
            line.empty() || line.find(file) != std::string::npos || line.find(tail) != std::string::npos;
        for (const char* p : ok) {
            fine = fine || line.find(p) != std::string::npos;
        }
        if (!fine) {
            *bad = line;
            return false;
        }
    }
    return true;
}

} // namespace test
