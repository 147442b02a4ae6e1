// The reactor under the sessions' sockets: what may reach the read
// callback, which descriptors work, and that registering never waits for a
// poll in progress.
#include "WebrtcTestKit.h"
#include "webrtc_transport/EventLoop.h"
#include "webrtc_transport/Socket.h"
#include "webrtc_transport/UdpSocket.h"

#include <gtest/gtest.h>

#include <QScopeGuard>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>
#include <mutex>

using namespace webrtctest;

namespace {

struct Received {
    std::mutex mutex;
    std::vector<int> lengths;
    std::chrono::steady_clock::time_point first {};
    void add(int n)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (lengths.empty())
            first = std::chrono::steady_clock::now();
        lengths.push_back(n);
    }
    size_t count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return lengths.size();
    }
};

// Whether thread tid of this process sits in an epoll wait right now.
bool inEpollWait(pid_t tid)
{
    std::ifstream syscallFile("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    syscallFile >> number; // "running" when it is not blocked: no number
    return number == SYS_epoll_wait || number == SYS_epoll_pwait;
}

bool waitUntil(const std::function<bool()>& pred, int ms = 3000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(testsupport::budgetMs(ms));
    while (!pred() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return pred();
}

} // namespace

TEST(EventLoop, OversizedDatagramsAreDroppedWholeAndOthersArriveIntact)
{
    EventLoop loop;
    Received got;
    auto socket = std::make_shared<UdpSocket>(&loop, 0);
    socket->setReadCallback([&](char*, int n, sockaddr_in*) { got.add(n); });
    ASSERT_TRUE(socket->Start());
    EXPECT_NE(socket->port(), 0);
    int flags = fcntl(socket->fd(), F_GETFD);
    EXPECT_TRUE(flags & FD_CLOEXEC);
    EXPECT_TRUE(fcntl(socket->fd(), F_GETFL) & O_NONBLOCK);

    LoopPump pump(loop);
    PeerSocket peer;
    peer.sendTo(socket->port(), std::vector<uint8_t>(3000, 0x80));
    peer.sendTo(socket->port(), std::vector<uint8_t>(2048, 0x80));
    peer.sendTo(socket->port(), std::vector<uint8_t>(100, 0x80));
    ASSERT_TRUE(waitUntil([&] { return got.count() == 2; }));
    EXPECT_EQ(got.lengths, (std::vector<int> { 2048, 100 }));
    EXPECT_EQ(socket->droppedOversized(), 1u);
}

TEST(EventLoop, ASocketRegisteredDuringALongWaitIsServedAtOnce)
{
    // A new session must never wait for the poll in progress to end: the
    // minute-long wait is far beyond what the checks below wait for.
    EventLoop loop;
    Received got;
    std::shared_ptr<UdpSocket> socket;
    std::atomic<bool> run { true };
    std::atomic<pid_t> loopThread { 0 };
    std::thread t([&] {
        loopThread = pid_t(::syscall(SYS_gettid));
        while (run)
            loop.loop(60000);
    });
    // Declared after the socket: the loop ends before the socket goes, on
    // every path.
    const auto stopLoop = [&] {
        run = false;
        loop.quit();
        if (t.joinable())
            t.join();
    };
    const auto stopOnFailure = qScopeGuard(stopLoop);
    ASSERT_TRUE(waitUntil([&] { return loopThread != 0 && inEpollWait(loopThread); }));

    socket = std::make_shared<UdpSocket>(&loop, 0);
    socket->setReadCallback([&](char*, int n, sockaddr_in*) { got.add(n); });
    ASSERT_TRUE(socket->Start());
    PeerSocket peer;
    peer.sendTo(socket->port(), std::vector<uint8_t>(10, 0x80));
    EXPECT_TRUE(waitUntil([&] { return got.count() == 1; }, 2000));
    stopLoop();
    socket.reset();
    EXPECT_EQ(loop.channelCount(), 0u);
}

TEST(EventLoop, DescriptorZeroAndDescriptorsPastTheSelectLimitWork)
{
    // Each socket is served by a pump declared after it, so the loop stops
    // before the socket goes (a socket is removed only with its loop idle).
    EventLoop loop;
    PeerSocket peer;

    // Descriptor 0: free stdin for a moment so the socket gets it.
    const int savedStdin = ::dup(0);
    ::close(0);
    Received zeroGot;
    {
        UdpSocket zero(&loop, 0);
        zero.setReadCallback([&](char*, int n, sockaddr_in*) { zeroGot.add(n); });
        ASSERT_TRUE(zero.Start());
        EXPECT_EQ(zero.fd(), 0);
        LoopPump pump(loop);
        peer.sendTo(zero.port(), std::vector<uint8_t>(5, 0x80));
        EXPECT_TRUE(waitUntil([&] { return zeroGot.count() == 1; }));
    }
    ::dup2(savedStdin, 0);
    ::close(savedStdin);

    // Past FD_SETSIZE (1024), where select could not go.
    rlimit lim {};
    getrlimit(RLIMIT_NOFILE, &lim);
    if (lim.rlim_max < 1200)
        GTEST_SKIP() << "descriptor limit too low to pass 1024";
    const rlimit saved = lim;
    lim.rlim_cur = std::max<rlim_t>(lim.rlim_cur, 1200);
    setrlimit(RLIMIT_NOFILE, &lim);
    std::vector<int> fillers;
    while (fillers.empty() || fillers.back() < 1030)
        fillers.push_back(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    Received highGot;
    {
        UdpSocket high(&loop, 0);
        high.setReadCallback([&](char*, int n, sockaddr_in*) { highGot.add(n); });
        ASSERT_TRUE(high.Start());
        EXPECT_GT(high.fd(), 1024);
        LoopPump pump(loop);
        peer.sendTo(high.port(), std::vector<uint8_t>(7, 0x80));
        EXPECT_TRUE(waitUntil([&] { return highGot.count() == 1; }));
    }
    for (int fd : fillers)
        ::close(fd);
    setrlimit(RLIMIT_NOFILE, &saved);
}

TEST(EventLoop, AFailedCloseIsReportedNotFatal)
{
    EXPECT_EQ(Socket::Close(987654), -1);
    EXPECT_EQ(Socket::Close(-1), 0);
}
