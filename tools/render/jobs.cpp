// jobs.cpp -- the parts as child processes, their progress, then the join.
#include "jobs.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "join.h"

namespace {

using Clock = std::chrono::steady_clock;

// The descriptor a part reports its progress on, named in its environment.
constexpr const char* kProgressVariable = "TESSERA_RENDER_PROGRESS_FD";

struct Job {
    pid_t pid = -1;
    int errors = -1;    // the part's stderr, kept to show should it fail
    int progress = -1;  // lines of "done total"
    std::string said, partial;
    long done = 0, total = 0;
    bool finished = false;
    int status = 0;
};

void say(const std::string& message) { std::fprintf(stderr, "tessera-render: %s\n", message.c_str()); }

// The parent's command line for part `k`: every option but --jobs and
// --video, then the part and its piece.
std::vector<std::string> partArguments(int argc, char** argv, int k, int jobs, const std::string& piece) {
    std::vector<std::string> args{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--jobs") || !std::strcmp(argv[i], "--video")) {
            ++i;
            continue;
        }
        args.push_back(argv[i]);
    }
    for (const std::string& extra : {std::string("--part"), std::to_string(k) + "/" + std::to_string(jobs),
                                     std::string("--video"), piece})
        args.push_back(extra);
    return args;
}

bool startJob(Job& job, const std::vector<std::string>& args) {
    int errors[2], progress[2];
    if (pipe2(errors, O_CLOEXEC) != 0) return false;
    if (pipe2(progress, O_CLOEXEC) != 0) {
        close(errors[0]);
        close(errors[1]);
        return false;
    }
    const pid_t parent = getpid();
    job.pid = fork();
    if (job.pid == 0) {
        // A part never outlives the runner: should the runner end at once
        // (a second stop signal), its parts are stopped as by the first.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(1);
        dup2(errors[1], STDERR_FILENO);
        if (progress[1] == 3) fcntl(3, F_SETFD, 0);  // dup2 onto itself would keep close-on-exec
        else dup2(progress[1], 3);
        setenv(kProgressVariable, "3", 1);
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv("/proc/self/exe", argv.data());
        std::fprintf(stderr, "tessera-render: cannot start a part: %s\n", std::strerror(errno));
        _exit(127);
    }
    close(errors[1]);
    close(progress[1]);
    job.errors = errors[0];
    job.progress = progress[0];
    return job.pid > 0;
}

// Takes what a part has written to one of its pipes; closes it at its end.
void readJob(Job& job, int fd) {
    char buffer[4096];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) {
        close(fd);
        (fd == job.errors ? job.errors : job.progress) = -1;
        return;
    }
    if (fd == job.errors) {
        job.said.append(buffer, size_t(got));
        return;
    }
    job.partial.append(buffer, size_t(got));
    for (size_t end; (end = job.partial.find('\n')) != std::string::npos; job.partial.erase(0, end + 1))
        std::sscanf(job.partial.c_str(), "%ld %ld", &job.done, &job.total);
}

std::string clock(double seconds) {
    char text[48];
    const long s = long(seconds);
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// share done of all, then each part's rate and time left, then the whole's
// (the parts run side by side: the last to finish).
void showProgress(const std::vector<Job>& jobs, Clock::time_point started) {
    const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
    long done = 0, total = 0;
    double longest = 0;
    std::string parts;
    for (size_t k = 0; k < jobs.size(); ++k) {
        const Job& job = jobs[k];
        done += job.done;
        total += job.total;
        const double rate = elapsed > 0 ? job.done / elapsed : 0;
        const double left = rate > 0 ? (job.total - job.done) / rate : 0;
        longest = std::max(longest, left);
        char text[64];
        std::snprintf(text, sizeof text, "  %zu: %.0f fps %s", k + 1, rate, job.total && rate > 0 ? clock(left).c_str() : "-");
        parts += text;
    }
    std::fprintf(stderr, "\rtessera-render: %3ld%%%s  all: %s left\033[K", total ? done * 100 / total : 0, parts.c_str(),
                 clock(longest).c_str());
}

void stopJobs(std::vector<Job>& jobs) {
    for (Job& job : jobs)
        if (job.pid > 0 && !job.finished) kill(job.pid, SIGTERM);
    for (Job& job : jobs) {
        if (job.pid > 0 && !job.finished) waitpid(job.pid, &job.status, 0);
        job.finished = true;
        if (job.errors >= 0) close(job.errors);
        if (job.progress >= 0) close(job.progress);
    }
}

}  // namespace

int runJobs(int argc, char** argv, const std::string& out, int count, Preset preset,
            const std::atomic<int>* stop) {
    const std::filesystem::path target(out);
    std::string hidden = target.filename().string();
    hidden.insert(hidden.begin(), '.');
    std::string folder = (target.parent_path() / (hidden + ".pieces-XXXXXX")).string();
    if (!mkdtemp(folder.data())) {
        say("cannot make a folder for the pieces beside " + out + ": " + std::strerror(errno));
        return 1;
    }
    auto removeFolder = [&] {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    };
    const Clock::time_point started = Clock::now();
    const bool terminal = isatty(STDERR_FILENO);
    std::vector<Job> jobs(static_cast<size_t>(count));
    std::vector<std::string> pieces;
    for (int k = 1; k <= count; ++k) {
        pieces.push_back(folder + "/part-" + std::to_string(k) + (preset == Preset::Archive ? ".mkv" : ".mp4"));
        if (!startJob(jobs[size_t(k - 1)], partArguments(argc, argv, k, count, pieces.back()))) {
            say(std::string("cannot start part ") + std::to_string(k) + ": " + std::strerror(errno));
            stopJobs(jobs);
            removeFolder();
            return 1;
        }
    }
    Clock::time_point shown;
    for (size_t running = jobs.size(); running > 0;) {
        if (const int signal = stop->load()) {
            stopJobs(jobs);
            removeFolder();
            if (terminal) std::fputs("\r\033[K", stderr);
            say(std::string("interrupted by SIG") + sigabbrev_np(signal) + "; the parts were stopped and nothing was written");
            return 128 + signal;
        }
        std::vector<pollfd> fds;
        std::vector<Job*> owners;
        for (Job& job : jobs)
            for (int fd : {job.errors, job.progress})
                if (fd >= 0) {
                    fds.push_back({fd, POLLIN, 0});
                    owners.push_back(&job);
                }
        if (poll(fds.data(), fds.size(), 250) > 0)
            for (size_t i = 0; i < fds.size(); ++i)
                if (fds[i].revents) readJob(*owners[i], fds[i].fd);
        for (size_t k = 0; k < jobs.size(); ++k) {
            Job& job = jobs[k];
            if (job.finished || job.errors >= 0 || job.progress >= 0) continue;
            waitpid(job.pid, &job.status, 0);
            job.finished = true;
            --running;
            if (!WIFEXITED(job.status) || WEXITSTATUS(job.status) != 0) {
                stopJobs(jobs);
                removeFolder();
                if (terminal) std::fputs("\r\033[K", stderr);
                std::fputs(job.said.c_str(), stderr);
                say("part " + std::to_string(k + 1) + " of " + std::to_string(count) +
                    " failed; the other parts were stopped and nothing was written");
                return 1;
            }
        }
        if (terminal && Clock::now() - shown > std::chrono::milliseconds(250)) {
            shown = Clock::now();
            showProgress(jobs, started);
        }
    }
    if (terminal) std::fputs("\r\033[K", stderr);
    long long bytes = 0;
    const bool joined = joinPieces(out, pieces, &bytes);
    removeFolder();
    if (!joined) return 1;
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    std::fprintf(stderr, "tessera-render: rendered in %d parts side by side and joined in %.1f s; %s %.1f MB\n", count,
                 seconds, out.c_str(), double(bytes) / 1e6);
    return 0;
}

void reportPartProgress(long framesDone, long framesTotal) {
    static const int fd = [] {
        const char* value = std::getenv(kProgressVariable);
        return value ? std::atoi(value) : -1;
    }();
    static Clock::time_point last;
    if (fd < 0 || (Clock::now() - last < std::chrono::milliseconds(250) && framesDone < framesTotal)) return;
    last = Clock::now();
    char line[64];
    const int length = std::snprintf(line, sizeof line, "%ld %ld\n", framesDone, framesTotal);
    // Should the parent be gone, nobody is left to show the progress.
    const ssize_t written = write(fd, line, size_t(length));
    (void)written;
}
