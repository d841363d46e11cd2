// Stations as separate processes on one photo tree: one killed with SIGKILL at random moments of a
// long run of selects and deletes, and two working on the same customer at once. Afterwards every
// photo still exists, byte for byte, under its own name.
//
// The command driver is this very program run again with SELVANA_DRIVER_ROOT set (the test
// StationDriver.RunsSelectsAndDeletes); otherwise that test is skipped. Settings from the
// environment, for the long runs of scripts/soak.sh and scripts/two-stations.sh:
//   SELVANA_KILLS        kills of the kill test (30)
//   SELVANA_OPERATIONS   commands per station of the two-station test (150)
//   SELVANA_TREE_BASE    folder to make the test trees under (a network share; default /tmp)
#include "fault_mounts.h"
#include "photo_tree.h"
#include "reliability_station.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace reliability;

namespace
{

const std::string customer = "张三";

int environmentNumber(const char *name, int fallback)
{
    const char *value = std::getenv(name);
    return value && *value ? std::atoi(value) : fallback;
}

std::string treeBase()
{
    const char *value = std::getenv("SELVANA_TREE_BASE");
    return value ? value : "";
}

// The command driver's steps: each chooses its folders as the user would, then runs a command.
// `restore` is the studio's manager putting a deleted photo back into the originals by hand (not
// a station command), so that photos keep going round instead of all ending up deleted.
enum Step {
    selectMove,
    selectCrossDiskMove,
    selectCopy,
    deleteBack,
    deleteKept,
    page,
    restore,
    stepCount
};

const char *const stepNames[] = {
    "select-move", "select-cross-disk-move", "select-copy", "delete-back", "delete-kept", "page",
    "restore"};

void restoreOneDeletedPhoto()
{
    std::string folder = station().photoRoot + customer + "/.回收站";
    FileSearch search(folder, "*.jpg", false);
    std::string name = search.next();
    if (!name.empty())
        host().moveFileNoReplace(folder + "/" + name,
                                 station().photoRoot + customer + "/" + unnumberedName(name));
}

void runStep(Step step)
{
    const std::string stockIn = customer + "/入库", project = customer + "/精修";
    switch (step) {
    case selectMove:
        chooseItem("组合框2", customer);
        chooseItem("组合框1", stockIn);
        selectCurrent();
        break;
    case selectCrossDiskMove:
        chooseItem("组合框2", customer);
        chooseItem("组合框1", project);
        selectCurrent();
        break;
    case selectCopy:
        chooseItem("组合框2", stockIn);
        chooseItem("组合框1", project);
        selectCurrent();
        break;
    case deleteBack:
        chooseItem("组合框2", stockIn);
        deleteCurrent();
        break;
    case deleteKept:
        chooseItem("组合框2", project);
        deleteCurrent();
        break;
    case page:
        showNext();
        break;
    case restore:
        restoreOneDeletedPhoto();
        break;
    case stepCount:
        break;
    }
}

// The photo tree of these tests: 张三 with `count` photos in the originals, 入库, and 精修 on a
// small disk of its own when `separateDisk` (moves into it are copies between file systems).
class DriverTree
{
  public:
    DriverTree(int count, bool separateDisk) : tree(treeBase())
    {
        tree.makeFolder(customer + "/入库");
        if (separateDisk)
            disk = std::make_unique<SmallDisk>(tree.path(customer + "/精修"), 64L << 20);
        else
            tree.makeFolder(customer + "/精修");
        for (int i = 1; i <= count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "p%03d.jpg", i);
            // Big enough that a copy takes a while, so kills land inside copies too.
            tree.writePhoto(customer + "/" + name, QSize(900 + i, 600),
                            QColor::fromHsv(i * 37 % 360, 200, 200));
            photos[name] = tree.readFile(customer + "/" + name);
        }
    }
    bool diskReady() const { return !disk || disk->active(); }
    TreeAudit audit() const { return auditTree(tree.path(customer), photos); }

    PhotoTree tree;
    std::unique_ptr<SmallDisk> disk;
    std::map<std::string, std::string> photos;
};

// Starts a command driver on `root`; it prints "ready" once the station is open, then one line
// per command ("step <name>"), and runs `operations` commands (0: until killed).
void startDriver(QProcess &driver, const std::string &root, quint32 seed, int operations)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("SELVANA_DRIVER_ROOT", QString::fromUtf8(root.c_str()));
    environment.insert("SELVANA_DRIVER_SEED", QString::number(seed));
    environment.insert("SELVANA_DRIVER_OPERATIONS", QString::number(operations));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    driver.setProcessEnvironment(environment);
    driver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments{"--gtest_filter=StationDriver.DISABLED_RunsSelectsAndDeletes",
                          "--gtest_also_run_disabled_tests", "--gtest_brief=1"};
    driver.start(QStringLiteral("/proc/self/exe"), arguments);
}

// Waits for the driver's "ready"; `output` keeps what it printed so far.
bool waitForReady(QProcess &driver, QByteArray &output)
{
    while (!output.contains("ready\n")) {
        if (!driver.waitForReadyRead(30000))
            return false;
        output += driver.readAllStandardOutput();
    }
    return true;
}

std::string problemsText(const TreeAudit &audit)
{
    return ::testing::PrintToString(audit.problems);
}

} // namespace

// Run only as a child process of the tests below (it is disabled in ordinary runs).
TEST(StationDriver, DISABLED_RunsSelectsAndDeletes)
{
    const char *root = std::getenv("SELVANA_DRIVER_ROOT");
    ASSERT_NE(root, nullptr) << "SELVANA_DRIVER_ROOT names the tree to work on";
    QRandomGenerator random(static_cast<quint32>(environmentNumber("SELVANA_DRIVER_SEED", 1)));
    int operations = environmentNumber("SELVANA_DRIVER_OPERATIONS", 0);
    int failures = 0;
    QWidget *window = openStation(root, customer, [&](const std::string &) { ++failures; });
    std::printf("ready\n");
    std::fflush(stdout);
    for (int done = 0; operations == 0 || done < operations; ++done) {
        auto step = static_cast<Step>(random.bounded(static_cast<int>(stepCount)));
        std::printf("step %s\n", stepNames[step]);
        std::fflush(stdout);
        runStep(step);
    }
    std::printf("done %d messages\n", failures);
    closeStation(window);
}

TEST(KillRecovery, EveryPhotoSurvivesSigkillAtRandomMoments)
{
    ASSERT_EQ(geteuid(), 0u) << "needs root to mount the project folder's own disk";
    const int kills = environmentNumber("SELVANA_KILLS", 30);
    DriverTree tree(40, true);
    ASSERT_TRUE(tree.diskReady());
    std::map<std::string, int> killedIn;
    int steps = 0;
    size_t mostTemporaries = 0;
    QRandomGenerator random(static_cast<quint32>(environmentNumber("SELVANA_SEED", 20240611)));
    for (int kill = 1; kill <= kills; ++kill) {
        QProcess driver;
        startDriver(driver, tree.tree.root(), random.generate(), 0);
        ASSERT_TRUE(driver.waitForStarted(10000));
        QByteArray output;
        ASSERT_TRUE(waitForReady(driver, output)) << "the driver never opened the station";
        // Somewhere inside the next commands: up to half a second of work.
        QThread::msleep(random.bounded(500u));
        ASSERT_EQ(driver.state(), QProcess::Running) << "the driver ended by itself (crashed?)";
        ::kill(static_cast<pid_t>(driver.processId()), SIGKILL);
        ASSERT_TRUE(driver.waitForFinished(10000));
        ASSERT_EQ(driver.exitStatus(), QProcess::CrashExit);

        output += driver.readAllStandardOutput();
        QList<QByteArray> lines = output.split('\n');
        std::string last = "start-up";
        for (const QByteArray &line : lines)
            if (line.startsWith("step ")) {
                ++steps;
                last = line.mid(5).toStdString();
            }
        ++killedIn[last];

        TreeAudit audit = tree.audit();
        ASSERT_TRUE(audit.problems.empty()) << "after kill " << kill << ": " << problemsText(audit);
        mostTemporaries = std::max(mostTemporaries, audit.temporaries.size());
    }

    // A station started afterwards works on the tree as it was left.
    QProcess driver;
    startDriver(driver, tree.tree.root(), 7, 60);
    ASSERT_TRUE(driver.waitForFinished(120000));
    EXPECT_EQ(driver.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(driver.exitCode(), 0);
    TreeAudit audit = tree.audit();
    EXPECT_TRUE(audit.problems.empty()) << problemsText(audit);

    std::printf("[ figures  ] %d kills survived, %d commands run; killed during:", kills, steps);
    for (const auto &[step, count] : killedIn)
        std::printf(" %s %d,", step.c_str(), count);
    std::printf("\n[ figures  ] hidden temporary files left over: %zu at most, %zu at the end\n",
                mostTemporaries, audit.temporaries.size());
    for (const std::string &temporary : audit.temporaries)
        std::printf("[ figures  ]   %s\n", temporary.c_str());
}

TEST(TwoStations, SameCustomerAtOnceLoseAndMisnameNothing)
{
    const bool root = geteuid() == 0 && treeBase().empty();
    const int operations = environmentNumber("SELVANA_OPERATIONS", 150);
    DriverTree tree(30, root);
    ASSERT_TRUE(tree.diskReady());
    QProcess first, second;
    startDriver(first, tree.tree.root(), 11, operations);
    startDriver(second, tree.tree.root(), 12, operations);
    for (QProcess *driver : {&first, &second}) {
        ASSERT_TRUE(driver->waitForFinished(600000));
        EXPECT_EQ(driver->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(driver->exitCode(), 0);
        QByteArray output = driver->readAllStandardOutput();
        EXPECT_TRUE(output.contains("done ")) << output.right(400).toStdString();
        int at = output.lastIndexOf("done ");
        std::printf("[ figures  ] station: %d commands, %s\n", operations,
                    output.mid(at + 5).trimmed().toStdString().c_str());
    }
    TreeAudit audit = tree.audit();
    EXPECT_TRUE(audit.problems.empty()) << problemsText(audit);
    EXPECT_TRUE(audit.temporaries.empty()) << ::testing::PrintToString(audit.temporaries);
    std::printf("[ figures  ] %d photo files for %zu photos afterwards\n", audit.photoFiles,
                tree.photos.size());
}
