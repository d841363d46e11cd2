// A long day at the station: page and select through many photos in one run and watch the
// resident memory. The test command runs 500 photos; scripts/soak.sh runs 5,000 (set
// SELVANA_SOAK_PHOTOS). The sanitizer build of the same test checks for leaks. The memory
// figures are printed, not judged: only a growth far beyond any cache fails.
#include "reliability_station.h"
#include "station_fixture.h"

#include <QElapsedTimer>
#include <cstdio>

using namespace reliability;

namespace
{

class Soak : public StationTest
{
};

} // namespace

TEST_F(Soak, PageAndSelectThroughManyPhotos)
{
    const char *setting = std::getenv("SELVANA_SOAK_PHOTOS");
    const int count = setting ? std::atoi(setting) : 500;
    const QSize size(640, 480);
    // A handful of distinct pictures written round-robin: the file side is what is soaked.
    std::vector<std::string> pictures;
    for (int i = 0; i < 16; ++i)
        pictures.push_back(jpegBytes(size, QColor::fromHsv(i * 22, 200, 200)));
    tree.makeFolder(customer + "/入库");
    tree.makeFolder(customer + "/精修");
    auto nameOf = [](int i) { return "p" + std::to_string(i) + ".jpg"; };
    for (int i = 0; i < count; ++i)
        tree.writeFile(customer + "/" + nameOf(i), pictures[static_cast<size_t>(i) % 16]);

    QElapsedTimer clock;
    clock.start();
    fillSourceList();
    fillProjectList();
    ASSERT_TRUE(chooseItem("组合框1", customer + "/入库"));
    long warm = 0;
    // Every photo shown; every third one selected (moved into 入库).
    for (int step = 0; step < count && !station().photoList.empty(); ++step) {
        if (step % 3 == 0)
            selectCurrent();
        else
            showNext();
        if (step == count / 10)
            warm = memoryKiB("VmRSS");
    }
    // Then through 入库: copies into 精修, every other one deleted back to the originals.
    ASSERT_TRUE(chooseItem("组合框2", customer + "/入库"));
    ASSERT_TRUE(chooseItem("组合框1", customer + "/精修"));
    const size_t selected = station().photoList.size();
    for (size_t step = 0; step < selected && !station().photoList.empty(); ++step) {
        if (step % 2 == 0)
            selectCurrent();
        else
            deleteCurrent();
    }
    long end = memoryKiB("VmRSS");
    long peak = memoryKiB("VmHWM");
    long long elapsed = clock.elapsed();

    std::printf(
        "[ figures  ] soak of %d photos (%dx%d, %zu bytes each on average): %lld ms\n", count,
        size.width(), size.height(),
        [&] {
            size_t total = 0;
            for (const std::string &p : pictures)
                total += p.size();
            return total / pictures.size();
        }(),
        elapsed);
    std::printf("[ figures  ] resident memory: %ld KiB after 10%%, %ld KiB at the end (growth %ld "
                "KiB), peak %ld KiB\n",
                warm, end, end - warm, peak);
#ifndef __SANITIZE_ADDRESS__ // AddressSanitizer holds freed memory back in quarantine
    EXPECT_LT(end - warm, 100 * 1024) << "KiB of growth";
#endif
    std::map<std::string, std::string> photos; // made only now: not counted in the figures
    for (int i = 0; i < count; ++i)
        photos[nameOf(i)] = pictures[static_cast<size_t>(i) % 16];
    TreeAudit audit = auditTree(tree.path(customer), photos);
    EXPECT_TRUE(audit.problems.empty()) << ::testing::PrintToString(audit.problems);
    EXPECT_TRUE(audit.temporaries.empty());
}
