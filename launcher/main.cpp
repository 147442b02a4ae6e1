// The launcher: started from the application's bin/ folder, it makes the
// bundle's private libraries findable, starts the application as its child
// with the same arguments and waits for it, passing on the stop signals a
// service manager or a terminal sends, and ends with the application's status.
// An application that ends with the restart status (after "Restart Now" and
// its orderly shutdown) is started again, in the same folder, with the same
// arguments and environment, unless a stop signal came in the meantime.
//
// It shares no code with the application, reads no files and uses no threads.
// It reads and writes LD_LIBRARY_PATH, and writes PANOPTRA_LAUNCHER_PID (its
// own process id), by which the application knows that a launcher waits to
// start it again.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <limits.h>
#include <strings.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef PANOPTRA_APP_NAME
#error "PANOPTRA_APP_NAME names the application executable; the build defines it"
#endif
#ifndef PANOPTRA_RESTART_STATUS
#error "PANOPTRA_RESTART_STATUS is the application's restart status; the build defines it"
#endif

namespace {

const char kDefaultAppName[] = PANOPTRA_APP_NAME;
const char kPrefix[] = "launch ";
const char kLibraryVariable[] = "LD_LIBRARY_PATH";
const char kLauncherVariable[] = "PANOPTRA_LAUNCHER_PID";
const int kStopSignals[] = { SIGTERM, SIGINT, SIGHUP };

volatile sig_atomic_t g_child = 0;
volatile sig_atomic_t g_stopSignal = 0; // the last stop signal that came, 0 for none

void say(const std::string& line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void complain(const std::string& line)
{
    std::fputs(line.c_str(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

// The last component of a path, ignoring trailing slashes ("/" for the root).
std::string baseName(const std::string& path)
{
    size_t end = path.find_last_not_of('/');
    if (end == std::string::npos)
        return path.empty() ? std::string(".") : std::string("/");
    size_t start = path.find_last_of('/', end);
    return path.substr(start == std::string::npos ? 0 : start + 1, start == std::string::npos ? end + 1 : end - start);
}

// Everything before the last component ("." when there is no slash).
std::string dirName(const std::string& path)
{
    size_t end = path.find_last_not_of('/');
    if (end == std::string::npos)
        return path.empty() ? std::string(".") : std::string("/");
    size_t slash = path.find_last_of('/', end);
    if (slash == std::string::npos)
        return ".";
    size_t keep = path.find_last_not_of('/', slash);
    return keep == std::string::npos ? std::string("/") : path.substr(0, keep + 1);
}

// The application's name: what follows "launch " (any case) at the very start
// of the launcher's own name, else the default.
std::string applicationName(const std::string& ownName)
{
    const size_t n = sizeof(kPrefix) - 1;
    if (ownName.size() > n && strncasecmp(ownName.c_str(), kPrefix, n) == 0)
        return ownName.substr(n);
    return kDefaultAppName;
}

std::string currentDirectory()
{
    std::vector<char> buf(PATH_MAX);
    while (!getcwd(buf.data(), buf.size())) {
        if (errno != ERANGE)
            return {};
        buf.resize(buf.size() * 2);
    }
    return buf.data();
}

// The launcher's own folder as an absolute, resolved path. From argument 0
// when it names a path; a name found through PATH has no slash, and then the
// kernel's link to the running executable says where it lies.
std::string ownDirectory(const char* argv0)
{
    std::string dir;
    if (argv0 && std::strchr(argv0, '/')) {
        dir = dirName(argv0);
        if (dir[0] != '/') {
            std::string cwd = currentDirectory();
            if (cwd.empty())
                return {};
            dir = cwd + "/" + dir;
        }
    } else {
        std::vector<char> buf(PATH_MAX + 1);
        ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
        if (n <= 0)
            return {};
        dir = dirName(std::string(buf.data(), size_t(n)));
    }
    char* real = realpath(dir.c_str(), nullptr);
    if (!real)
        return {};
    std::string resolved = real;
    std::free(real);
    return resolved;
}

void forwardSignal(int sig)
{
    g_stopSignal = sig;
    if (g_child > 0)
        kill(g_child, sig);
}

void setStopSignalsBlocked(bool blocked)
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kStopSignals)
        sigaddset(&set, sig);
    sigprocmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

// Starts the application as a child; its pid, or -1 when fork failed.
// Stop signals are held back while the child is made, so that one arriving
// meanwhile is passed on to the new child once g_child names it; one that
// came before (while no child ran) is passed on here.
pid_t startApplication(const std::string& appPath, int argc, char* argv[])
{
    setStopSignalsBlocked(true);
    pid_t pid = fork();
    if (pid == 0) {
        struct sigaction dfl { };
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        for (int sig : kStopSignals)
            sigaction(sig, &dfl, nullptr);
        setStopSignalsBlocked(false);
        std::vector<char*> args;
        args.push_back(const_cast<char*>(appPath.c_str()));
        for (int i = 1; i < argc; ++i)
            args.push_back(argv[i]);
        args.push_back(nullptr);
        execv(appPath.c_str(), args.data());
        complain("(launcher) Cannot start " + appPath + ": " + std::strerror(errno));
        _exit(127);
    }
    if (pid > 0) {
        g_child = pid;
        if (g_stopSignal)
            kill(pid, g_stopSignal);
    } else
        complain(std::string("(launcher) Cannot start ") + appPath + ": fork failed: " + std::strerror(errno));
    setStopSignalsBlocked(false);
    return pid;
}

// 128 + the signal for an application that was killed, as shells report it.
int exitCodeOf(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    const std::string ownName = baseName(argc > 0 && argv[0] ? argv[0] : "");
    const std::string appName = applicationName(ownName);
    const std::string dir = ownDirectory(argc > 0 ? argv[0] : nullptr);
    if (ownName.empty() || dir.empty()) {
        say("ERROR: (launcher) Failed to get application location!");
        return 1;
    }

    if (chdir(dir.c_str()) != 0)
        complain("(launcher) Cannot change to " + dir + ": " + std::strerror(errno));

    const char* old = std::getenv(kLibraryVariable);
    std::string libraryPath = (old && *old) ? std::string(old) + ":" : std::string();
    libraryPath += dir + "/../lib:" + dir + "/../lib/gstreamer";
    setenv(kLibraryVariable, libraryPath.c_str(), 1);

    say("(launcher) Launch application " + appName + " at " + dir + " ...");
    const char* now = std::getenv(kLibraryVariable);
    say(std::string("(launcher) Updated ") + kLibraryVariable + "=" + (now ? now : ""));

    const std::string appPath = dir + "/" + appName;

    // Handlers first, so a stop signal arriving right after the fork already
    // reaches the child; the child restores the defaults before exec.
    struct sigaction sa { };
    sa.sa_handler = forwardSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : kStopSignals)
        sigaction(sig, &sa, nullptr);
    setenv(kLauncherVariable, std::to_string(getpid()).c_str(), 1);

    int status = 0;
    for (;;) {
        const pid_t pid = startApplication(appPath, argc, argv);
        if (pid < 0)
            return 1;
        pid_t done;
        do {
            done = waitpid(pid, &status, 0);
        } while (done < 0 && errno == EINTR);
        g_child = 0;
        if (done < 0) {
            complain(std::string("(launcher) Lost the application: ") + std::strerror(errno));
            return 1;
        }
        const bool restart = WIFEXITED(status) && WEXITSTATUS(status) == PANOPTRA_RESTART_STATUS;
        if (!restart)
            break;
        // Asked to stop while the application was shutting down for its
        // restart: that shutdown was the orderly end.
        if (g_stopSignal) {
            status = 0;
            break;
        }
        say("(launcher) Application asked to be started again.");
    }
    say("(launcher) Application terminated.");
    return exitCodeOf(status);
}
