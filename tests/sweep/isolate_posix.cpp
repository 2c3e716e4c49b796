// Each extraction runs in a child process with an alarm: a crash or a hang of the core is
// counted by the sweep instead of ending it. The child sends back the result code and the
// messages over a pipe.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/sweep/sweep.h"

namespace {

void WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += (size_t)n;
    }
}

}  // namespace

RunResult ExtractIsolated(const std::string& archivePath, const std::string& destination,
                          unsigned timeoutSeconds) {
    int fds[2];
    if (pipe(fds) != 0) return RunResult{RunResult::kCrashed, 0, -1, {"pipe failed"}};
    pid_t pid = fork();
    if (pid < 0) return RunResult{RunResult::kCrashed, 0, -1, {"fork failed"}};
    if (pid == 0) {
        close(fds[0]);
        alarm(timeoutSeconds);
        RunResult r = ExtractInProcess(archivePath, destination);
        // One record per line: the code, then each message with its line breaks escaped.
        std::string out = std::to_string(r.Code) + "\n";
        for (const std::string& m : r.Messages) {
            for (char c : m) {
                if (c == '\n') out += "\\n";
                else if (c == '\\') out += "\\\\";
                else out += c;
            }
            out += "\n";
        }
        WriteAll(fds[1], out);
        _exit(0);
    }
    close(fds[1]);
    std::string in;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        in.append(buffer, (size_t)n);
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }

    RunResult result;
    if (WIFSIGNALED(status)) {
        result.Outcome = WTERMSIG(status) == SIGALRM ? RunResult::kHung : RunResult::kCrashed;
        result.Detail = WTERMSIG(status);
        return result;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        result.Outcome = RunResult::kCrashed;   // a sanitizer report ends the child this way
        result.Detail = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result;
    }
    size_t line = 0;
    bool first = true;
    while (line < in.size()) {
        size_t end = in.find('\n', line);
        if (end == std::string::npos) end = in.size();
        std::string text;
        for (size_t i = line; i < end; ++i) {
            if (in[i] == '\\' && i + 1 < end) {
                ++i;
                text += in[i] == 'n' ? '\n' : in[i];
            } else {
                text += in[i];
            }
        }
        if (first) {
            result.Code = std::stoi(text);
            first = false;
        } else {
            result.Messages.push_back(text);
        }
        line = end + 1;
    }
    return result;
}

int RunProgram(const std::vector<std::string>& argv, unsigned timeoutSeconds) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        alarm(timeoutSeconds);   // kept across exec: a hung program ends with SIGALRM
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
