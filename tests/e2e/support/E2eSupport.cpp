#include "E2eSupport.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int killGraceSeconds = 5;

std::vector<char*> pointersTo(const std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (const std::string& text : strings) {
        pointers.push_back(const_cast<char*>(text.c_str()));
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Ours, with temporary files (the calculator's default storage too) kept in `directory`.
std::vector<std::string> environmentFor(const std::string& directory) {
    std::vector<std::string> environment{"TMPDIR=" + directory};
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (std::string(*variable).rfind("TMPDIR=", 0) != 0) {
            environment.emplace_back(*variable);
        }
    }
    return environment;
}

[[noreturn]] void execInChild(char* const* argv, char* const* envp, const std::string& directory,
                              int outFd, int errFd) {
    const int nullFd = open("/dev/null", O_RDONLY);
    if (chdir(directory.c_str()) != 0 || nullFd < 0 || dup2(nullFd, 0) < 0 || dup2(outFd, 1) < 0 ||
        dup2(errFd, 2) < 0) {
        _exit(127);
    }
    execve(argv[0], argv, envp);
    _exit(127);
}

// Reads both pipes (or one, when `errFd` is -1) until they close or the time is up; false
// on timeout.
bool drain(int outFd, int errFd, RunResult& result, Clock::time_point deadline) {
    pollfd fds[] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[] = {&result.out, &result.err};
    int open = errFd < 0 ? 1 : 2;
    while (open > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            return false;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char chunk[4096];
            const ssize_t count = read(fds[i].fd, chunk, sizeof chunk);
            if (count > 0) {
                sinks[i]->append(chunk, static_cast<size_t>(count));
            } else if (count == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    return true;
}

int waitStatus(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

// The two ends of what the child writes to: its standard output and error, and where we
// read them (`readErr` is -1 when both go to `readOut`). Every descriptor is closed here.
struct Streams {
    int childOut;
    int childErr;
    int readOut;
    int readErr;
};

RunResult runWith(const std::vector<std::string>& argv, const std::string& directory,
                  const Streams& streams, int limitSeconds) {
    RunResult result;
    const std::vector<char*> arguments = pointersTo(argv);
    const std::vector<std::string> environment = environmentFor(directory);
    const std::vector<char*> variables = pointersTo(environment);
    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execInChild(arguments.data(), variables.data(), directory, streams.childOut,
                    streams.childErr);
    }
    close(streams.childOut);
    if (streams.childErr != streams.childOut) {
        close(streams.childErr);
    }
    if (!drain(streams.readOut, streams.readErr, result,
               start + std::chrono::seconds(limitSeconds))) {
        result.timedOut = true;
        kill(child, SIGTERM);
        if (!drain(streams.readOut, streams.readErr, result,
                   Clock::now() + std::chrono::seconds(killGraceSeconds))) {
            kill(child, SIGKILL);
        }
    }
    close(streams.readOut);
    if (streams.readErr >= 0) {
        close(streams.readErr);
    }
    result.status = waitStatus(child);
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return result;
}

} // namespace

RunResult runCaptured(const std::vector<std::string>& argv, const std::string& directory,
                      int limitSeconds) {
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("no pipe");
    }
    return runWith(argv, directory, {outPipe[1], errPipe[1], outPipe[0], errPipe[0]}, limitSeconds);
}

RunResult runOnTerminal(const std::vector<std::string>& argv, const std::string& directory) {
    int terminal = -1;
    int device = -1;
    if (openpty(&terminal, &device, nullptr, nullptr, nullptr) != 0 ||
        fcntl(terminal, F_SETFD, FD_CLOEXEC) != 0 || fcntl(device, F_SETFD, FD_CLOEXEC) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    return runWith(argv, directory, {device, device, terminal, -1}, 100);
}

RunResult runOnCalculator(const std::vector<std::string>& options,
                          const std::vector<std::string>& command, const std::string& directory) {
    std::vector<std::string> argv{VIRTUAL_CALCULATOR};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back("--");
    argv.insert(argv.end(), command.begin(), command.end());
    return runCaptured(argv, directory);
}

bool sanitizerReported(const RunResult& run) {
    return contains(run.err, "Sanitizer") || contains(run.err, "runtime error:");
}

std::vector<std::string> violationsIn(const std::string& report) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < report.size()) {
        const size_t end = std::min(report.find('\n', start), report.size());
        const std::string line = report.substr(start, end - start);
        if (line.find("VirtualCalculator: violation: ") == 0) {
            lines.push_back(line);
        }
        start = end + 1;
    }
    return lines;
}

TemporaryDirectory::TemporaryDirectory() {
    std::string pattern = (fs::temp_directory_path() / "tolvane-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("no temporary directory");
    }
    root = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code error;
    fs::remove_all(root, error);
}

void writeFile(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool fileExists(const std::string& path) {
    return fs::exists(path);
}

std::vector<std::string> filesBelow(const std::string& directory) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(directory, error)) {
        if (entry.is_regular_file()) {
            files.push_back(fs::relative(entry.path(), directory).string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string patternBytes(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        // Each run of 256 bytes holds every value once, rotated by the run's number.
        bytes[i] = static_cast<char>((i + seed * (i / 256)) & 0xFF);
    }
    return bytes;
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

size_t count(const std::string& text, const std::string& part) {
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++found;
    }
    return found;
}
