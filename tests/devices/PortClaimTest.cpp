// The claim of a mixer's ports: one device under two names is one port, a second master is
// refused at once with the holder's name and touches nothing, the claim ends with its process
// (kill -9 included) and can be handed to a child process.

#include "devices/PortClaim.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "devices/PortKey.h"
#include "devices/PtyPeer.h"
#include "devices/SerialLine.h"
#include "devices/SerialPort.h"

namespace moirex {
namespace {

namespace fs = std::filesystem;
using testing::PtyPair;

// Each test claims in a folder of its own, and gets a link to its pseudo-terminals as the
// emulator and /dev/serial/by-id give them.
class PortClaimTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("moirex-claim-test-" + std::to_string(::getpid()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        ::setenv("MOIREX_CLAIM_FOLDER", (folder_ / "claims").c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("MOIREX_CLAIM_FOLDER");
        fs::remove_all(folder_);
    }
    std::string LinkTo(const PtyPair& pty, const std::string& name) {
        const fs::path link = folder_ / name;
        fs::create_symlink(pty.Path(), link);
        return link.string();
    }
    // Bytes that reached the instrument side since the last call.
    static size_t BytesAtInstrument(const PtyPair& pty) { return testing::ReadFrame(pty.Master(), 30).size(); }

    fs::path folder_;
};

TEST_F(PortClaimTest, TwoNamesOfOneDeviceAreOnePort) {
    PtyPair a, b;
    const std::string link = LinkTo(a, "mfc-a");
    ASSERT_TRUE(PortDeviceKey(a.Path()).has_value());
    EXPECT_EQ(*PortDeviceKey(link), *PortDeviceKey(a.Path()));
    EXPECT_TRUE(SamePort(link, a.Path()));
    EXPECT_FALSE(SamePort(link, b.Path()));
    EXPECT_EQ(PortDeviceKey(link)->Text().rfind("c", 0), 0u) << PortDeviceKey(link)->Text();
    // A bare name is a name under /dev.
    EXPECT_TRUE(SamePort("null", "/dev/null"));
    // A name that leads nowhere is the same port as nothing, not even itself.
    fs::create_symlink(folder_ / "nowhere", folder_ / "dangling");
    EXPECT_FALSE(PortDeviceKey((folder_ / "dangling").string()).has_value());
    EXPECT_FALSE(SamePort((folder_ / "dangling").string(), (folder_ / "dangling").string()));
    // Names as given: one name is one port even while it leads nowhere; no name is no port.
    EXPECT_TRUE(SameNamedPort((folder_ / "dangling").string(), (folder_ / "dangling").string()));
    EXPECT_TRUE(SameNamedPort(link, a.Path()));
    EXPECT_FALSE(SameNamedPort(link, b.Path()));
    EXPECT_FALSE(SameNamedPort("", ""));
}

TEST_F(PortClaimTest, SecondMasterIsRefusedByTheHolderNameAndTouchesNothing) {
    PtyPair pump, mfcA;
    const std::string mfcALink = LinkTo(mfcA, "mfc-a");
    TMixerClaim first("moirexctl run");
    ASSERT_EQ(first.Claim({pump.Path(), mfcALink, ""}), "");
    EXPECT_TRUE(first.Holds(mfcA.Path()));  // by device, whatever the name
    ASSERT_NE(first.Line(mfcA.Path()), nullptr);
    EXPECT_TRUE(first.Line(mfcA.Path())->IsOpen());

    // Another master (a second claim object is refused as another process would be), naming the
    // controller by its other name: refused, with who holds it, before anything is sent.
    TMixerClaim second("moirexctl mfc info");
    const std::string refusal = second.Claim({mfcA.Path()});
    EXPECT_EQ(refusal.rfind(mfcA.Path() + " is in use by moirexctl run (PID " + std::to_string(::getpid()) +
                                ") since ",
                            0),
              0u)
        << refusal;
    EXPECT_EQ(refusal.size(), (mfcA.Path() + " is in use by moirexctl run (PID " + std::to_string(::getpid()) +
                               ") since hh:nn:ss")
                                  .size())
        << refusal;
    EXPECT_TRUE(second.Ports().empty());

    // Nor does any other opener get the port itself.
    const int stray = ::open(mfcA.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_TRUE(stray < 0 || ::flock(stray, LOCK_EX | LOCK_NB) != 0);
    if (stray >= 0) ::close(stray);
    EXPECT_EQ(BytesAtInstrument(mfcA), 0u);
    EXPECT_EQ(BytesAtInstrument(pump), 0u);

    // All or none: the free port in the same claim is not kept either.
    PtyPair mfcB;
    EXPECT_NE(second.Claim({mfcB.Path(), pump.Path()}), "");
    EXPECT_FALSE(second.Holds(mfcB.Path()));
    TMixerClaim third("moirexctl setup");
    EXPECT_EQ(third.Claim({mfcB.Path()}), "");

    // Once the holder lets go, the port is free.
    first.Release();
    EXPECT_EQ(second.Claim({mfcA.Path(), pump.Path()}), "");
}

TEST_F(PortClaimTest, StatusListsHolderAndRunState) {
    PtyPair pump, mfcA;
    TMixerClaim claim("moirexctl run");
    ASSERT_EQ(claim.Claim({pump.Path(), mfcA.Path()}), "");
    claim.SetRunState("Running, segment 2 of 5");
    const auto claims = CurrentClaims();
    ASSERT_EQ(claims.size(), 2u);
    for (const auto& c : claims) {
        EXPECT_EQ(c.Holder, "moirexctl run");
        EXPECT_EQ(c.Pid, ::getpid());
        EXPECT_EQ(c.RunState, "Running, segment 2 of 5");
        EXPECT_TRUE(c.Alive);
    }
    const auto one = ClaimOf(mfcA.Path());
    ASSERT_TRUE(one.has_value());
    EXPECT_EQ(one->Port, mfcA.Path());
    claim.Release();
    EXPECT_TRUE(CurrentClaims().empty());
    ASSERT_TRUE(ClaimOf(mfcA.Path()).has_value());  // the record stays, marked as ended
    EXPECT_FALSE(ClaimOf(mfcA.Path())->Alive);
}

TEST_F(PortClaimTest, PortHeldByAnotherProgramIsRefusedAndNothingKept) {
    PtyPair mfcA;
    const int other = ::open(mfcA.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    TMixerClaim claim("Moirex window");
    const std::string refusal = claim.Claim({mfcA.Path()});
    EXPECT_EQ(refusal.rfind(mfcA.Path() + " is in use by another program", 0), 0u) << refusal;
    EXPECT_TRUE(claim.Ports().empty());
    ::close(other);
    EXPECT_EQ(claim.Claim({mfcA.Path()}), "");
}

// A name that now leads to another device (a restarted emulator's link, a replugged adapter
// with a new number): claiming it again takes the new device and lets the old one go, and the
// exchanges under that name go to the new device's owner.
TEST_F(PortClaimTest, NameLeadingToAnotherDeviceIsClaimedAfresh) {
    PtyPair before, after;
    const std::string link = LinkTo(before, "pump");
    TMixerClaim claim("Moirex window");
    ASSERT_EQ(claim.ClaimOnly({link}), "");
    fs::remove(link);
    fs::create_symlink(after.Path(), link);
    ASSERT_EQ(claim.ClaimOnly({link}), "");
    EXPECT_TRUE(claim.Holds(after.Path()));
    EXPECT_FALSE(claim.Holds(before.Path()));
    EXPECT_EQ(claim.Ports().size(), 1u);
    TMixerClaim other("moirexctl pump stop");
    EXPECT_EQ(other.Claim({before.Path()}), "");
    ASSERT_NE(LineOf(link), nullptr);
    EXPECT_TRUE(SamePort(LineOf(link)->Port(), after.Path()));
}

// The claim is the kernel's: a holder killed with SIGKILL leaves nothing that blocks the port.
TEST_F(PortClaimTest, ClaimEndsWithItsProcess) {
    PtyPair mfcA;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TMixerClaim claim("moirexctl run");
        const char ok = claim.Claim({mfcA.Path()}).empty() ? '1' : '0';
        (void)!::write(ready[1], &ok, 1);
        for (;;) ::pause();
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, '1');
    TMixerClaim mine("moirexctl setup");
    const std::string refusal = mine.Claim({mfcA.Path()});
    EXPECT_NE(refusal.find("in use by moirexctl run (PID " + std::to_string(child) + ")"), std::string::npos)
        << refusal;
    ASSERT_TRUE(ClaimOf(mfcA.Path()).has_value());
    EXPECT_TRUE(ClaimOf(mfcA.Path())->Alive);

    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_FALSE(ClaimOf(mfcA.Path())->Alive);
    EXPECT_EQ(mine.Claim({mfcA.Path()}), "");
    ::close(ready[0]);
    ::close(ready[1]);
}

// A child given the claim (the guardian, started by fork and exec) keeps it when the parent
// lets go or dies, speaks through the inherited port, and is named as the holder once it takes
// over. The child is this test program again, running PortClaimChild only.
TEST_F(PortClaimTest, ChildInheritsTheClaim) {
    PtyPair mfcA;
    const std::string link = LinkTo(mfcA, "mfc-a");
    auto parent = std::make_unique<TMixerClaim>("Moirex window");
    ASSERT_EQ(parent->Claim({link}), "");
    int ready[2], go[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(go), 0);
    // Everything the child needs is made before the fork: only exec follows it.
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    env.push_back("MOIREX_TEST_INHERIT=" + parent->InheritText());
    env.push_back("MOIREX_TEST_PORT=" + link);
    env.push_back("MOIREX_TEST_PIPES=" + std::to_string(go[0]) + "," + std::to_string(ready[1]));
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string exe = fs::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=PortClaimChild.TakesOverTheInheritedClaim";
    char* argv[] = {exe.data(), filter.data(), nullptr};
    const int quiet = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (quiet >= 0) ::dup2(quiet, STDOUT_FILENO);  // the child's own test report
        ::execve(exe.c_str(), argv, envp.data());
        ::_exit(127);
    }
    if (quiet >= 0) ::close(quiet);
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, '1') << "the child could not adopt the claim";
    parent.reset();  // the window is gone

    TMixerClaim other("moirexctl run");
    EXPECT_NE(other.Claim({mfcA.Path()}), "") << "the claim must live on in the child";
    (void)!::write(go[1], "g", 1);
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, '1') << "the child speaks through the inherited port";
    EXPECT_EQ(testing::ReadFrame(mfcA.Master(), 500), testing::ToBytes("/1Q\r"));
    const std::string refusal = other.Claim({mfcA.Path()});
    EXPECT_NE(refusal.find("in use by moirex-guard (PID " + std::to_string(child) + ")"), std::string::npos)
        << refusal;

    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(other.Claim({mfcA.Path()}), "");
    for (int fd : {ready[0], ready[1], go[0], go[1]}) ::close(fd);
}

// The child's half of ChildInheritsTheClaim; skipped unless started by it.
TEST(PortClaimChild, TakesOverTheInheritedClaim) {
    const char* inherit = std::getenv("MOIREX_TEST_INHERIT");
    const char* pipes = std::getenv("MOIREX_TEST_PIPES");
    const char* port = std::getenv("MOIREX_TEST_PORT");
    if (inherit == nullptr || pipes == nullptr || port == nullptr) GTEST_SKIP() << "runs as the child of ChildInheritsTheClaim";
    int in = -1, out = -1;
    ASSERT_EQ(std::sscanf(pipes, "%d,%d", &in, &out), 2);
    std::string error;
    auto adopted = TMixerClaim::Adopt(inherit, "moirex-guard", error);
    char ok = adopted && adopted->Holds(port) ? '1' : '0';
    (void)!::write(out, &ok, 1);
    ASSERT_NE(adopted, nullptr) << error;
    char letGo = 0;
    (void)!::read(in, &letGo, 1);  // the parent has let go
    adopted->TakeOver();
    TSerialPort serial;
    serial.SetPort(port);
    ok = serial.Send2("/1Q\r", false).Status == kStatusNoReplyWanted ? '1' : '0';
    (void)!::write(out, &ok, 1);
    for (;;) ::pause();  // until the parent ends it
}

TEST_F(PortClaimTest, AdoptRefusesWhatIsNoClaim) {
    PtyPair mfcA;
    std::string error;
    EXPECT_EQ(TMixerClaim::Adopt("nonsense", "moirex-guard", error), nullptr);
    EXPECT_FALSE(error.empty());
    // Descriptors that are not the claim's lock of that port.
    const std::string text = "0:1:" + mfcA.Path();
    EXPECT_EQ(TMixerClaim::Adopt(text, "moirex-guard", error), nullptr);
    EXPECT_NE(error.find("is not the lock of"), std::string::npos) << error;
}

}  // namespace
}  // namespace moirex
